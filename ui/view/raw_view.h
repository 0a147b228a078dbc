#pragma once
// The scrolling preview of the document: the screen image at the frame's
// zoom, turned by its rotation state, with panning by drag, the crop
// rectangle over a dimmed picture, the white-balance pick and the colour
// under the mouse. The view keeps the last image until the next arrives.
//
// The screen image may hold only part of the picture, reduced by a whole
// number: the view places it on the picture's canvas (the display area
// turned and scaled) and tells the document, through viewportChanged(),
// which part it shows, so pans and zooms are developed at the resolution
// they are seen at.
//
// While a file opens, its embedded preview may stand in: turned like the
// camera was held and fitted to the window, captioned as a preview, with
// no colour readout, white-balance pick or crop (the view has no image
// until the developed one arrives, which replaces it).
#include <QAbstractScrollArea>
#include <QImage>
#include <QPainter>
#include <memory>
#include <optional>

#include "ui/view/frame_message.h"
#include "ui/view/view_geometry.h"
#include "ui/view/view_renderer.h"
#include "ui/worker/document_worker.h"

namespace ostel::ui {

class RawView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit RawView(QWidget* parent = nullptr);

    // A finished run of the document.
    void setResult(const std::shared_ptr<const DocumentResult>& result);
    bool hasImage() const { return !display_.isNull(); }
    // The embedded preview of a file being opened is on show (turned
    // upright), in place of a developed picture.
    bool showsProvisional() const { return !provisional_.isNull(); }
    const QImage& provisionalImage() const { return provisional_; }
    // Control changes are worth a request: a picture is on show, or one is
    // being opened behind its preview (the request then runs after the open).
    bool takesRequests() const { return hasImage() || showsProvisional(); }
    // The part of the developed image the view shows, as the document's
    // screen develop takes it.
    develop::Viewport currentViewport() const;
    void clearImage();

    // The frame's messages, turned into document requests and redraws.
    void message(FrameMessage m);

    // State copied from the frame.
    void setZoom(double zoom);
    void setRotation(Rotation rotation);
    void setCropMode(bool on);
    void setCustomBalance(bool on);
    void resetCrop();

    double zoom() const { return zoom_; }
    Rotation rotation() const { return rotation_; }
    const CropRect& crop() const { return crop_; }
    bool cropMode() const { return crop_mode_; }
    // The screen image as drawn: turned and scaled, its top-left at
    // shownOrigin() on the canvas of canvasSize() (the whole picture turned
    // and scaled; scroll positions count on it).
    const QImage& shownImage() const { return shown_; }
    QPoint shownOrigin() const { return shown_origin_; }
    QSize canvasSize() const { return canvas_; }
    ExportSize area() const { return area_; }
    int developedWidth() const { return developed_width_; }
    int developedHeight() const { return developed_height_; }
    // Recomputes the drawn picture (off the GUI thread) and the scroll range,
    // then repaints; the previous picture stays up until then.
    void refresh();
    // True while a turned and scaled picture is being made.
    bool rendering() const { return rendering_; }
    // "R:rrr G:ggg B:bbb" of the drawn pixel at a viewport position; empty
    // outside the picture.
    QString colourAt(QPoint viewport_position) const;

signals:
    void jobRequested(unsigned jobs);
    void whiteBalancePicked(int column, int row);
    void colourReadout(const QString& text);
    void zoomStepRequested(int steps);
    void saveRequested();
    // The view now shows another part of the picture, or at another scale.
    void viewportChanged(const ostel::develop::Viewport& viewport);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Point scrolled(QPoint viewport_position) const;
    void updateCursor();
    void updateScrollRange();
    void showRendered(const QImage& image, quint64 serial);
    void updateViewport();
    void paintProvisional(QPainter& painter);

    // Where a screen image lands on the canvas at the zoom and rotation of
    // the render that was asked for.
    struct Placement {
        QPoint origin;
        QSize canvas;
        double zoom = 0;
    };

    QImage display_, shown_;
    QImage provisional_;  // the upright embedded preview, until the developed picture is drawn
    int screen_scale_down_ = 1, screen_x_ = develop::kDisplayBorder, screen_y_ = develop::kDisplayBorder;
    ExportSize area_;
    Placement requested_;
    QPoint shown_origin_;
    QSize canvas_;
    std::optional<develop::Viewport> told_;  // the viewport last sent
    int developed_width_ = 0, developed_height_ = 0;
    double zoom_ = 0.5;
    Rotation rotation_ = Rotation::none;
    bool crop_mode_ = false, custom_balance_ = false;
    CropRect crop_;
    bool cropping_ = false;
    Point crop_start_;
    double crop_zoom_ = 0;
    bool panning_ = false;
    QPoint last_mouse_;
    double shown_zoom_ = -1, drawn_zoom_ = -1;
    QPoint last_scroll_;
    ViewRenderer renderer_;
    bool rendering_ = false;
};

}  // namespace ostel::ui
