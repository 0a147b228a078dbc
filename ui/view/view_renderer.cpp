#include "ui/view/view_renderer.h"

#include <QTransform>

namespace ostel::ui {

QImage turned_and_scaled(const QImage& display, Rotation rotation, double zoom) {
    if (display.isNull()) return {};
    static const int degrees[] = {0, 90, -90, 180};
    const QImage turned =
        rotation == Rotation::none ? display : display.transformed(QTransform().rotate(degrees[int(rotation)]));
    const ExportSize shown = displayed_size({display.width(), display.height()}, zoom, rotation);
    if (shown.width <= 0 || shown.height <= 0) return {};
    if (shown.width == turned.width() && shown.height == turned.height()) return turned;
    return turned.scaled(shown.width, shown.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

ViewRenderer::ViewRenderer() : context_(new QObject) {
    context_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    connect(
        this, &ViewRenderer::renderRequested, context_,
        [this](const QImage& display, int rotation, double zoom, quint64 serial) {
            if (serial != latest_) return;  // a newer request waits
            const QImage image = turned_and_scaled(display, Rotation(rotation), zoom);
            emit rendered(image, serial);
        },
        Qt::QueuedConnection);
    thread_.start();
}

ViewRenderer::~ViewRenderer() {
    latest_ = ~quint64(0);  // whatever still waits is skipped
    thread_.quit();
    thread_.wait();
}

quint64 ViewRenderer::request(const QImage& display, Rotation rotation, double zoom) {
    const quint64 serial = ++latest_;
    emit renderRequested(display, int(rotation), zoom, serial);
    return serial;
}

}  // namespace ostel::ui
