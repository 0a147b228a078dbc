#pragma once
// The save dialog: a file dialog with the output format, the output size
// (width, height and scale moving together) and the JPEG quality. The file
// need not exist; whether an existing file may be replaced is asked by the
// save command once it knows the name that will really be written.
#include <QFileDialog>

#include "export/image_export.h"
#include "ui/dialogs/save_size.h"

class QLineEdit;
class QSlider;
class QLabel;
class QToolButton;

namespace ostel::ui {

// What the user chose.
struct SaveChoice {
    QString path;                  // as typed, without an added extension
    exporting::SaveMode mode = exporting::SaveMode::tiff8;
    bool extension_typed = false;  // the name carries an extension of its own
    int width = 0, height = 0;
    int quality = 95;
};

class SaveDialog : public QFileDialog {
    Q_OBJECT
public:
    // The default size, JPEG quality (1..100) and format.
    SaveDialog(int default_width, int default_height, int default_quality, exporting::SaveMode default_mode,
               QWidget* parent = nullptr);

    SaveChoice choice() const;

    // For the window's tests: the extra controls.
    QLineEdit* widthEdit() const { return width_edit_; }
    QLineEdit* heightEdit() const { return height_edit_; }
    QLineEdit* scaleEdit() const { return scale_edit_; }
    QSlider* qualitySlider() const { return quality_; }
    QLabel* qualityText() const { return quality_text_; }
    exporting::SaveMode mode() const;
    void selectMode(exporting::SaveMode mode);

    // The type list in its order; the position + 1 is the mode.
    static QStringList typeFilters();

private:
    void showSize(const QLineEdit* except);
    void widthEdited(const QString& text);
    void heightEdited(const QString& text);
    void scaleEdited(const QString& text);
    void scaleLeft();
    void sizeLeft();
    void typeChanged();

    SaveSize size_;
    QLineEdit* width_edit_ = nullptr;
    QLineEdit* height_edit_ = nullptr;
    QLineEdit* scale_edit_ = nullptr;
    QSlider* quality_ = nullptr;
    QLabel* quality_text_ = nullptr;
};

}  // namespace ostel::ui
