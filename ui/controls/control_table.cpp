#include "ui/controls/control_table.h"

namespace ostel::ui {

const ControlRow* row_by_id(int id) {
    for (const ControlRow& row : kControlRows)
        if (row.id == id) return &row;
    return nullptr;
}

const ControlRow* row_by_tag(int tag) {
    if (tag == 0) return nullptr;
    for (const ControlRow& row : kControlRows)
        if (row.tag == tag) return &row;
    return nullptr;
}

const BarRow& bar_row(Bar bar) {
    for (const BarRow& row : kBarRows)
        if (row.bar == bar) return row;
    return kBarRows[0];
}

}  // namespace ostel::ui
