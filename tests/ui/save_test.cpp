// The save command of the desktop program on a small simulated camera file:
// each format is written with the chosen size, crop and turn, carries the
// shooting data and the preferences' texts, and is recorded in the settings
// database; an existing file is replaced only when the user agrees.
#include <QDir>
#include <QAbstractButton>
#include <QFileInfo>
#include <QLineEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <sqlite3.h>

#include "persistence/settings_database.h"
#include "tests/export/export_test_support.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"
#include "ui/dialogs/save_dialog.h"
#include "modal_support.h"
#include "ui_test_support.h"

using namespace ostel::ui;
using ostel::exporting::CropRect;
using ostel::exporting::SaveMode;
namespace sim = ostel::simcam;
namespace ex = ostel::exporting::test;

namespace {

struct SavedRow {
    int id = 0;
    QString filename;
    int mode = 0;
};

// The rows of the working copy, read directly.
std::vector<SavedRow> saved_rows(const QString& folder) {
    std::vector<SavedRow> rows;
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(folder + "/" + ostel::persistence::kWorkingFileName);
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "select id, filename, mode from savedfiles order by savetime", -1, &s, nullptr) ==
        SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW)
            rows.push_back({sqlite3_column_int(s, 0), QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 1))),
                            sqlite3_column_int(s, 2)});
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

QJsonObject exif_of(const QString& path) {
    const std::string json = ex::exiftool_json(QFile::encodeName(path).toStdString());
    const QJsonArray a = QJsonDocument::fromJson(QByteArray::fromStdString(json)).array();
    return a.isEmpty() ? QJsonObject() : a.first().toObject();
}

struct SaveFixture {
    QTemporaryDir folder;
    std::unique_ptr<ostel::persistence::SettingsDatabase> database;
    std::unique_ptr<UserSettings> settings;
    std::unique_ptr<DocumentWorker> worker;
    std::unique_ptr<MainFrame> frame;
    QString raw;

    SaveFixture() {
        database = std::make_unique<ostel::persistence::SettingsDatabase>();
        database->open(folder.filePath("data").toStdString());
        settings = std::make_unique<UserSettings>(folder.filePath("settings.ini"));
        worker = std::make_unique<DocumentWorker>(ostel::develop::DocumentOptions{}, database.get());
        frame = std::make_unique<MainFrame>(*settings, *worker);
        frame->setDatabase(database.get());
        sim::Camera cam = sim::camera_for(sim::Format::cr2, 128, 96);
        cam.set_daylight_balance();
        raw = folder.filePath("IMG_0042.CR2");
        sim::save_file(raw.toStdString(), sim::write_raw(sim::Format::cr2, sim::render_mosaic(sim::Scene{}, cam), cam));
    }
    ~SaveFixture() {
        frame.reset();
        worker.reset();
        database->close();
    }
    bool open() {
        frame->openFile(raw);
        return worker->waitIdle(60000) && QTest::qWaitFor([this] { return frame->hasImage(); }, 10000);
    }
    // Runs a save and waits until the frame has reported it.
    bool save(const SaveChoice& choice, bool& written) {
        QSignalSpy done(frame.get(), &MainFrame::saveDone);
        if (!frame->saveChosen(choice)) return false;
        if (!done.wait(60000)) return false;
        written = done.first().at(1).toBool();
        return true;
    }
};

}  // namespace

class SaveTest : public QObject {
    Q_OBJECT
private slots:
    void defaults() {
        SaveFixture f;
        // Without a picture the command does nothing.
        SaveChoice none;
        none.path = f.folder.filePath("nothing");
        QVERIFY(!f.frame->saveChosen(none));
        f.frame->saveCommand();
        QVERIFY(!QFileInfo::exists(none.path + ".tif"));
        QVERIFY(f.open());
        f.settings->raw().setValue("Settings/JpegQuality", 150);
        f.settings->setSaveDirectory(f.folder.path());
        MainFrame::SaveDefaults d = f.frame->saveDefaults();
        QCOMPARE(d.name, QString("IMG_0042"));
        QCOMPARE(d.folder, f.folder.path());
        QCOMPARE(d.mode, 1);  // nothing saved yet
        QCOMPARE(d.quality, 85);
        const int w = f.frame->view()->area().width, h = f.frame->view()->area().height;
        QVERIFY(w > 0 && h > 0);
        QCOMPARE(d.width, w);
        QCOMPARE(d.height, h);
        // A quarter turn swaps the sides; crop mode uses the rectangle.
        f.frame->rotateClockwise();
        d = f.frame->saveDefaults();
        QCOMPARE(d.width, h);
        QCOMPARE(d.height, w);
    }

    void writesEachFormat_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("turns");   // quarter turns clockwise
        QTest::addColumn<bool>("crop");
        QTest::addColumn<int>("percent");  // output size against the default
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("written");
        QTest::newRow("tiff 8") << int(SaveMode::tiff8) << 0 << false << 100 << QString("plain") << QString("plain.tif");
        QTest::newRow("jpeg turned, cropped") << int(SaveMode::jpeg) << 1 << true << 100 << QString("turned")
                                               << QString("turned.jpg");
        QTest::newRow("jpeg typed extension") << int(SaveMode::jpeg) << 3 << false << 50 << QString("Typed.JPG")
                                               << QString("Typed.JPG");
        QTest::newRow("tiff 16 half") << int(SaveMode::tiff16) << 3 << false << 50 << QString("deep") << QString("deep.tif");
        QTest::newRow("png enlarged crop") << int(SaveMode::png8) << 0 << true << 200 << QString("big") << QString("big.png");
    }
    void writesEachFormat() {
        QFETCH(int, mode);
        QFETCH(int, turns);
        QFETCH(bool, crop);
        QFETCH(int, percent);
        QFETCH(QString, name);
        QFETCH(QString, written);
        SaveFixture f;
        Preferences p;
        p.author = "Ann Author";
        p.copyright = "(c) Ann";
        f.settings->setPreferences(p);
        QVERIFY(f.open());
        for (int i = 0; i < turns; ++i) f.frame->rotateClockwise();
        if (crop) {
            // A drag across the picture in crop mode.
            f.frame->toggleCropMode();
            RawView* view = f.frame->view();
            const QPoint from = view->viewport()->rect().topLeft() + QPoint(5, 7);
            QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, from);
            QTest::mouseMove(view->viewport(), from + QPoint(30, 20));
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, from + QPoint(30, 20));
            QVERIFY(!view->crop().empty());
        }
        const MainFrame::SaveDefaults d = f.frame->saveDefaults();
        SaveChoice c;
        c.path = f.folder.filePath(name);
        c.mode = SaveMode(mode);
        c.extension_typed = !QFileInfo(name).suffix().isEmpty();
        c.width = d.width * percent / 100;
        c.height = d.height * percent / 100;
        c.quality = 80;
        bool ok = false;
        QVERIFY(f.save(c, ok));
        QVERIFY(ok);
        const QString out = f.folder.filePath(written);
        QVERIFY2(QFileInfo::exists(out), qPrintable(out));
        const ex::ReadImage image = ex::read_image(QFile::encodeName(out).toStdString());
        QCOMPARE(image.width, c.width);
        QCOMPARE(image.height, c.height);
        QCOMPARE(image.bits, mode == int(SaveMode::tiff16) ? 16 : 8);
        QCOMPARE(image.channels, 3);
        // Nothing but the file itself is left in the folder.
        for (const QFileInfo& i : QDir(f.folder.path()).entryInfoList(QDir::Files | QDir::Hidden))
            QVERIFY2(!i.fileName().startsWith('.'), qPrintable(i.fileName()));
        const QJsonObject exif = exif_of(out);
        if (!exif.isEmpty()) {
            QCOMPARE(exif.value("ImageWidth").toInt(), c.width);
            QCOMPARE(exif.value("Make").toString(), QString("Canon"));
            QCOMPARE(exif.value("Artist").toString(), QString("Ann Author"));
            QCOMPARE(exif.value("Copyright").toString(), QString("(c) Ann"));
            QVERIFY(!exif.contains("Orientation") || exif.value("Orientation").toInt() == 1);
        }
        // The record: the name chosen with the format's extension after it.
        const auto rows = saved_rows(f.folder.filePath("data"));
        QCOMPARE(int(rows.size()), 1);
        QCOMPARE(rows[0].mode, mode);
        const QString ext = mode == int(SaveMode::jpeg) ? ".jpg" : mode == int(SaveMode::png8) ? ".png" : ".tif";
        QCOMPARE(rows[0].filename, c.path + ext);
        QVERIFY(rows[0].id != 0);
        // The folder is remembered and the next save offers this format.
        QCOMPARE(f.settings->saveDirectory(), QFileInfo(out).absolutePath());
        QCOMPARE(f.frame->saveDefaults().mode, mode);
        // The view shows the screen's develop again.
        QVERIFY(f.frame->hasImage());
    }

    // Preferences reach the document when it next loads a file, not before.
    void preferencesAtNextLoad() {
        SaveFixture f;
        QImage shown;
        QObject::connect(f.worker.get(), &DocumentWorker::resultReady, f.frame.get(),
                         [&shown](std::shared_ptr<const DocumentResult> r) { shown = r->display; });
        QVERIFY(f.open());
        QTRY_VERIFY(!shown.isNull());
        const QImage before = shown;
        f.worker->setOptions(ostel::develop::DocumentOptions::from_settings(2, 1, 0, 1));
        f.frame->userChanged(id::kExposure);  // a develop of the loaded planes
        QVERIFY(f.worker->waitIdle(60000));
        QTest::qWait(50);
        QCOMPARE(shown, before);
        f.frame->openFile(f.raw);
        QVERIFY(f.worker->waitIdle(60000));
        QTest::qWait(50);
        QVERIFY(shown != before);
    }

    // An existing file is replaced only after a Yes; a No leaves it as it was.
    void askBeforeReplacing() {
        SaveFixture f;
        QVERIFY(f.open());
        const QString target = f.folder.filePath("keep.jpg");
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("precious");
        }
        SaveChoice c;
        c.path = f.folder.filePath("keep");
        c.mode = SaveMode::jpeg;
        const MainFrame::SaveDefaults d = f.frame->saveDefaults();
        c.width = d.width;
        c.height = d.height;
        QString asked;
        testing::answer_modal<QMessageBox>([&asked](QMessageBox* box) {
            asked = box->text();
            box->button(QMessageBox::No)->click();
        });
        QVERIFY(!f.frame->saveChosen(c));
        QVERIFY2(asked.contains("keep.jpg"), qPrintable(asked));
        QFile kept(target);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("precious"));
        kept.close();
        QVERIFY(saved_rows(f.folder.filePath("data")).empty());

        testing::answer_modal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        bool ok = false;
        QVERIFY(f.save(c, ok));
        QVERIFY(ok);
        QCOMPARE(ex::read_jpeg(QFile::encodeName(target).toStdString()).width, c.width);
    }

    // A folder that does not exist: the message, no file and no
    // temporary left behind; the export is still recorded.
    void failureShowsMessage() {
        SaveFixture f;
        QVERIFY(f.open());
        SaveChoice c;
        c.path = f.folder.filePath("missing/sub/out");
        c.mode = SaveMode::tiff8;
        c.width = 40;
        c.height = 30;
        QString shown;
        testing::answer_modal<QMessageBox>([&shown](QMessageBox* box) {
            shown = box->text();
            box->accept();
        });
        bool ok = true;
        QVERIFY(f.save(c, ok));
        QVERIFY(!ok);
        QCOMPARE(shown, QString("Image save error"));
        QVERIFY(!QFileInfo::exists(c.path + ".tif"));
        QCOMPARE(int(saved_rows(f.folder.filePath("data")).size()), 1);
    }

    // File/Save through the real dialog: the default name and format are
    // offered, and what is typed there is written.
    void saveThroughDialog() {
        SaveFixture f;
        QVERIFY(f.open());
        f.settings->setSaveDirectory(f.folder.path());
        QString offered;
        testing::answer_modal<SaveDialog>([&offered](SaveDialog* d) {
            offered = d->selectedFiles().value(0);
            d->selectMode(SaveMode::jpeg);
            d->scaleEdit()->clear();
            QTest::keyClicks(d->scaleEdit(), "50");
            d->selectFile("from_dialog");
            QMetaObject::invokeMethod(d, "accept");
        });
        QSignalSpy done(f.frame.get(), &MainFrame::saveDone);
        f.frame->saveCommand();
        QVERIFY(done.wait(60000));
        QCOMPARE(QFileInfo(offered).fileName(), QString("IMG_0042"));
        const ex::ReadImage image = ex::read_jpeg(QFile::encodeName(f.folder.filePath("from_dialog.jpg")).toStdString());
        QCOMPARE(image.width, int(f.frame->view()->area().width * 0.5 + 0.1));
    }
};

QTEST_MAIN(SaveTest)
#include "save_test.moc"
