#include "ui/widgets/curve_editor.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace ostel::ui {

CurveEditor::CurveEditor(QWidget* parent) : QWidget(parent) {
    setFixedSize(kSize + 2, kSize + 2);
    setMouseTracking(true);
    points_ = {{-2, kSize}, {kSize, -2}};
}

std::string CurveEditor::pointsText() const {
    std::ostringstream out;
    for (size_t i = 0; i < points_.size(); ++i) out << (i ? " " : "") << points_[i].x << ',' << points_[i].y;
    return out.str();
}

void CurveEditor::reset() {
    if (points_.size() > 2) points_ = {points_.front(), points_.back()};
    update();
}

void CurveEditor::buildTable(develop::Table16& table) const { develop::build_curve_table(points_, table); }

int CurveEditor::innerPointAt(QPoint p) const {
    for (size_t i = 1; i + 1 < points_.size(); ++i)
        if (std::abs(points_[i].x - p.x()) < kHandleReach && std::abs(points_[i].y - p.y()) < kHandleReach)
            return int(i);
    return -1;
}

void CurveEditor::sortPoints() {
    std::stable_sort(points_.begin() + 1, points_.end() - 1,
                     [](const develop::CurvePoint& a, const develop::CurvePoint& b) { return a.x < b.x; });
}

void CurveEditor::movePoint(int index, QPoint to) {
    if (index < 1 || index + 1 >= int(points_.size())) return;
    // Inner points stay strictly between the fixed ends, so the curve stays
    // a function of x.
    const int x = std::clamp(to.x(), points_.front().x + 1, points_.back().x - 1);
    const int y = std::clamp(to.y(), points_.back().y, points_.front().y);
    points_[size_t(index)] = {x, y};
    sortPoints();
    update();
    emit curveEdited();
}

void CurveEditor::addPoint(QPoint p) {
    if (p.x() <= points_.front().x || p.x() >= points_.back().x) return;
    points_.insert(points_.end() - 1, {p.x(), std::clamp(p.y(), points_.back().y, points_.front().y)});
    sortPoints();
    update();
    emit curveEdited();
}

void CurveEditor::deletePointsNear(QPoint p) {
    const size_t before = points_.size();
    points_.erase(std::remove_if(points_.begin() + 1, points_.end() - 1,
                                 [&](const develop::CurvePoint& c) {
                                     return std::abs(c.x - p.x()) < kHandleReach &&
                                            std::abs(c.y - p.y()) < kHandleReach;
                                 }),
                  points_.end() - 1);
    update();
    if (points_.size() != before) emit curveEdited();
}

// A cardinal spline of tension 0.5 through the points, as cubic Bezier
// segments (each control point a sixth of the neighbours' difference away).
QPainterPath CurveEditor::curvePath() const {
    QPainterPath path;
    const size_t n = points_.size();
    auto at = [&](long i) {
        const auto& c = points_[size_t(std::clamp<long>(i, 0, long(n) - 1))];
        return QPointF(c.x, c.y);
    };
    path.moveTo(at(0));
    for (long i = 0; i + 1 < long(n); ++i) {
        const QPointF c1 = at(i) + (at(i + 1) - at(i - 1)) / 6.0;
        const QPointF c2 = at(i + 1) - (at(i + 2) - at(i)) / 6.0;
        path.cubicTo(c1, c2, at(i + 1));
    }
    return path;
}

bool CurveEditor::onCurve(QPoint p) const {
    QPainterPathStroker stroker;
    stroker.setWidth(5);
    return stroker.createStroke(curvePath()).contains(QPointF(p));
}

void CurveEditor::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(224, 223, 227));
    painter.setPen(QPen(QColor(150, 150, 150), 1));
    for (int x : {28, 58, 88}) painter.drawLine(x, 0, x, 120);
    for (int y : {29, 59, 89}) painter.drawLine(0, y, 120, y);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawPath(curvePath());
    for (size_t i = 1; i + 1 < points_.size(); ++i)
        painter.fillRect(QRect(points_[i].x - 3, points_[i].y - 3, 6, 6), QColor(100, 100, 200));
}

void CurveEditor::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    over_curve_ = false;
    if (event->buttons() == Qt::LeftButton && dragged_ >= 0) {
        movePoint(dragged_, p);
        // Re-find the dragged point after sorting.
        dragged_ = innerPointAt(p);
        return;
    }
    const int hit = innerPointAt(p);
    if (hit >= 0) {
        setCursor(Qt::SizeAllCursor);
        return;
    }
    over_curve_ = onCurve(p);
    setCursor(over_curve_ ? Qt::CrossCursor : Qt::ArrowCursor);
}

void CurveEditor::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        dragged_ = innerPointAt(p);
        if (dragged_ < 0 && onCurve(p)) {
            addPoint(p);
            dragged_ = innerPointAt(p);
        }
    } else if (event->button() == Qt::RightButton) {
        deletePointsNear(p);
    }
}

}  // namespace ostel::ui
