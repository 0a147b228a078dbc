#pragma once
// A slider that reports a change only when the mouse lets it go: dragging
// changes nothing, keyboard moves wait for the next mouse release. A double
// click puts it back to its initial position.
#include <QSlider>

namespace ostel::ui {

class ReleaseSlider : public QSlider {
    Q_OBJECT
public:
    ReleaseSlider(int minimum, int maximum, int initial, QWidget* parent = nullptr);
    int initialPosition() const { return initial_; }

signals:
    // The position after a mouse release or a reset.
    void released(int position);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int initial_;
};

}  // namespace ostel::ui
