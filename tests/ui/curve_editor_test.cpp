// The curve editor: adding, dragging and deleting points with the mouse,
// "Reset", and the lookup table, which is the develop pipeline's own.
#include <QSignalSpy>
#include <QTest>

#include "develop/tone.h"
#include "ui/widgets/curve_editor.h"

using namespace ostel::ui;
using ostel::develop::CurvePoint;
using ostel::develop::Table16;

namespace {

std::vector<CurvePoint> points_of(const CurveEditor& e) { return e.points(); }

Table16 develop_table(const std::string& text) {
    Table16 table = ostel::develop::identity_table();
    std::vector<CurvePoint> points;
    if (ostel::develop::parse_curve_points(text, points)) ostel::develop::build_curve_table(points, table);
    return table;
}

}  // namespace

class CurveEditorTest : public QObject {
    Q_OBJECT
private slots:
    void startsAsTheIdentity() {
        CurveEditor editor;
        QCOMPARE(editor.points().size(), size_t(2));
        Table16 table(65536, 0);
        editor.buildTable(table);
        int worst = 0;
        for (int v = 0; v < 65536; ++v) worst = std::max(worst, std::abs(int(table[size_t(v)]) - v));
        QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
    }

    void clickOnTheCurveAddsAPoint() {
        CurveEditor editor;
        editor.show();
        // The identity runs from (-2, 118) to (118, -2): (40, 76) lies on it.
        QTest::mouseMove(&editor, QPoint(40, 76));
        QTest::mouseClick(&editor, Qt::LeftButton, {}, QPoint(40, 76));
        QCOMPARE(editor.points().size(), size_t(3));
        QCOMPARE(editor.points()[1].x, 40);
        // Off the curve nothing is added.
        QTest::mouseClick(&editor, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(editor.points().size(), size_t(3));
    }

    void draggingPastANeighbourReorders() {
        CurveEditor editor;
        editor.show();
        editor.addPoint({30, 88});
        editor.addPoint({80, 38});
        // Drag the first inner point beyond the second.
        QTest::mousePress(&editor, Qt::LeftButton, {}, QPoint(30, 88));
        QMouseEvent move(QEvent::MouseMove, QPointF(95, 70), QPointF(95, 70), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&editor, &move);
        const auto p = points_of(editor);
        QCOMPARE(p.size(), size_t(4));
        QCOMPARE(p[1].x, 80);
        QCOMPARE(p[2].x, 95);
        QCOMPARE(p[2].y, 70);
        for (size_t i = 1; i < p.size(); ++i) QVERIFY(p[i - 1].x < p[i].x);
        // The ends never move.
        QCOMPARE(p.front().x, -2);
        QCOMPARE(p.back().x, 118);
    }

    void rightClickDeletesInnerPointsOnly() {
        CurveEditor editor;
        editor.show();
        editor.addPoint({60, 40});
        QTest::mouseClick(&editor, Qt::RightButton, {}, QPoint(1, 116));  // near the end point
        QCOMPARE(editor.points().size(), size_t(3));
        QTest::mouseClick(&editor, Qt::RightButton, {}, QPoint(63, 43));
        QCOMPARE(editor.points().size(), size_t(2));
    }

    void resetKeepsTheEnds() {
        CurveEditor editor;
        const auto before = editor.pointsText();
        editor.reset();  // only the ends: nothing changes
        QCOMPARE(editor.pointsText(), before);
        editor.addPoint({30, 40});
        editor.addPoint({70, 20});
        editor.reset();
        QCOMPARE(editor.pointsText(), before);
    }

    void tableIsTheDevelopPipelinesCurve() {
        CurveEditor editor;
        editor.addPoint({30, 60});
        editor.addPoint({80, 10});
        Table16 mine = ostel::develop::identity_table();
        editor.buildTable(mine);
        // What the document builds from the points text the frame hands it.
        QVERIFY(mine == develop_table(editor.pointsText()));
        // A raised curve: mid-grey comes out brighter.
        QVERIFY(mine[32768] > 40000);
    }
};

QTEST_MAIN(CurveEditorTest)
#include "curve_editor_test.moc"
