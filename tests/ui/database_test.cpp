// The desktop program with the settings database: a develop stores the
// positions it used, and opening the picture again restores them into the
// window before the first develop, without asking for another run.
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "persistence/settings_database.h"
#include "ui/widgets/release_slider.h"
#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"
#include "ui_test_support.h"

using namespace ostel::ui;
namespace tag = ostel::develop::tag;

namespace {

const QString kSample = QStringLiteral(OSTEL_SOURCE_DIR "/testdata/canon_eos30d.cr2");

struct Window {
    QTemporaryDir folder;
    UserSettings settings{folder.filePath("settings.ini")};
    DocumentWorker worker;
    MainFrame frame{settings, worker};
    std::shared_ptr<const DocumentResult> last;
    explicit Window(ostel::persistence::SettingsDatabase& db) : worker(ostel::develop::DocumentOptions{}, &db) {
        QObject::connect(&worker, &DocumentWorker::resultReady, &frame,
                         [this](std::shared_ptr<const DocumentResult> r) { last = r; });
    }
    // Until the view shows the last result and asks for nothing more (a
    // newly opened picture is developed again for the part the view shows).
    bool settle() {
        for (int round = 0; round < 10; ++round) {
            if (!worker.waitIdle(90000)) return false;
            QTest::qWait(50);
            for (int i = 0; i < 3000 && frame.view()->rendering(); ++i) QTest::qWait(10);
            if (frame.view()->rendering()) return false;
            if (worker.busy()) continue;
            // A result emitted by the last run is queued by now: take it in.
            QCoreApplication::processEvents();
            if (!frame.view()->rendering() && !worker.busy()) return true;
        }
        return false;
    }
};

}  // namespace

class DatabaseTest : public QObject {
    Q_OBJECT
private slots:
    void positionsComeBackWithThePicture() {
        if (!QFileInfo::exists(kSample)) QSKIP("bundled sample missing");
        QTemporaryDir data;
        ostel::persistence::SettingsDatabase db;
        QVERIFY(db.open(data.path().toStdString()));
        QImage developed;
        QPoint developed_at;
        int32_t id = 0;
        {
            Window w(db);
            w.frame.openFile(kSample);
            QVERIFY(w.settle());
            QVERIFY(w.last && w.last->loaded);
            id = w.last->image_id;
            QVERIFY(id != 0);
            auto* exposure = static_cast<ReleaseSlider*>(w.frame.control(300));
            exposure->setValue(7);
            QTest::mouseRelease(exposure, Qt::LeftButton);
            auto* contrast = static_cast<ReleaseSlider*>(w.frame.control(355));
            contrast->setValue(-12);
            QTest::mouseRelease(contrast, Qt::LeftButton);
            QVERIFY(w.settle());
            developed = w.frame.view()->shownImage();
            developed_at = w.frame.view()->shownOrigin();
            const auto stored = db.stored_controls(id);
            QCOMPARE(stored.at(tag::kExposure), 7.0f);
            QCOMPARE(stored.at(tag::kContrast), -12.0f);
        }
        // A fresh window opens the picture: the stored positions are back and
        // the first develop already used them.
        Window again(db);
        QSignalSpy sent(&again.frame, &MainFrame::levelSent);
        again.frame.openFile(kSample);
        QVERIFY(again.settle());
        QCOMPARE(again.frame.position(tag::kExposure), 7);
        QCOMPARE(again.frame.position(tag::kContrast), -12);
        QCOMPARE(again.frame.labelText(354), QString("Contrast: -12"));
        QVERIFY(again.frame.labelText(299).startsWith("ISO: "));
        QCOMPARE(sent.count(), 0);
        // The view shows the part of the picture around what it sees, which
        // depends on the window's layout at the time: the shared part is equal.
        const QImage shown = again.frame.view()->shownImage();
        QCOMPARE(again.frame.view()->shownOrigin(), developed_at);
        const QRect common(0, 0, std::min(shown.width(), developed.width()), std::min(shown.height(), developed.height()));
        QVERIFY(!common.isEmpty());
        QVERIFY(shown.copy(common) == developed.copy(common));
        QVERIFY(db.raw_file(id).has_value());
    }

    void dngExposureIsTheFirstPositionAndStoredOnesWin() {
        // A DNG meant to be shown one stop brighter opens with the exposure
        // slider at 5 (twice as bright); once the user moved it, the stored
        // position comes back instead.
        QTemporaryDir data;
        ostel::persistence::SettingsDatabase db;
        QVERIFY(db.open(data.path().toStdString()));
        namespace sim = ostel::simcam;
        sim::Camera cam = sim::camera_for(sim::Format::dng, 240, 160);
        cam.baseline_exposure = 1.0;
        const QString dng = data.filePath("bright.dng");
        QVERIFY(sim::save_file(dng.toStdString(), sim::write_raw(sim::Format::dng, sim::render_mosaic(sim::Scene{}, cam), cam)));
        {
            Window w(db);
            w.frame.openFile(dng);
            QVERIFY(w.settle());
            QVERIFY(w.last && w.last->loaded);
            QCOMPARE(w.frame.position(tag::kExposure), 5);
            auto* exposure = static_cast<ReleaseSlider*>(w.frame.control(300));
            exposure->setValue(2);
            QTest::mouseRelease(exposure, Qt::LeftButton);
            QVERIFY(w.settle());
        }
        Window again(db);
        again.frame.openFile(dng);
        QVERIFY(again.settle());
        QCOMPARE(again.frame.position(tag::kExposure), 2);
    }
};

QTEST_MAIN(DatabaseTest)
#include "database_test.moc"
