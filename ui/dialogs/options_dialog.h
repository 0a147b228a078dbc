#pragma once
// The options dialog behind Preferences: the processing preferences the
// document reads when it loads a file, the default JPEG quality and the
// Artist and Copyright texts written into exported files.
#include <QDialog>

#include "ui/app/user_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace ostel::ui {

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* parent = nullptr);

    // Shows `p` in the controls / reads the controls back.
    void setPreferences(const Preferences& p);
    Preferences preferences() const;

    QComboBox* artifactLevel() const { return artifact_level_; }
    QCheckBox* chromaPrefilter() const { return chroma_prefilter_; }
    QSpinBox* jpegQuality() const { return jpeg_quality_; }
    QLineEdit* author() const { return author_; }
    QLineEdit* copyright() const { return copyright_; }
    QComboBox* lumaNrType() const { return luma_nr_; }
    QComboBox* chromaNrType() const { return chroma_nr_; }

private:
    QComboBox* artifact_level_ = nullptr;
    QCheckBox* chroma_prefilter_ = nullptr;
    QSpinBox* jpeg_quality_ = nullptr;
    QLineEdit* author_ = nullptr;
    QLineEdit* copyright_ = nullptr;
    QComboBox* luma_nr_ = nullptr;
    QComboBox* chroma_nr_ = nullptr;
};

}  // namespace ostel::ui
