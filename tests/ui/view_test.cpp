// The preview view with a stand-in picture: the frame's messages, the
// white-balance pick and panning by mouse, crop mode drawing, the colour
// readout and Ctrl+wheel zoom.
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "ui/view/raw_view.h"
#include "ui/widgets/release_slider.h"
#include "ui_test_support.h"

using namespace ostel::ui;

namespace {

// A 400 x 300 picture (developed 408 x 308), left half one colour, right
// half another, in a 200 x 150 view at 100 %.
struct ViewFixture {
    RawView view;
    ViewFixture() {
        view.resize(200, 150);
        view.setZoom(1.0);
        view.show();
        auto r = std::make_shared<DocumentResult>();
        r->loaded = r->opened = true;
        r->width = 408;
        r->height = 308;
        r->display = QImage(400, 300, QImage::Format_RGB32);
        r->display.fill(QColor(90, 120, 150));
        for (int y = 0; y < 300; ++y)
            for (int x = 200; x < 400; ++x) r->display.setPixel(x, y, qRgb(200, 180, 160));
        view.setResult(r);
        QTRY_VERIFY(!view.rendering());
    }
    QRgb drawn(QPoint p) {
        return view.window()->grab(QRect(view.viewport()->mapTo(view.window(), p), QSize(1, 1))).toImage().pixel(0, 0);
    }
};

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT
private slots:
    void messagesBecomeRequests() {
        ViewFixture f;
        QSignalSpy jobs(&f.view, &RawView::jobRequested);
        f.view.message(FrameMessage::develop);
        f.view.message(FrameMessage::white_balance);
        f.view.message(FrameMessage::filters);
        f.view.message(FrameMessage::refresh);  // a redraw only
        QCOMPARE(jobs.count(), 3);
        QCOMPARE(jobs.at(0).at(0).toUInt(), job::kDevelop);
        QCOMPARE(jobs.at(1).at(0).toUInt(), job::kWhiteBalance);
        QCOMPARE(jobs.at(2).at(0).toUInt(), job::kFilters);
        RawView empty;
        QSignalSpy none(&empty, &RawView::jobRequested);
        empty.message(FrameMessage::develop);
        QCOMPARE(none.count(), 0);
    }

    void clickPicksWhiteBalanceOnlyInCustomMode() {
        ViewFixture f;
        QSignalSpy picks(&f.view, &RawView::whiteBalancePicked);
        QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, QPoint(50, 40));
        QCOMPARE(picks.count(), 0);  // without custom balance a click starts a pan
        f.view.setCustomBalance(true);
        QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, QPoint(50, 40));
        QCOMPARE(picks.count(), 1);
        QCOMPARE(picks.at(0).at(0).toInt(), 54);
        QCOMPARE(picks.at(0).at(1).toInt(), 44);
        QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, QPoint(1, 40));  // too near the edge
        QCOMPARE(picks.count(), 1);
        QCOMPARE(f.view.viewport()->cursor().shape(), Qt::CrossCursor);
    }

    void dragPans() {
        ViewFixture f;
        QTest::mousePress(f.view.viewport(), Qt::LeftButton, {}, QPoint(150, 100));
        QMouseEvent move(QEvent::MouseMove, QPointF(110, 70), QPointF(110, 70), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(f.view.viewport(), &move);
        QTest::mouseRelease(f.view.viewport(), Qt::LeftButton, {}, QPoint(110, 70));
        QCOMPARE(f.view.horizontalScrollBar()->value(), 40);
        QCOMPARE(f.view.verticalScrollBar()->value(), 30);
    }

    void cropModeDimsOutsideTheRectangle() {
        ViewFixture f;
        f.view.setCropMode(true);
        f.view.refresh();
        QTRY_VERIFY(!f.view.rendering());
        // No rectangle yet: the picture as it is.
        QCOMPARE(qRed(f.drawn({10, 10})), 90);
        QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, QPoint(120, 100));
        const CropRect c = f.view.crop();
        QCOMPARE(c.x, 20);
        QCOMPARE(c.y, 20);
        QCOMPARE(c.width, 100);
        QCOMPARE(c.height, 80);
        QCOMPARE(qRed(f.drawn({50, 50})), 90);
        QVERIFY(std::abs(qRed(f.drawn({10, 10})) - 45) <= 1);
        QVERIFY(std::abs(qGreen(f.drawn({10, 130})) - 60) <= 1);
        f.view.resetCrop();
        QVERIFY(f.view.crop().empty());
    }

    void colourUnderTheMouse() {
        ViewFixture f;
        QCOMPARE(f.view.colourAt({10, 10}), QString("R: 90 G:120 B:150"));
        f.view.horizontalScrollBar()->setValue(150);
        QCOMPARE(f.view.colourAt({60, 10}), QString("R:200 G:180 B:160"));
        QSignalSpy readout(&f.view, &RawView::colourReadout);
        QTest::mouseMove(f.view.viewport(), QPoint(10, 10));
        QTRY_VERIFY(readout.count() >= 1);
        QCOMPARE(readout.last().at(0).toString(), QString("R: 90 G:120 B:150"));
    }

    // A screen image of part of the picture, reduced by 2, lands where that
    // part lies on the turned canvas; the rest of the canvas stays empty.
    void reducedPartIsPlacedOnTheTurnedCanvas() {
        struct Case {
            Rotation rotation;
            QPoint origin;  // on the canvas, at 50 %
            QPoint marker;  // where the part's top-left pixel is drawn
        };
        // The part covers columns 100..199 and rows 60..139 of the 400 x 300
        // display area: 50 x 40 screen pixels at scale-down 2.
        const Case cases[] = {
            {Rotation::none, {50, 30}, {50, 30}},
            {Rotation::clockwise, {80, 50}, {119, 50}},
            {Rotation::counter_clockwise, {30, 100}, {30, 149}},
            {Rotation::half_turn, {100, 80}, {149, 119}},
        };
        for (const Case& c : cases) {
            RawView view;
            view.resize(300, 300);
            view.setZoom(0.5);
            view.setRotation(c.rotation);
            view.show();
            auto r = std::make_shared<DocumentResult>();
            r->loaded = r->opened = true;
            r->width = 408;
            r->height = 308;
            r->screen_scale_down = 2;
            r->screen_x = 4 + 100;
            r->screen_y = 4 + 60;
            r->display = QImage(50, 40, QImage::Format_RGB32);
            r->display.fill(QColor(90, 120, 150));
            r->display.setPixel(0, 0, qRgb(250, 10, 10));
            view.setResult(r);
            QTRY_VERIFY(!view.rendering());
            const bool quarter = is_quarter_turn(c.rotation);
            QCOMPARE(view.canvasSize(), quarter ? QSize(150, 200) : QSize(200, 150));
            QCOMPARE(view.shownOrigin(), c.origin);
            QCOMPARE(view.shownImage().size(), quarter ? QSize(40, 50) : QSize(50, 40));
            const QImage shot = view.viewport()->grab().toImage();
            QCOMPARE(shot.pixel(c.marker) & 0xFFFFFF, qRgb(250, 10, 10) & 0xFFFFFF);
            QCOMPARE(shot.pixel(c.origin + QPoint(20, 20)) & 0xFFFFFF, qRgb(90, 120, 150) & 0xFFFFFF);
            QCOMPARE(shot.pixel(5, 5) & 0xFFFFFF, qRgb(128, 128, 128) & 0xFFFFFF);  // canvas not developed
            QCOMPARE(view.colourAt({5, 5}), QString());
            QCOMPARE(view.colourAt(c.marker), QString("R:250 G: 10 B: 10"));
        }
    }

    // The view asks for the visible part in image pixels, reduced by the
    // whole number the zoom allows, and again only when that part changes.
    void viewportFollowsScaleAndScroll() {
        ViewFixture f;
        QSignalSpy asked(&f.view, &RawView::viewportChanged);
        const QSize page = f.view.viewport()->size();
        f.view.horizontalScrollBar()->setValue(100);
        f.view.verticalScrollBar()->setValue(50);
        QCOMPARE(asked.count(), 2);
        auto v = f.view.currentViewport();
        // One image pixel of slack on each side of the visible rectangle.
        QCOMPARE(v.scale_down, 1);
        QCOMPARE(v.x, 4 + 100 - 1);
        QCOMPARE(v.y, 4 + 50 - 1);
        QCOMPARE(v.width, page.width() + 3);
        QCOMPARE(v.height, page.height() + 3);
        f.view.horizontalScrollBar()->setValue(100);  // unchanged: nothing asked
        QCOMPARE(asked.count(), 2);
        // Turned clockwise, the view's top left is the picture's bottom left.
        f.view.setRotation(Rotation::clockwise);
        f.view.refresh();
        QTRY_VERIFY(!f.view.rendering());
        f.view.horizontalScrollBar()->setValue(0);
        f.view.verticalScrollBar()->setValue(0);
        v = f.view.currentViewport();
        QCOMPARE(v.x, 4);
        QCOMPARE(v.y, 4 + 300 - page.width() - 1);
        // At 35 % two image pixels make one screen pixel; the whole picture
        // fits, so all of it is asked for.
        f.view.setZoom(0.35);
        f.view.refresh();
        QTRY_VERIFY(!f.view.rendering());
        v = f.view.currentViewport();
        QCOMPARE(v.scale_down, 2);
        QCOMPARE(v.x, 4);
        QCOMPARE(v.y, 4);
        QCOMPARE(v.width, 400);
        QCOMPARE(v.height, 300);
        QVERIFY(asked.count() >= 4);
    }

    void controlWheelAsksForZoom() {
        ViewFixture f;
        QSignalSpy zoom(&f.view, &RawView::zoomStepRequested);
        QWheelEvent wheel(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(f.view.viewport(), &wheel);
        QCOMPARE(zoom.count(), 1);
        QCOMPARE(zoom.at(0).at(0).toInt(), 1);
    }

    void doubleClickResetsASlider() {
        testing::FrameFixture f;
        f.showStandIn();
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        auto* radius = static_cast<ReleaseSlider*>(f.frame->control(334));
        radius->setValue(20);
        QTest::mouseDClick(radius, Qt::LeftButton);
        QCOMPARE(radius->value(), 1);
        QCOMPARE(f.frame->labelText(333), QString("Sharp.Radius: 1"));
        auto* exposure = static_cast<ReleaseSlider*>(f.frame->control(300));
        exposure->setValue(7);
        QTest::mouseDClick(exposure, Qt::LeftButton);
        QCOMPARE(exposure->value(), 0);
        QVERIFY(sent.count() >= 1);
    }

    void controlWheelChangesTheScale() {
        testing::FrameFixture f;
        f.showStandIn();
        const int before = int(f.frame->value(ostel::develop::tag::kScale));
        emit f.frame->view()->zoomStepRequested(2);
        QCOMPARE(int(f.frame->value(ostel::develop::tag::kScale)), before + 10);
        QCOMPARE(f.frame->view()->zoom(), (before + 10) * 0.01);
    }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
