#include "ui/view/view_geometry.h"

#include <algorithm>
#include <cstdlib>

namespace ostel::ui {

bool is_quarter_turn(Rotation r) { return r == Rotation::clockwise || r == Rotation::counter_clockwise; }

Rotation rotate_clockwise(Rotation r) {
    switch (r) {
        case Rotation::clockwise: return Rotation::none;
        case Rotation::half_turn: return Rotation::counter_clockwise;
        default: return Rotation::clockwise;
    }
}

Rotation rotate_counter_clockwise(Rotation r) {
    switch (r) {
        case Rotation::counter_clockwise: return Rotation::none;
        case Rotation::half_turn: return Rotation::clockwise;
        default: return Rotation::counter_clockwise;
    }
}

Rotation rotation_from_orientation(int orientation) {
    switch (exporting::orientation_code(orientation)) {
        case 3: return Rotation::half_turn;
        case 6: return Rotation::clockwise;
        case 5: return Rotation::counter_clockwise;
        default: return Rotation::none;
    }
}

ExportSize displayed_size(ExportSize area, double zoom, Rotation rotation) {
    ExportSize s{int(area.width * zoom), int(area.height * zoom)};
    if (is_quarter_turn(rotation)) std::swap(s.width, s.height);
    return s;
}

CropRect crop_from_points(Point p1, Point p2, double zoom, Rotation rotation, ExportSize area) {
    if (zoom <= 0) return {};
    const int dx = int(std::abs(p2.x - p1.x) / zoom), dy = int(std::abs(p2.y - p1.y) / zoom);
    const int left = int(std::min(p1.x, p2.x) / zoom), top = int(std::min(p1.y, p2.y) / zoom);
    CropRect c;
    switch (rotation) {
        case Rotation::none: c = {left, top, dx, dy}; break;
        case Rotation::clockwise:
            // The turned picture is area.height wide.
            c.height = dx;
            c.width = dy;
            c.x = top;
            c.y = area.height - left - c.height;
            break;
        case Rotation::counter_clockwise:
            c.height = dx;
            c.width = dy;
            c.x = area.width - top - c.width;
            c.y = left;
            break;
        case Rotation::half_turn:
            c.width = dx;
            c.height = dy;
            c.x = area.width - left - c.width;
            c.y = area.height - top - c.height;
            break;
    }
    return exporting::clamp_crop(c, area);
}

CropRect displayed_crop(const CropRect& crop, double zoom, Rotation rotation, ExportSize area) {
    const CropRect r = exporting::rotate_crop(crop, area, rotation);
    return {int(r.x * zoom), int(r.y * zoom), int(r.width * zoom), int(r.height * zoom)};
}

bool white_balance_pick(Point point, Point scroll, double zoom, Rotation rotation, int width, int height,
                        Point& picked) {
    if (zoom <= 0 || point.x < 0 || point.y < 0) return false;
    const ExportSize shown = displayed_size({width - 8, height - 8}, zoom, rotation);
    if (scroll.x + point.x >= shown.width || scroll.y + point.y >= shown.height) return false;
    const int u = int((scroll.x + point.x) / zoom) + 4, v = int((scroll.y + point.y) / zoom) + 4;
    switch (rotation) {
        case Rotation::none: picked = {u, v}; break;
        case Rotation::clockwise: picked = {v, height - u}; break;
        case Rotation::counter_clockwise: picked = {width - v, u}; break;
        case Rotation::half_turn: picked = {width - u, height - v}; break;
    }
    return 5 < picked.x && picked.x < width - 5 && 5 < picked.y && picked.y < height - 5;
}

}  // namespace ostel::ui
