#pragma once
// A docking control bar whose widgets are built from its rows of the
// control table, stacked top to bottom. Groups of rows can be collapsed:
// the group and everything below it is hidden and the bar shrinks.
#include <QDockWidget>
#include <map>
#include <vector>

#include "ui/controls/control_table.h"

class QVBoxLayout;

namespace ostel::ui {

class ControlBar : public QDockWidget {
    Q_OBJECT
public:
    explicit ControlBar(Bar bar, QWidget* parent = nullptr);

    Bar bar() const { return bar_; }
    // The widget of a control id of this bar, or nullptr.
    QWidget* control(int id) const;
    const std::map<int, QWidget*>& controls() const { return widgets_; }

    // Hides the group's first widget and every widget below it; a group
    // name the bar does not have does nothing.
    void collapse(const char* group);
    // Shows every widget again.
    void expand(const char* group);
    bool isCollapsed() const { return collapsed_; }

private:
    QWidget* makeWidget(const ControlRow& row);

    Bar bar_;
    QWidget* body_;
    std::map<int, QWidget*> widgets_;
    std::vector<QWidget*> order_;  // top to bottom
    bool collapsed_ = false;
};

}  // namespace ostel::ui
