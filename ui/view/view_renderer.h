#pragma once
// Turns and scales the display image for the view on a thread of its own,
// so a large picture never holds up the window. Only the newest request
// is worked on; older ones still waiting are skipped.
#include <QImage>
#include <QObject>
#include <QThread>
#include <atomic>

#include "ui/view/view_geometry.h"

namespace ostel::ui {

// The display image as the view draws it: turned by `rotation`, then scaled
// to the displayed size at `zoom` (smooth filtering).
QImage turned_and_scaled(const QImage& display, Rotation rotation, double zoom);

class ViewRenderer : public QObject {
    Q_OBJECT
public:
    ViewRenderer();
    ~ViewRenderer() override;

    // Starts a render; returns its number.
    quint64 request(const QImage& display, Rotation rotation, double zoom);
    quint64 latest() const { return latest_; }

signals:
    void rendered(const QImage& image, quint64 serial);
    void renderRequested(const QImage& display, int rotation, double zoom, quint64 serial);

private:
    QThread thread_;
    QObject* context_;
    std::atomic<quint64> latest_{0};
};

}  // namespace ostel::ui
