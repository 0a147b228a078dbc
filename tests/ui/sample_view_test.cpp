// The bundled camera file opened in the real main window: the view shows
// the document's display image pixel for pixel at the current scale, and
// after two quick exposure changes it shows the newer one.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTransform>

#include "develop/raw_document.h"
#include "ui/widgets/release_slider.h"
#include "ui_test_support.h"

using namespace ostel::ui;

namespace {

const QString kSample = QStringLiteral(OSTEL_SOURCE_DIR "/testdata/canon_eos30d.cr2");

QImage wrap_display(const ostel::develop::RawDocument& doc) {
    QImage image(reinterpret_cast<const uchar*>(doc.display().data()), doc.display_width(), doc.display_height(),
                 doc.display_width() * 4, QImage::Format_RGB32);
    return image.copy();
}

QImage turned(const QImage& image, Rotation r) {
    static const int degrees[] = {0, 90, -90, 180};
    return r == Rotation::none ? image : image.transformed(QTransform().rotate(degrees[int(r)]));
}

// Number of viewport pixels that differ from `expected` (the whole picture
// as drawn, scrolled to the view's position).
int differing_pixels(RawView& view, const QImage& expected) {
    // Grabbed through the window, as it is composed on the screen.
    QWidget* window = view.window();
    const QRect where(view.viewport()->mapTo(window, QPoint(0, 0)), view.viewport()->size());
    const QImage shot = window->grab(where).toImage().convertToFormat(QImage::Format_RGB32);
    const int sx = view.horizontalScrollBar()->value(), sy = view.verticalScrollBar()->value();
    const int w = std::min(shot.width(), expected.width() - sx), h = std::min(shot.height(), expected.height() - sy);
    if (w <= 0 || h <= 0) return -1;
    int differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) differing += (shot.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x + sx, y + sy) & 0xFFFFFF);
    return differing;
}

void set_slider(MainFrame& frame, int id, int value) {
    auto* s = static_cast<ReleaseSlider*>(frame.control(id));
    s->setValue(value);
    QTest::mouseRelease(s, Qt::LeftButton);
}

// Waits until the view shows the picture at its current scale and turn.
bool view_settled(RawView& view) {
    QElapsedTimer clock;
    clock.start();
    while (view.rendering() && clock.elapsed() < 30000) QTest::qWait(10);
    return !view.rendering();
}

}  // namespace

class SampleViewTest : public QObject {
    Q_OBJECT
private slots:
    void viewShowsTheDocumentsDisplayImage() {
        if (!QFileInfo::exists(kSample)) QSKIP("bundled sample missing");
        testing::FrameFixture f;
        f.frame->resize(1100, 800);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
        f.frame->openFile(kSample);
        QTRY_VERIFY_WITH_TIMEOUT(f.frame->view()->hasImage(), 90000);
        QVERIFY(f.worker->waitIdle(60000));
        QCoreApplication::processEvents();

        // The same file developed with the same positions, outside the window.
        ostel::develop::MapControlSource controls = f.frame->snapshot();
        ostel::develop::RawDocument doc;
        doc.set_controls(&controls);
        QCOMPARE(doc.open(kSample.toStdString()), int(ostel::develop::kLoadOk));
        QCOMPARE(f.frame->rotation(), rotation_from_orientation(doc.shooting().orientation));
        const QImage display = turned(wrap_display(doc), f.frame->rotation());
        RawView& view = *f.frame->view();

        // At 100 % the drawn pixels are the display buffer's.
        set_slider(*f.frame, 372, 100);
        QVERIFY(view_settled(view));
        QCOMPARE(view.shownImage().size(), display.size());
        QCOMPARE(differing_pixels(view, display), 0);
        view.horizontalScrollBar()->setValue(300);
        view.verticalScrollBar()->setValue(200);
        QCOMPARE(differing_pixels(view, display), 0);

        // At 35 % the picture is the buffer scaled to the truncated size.
        set_slider(*f.frame, 372, 35);
        QVERIFY(view_settled(view));
        const QSize size(int(display.width() * 0.35), int(display.height() * 0.35));
        const QImage scaled = display.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QCOMPARE(view.shownImage().size(), size);
        QCOMPARE(differing_pixels(view, scaled), 0);
        QVERIFY(f.frame->labelText(299).startsWith("ISO: "));

        // Three exposure changes while the file is being opened again: they
        // wait, merged into one request (or into the open itself), and the
        // view ends on the newest positions; the last picture stays up
        // meanwhile.
        set_slider(*f.frame, 372, 100);
        QVERIFY(view_settled(view));
        int results = 0;
        connect(f.worker.get(), &DocumentWorker::resultReady, this, [&] { ++results; });
        f.frame->openFile(kSample);
        for (int exposure : {4, 9, 12}) set_slider(*f.frame, 300, exposure);
        QVERIFY(view.hasImage());
        QVERIFY(f.worker->waitIdle(60000));
        QTRY_VERIFY(results >= 1);
        QCoreApplication::processEvents();
        QVERIFY(view_settled(view));
        QVERIFY(results <= 2);
        controls = f.frame->snapshot();
        QCOMPARE(controls.value(ostel::develop::tag::kExposure), 12.0);
        doc.Develop(true);
        const QImage brighter = turned(wrap_display(doc), f.frame->rotation());
        QVERIFY(brighter != display);
        QCOMPARE(differing_pixels(view, brighter), 0);
    }
};

QTEST_MAIN(SampleViewTest)
#include "sample_view_test.moc"
