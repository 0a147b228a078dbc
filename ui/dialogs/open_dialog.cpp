#include "ui/dialogs/open_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>
#include <cstring>

#include "ui/app/user_settings.h"
#include "ui/dialogs/raw_file_types.h"

namespace ostel::ui {

ThumbnailPreview::ThumbnailPreview(QWidget* parent) : QWidget(parent) {
    setObjectName("thumbnail");
    setFixedSize(240, 180);
}

void ThumbnailPreview::setImage(const QImage& image) {
    image_ = image;
    update();
}

void ThumbnailPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (image_.isNull()) {
        painter.fillRect(rect(), background());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image_);
}

FilePreview read_file_preview(const QString& path) {
    FilePreview p;
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) return p;
    develop::RawDocument doc;
    doc.set_preview_only(true);
    if (doc.open(QFile::encodeName(path).toStdString()) != develop::kLoadOk) return p;
    p.found = true;
    p.shot = doc.shooting();
    const develop::Thumbnail& t = doc.thumbnail();
    if (t.jpeg) {
        p.thumbnail = QImage::fromData(t.bytes.data(), int(t.bytes.size()), "JPEG");
    } else if (t.width > 0 && t.height > 0 && t.bytes.size() >= size_t(t.width) * size_t(t.height) * 4) {
        QImage image(t.width, t.height, QImage::Format_RGB32);
        if (!image.isNull()) {
            for (int y = 0; y < t.height; ++y)
                std::memcpy(image.scanLine(y), t.bytes.data() + size_t(y) * size_t(t.width) * 4, size_t(t.width) * 4);
            p.thumbnail = image;
        }
    }
    return p;
}

OpenDialog::OpenDialog(UserSettings& settings, QWidget* parent)
    : QFileDialog(parent, "Open RAW file"), settings_(settings) {
    setObjectName("OpenDialog");
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    setNameFilter(open_dialog_filter());
    setLabelText(QFileDialog::FileType, "Files of &type:");
    if (auto* type_label = findChild<QLabel*>("fileTypeLabel")) type_label->setBuddy(findChild<QComboBox*>("fileTypeCombo"));
    const QString folder = settings_.openDirectory();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) setDirectory(folder);

    auto* panel = new QWidget(this);
    auto* column = new QVBoxLayout(panel);
    preview_ = new ThumbnailPreview(panel);
    column->addWidget(preview_);
    auto text = [panel, column](const char* name) {
        auto* label = new QLabel(panel);
        label->setObjectName(name);
        column->addWidget(label);
        return label;
    };
    make_ = text("make");
    model_ = text("model");
    iso_ = text("iso");
    shutter_ = text("shutter");
    aperture_ = text("aperture");
    focal_ = text("focal_length");
    colour_space_ = new QComboBox(panel);
    colour_space_->addItems({"sRGB", "Adobe RGB", "Wide Gamut", "Pro Photo"});
    colour_space_->setToolTip("Select Color Space for a RAW file");
    const int stored = settings_.colourSpace();
    colour_space_->setCurrentIndex(stored >= 0 && stored < colour_space_->count() ? stored : 0);
    column->addWidget(colour_space_);
    spatial_ = new QCheckBox("Spatial Corr.", panel);
    spatial_->setToolTip("Check if you wish to use correction of spatial artefacts");
    spatial_->setChecked(false);
    spatial_->setEnabled(false);
    column->addWidget(spatial_);
    column->addStretch();
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(panel, 0, grid->columnCount(), grid->rowCount(), 1);

    showFile(QString());
    auto selected = [this](const QString& path) {
        settings_.setOpenDirectory(directory().absolutePath());
        if (path != shown_path_) showFile(path);
    };
    connect(this, &QFileDialog::currentChanged, this, selected);
    // A name typed (or set by the program) counts as a selection too.
    if (auto* name = findChild<QLineEdit*>("fileNameEdit"))
        connect(name, &QLineEdit::textChanged, this, [this, selected](const QString& text) {
            if (text.isEmpty() || text.contains('"')) return;
            const QString path = QDir(directory()).absoluteFilePath(text);
            if (QFileInfo(path).isFile()) selected(path);
        });
}

void OpenDialog::showFile(const QString& path) {
    shown_path_ = path;
    FilePreview p;
    if (!path.isEmpty()) {
        // The read takes a moment for a large file; the selection waits for it.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        p = read_file_preview(path);
        QApplication::restoreOverrideCursor();
    }
    const ShotTexts t = p.found ? shot_texts(p.shot) : no_shot_texts();
    make_->setText(t.make);
    model_->setText(t.model);
    iso_->setText(t.iso);
    shutter_->setText(t.shutter);
    aperture_->setText(t.aperture);
    focal_->setText(t.focal_length);
    preview_->setImage(p.thumbnail);
}

ShotTexts OpenDialog::texts() const {
    return {make_->text(), model_->text(), iso_->text(), shutter_->text(), aperture_->text(), focal_->text()};
}

void OpenDialog::accept() {
    settings_.setColourSpace(colour_space_->currentIndex());
    settings_.setSpatialCorrection(spatial_->isChecked() ? 1 : 0);
    QFileDialog::accept();
}

}  // namespace ostel::ui
