// The view's coordinate maps: displayed size, crop rectangle from a drag in
// each rotation state and zoom, its way back to the screen, and the
// white-balance pick.
#include <QTest>

#include "ui/view/view_geometry.h"

using namespace ostel::ui;

Q_DECLARE_METATYPE(ostel::ui::CropRect)

namespace {
const char* name(Rotation r) {
    static const char* names[] = {"none", "cw", "ccw", "half"};
    return names[int(r)];
}
}  // namespace

class ViewGeometryTest : public QObject {
    Q_OBJECT
private slots:
    void displayedSize() {
        // A 4000 x 3000 developed picture at 50 %.
        const ExportSize area{3992, 2992};
        const ExportSize plain = displayed_size(area, 0.5, Rotation::none);
        QCOMPARE(plain.width, 1996);
        QCOMPARE(plain.height, 1496);
        const ExportSize turned = displayed_size(area, 0.5, Rotation::clockwise);
        QCOMPARE(turned.width, 1496);
        QCOMPARE(turned.height, 1996);
        const ExportSize half = displayed_size(area, 0.5, Rotation::half_turn);
        QCOMPARE(half.width, 1996);
    }

    void cropFromDrag_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<CropRect>("expected");
        // Area 200 x 100; drag on screen from (20, 10) to (60, 50).
        QTest::newRow("none 1") << 0 << 1.0 << CropRect{20, 10, 40, 40};
        QTest::newRow("none 0.5") << 0 << 0.5 << CropRect{40, 20, 80, 80};
        // Clockwise: the turned picture is 100 wide; screen x runs down the rows.
        QTest::newRow("cw 1") << 1 << 1.0 << CropRect{10, 40, 40, 40};
        QTest::newRow("cw 0.5") << 1 << 0.5 << CropRect{20, 0, 80, 60};
        QTest::newRow("ccw 1") << 2 << 1.0 << CropRect{150, 20, 40, 40};
        QTest::newRow("ccw 0.5") << 2 << 0.5 << CropRect{100, 40, 80, 60};
        QTest::newRow("half 1") << 3 << 1.0 << CropRect{140, 50, 40, 40};
        QTest::newRow("half 2") << 3 << 2.0 << CropRect{170, 75, 20, 20};
    }

    void cropFromDrag() {
        QFETCH(int, rotation);
        QFETCH(double, zoom);
        QFETCH(CropRect, expected);
        const ExportSize area{200, 100};
        const CropRect c = crop_from_points({20, 10}, {60, 50}, zoom, Rotation(rotation), area);
        QCOMPARE(c.x, expected.x);
        QCOMPARE(c.y, expected.y);
        QCOMPARE(c.width, expected.width);
        QCOMPARE(c.height, expected.height);
        // The same points in the other order give the same rectangle.
        const CropRect r = crop_from_points({60, 50}, {20, 10}, zoom, Rotation(rotation), area);
        QCOMPARE(r.x, c.x);
        QCOMPARE(r.width, c.width);
    }

    void cropDrawsWhereItWasDragged() {
        // Back on the screen, a rectangle lands on the dragged points.
        const ExportSize area{200, 100};
        for (int r = 0; r < 4; ++r) {
            for (double zoom : {1.0, 2.0}) {
                const CropRect c = crop_from_points({20, 10}, {60, 50}, zoom, Rotation(r), area);
                const CropRect d = displayed_crop(c, zoom, Rotation(r), area);
                QVERIFY2(d.x == 20 && d.y == 10 && d.width == 40 && d.height == 40, name(Rotation(r)));
            }
        }
    }

    void cropIsClampedIntoTheArea() {
        const ExportSize area{200, 100};
        // Beyond the right and bottom edges.
        CropRect c = crop_from_points({150, 80}, {400, 300}, 1.0, Rotation::none, area);
        QCOMPARE(c.x + c.width, 200);
        QCOMPARE(c.y + c.height, 100);
        // Started left of and above the picture (window larger than it).
        c = crop_from_points({-30, -20}, {50, 40}, 1.0, Rotation::none, area);
        QCOMPARE(c.x, 0);
        QCOMPARE(c.y, 0);
        QCOMPARE(c.width, 50);
        QCOMPARE(c.height, 40);
        // Turned: a drag past the turned picture's edge stays inside too.
        for (int r = 1; r < 4; ++r) {
            c = crop_from_points({-40, -40}, {500, 500}, 1.0, Rotation(r), area);
            QVERIFY2(c.x == 0 && c.y == 0 && c.width == 200 && c.height == 100, name(Rotation(r)));
        }
        // A click without a drag, or a drag wholly outside, means no crop.
        QVERIFY(crop_from_points({30, 30}, {30, 30}, 1.0, Rotation::none, area).empty());
        QVERIFY(crop_from_points({300, 300}, {400, 400}, 1.0, Rotation::none, area).empty());
        QVERIFY(crop_from_points({30, 30}, {30, 90}, 0.5, Rotation::clockwise, area).empty());
    }

    void whiteBalancePick_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        // Developed 208 x 108, zoom 0.5, click (30, 20) scrolled by (10, 5):
        // u = 40 / 0.5 + 4 = 84, v = 25 / 0.5 + 4 = 54.
        QTest::newRow("none") << 0 << 84 << 54;
        QTest::newRow("cw") << 1 << 54 << 108 - 84;
        QTest::newRow("ccw") << 2 << 208 - 54 << 84;
        QTest::newRow("half") << 3 << 208 - 84 << 108 - 54;
    }

    void whiteBalancePick() {
        QFETCH(int, rotation);
        QFETCH(int, column);
        QFETCH(int, row);
        Point picked;
        QVERIFY(white_balance_pick({30, 20}, {10, 5}, 0.5, Rotation(rotation), 208, 108, picked));
        QCOMPARE(picked.x, column);
        QCOMPARE(picked.y, row);
    }

    void whiteBalancePickNearAnEdgeDoesNothing() {
        Point picked;
        // Column 4 + 1 = 5 is not more than 5 pixels inside.
        QVERIFY(!white_balance_pick({1, 50}, {0, 0}, 1.0, Rotation::none, 208, 108, picked));
        QVERIFY(white_balance_pick({2, 50}, {0, 0}, 1.0, Rotation::none, 208, 108, picked));
        QVERIFY(!white_balance_pick({199, 50}, {0, 0}, 1.0, Rotation::none, 208, 108, picked));
        // Outside the displayed picture (the window is larger).
        QVERIFY(!white_balance_pick({250, 50}, {0, 0}, 1.0, Rotation::none, 208, 108, picked));
        QVERIFY(!white_balance_pick({150, 50}, {0, 0}, 1.0, Rotation::clockwise, 208, 108, picked));
    }

    void orientationGivesTheStartingState() {
        QCOMPARE(rotation_from_orientation(0), Rotation::none);
        QCOMPARE(rotation_from_orientation(1), Rotation::none);
        QCOMPARE(rotation_from_orientation(3), Rotation::half_turn);
        QCOMPARE(rotation_from_orientation(6), Rotation::clockwise);
        QCOMPARE(rotation_from_orientation(5), Rotation::counter_clockwise);
        QCOMPARE(rotation_from_orientation(1), Rotation::none);  // mirrored
        QCOMPARE(rotation_from_orientation(270), Rotation::counter_clockwise);  // in degrees
    }
};

QTEST_MAIN(ViewGeometryTest)
#include "view_geometry_test.moc"
