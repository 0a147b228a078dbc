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
