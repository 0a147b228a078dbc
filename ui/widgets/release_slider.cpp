#include "ui/widgets/release_slider.h"

#include <QMouseEvent>

namespace ostel::ui {

ReleaseSlider::ReleaseSlider(int minimum, int maximum, int initial, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), initial_(initial) {
    setRange(minimum, maximum);
    setValue(initial);
    setFixedSize(110, 30);
    setTracking(true);
}

void ReleaseSlider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) emit released(value());
}

void ReleaseSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QSlider::mouseDoubleClickEvent(event);
    setValue(initial_);
    emit released(value());
    event->accept();
}

}  // namespace ostel::ui
