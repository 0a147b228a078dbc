#include "ui/dialogs/save_dialog.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QToolButton>
#include <algorithm>
#include <functional>

namespace ostel::ui {

namespace {

using exporting::SaveMode;

bool parse(const QString& text, int& value) {
    bool ok = false;
    value = text.trimmed().toInt(&ok);
    return ok;
}

// Runs `left` when the edit loses the keyboard focus.
class FocusWatch : public QObject {
public:
    FocusWatch(QObject* parent, std::function<void()> left) : QObject(parent), left_(std::move(left)) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::FocusOut) left_();
        return false;
    }

private:
    std::function<void()> left_;
};

}  // namespace

QStringList SaveDialog::typeFilters() {
    return {"TIFF 8-bit (*.tif)", "JPEG 8-bit (*.jpg)", "TIFF 16 bit (*.tif)", "PNG 8-bit (*.png)",
            "PNG 16 bit (*.png)"};
}

SaveDialog::SaveDialog(int default_width, int default_height, int default_quality, SaveMode default_mode,
                       QWidget* parent)
    : QFileDialog(parent, "Save converted image"), size_(default_width, default_height) {
    setOption(QFileDialog::DontUseNativeDialog);
    // The command asks about an existing file itself, for the name it will
    // really write (it may add an extension).
    setOption(QFileDialog::DontConfirmOverwrite);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilters(typeFilters());
    // Reachable from the keyboard (Alt+T), like the name (Alt+N).
    setLabelText(QFileDialog::FileType, "Save as &type:");
    if (auto* type_label = findChild<QLabel*>("fileTypeLabel")) type_label->setBuddy(findChild<QComboBox*>("fileTypeCombo"));

    auto* box = new QGroupBox("Output", this);
    auto* grid = new QGridLayout(box);
    auto number_edit = [box](int high) {
        auto* e = new QLineEdit(box);
        // Digits only; the range is held by the linkage, not the validator.
        e->setValidator(new QIntValidator(-1, std::max(high, 1) * 10, e));
        e->setMaximumWidth(90);
        return e;
    };
    height_edit_ = number_edit(4 * size_.baseHeight());
    height_edit_->setObjectName("height");
    width_edit_ = number_edit(4 * size_.baseWidth());
    width_edit_->setObjectName("width");
    scale_edit_ = number_edit(SaveSize::kMaxScale);
    scale_edit_->setObjectName("scale");
    auto* up = new QToolButton(box);
    up->setArrowType(Qt::UpArrow);
    auto* down = new QToolButton(box);
    down->setArrowType(Qt::DownArrow);
    quality_ = new QSlider(Qt::Horizontal, box);
    quality_->setObjectName("quality");
    quality_->setRange(1, 100);
    quality_->setValue(std::clamp(default_quality, 1, 100));
    quality_text_ = new QLabel(box);
    quality_text_->setText(QString("%1%").arg(quality_->value()));
    quality_text_->setMinimumWidth(40);

    grid->addWidget(new QLabel("Height, pix.", box), 0, 0);
    grid->addWidget(height_edit_, 0, 1);
    grid->addWidget(new QLabel("Width, pix.", box), 0, 2);
    grid->addWidget(width_edit_, 0, 3);
    grid->addWidget(new QLabel("Scale, %", box), 0, 4);
    auto* scale_row = new QHBoxLayout;
    scale_row->addWidget(scale_edit_);
    scale_row->addWidget(up);
    scale_row->addWidget(down);
    grid->addLayout(scale_row, 0, 5);
    grid->addWidget(new QLabel("JPEG quality", box), 1, 0);
    grid->addWidget(quality_, 1, 1, 1, 4);
    grid->addWidget(quality_text_, 1, 5);

    // The file dialog's own grid gets the extra controls as its last row.
    if (auto* own = qobject_cast<QGridLayout*>(layout())) own->addWidget(box, own->rowCount(), 0, 1, own->columnCount());

    showSize(nullptr);
    connect(width_edit_, &QLineEdit::textEdited, this, &SaveDialog::widthEdited);
    connect(height_edit_, &QLineEdit::textEdited, this, &SaveDialog::heightEdited);
    connect(scale_edit_, &QLineEdit::textEdited, this, &SaveDialog::scaleEdited);
    scale_edit_->installEventFilter(new FocusWatch(this, [this] { scaleLeft(); }));
    width_edit_->installEventFilter(new FocusWatch(this, [this] { sizeLeft(); }));
    height_edit_->installEventFilter(new FocusWatch(this, [this] { sizeLeft(); }));
    connect(up, &QToolButton::clicked, this, [this] {
        size_.stepScale(std::min(SaveSize::kMaxScale, size_.scale() + 1));
        showSize(nullptr);
    });
    connect(down, &QToolButton::clicked, this, [this] {
        size_.stepScale(std::max(1, size_.scale() - 1));
        showSize(nullptr);
    });
    connect(quality_, &QSlider::valueChanged, this, [this](int v) { quality_text_->setText(QString("%1%").arg(v)); });
    connect(this, &QFileDialog::filterSelected, this, &SaveDialog::typeChanged);

    selectMode(default_mode);
}

SaveMode SaveDialog::mode() const {
    const int index = typeFilters().indexOf(selectedNameFilter());
    return index < 0 ? SaveMode::tiff8 : SaveMode(index + 1);
}

void SaveDialog::selectMode(SaveMode mode) {
    const QStringList types = typeFilters();
    const int index = std::clamp(int(mode) - 1, 0, int(types.size()) - 1);
    selectNameFilter(types[index]);
    typeChanged();
}

void SaveDialog::typeChanged() { quality_->setEnabled(mode() == SaveMode::jpeg); }

void SaveDialog::showSize(const QLineEdit* except) {
    auto put = [except](QLineEdit* e, int v) {
        if (e != except) e->setText(QString::number(v));
    };
    put(width_edit_, size_.width());
    put(height_edit_, size_.height());
    put(scale_edit_, size_.scale());
}

void SaveDialog::widthEdited(const QString& text) {
    int v = 0;
    if (!parse(text, v)) return;
    if (size_.typeWidth(v) != v) width_edit_->setText(QString::number(size_.width()));
    showSize(width_edit_);
}

void SaveDialog::heightEdited(const QString& text) {
    int v = 0;
    if (!parse(text, v)) return;
    if (size_.typeHeight(v) != v) height_edit_->setText(QString::number(size_.height()));
    showSize(height_edit_);
}

void SaveDialog::scaleEdited(const QString& text) {
    int v = 0;
    if (!parse(text, v)) return;
    if (size_.typeScale(v) != v) scale_edit_->setText(QString::number(size_.scale()));
    showSize(scale_edit_);
}

void SaveDialog::scaleLeft() {
    int v = 0;
    const bool empty = scale_edit_->text().trimmed().isEmpty();
    if (!empty && !parse(scale_edit_->text(), v)) return;
    if (const char* message = size_.leaveScale(empty, v)) QMessageBox::information(this, windowTitle(), message);
    showSize(nullptr);
}

void SaveDialog::sizeLeft() {
    if (width_edit_->text().trimmed().isEmpty() || height_edit_->text().trimmed().isEmpty()) {
        size_.restoreBase();
        showSize(nullptr);
    }
}

SaveChoice SaveDialog::choice() const {
    SaveChoice c;
    const QStringList files = selectedFiles();
    c.path = files.isEmpty() ? QString() : files.first();
    c.mode = mode();
    c.extension_typed = !QFileInfo(c.path).suffix().isEmpty();
    c.width = size_.width();
    c.height = size_.height();
    c.quality = quality_->value();
    return c;
}

}  // namespace ostel::ui
