#include "ui/modules/control_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "ui/widgets/curve_editor.h"
#include "ui/widgets/release_slider.h"

namespace ostel::ui {

ControlBar::ControlBar(Bar bar, QWidget* parent) : QDockWidget(parent), bar_(bar), body_(new QWidget(this)) {
    const BarRow& info = bar_row(bar);
    setWindowTitle(info.caption);
    setObjectName(QString("bar_%1").arg(int(bar)));
    auto* layout = new QVBoxLayout(body_);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(1);
    QHBoxLayout* buttons = nullptr;
    for (const ControlRow& row : kControlRows) {
        if (row.bar != bar) continue;
        QWidget* w = makeWidget(row);
        w->setObjectName(QString("control_%1").arg(row.id));
        widgets_[row.id] = w;
        order_.push_back(w);
        // The curve bar's two buttons share one row.
        if (bar == Bar::curve && row.kind == Kind::button) {
            if (!buttons) {
                buttons = new QHBoxLayout;
                layout->addLayout(buttons);
            }
            buttons->insertWidget(0, w);
        } else {
            layout->addWidget(w);
        }
    }
    layout->addStretch(1);
    setWidget(body_);
    setMinimumWidth(130);
}

QWidget* ControlBar::makeWidget(const ControlRow& row) {
    switch (row.kind) {
        case Kind::text:
        case Kind::text_line: {
            auto* label = new QLabel(row.caption, body_);
            label->setAlignment(Qt::AlignCenter);
            if (row.kind == Kind::text_line) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            return label;
        }
        case Kind::check_box: {
            auto* box = new QCheckBox(row.caption, body_);
            box->setChecked(row.initial != 0);
            return box;
        }
        case Kind::button: return new QPushButton(row.caption, body_);
        case Kind::combo_box: {
            auto* combo = new QComboBox(body_);
            if (row.caption) combo->addItems(QString(row.caption).split('|'));
            combo->setCurrentIndex(row.initial);
            return combo;
        }
        case Kind::slider: return new ReleaseSlider(row.minimum, row.maximum, row.initial, body_);
        case Kind::picture: {
            auto* picture = new QLabel(body_);
            picture->setFixedSize(128, 70);
            return picture;
        }
        case Kind::curve: return new CurveEditor(body_);
    }
    return new QWidget(body_);
}

QWidget* ControlBar::control(int id) const {
    const auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
}

void ControlBar::collapse(const char* group) {
    bool below = false;
    for (const ControlRow& row : kControlRows) {
        if (row.bar != bar_) continue;
        if (!below && row.group && std::strcmp(row.group, group) == 0) below = true;
        if (below) control(row.id)->hide();
    }
    if (below) collapsed_ = true;
    body_->adjustSize();
}

void ControlBar::expand(const char* group) {
    bool known = false;
    for (const ControlRow& row : kControlRows)
        if (row.bar == bar_ && row.group && std::strcmp(row.group, group) == 0) known = true;
    if (!known) return;
    for (QWidget* w : order_) w->show();
    collapsed_ = false;
    body_->adjustSize();
}

}  // namespace ostel::ui
