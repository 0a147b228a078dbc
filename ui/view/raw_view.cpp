#include "ui/view/raw_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

namespace ostel::ui {

namespace {
const QColor kBackground(128, 128, 128);
}

RawView::RawView(QWidget* parent) : QAbstractScrollArea(parent) {
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setFrameShape(QFrame::NoFrame);
    connect(&renderer_, &ViewRenderer::rendered, this, &RawView::showRendered, Qt::QueuedConnection);
}

void RawView::setResult(const std::shared_ptr<const DocumentResult>& result) {
    if (!result) return;
    if (!result->loaded || result->display.isNull()) {
        // A failed open leaves no picture; a failed develop keeps the last one.
        if (result->opened) clearImage();
        return;
    }
    display_ = result->display;
    developed_width_ = result->width;
    developed_height_ = result->height;
    refresh();
}

void RawView::clearImage() {
    display_ = QImage();
    shown_ = QImage();
    developed_width_ = developed_height_ = 0;
    resetCrop();
    refresh();
}

void RawView::message(FrameMessage m) {
    switch (m) {
        case FrameMessage::develop:
            if (hasImage()) emit jobRequested(job::kDevelop);
            break;
        case FrameMessage::refresh:
            panning_ = false;
            if (hasImage()) refresh();
            break;
        case FrameMessage::save: emit saveRequested(); break;
        case FrameMessage::filters:
            if (hasImage()) emit jobRequested(job::kFilters);
            break;
        case FrameMessage::white_balance:
            if (hasImage()) emit jobRequested(job::kWhiteBalance);
            break;
    }
}

void RawView::setZoom(double zoom) {
    if (zoom > 0) zoom_ = zoom;
}
void RawView::setRotation(Rotation rotation) { rotation_ = rotation; }
void RawView::setCropMode(bool on) {
    crop_mode_ = on;
    cropping_ = false;
}
void RawView::setCustomBalance(bool on) {
    custom_balance_ = on;
    updateCursor();
}
void RawView::resetCrop() {
    crop_ = {};
    cropping_ = false;
}

void RawView::refresh() {
    if (display_.isNull()) {
        renderer_.request(QImage(), rotation_, zoom_);  // drops a render still waiting
        rendering_ = false;
        showRendered(QImage(), renderer_.latest());
        return;
    }
    rendering_ = true;
    renderer_.request(display_, rotation_, zoom_);
}

void RawView::showRendered(const QImage& image, quint64 serial) {
    if (serial != renderer_.latest()) return;
    rendering_ = false;
    shown_ = image;
    shown_zoom_ = zoom_;
    updateScrollRange();
    if (zoom_ == drawn_zoom_) {
        horizontalScrollBar()->setValue(last_scroll_.x());
        verticalScrollBar()->setValue(last_scroll_.y());
    } else {
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
    }
    updateCursor();
    viewport()->update();
}

void RawView::updateScrollRange() {
    const QSize page = viewport()->size();
    horizontalScrollBar()->setPageStep(page.width());
    verticalScrollBar()->setPageStep(page.height());
    horizontalScrollBar()->setRange(0, std::max(0, shown_.width() - page.width()));
    verticalScrollBar()->setRange(0, std::max(0, shown_.height() - page.height()));
}

void RawView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

Point RawView::scrolled(QPoint p) const {
    return {p.x() + horizontalScrollBar()->value(), p.y() + verticalScrollBar()->value()};
}

void RawView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), kBackground);
    if (shown_.isNull()) return;
    drawn_zoom_ = shown_zoom_;
    last_scroll_ = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
    const QPoint origin(-last_scroll_.x(), -last_scroll_.y());
    painter.drawImage(origin, shown_);
    if (crop_mode_ && !crop_.empty()) {
        // Outside the rectangle the picture is shown at half brightness.
        painter.fillRect(QRect(origin, shown_.size()), QColor(0, 0, 0, 128));
        const CropRect d = displayed_crop(crop_, zoom_, rotation_, area());
        const QRect inside(d.x, d.y, d.width, d.height);
        painter.drawImage(inside.translated(origin), shown_, inside);
    }
}

QString RawView::colourAt(QPoint p) const {
    const Point s = scrolled(p);
    if (shown_.isNull() || s.x < 0 || s.y < 0 || s.x >= shown_.width() || s.y >= shown_.height()) return {};
    const QRgb c = shown_.pixel(s.x, s.y);
    return QString::asprintf("R:%3d G:%3d B:%3d", qRed(c), qGreen(c), qBlue(c));
}

void RawView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    const QPoint p = event->position().toPoint();
    if (crop_mode_) {
        if (!hasImage()) return;
        if (!cropping_) {
            cropping_ = true;
            crop_start_ = scrolled(p);
            crop_zoom_ = zoom_;
        } else {
            cropping_ = false;
            crop_ = crop_from_points(crop_start_, scrolled(p), crop_zoom_, rotation_, area());
            viewport()->update();
        }
        return;
    }
    if (!custom_balance_) {
        panning_ = true;
        last_mouse_ = p;
        return;
    }
    if (!hasImage()) return;
    Point picked;
    if (white_balance_pick({p.x(), p.y()}, {horizontalScrollBar()->value(), verticalScrollBar()->value()}, zoom_,
                           rotation_, developed_width_, developed_height_, picked))
        emit whiteBalancePicked(picked.x, picked.y);
}

void RawView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (hasImage()) {
        const QString text = colourAt(p);
        if (!text.isEmpty()) emit colourReadout(text);
    }
    if (cropping_) {
        crop_ = crop_from_points(crop_start_, scrolled(p), crop_zoom_, rotation_, area());
        viewport()->update();
    } else if (panning_ && event->buttons() == Qt::LeftButton) {
        const QPoint delta = last_mouse_ - p;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
        last_mouse_ = p;
    }
}

void RawView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) panning_ = false;
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void RawView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps != 0) emit zoomStepRequested(steps);
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
    event->accept();
}

void RawView::updateCursor() {
    viewport()->setCursor(custom_balance_ && hasImage() ? Qt::CrossCursor : Qt::ArrowCursor);
}

}  // namespace ostel::ui
