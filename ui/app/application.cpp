#include "ui/app/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <memory>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "persistence/data_folder.h"
#include "persistence/settings_database.h"

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

// The database asks its start-up question and reports its failures in
// message boxes, always on the window's thread.
persistence::DatabaseHooks database_hooks() {
    persistence::DatabaseHooks hooks;
    hooks.ask = [](const std::string& question) {
        return QMessageBox::question(nullptr, "Ostel RAW", QString::fromStdString(question),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    hooks.tell = [](const std::string& text) {
        const QString message = QString::fromStdString(text);
        auto show = [message] { QMessageBox::warning(nullptr, "Ostel RAW", message); };
        if (QThread::currentThread() == qApp->thread())
            show();
        else
            QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
    };
    return hooks;
}

// A session that logs out, or a terminal's Ctrl+C, ends the program through
// its normal shutdown, so the bar layout is saved and the database stored.
// The signal handler only writes a byte; the event loop does the rest.
int g_stop_pipe[2] = {-1, -1};

void on_stop_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_stop_pipe[0], &byte, 1);
}

void quit_on_stop_signals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_stop_pipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_stop_pipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char byte;
        [[maybe_unused]] const auto got = ::read(g_stop_pipe[1], &byte, 1);
        notifier->setEnabled(false);
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
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
    quit_on_stop_signals(app);

    // The settings database first: a failure there does not stop the program.
    persistence::SettingsDatabase database(database_hooks());
    const std::string folder = persistence::data_folder();
    if (!folder.empty()) database.open(folder);

    int code = 0;
    {
        Splash splash;
        splash.show();
        splash.setProgress(0);

        UserSettings settings;
        DocumentWorker worker(document_options(settings.preferences()), &database);
        splash.setProgress(30);
        MainFrame frame(settings, worker);
        frame.setDatabase(&database);
        const auto path = database.GetTagValue("DPPath"), name = database.GetTagValue("DPName");
        if (path && name) frame.selectDisplayProfile(*path, *name);
        splash.setProgress(80);

        splash.setProgress(100);
        frame.show();
        splash.finish(&frame);
        // The file named on the command line opens once the window has its
        // size: the first pictures of an open are developed for the view as
        // it is then, and a view not yet laid out is a few pixels wide.
        const QStringList files = parser.positionalArguments();
        if (!files.isEmpty()) QTimer::singleShot(0, &frame, [&frame, f = files.first()] { frame.openFile(f); });
        code = app.exec();
        // Leaving the block closes the window, then the worker lets a
        // running develop finish and drops what still waits.
    }
    // Shutdown: the database is closed and stored.
    database.close();
    return code;
}

}  // namespace ostel::ui
