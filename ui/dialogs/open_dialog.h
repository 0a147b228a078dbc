#pragma once
// The open dialog: a file dialog that shows, for the selected file, its
// embedded thumbnail and shooting data, read in preview-only mode, with the
// colour-space list and the spatial-correction box beside them.
#include <QFileDialog>
#include <QImage>

#include "ui/dialogs/shot_texts.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace ostel::ui {

class UserSettings;

// The thumbnail, scaled into the control, or the empty background.
class ThumbnailPreview : public QWidget {
    Q_OBJECT
public:
    explicit ThumbnailPreview(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    static QColor background() { return QColor(224, 223, 227); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

// What a preview-only read of a file gives the dialog.
struct FilePreview {
    bool found = false;  // a raw file was recognised
    develop::ShootingData shot;
    QImage thumbnail;    // null when the file has none that can be shown
};
FilePreview read_file_preview(const QString& path);

class OpenDialog : public QFileDialog {
    Q_OBJECT
public:
    OpenDialog(UserSettings& settings, QWidget* parent = nullptr);

    // Shows the data of `path` (what a change of the selection does).
    void showFile(const QString& path);

    ThumbnailPreview* preview() const { return preview_; }
    ShotTexts texts() const;
    QComboBox* colourSpaces() const { return colour_space_; }
    QCheckBox* spatialCorrection() const { return spatial_; }

    void accept() override;

private:
    UserSettings& settings_;
    QString shown_path_;
    ThumbnailPreview* preview_ = nullptr;
    QLabel* make_ = nullptr;
    QLabel* model_ = nullptr;
    QLabel* iso_ = nullptr;
    QLabel* shutter_ = nullptr;
    QLabel* aperture_ = nullptr;
    QLabel* focal_ = nullptr;
    QComboBox* colour_space_ = nullptr;
    QCheckBox* spatial_ = nullptr;
};

}  // namespace ostel::ui
