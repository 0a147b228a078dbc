#pragma once
// The tone-curve editor: a smooth curve through control points that the
// user drags, adds (click on the curve) and deletes (right click). The two
// end points are fixed. Coordinates are the editor's pixels, y downwards.
#include <QPainterPath>
#include <QWidget>
#include <string>
#include <vector>

#include "develop/tone.h"

namespace ostel::ui {

class CurveEditor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSize = 118;
    static constexpr int kHandleReach = 6;  // a point is hit within 6 pixels

    explicit CurveEditor(QWidget* parent = nullptr);

    const std::vector<develop::CurvePoint>& points() const { return points_; }
    // "x,y x,y ..." as the develop pipeline reads it.
    std::string pointsText() const;
    // Keeps only the two end points.
    void reset();
    // The lookup table of the current curve; entries no sample reaches keep
    // what `table` held.
    void buildTable(develop::Table16& table) const;

    // The editing steps the mouse drives, public so they can be driven
    // directly.
    // Index of the inner point within reach of `p`, or -1.
    int innerPointAt(QPoint p) const;
    bool onCurve(QPoint p) const;
    void movePoint(int index, QPoint to);
    void addPoint(QPoint p);
    void deletePointsNear(QPoint p);

    QSize sizeHint() const override { return {kSize + 2, kSize + 2}; }

signals:
    void curveEdited();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void sortPoints();
    QPainterPath curvePath() const;

    std::vector<develop::CurvePoint> points_;
    int dragged_ = -1;
    bool over_curve_ = false;
};

}  // namespace ostel::ui
