// Opening a file shows its embedded preview first: the worker hands it over
// before the open's own result, the view shows it upright as a stand-in
// that no command works on, and the developed picture replaces it. Right
// after decoding, a quick picture developed from the sensor's two-by-two
// cells follows as the next stand-in; a sensor without such cells brings
// only the developed result.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"
#include "ui/dialogs/open_dialog.h"
#include "ui/view/raw_view.h"
#include "ui/widgets/release_slider.h"
#include "ui/worker/document_worker.h"
#include "ui_test_support.h"

using namespace ostel::ui;
namespace sim = ostel::simcam;

namespace {

const QString kSample = QStringLiteral(OSTEL_SOURCE_DIR "/testdata/canon_eos30d.cr2");

using Results = std::vector<std::shared_ptr<const DocumentResult>>;

// Opens each path in turn without waiting, into a window of 800 x 600 as
// the frame does, and collects every result in the order the window
// receives them.
Results open_and_collect(const QStringList& paths) {
    DocumentWorker worker(ostel::develop::DocumentOptions{});
    worker.setViewport(ostel::develop::Viewport::fit(800, 600));
    QObject receiver;
    Results results;
    QObject::connect(
        &worker, &DocumentWorker::resultReady, &receiver,
        [&results](std::shared_ptr<const DocumentResult> r) { results.push_back(std::move(r)); },
        Qt::QueuedConnection);
    for (const QString& path : paths) worker.open(path, ostel::develop::MapControlSource{});
    if (!worker.waitIdle(60000)) return {};
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    return results;
}

// A simulated raw file; none of these formats holds an embedded preview.
QString write_simulated(const QTemporaryDir& dir, sim::Format format, int width, int height, const char* name) {
    sim::Camera cam = sim::camera_for(format, width, height);
    const QString path = dir.filePath(name);
    return sim::save_file(path.toStdString(), sim::write_raw(format, sim::render_mosaic(sim::Scene{}, cam), cam))
               ? path
               : QString();
}

QString write_plain_dng(const QTemporaryDir& dir) { return write_simulated(dir, sim::Format::dng, 64, 48, "plain.dng"); }

std::shared_ptr<DocumentResult> provisional_result(const QImage& picture, int orientation) {
    auto r = std::make_shared<DocumentResult>();
    r->provisional = true;
    r->path = "standin.cr2";
    r->display = picture;
    r->orientation = orientation;
    return r;
}

}  // namespace

class OpenPreviewTest : public QObject {
    Q_OBJECT
private slots:
    void embeddedPreviewComesFirst() {
        const QImage embedded = read_file_preview(kSample).thumbnail.convertToFormat(QImage::Format_RGB32);
        QVERIFY(!embedded.isNull());
        const Results results = open_and_collect({kSample});
        QCOMPARE(results.size(), size_t(3));
        const DocumentResult& first = *results[0];
        QVERIFY(first.provisional && !first.quick && !first.loaded && !first.opened);
        QCOMPARE(first.path, kSample);
        QCOMPARE(first.display.size(), embedded.size());
        QVERIFY(first.display == embedded);
        // Then the quick picture: the whole image, without the frame,
        // reduced by a whole number to about the window.
        const DocumentResult& quick = *results[1];
        QVERIFY(quick.provisional && quick.quick && !quick.loaded && !quick.opened);
        QCOMPARE(quick.path, kSample);
        QCOMPARE(quick.orientation, first.orientation);
        const DocumentResult& full = *results[2];
        QVERIFY(!full.provisional && full.opened && full.loaded && !full.display.isNull());
        QVERIFY(full.width > embedded.width() && full.height > embedded.height());
        QCOMPARE(full.orientation, first.orientation);
        const int border = 2 * ostel::develop::kDisplayBorder;
        const double reduction = double(full.width - border) / quick.display.width();
        QVERIFY(reduction >= 2 && reduction <= 5);
        QVERIFY(std::abs(double(full.height - border) / quick.display.height() - reduction) < 0.05);
        QVERIFY(quick.display.width() <= 2 * 800 && quick.display.width() >= 800 / 2);
    }

    // Without an embedded preview the quick picture is the first one shown;
    // a sensor without two-by-two cells (full-colour data) brings only the
    // developed result.
    void fileWithoutPreviewShowsTheQuickPictureFirst() {
        QTemporaryDir dir;
        const QString plain = write_plain_dng(dir);
        const QString linear = write_simulated(dir, sim::Format::dng_linear_lossy, 64, 48, "linear.dng");
        QVERIFY(!plain.isEmpty() && !linear.isEmpty());
        // The open dialog shows a blank square for them.
        QVERIFY(read_file_preview(plain).thumbnail.width() <= 16);
        QVERIFY(read_file_preview(linear).thumbnail.width() <= 16);
        Results results = open_and_collect({plain});
        QCOMPARE(results.size(), size_t(2));
        QVERIFY(results[0]->provisional && results[0]->quick && results[0]->path == plain);
        QVERIFY(!results[0]->display.isNull());
        QVERIFY(!results[1]->provisional && results[1]->opened && results[1]->loaded);
        results = open_and_collect({linear});
        QCOMPARE(results.size(), size_t(1));
        QVERIFY(!results[0]->provisional && results[0]->opened && results[0]->loaded);
    }

    // A second file asked for at once: nothing of the first one arrives
    // after anything of the second, and the second's developed result is
    // the last.
    void newerOpenIsNeverFollowedByAnOlderPreview() {
        QTemporaryDir dir;
        const QString plain = write_plain_dng(dir);
        QVERIFY(!plain.isEmpty());
        const Results results = open_and_collect({kSample, plain});
        QVERIFY(!results.empty());
        bool second_seen = false;
        for (const auto& r : results) {
            if (r->path == plain) second_seen = true;
            QVERIFY(!(second_seen && r->path == kSample));
        }
        QVERIFY(!results.back()->provisional && results.back()->path == plain && results.back()->loaded);
    }

    // The stand-in is shown upright and fitted, answers no colour readout,
    // white-balance pick or crop, and the developed picture replaces it;
    // a failed open takes it away.
    void viewShowsTheStandInUntilTheDevelopedPicture() {
        RawView view;
        view.resize(300, 300);
        view.setZoom(1.0);
        view.show();
        QImage landscape(60, 40, QImage::Format_RGB32);
        landscape.fill(QColor(200, 40, 40));
        view.setCustomBalance(true);
        view.setResult(provisional_result(landscape, 6));  // held turned clockwise
        QVERIFY(view.showsProvisional() && !view.hasImage());
        QCOMPARE(view.provisionalImage().size(), QSize(40, 60));
        const QImage shot = view.viewport()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(150, 150)), QColor(200, 40, 40));
        QVERIFY(view.colourAt(QPoint(150, 150)).isEmpty());
        QSignalSpy picks(&view, &RawView::whiteBalancePicked);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(150, 150));
        QCOMPARE(picks.count(), 0);

        auto full = std::make_shared<DocumentResult>();
        full->loaded = full->opened = true;
        full->width = 108;
        full->height = 88;
        full->display = QImage(100, 80, QImage::Format_RGB32);
        full->display.fill(QColor(20, 90, 160));
        view.setResult(full);
        QTRY_VERIFY(!view.rendering());
        QVERIFY(!view.showsProvisional() && view.hasImage());
        QVERIFY(!view.colourAt(QPoint(10, 10)).isEmpty());

        view.setResult(provisional_result(landscape, 0));
        QCOMPARE(view.provisionalImage().size(), QSize(60, 40));
        auto failed = std::make_shared<DocumentResult>();
        failed->opened = true;
        view.setResult(failed);
        QVERIFY(!view.showsProvisional() && !view.hasImage());
    }

    // A control moved while the embedded preview or the quick picture
    // stands in is developed once the file is open, as it would be with a
    // picture on show.
    void controlMovedDuringThePreviewIsDeveloped_data() {
        QTest::addColumn<bool>("embedded");
        QTest::newRow("embedded preview") << true;
        QTest::newRow("quick picture only") << false;
    }
    void controlMovedDuringThePreviewIsDeveloped() {
        QFETCH(bool, embedded);
        QTemporaryDir dir;
        // Large enough that demosaicing leaves time to move the control.
        const QString path =
            embedded ? kSample : write_simulated(dir, sim::Format::cr2, 3000, 2000, "no_preview.cr2");
        QVERIFY(!path.isEmpty());
        testing::FrameFixture f;
        RawView& view = *f.frame->view();
        int developed = 0, quick = 0;
        connect(f.worker.get(), &DocumentWorker::resultReady, this,
                [&developed, &quick](std::shared_ptr<const DocumentResult> r) {
                    developed += !r->provisional;
                    quick += r->quick;
                });
        f.frame->openFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(view.showsProvisional(), 20000);
        QVERIFY(!f.frame->hasImage());
        QSignalSpy jobs(&view, &RawView::jobRequested);
        auto* exposure = static_cast<ReleaseSlider*>(f.frame->control(300));
        exposure->setValue(9);
        QTest::mouseRelease(exposure, Qt::LeftButton);
        QCOMPARE(jobs.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(f.frame->hasImage() && !view.showsProvisional(), 60000);
        QVERIFY(f.worker->waitIdle(60000));
        QCoreApplication::processEvents();
        QVERIFY(developed >= 2);  // the open, then the develop with the new exposure
        QCOMPARE(quick, 1);
    }
};

QTEST_MAIN(OpenPreviewTest)
#include "open_preview_test.moc"
