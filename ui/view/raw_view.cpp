#include "ui/view/raw_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ostel::ui {

namespace {
const QColor kBackground(128, 128, 128);
}

RawView::RawView(QWidget* parent) : QAbstractScrollArea(parent) {
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setFrameShape(QFrame::NoFrame);
    connect(&renderer_, &ViewRenderer::rendered, this, &RawView::showRendered, Qt::QueuedConnection);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &RawView::updateViewport);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &RawView::updateViewport);
}

void RawView::setResult(const std::shared_ptr<const DocumentResult>& result) {
    if (!result) return;
    if (result->provisional) {
        // The picture on show belongs to the file before; the preview
        // stands in until the new one is developed.
        clearImage();
        provisional_ = turned_and_scaled(result->display, rotation_from_orientation(result->orientation), 1.0);
        viewport()->update();
        return;
    }
    if (!result->loaded || result->display.isNull()) {
        // A failed open leaves no picture; a failed develop keeps the last one.
        if (result->opened) clearImage();
        return;
    }
    display_ = result->display;
    screen_scale_down_ = std::max(1, result->screen_scale_down);
    screen_x_ = result->screen_x;
    screen_y_ = result->screen_y;
    developed_width_ = result->width;
    developed_height_ = result->height;
    constexpr int border = develop::kDisplayBorder;
    // A result that brings only a display image describes the whole area.
    area_ = result->width > 2 * border && result->height > 2 * border
                ? ExportSize{result->width - 2 * border, result->height - 2 * border}
                : ExportSize{display_.width(), display_.height()};
    refresh();
}

void RawView::clearImage() {
    display_ = QImage();
    provisional_ = QImage();
    shown_ = QImage();
    developed_width_ = developed_height_ = 0;
    area_ = {};
    canvas_ = {};
    resetCrop();
    refresh();
}

void RawView::message(FrameMessage m) {
    switch (m) {
        case FrameMessage::develop:
            if (takesRequests()) emit jobRequested(job::kDevelop);
            break;
        case FrameMessage::refresh:
            panning_ = false;
            if (hasImage()) refresh();
            break;
        case FrameMessage::save: emit saveRequested(); break;
        case FrameMessage::filters:
            if (takesRequests()) emit jobRequested(job::kFilters);
            break;
        case FrameMessage::white_balance:
            if (takesRequests()) emit jobRequested(job::kWhiteBalance);
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
    // The screen image's rectangle on the unturned display area, turned and
    // scaled like the whole picture.
    const int k = screen_scale_down_;
    const CropRect piece{screen_x_ - develop::kDisplayBorder, screen_y_ - develop::kDisplayBorder,
                         display_.width() * k, display_.height() * k};
    const CropRect turned = exporting::rotate_crop(piece, area_, rotation_);
    const ExportSize canvas = displayed_size(area_, zoom_, rotation_);
    requested_.origin = QPoint(int(std::floor(turned.x * zoom_)), int(std::floor(turned.y * zoom_)));
    requested_.canvas = QSize(canvas.width, canvas.height);
    requested_.zoom = zoom_;
    rendering_ = true;
    renderer_.request(display_, rotation_, zoom_ * k);
}

void RawView::showRendered(const QImage& image, quint64 serial) {
    if (serial != renderer_.latest()) return;
    rendering_ = false;
    shown_ = image;
    // The developed picture is drawn: the stand-in goes.
    if (!shown_.isNull()) provisional_ = QImage();
    if (shown_.isNull()) {
        canvas_ = {};
        shown_origin_ = {};
    } else {
        canvas_ = requested_.canvas;
        shown_origin_ = requested_.origin;
    }
    shown_zoom_ = requested_.zoom;
    updateScrollRange();
    // The same scale keeps the scroll position (a newer part of the same
    // picture); another one starts from the top left.
    if (shown_zoom_ != drawn_zoom_) {
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
    }
    updateCursor();
    updateViewport();
    viewport()->update();
}

develop::Viewport RawView::currentViewport() const {
    const QSize page = viewport()->size();
    // One screen pixel for as many image pixels as the zoom allows whole.
    const int k = zoom_ >= 1.0 ? 1 : std::max(1, int(1.0 / zoom_ + 1e-9));
    if (area_.width <= 0 || area_.height <= 0) {
        // No picture yet: its top left, as an unturned picture opens. The
        // document keeps the rectangle within the picture it opens.
        return develop::Viewport::area(k, develop::kDisplayBorder, develop::kDisplayBorder,
                                       int(std::ceil(page.width() / zoom_)) + 2,
                                       int(std::ceil(page.height() / zoom_)) + 2);
    }
    const ExportSize canvas = displayed_size(area_, zoom_, rotation_);
    CropRect visible{0, 0, area_.width, area_.height};
    if (canvas.width > page.width() || canvas.height > page.height()) {
        const Point from{horizontalScrollBar()->value(), verticalScrollBar()->value()};
        const Point to{from.x + std::min(page.width(), canvas.width), from.y + std::min(page.height(), canvas.height)};
        // A screen pixel may show part of one more image pixel at each side.
        visible = exporting::clamp_crop(crop_from_points(from, to, zoom_, rotation_, area_), area_);
        visible = exporting::clamp_crop({visible.x - 1, visible.y - 1, visible.width + 3, visible.height + 3}, area_);
    }
    return develop::Viewport::area(k, visible.x + develop::kDisplayBorder, visible.y + develop::kDisplayBorder,
                                   visible.width, visible.height);
}

void RawView::updateViewport() {
    // Scroll positions belong to the canvas on show; wait for a new scale
    // or turn to be drawn.
    if (rendering_) return;
    const develop::Viewport v = currentViewport();
    const auto same = [&v](const develop::Viewport& o) {
        return o.scale_down == v.scale_down && o.x == v.x && o.y == v.y && o.width == v.width && o.height == v.height;
    };
    if (told_ && same(*told_)) return;
    told_ = v;
    emit viewportChanged(v);
}

void RawView::updateScrollRange() {
    const QSize page = viewport()->size();
    horizontalScrollBar()->setPageStep(page.width());
    verticalScrollBar()->setPageStep(page.height());
    horizontalScrollBar()->setRange(0, std::max(0, canvas_.width() - page.width()));
    verticalScrollBar()->setRange(0, std::max(0, canvas_.height() - page.height()));
}

void RawView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    updateViewport();
}

Point RawView::scrolled(QPoint p) const {
    return {p.x() + horizontalScrollBar()->value(), p.y() + verticalScrollBar()->value()};
}

void RawView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), kBackground);
    if (shown_.isNull() && !provisional_.isNull()) {
        paintProvisional(painter);
        return;
    }
    if (shown_.isNull()) return;
    drawn_zoom_ = shown_zoom_;
    last_scroll_ = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
    // Canvas coordinates to viewport coordinates.
    const QPoint origin(-last_scroll_.x(), -last_scroll_.y());
    const QRect canvas(origin, canvas_);
    painter.setClipRect(canvas);
    painter.drawImage(origin + shown_origin_, shown_);
    if (crop_mode_ && !crop_.empty()) {
        // Outside the rectangle the picture is shown at half brightness.
        painter.fillRect(canvas, QColor(0, 0, 0, 128));
        const CropRect d = displayed_crop(crop_, zoom_, rotation_, area());
        const QRect inside = QRect(d.x, d.y, d.width, d.height).translated(-shown_origin_).intersected(shown_.rect());
        if (!inside.isEmpty()) painter.drawImage(inside.translated(origin + shown_origin_), shown_, inside);
    }
}

void RawView::paintProvisional(QPainter& painter) {
    const QSize page = viewport()->size();
    const QSize fitted = provisional_.size().scaled(page, Qt::KeepAspectRatio);
    const QRect where(QPoint((page.width() - fitted.width()) / 2, (page.height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(where, provisional_);
    // Says that this is not yet the developed picture.
    const QString caption = QStringLiteral("Preview - developing");
    const QRect box = painter.fontMetrics().boundingRect(caption).adjusted(-6, -3, 6, 3);
    const QRect label = box.translated(where.topLeft() - box.topLeft() + QPoint(8, 8));
    painter.fillRect(label, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(label, Qt::AlignCenter, caption);
}

QString RawView::colourAt(QPoint p) const {
    const Point s = scrolled(p);
    if (shown_.isNull() || s.x < 0 || s.y < 0 || s.x >= canvas_.width() || s.y >= canvas_.height()) return {};
    const QPoint q = QPoint(s.x, s.y) - shown_origin_;
    if (!shown_.rect().contains(q)) return {};
    const QRgb c = shown_.pixel(q);
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
