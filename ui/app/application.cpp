#include "ui/app/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "ui/app/splash.h"
#include "ui/app/user_settings.h"
#include "ui/frame/main_frame.h"
#include "ui/worker/document_worker.h"

namespace ostel::ui {

namespace {

develop::DocumentOptions document_options(const Preferences& p) {
    return develop::DocumentOptions::from_settings(p.artifact_level, p.chroma_prefilter, p.luma_nr_type,
                                                   p.chroma_nr_type);
}

}  // namespace

int run_application(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("OstelRAW");
    QApplication::setApplicationName("OstelRAW");
    QApplication::setApplicationDisplayName("Ostel RAW");
    QApplication::setApplicationVersion(OSTEL_VERSION);
    QApplication::setWindowIcon(QIcon(program_picture(64)));

    QCommandLineParser parser;
    parser.setApplicationDescription("Ostel RAW: develop raw photographs.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", "Raw file to open.");
    parser.process(app);

    // The settings database opens here once the persistence library
    // provides it; until then per-picture positions are not stored.

    Splash splash;
    splash.show();
    splash.setProgress(0);

    UserSettings settings;
    DocumentWorker worker(document_options(settings.preferences()));
    splash.setProgress(30);
    MainFrame frame(settings, worker);
    splash.setProgress(80);

    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) frame.openFile(files.first());
    splash.setProgress(100);
    frame.show();
    splash.finish(&frame);

    // The worker's destructor lets a running develop finish and drops what
    // still waits.
    return app.exec();
}

}  // namespace ostel::ui
