#include "ui/dialogs/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace ostel::ui {

namespace {
void select(QComboBox* list, int index) { list->setCurrentIndex(std::clamp(index, 0, list->count() - 1)); }
}  // namespace

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Options");
    setObjectName("OptionsDialog");

    auto* interpolation = new QGroupBox("Interpolation", this);
    auto* interpolation_form = new QFormLayout(interpolation);
    artifact_level_ = new QComboBox(interpolation);
    artifact_level_->addItems({"Minimum", "Medium", "High"});
    chroma_prefilter_ = new QCheckBox("Chroma Pre-Filter", interpolation);
    interpolation_form->addRow("Color Artifacts Suppression Level", artifact_level_);
    interpolation_form->addRow(chroma_prefilter_);

    auto* jpeg = new QGroupBox("JPEG Options", this);
    auto* jpeg_row = new QHBoxLayout(jpeg);
    jpeg_quality_ = new QSpinBox(jpeg);
    jpeg_quality_->setRange(0, 100);
    jpeg_row->addWidget(new QLabel("Default quality level:", jpeg));
    jpeg_row->addWidget(jpeg_quality_);
    jpeg_row->addWidget(new QLabel("%", jpeg));
    jpeg_row->addStretch();

    auto* exif = new QGroupBox("Exif Options", this);
    auto* exif_form = new QFormLayout(exif);
    author_ = new QLineEdit(exif);
    copyright_ = new QLineEdit(exif);
    exif_form->addRow("Artist:", author_);
    exif_form->addRow("Copyright:", copyright_);

    auto* filters = new QGroupBox("Filters", this);
    auto* filters_form = new QFormLayout(filters);
    luma_nr_ = new QComboBox(filters);
    luma_nr_->addItems({"#1 - SHQ"});
    chroma_nr_ = new QComboBox(filters);
    chroma_nr_->addItems({"#1 - Uniform SHQ", "#2 - Smart SHQ"});
    filters_form->addRow("Luma NR type:", luma_nr_);
    filters_form->addRow("Chroma NR type:", chroma_nr_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* column = new QVBoxLayout(this);
    for (QWidget* w : {static_cast<QWidget*>(interpolation), static_cast<QWidget*>(jpeg),
                       static_cast<QWidget*>(exif), static_cast<QWidget*>(filters)})
        column->addWidget(w);
    column->addWidget(buttons);
}

void OptionsDialog::setPreferences(const Preferences& p) {
    select(artifact_level_, p.artifact_level);
    chroma_prefilter_->setChecked(p.chroma_prefilter != 0);
    jpeg_quality_->setValue(p.jpeg_quality);
    author_->setText(p.author);
    copyright_->setText(p.copyright);
    select(luma_nr_, p.luma_nr_type);
    select(chroma_nr_, p.chroma_nr_type);
}

Preferences OptionsDialog::preferences() const {
    Preferences p;
    p.artifact_level = artifact_level_->currentIndex();
    p.chroma_prefilter = chroma_prefilter_->isChecked() ? 1 : 0;
    p.jpeg_quality = jpeg_quality_->value();
    p.author = author_->text();
    p.copyright = copyright_->text();
    p.luma_nr_type = luma_nr_->currentIndex();
    p.chroma_nr_type = chroma_nr_->currentIndex();
    return p;
}

}  // namespace ostel::ui
