// The bundled camera file opened in the real main window: the view develops
// only what it shows, and shows at 100 % exactly the pixels of the saved
// picture there, at a reduced scale the picture within the stated
// tolerance; a pan inside the developed margin develops nothing, and after
// quick exposure changes the view shows the newest one.
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

// How the visible viewport differs from `expected` (the whole picture as
// drawn, scrolled to the view's position).
struct Difference {
    int differing = -1;         // pixels not exactly equal
    double mean = 0;            // mean difference of the 8-bit samples
    double share_beyond = 0;    // share of samples further off than the sample tolerance
};

Difference compare_view(RawView& view, const QImage& expected) {
    // Grabbed through the window, as it is composed on the screen.
    QWidget* window = view.window();
    const QRect where(view.viewport()->mapTo(window, QPoint(0, 0)), view.viewport()->size());
    const QImage shot = window->grab(where).toImage().convertToFormat(QImage::Format_RGB32);
    const int sx = view.horizontalScrollBar()->value(), sy = view.verticalScrollBar()->value();
    const int w = std::min(shot.width(), expected.width() - sx), h = std::min(shot.height(), expected.height() - sy);
    Difference d;
    if (w <= 0 || h <= 0) return d;
    d.differing = 0;
    double sum = 0;
    int64_t beyond = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb a = shot.pixel(x, y), b = expected.pixel(x + sx, y + sy);
            d.differing += (a & 0xFFFFFF) != (b & 0xFFFFFF);
            for (int shift : {0, 8, 16}) {
                const int diff = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
                sum += diff;
                beyond += diff > ostel::develop::kFitTolerance.sample;
            }
        }
    const double samples = 3.0 * w * h;
    d.mean = sum / samples;
    d.share_beyond = double(beyond) / samples;
    return d;
}

int differing_pixels(RawView& view, const QImage& expected) { return compare_view(view, expected).differing; }

void set_slider(MainFrame& frame, int id, int value) {
    auto* s = static_cast<ReleaseSlider*>(frame.control(id));
    s->setValue(value);
    QTest::mouseRelease(s, Qt::LeftButton);
}

// Waits until the view shows the picture at its current scale and turn,
// and the document has developed the part it shows.
bool view_settled(testing::FrameFixture& f) {
    RawView& view = *f.frame->view();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 90000) {
        if (!f.worker->waitIdle(60000)) return false;
        QTest::qWait(20);
        while (view.rendering() && clock.elapsed() < 90000) QTest::qWait(10);
        if (f.worker->busy()) continue;
        // A result emitted by the last run is queued by now: take it in.
        QCoreApplication::processEvents();
        if (!view.rendering() && !f.worker->busy()) return true;
    }
    return false;
}

// The saved picture's pixels as the display shows them.
QImage saved_pixels(ostel::develop::RawDocument& doc, Rotation r) {
    doc.Develop(false);
    return turned(wrap_display(doc), r);
}

}  // namespace

class SampleViewTest : public QObject {
    Q_OBJECT
private slots:
    void viewShowsWhatTheDocumentDeveloped() {
        if (!QFileInfo::exists(kSample)) QSKIP("bundled sample missing");
        testing::FrameFixture f;
        f.frame->resize(1100, 800);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
        std::shared_ptr<const DocumentResult> last;
        int results = 0;
        // Developed results only; an open's embedded preview comes first.
        connect(f.worker.get(), &DocumentWorker::resultReady, this, [&](std::shared_ptr<const DocumentResult> r) {
            if (!r->provisional) last = r, ++results;
        });
        f.frame->openFile(kSample);
        QTRY_VERIFY_WITH_TIMEOUT(f.frame->view()->hasImage(), 90000);
        QVERIFY(view_settled(f));

        // The same file developed with the same positions, outside the window.
        ostel::develop::MapControlSource controls = f.frame->snapshot();
        ostel::develop::RawDocument doc;
        doc.set_controls(&controls);
        QCOMPARE(doc.open(kSample.toStdString()), int(ostel::develop::kLoadOk));
        QCOMPARE(f.frame->rotation(), rotation_from_orientation(doc.shooting().orientation));
        const QImage saved = saved_pixels(doc, f.frame->rotation());
        RawView& view = *f.frame->view();

        // At 100 % the drawn pixels are the saved picture's, developed only
        // around the visible part.
        set_slider(*f.frame, 372, 100);
        QVERIFY(view_settled(f));
        QCOMPARE(view.canvasSize(), saved.size());
        QCOMPARE(last->screen_scale_down, 1);
        QVERIFY(int64_t(last->display.width()) * last->display.height() < int64_t(saved.width()) * saved.height() / 2);
        QCOMPARE(differing_pixels(view, saved), 0);
        view.horizontalScrollBar()->setValue(300);
        view.verticalScrollBar()->setValue(200);
        QVERIFY(view_settled(f));
        QCOMPARE(differing_pixels(view, saved), 0);
        // A pan inside the margin is already developed.
        const int before_pan = results;
        view.horizontalScrollBar()->setValue(300 + ostel::develop::RawDocument::kScreenMargin / 2);
        view.verticalScrollBar()->setValue(200 - ostel::develop::RawDocument::kScreenMargin / 2);
        QVERIFY(view_settled(f));
        QCOMPARE(results, before_pan);
        QCOMPARE(differing_pixels(view, saved), 0);

        // At 35 % the document develops the picture reduced by 2 and the view
        // scales it to the truncated size; reduced pixels are means of the
        // linear values, so they keep within the document's fit tolerance of
        // the saved picture scaled down.
        set_slider(*f.frame, 372, 35);
        QVERIFY(view_settled(f));
        const QSize size(int(saved.width() * 0.35), int(saved.height() * 0.35));
        const QImage scaled = saved.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QCOMPARE(view.canvasSize(), size);
        QCOMPARE(last->screen_scale_down, 2);
        const Difference reduced = compare_view(view, scaled);
        QVERIFY(reduced.differing >= 0);
        QVERIFY2(reduced.mean <= ostel::develop::kFitTolerance.mean, qPrintable(QString::number(reduced.mean)));
        QVERIFY2(reduced.share_beyond <= ostel::develop::kFitTolerance.share_beyond,
                 qPrintable(QString::number(reduced.share_beyond)));
        QVERIFY(f.frame->labelText(299).startsWith("ISO: "));

        // Three exposure changes while the file is being opened again: they
        // wait, merged into one request (or into the open itself), and the
        // view ends on the newest positions; the last picture stays up until
        // the file's embedded preview arrives.
        set_slider(*f.frame, 372, 100);
        QVERIFY(view_settled(f));
        const int before_open = results;
        f.frame->openFile(kSample);
        for (int exposure : {4, 9, 12}) set_slider(*f.frame, 300, exposure);
        QVERIFY(view.hasImage());
        QVERIFY(view_settled(f));
        QVERIFY(results > before_open);
        QVERIFY(results <= before_open + 2);
        controls = f.frame->snapshot();
        QCOMPARE(controls.value(ostel::develop::tag::kExposure), 12.0);
        const QImage brighter = saved_pixels(doc, f.frame->rotation());
        QVERIFY(brighter != saved);
        QCOMPARE(differing_pixels(view, brighter), 0);

        // Sharpening at 100 %: the visible part is filtered at once, the
        // whole picture once the worker is idle, and the view ends on the
        // saved picture's pixels.
        const int before_filter = results;
        static_cast<ReleaseSlider*>(f.frame->control(332))->setValue(30);
        f.frame->userChanged(343);
        QVERIFY(view_settled(f));
        QCOMPARE(results, before_filter + 2);
        controls = f.frame->snapshot();
        QCOMPARE(controls.value(ostel::develop::tag::kSharpness), 30.0);
        doc.PostProcess();
        const QImage sharpened = saved_pixels(doc, f.frame->rotation());
        QVERIFY(sharpened != brighter);
        QCOMPARE(differing_pixels(view, sharpened), 0);
    }
};

QTEST_MAIN(SampleViewTest)
#include "sample_view_test.moc"
