#pragma once
// Coordinate maps of the preview view: the displayed size at a zoom and
// rotation, the crop rectangle from two dragged points and back, and the
// image position of a white-balance pick. Pure functions, so they are
// tested without a window.
#include "export/export_geometry.h"

namespace ostel::ui {

// How the view turns the picture (export turns the saved picture the same
// way): the three states the frame's rotate commands step through, plus a
// half turn for a camera held upside down.
using exporting::Rotation;

bool is_quarter_turn(Rotation r);
// The rotate commands: clockwise toggles between none and clockwise (and
// leaves counter-clockwise for clockwise); counter-clockwise the other way.
// From a half turn each command turns a further quarter.
Rotation rotate_clockwise(Rotation r);
Rotation rotate_counter_clockwise(Rotation r);
// The state a file opens in, from the decoder's orientation code (the
// mirrored codes open unturned).
Rotation rotation_from_orientation(int orientation);

struct Point {
    int x = 0, y = 0;
};

using exporting::CropRect;
using exporting::ExportSize;

// The displayed size of an area (the display image) at `zoom`: each side
// multiplied and truncated, swapped for a quarter turn.
ExportSize displayed_size(ExportSize area, double zoom, Rotation rotation);

// The crop rectangle, in the unrotated area, of the drag from p1 to p2
// (points in scrolled view coordinates at `zoom`), clamped into the area;
// an empty result means no crop.
CropRect crop_from_points(Point p1, Point p2, double zoom, Rotation rotation, ExportSize area);

// The crop rectangle in displayed coordinates (turned, multiplied by the
// zoom and truncated).
CropRect displayed_crop(const CropRect& crop, double zoom, Rotation rotation, ExportSize area);

// The developed-image column and row a white-balance click at `point`
// (view coordinates, `scroll` the scroll position) picks; `width` and
// `height` are the developed size. False when the click lies within 5
// pixels of an edge, or outside the picture.
bool white_balance_pick(Point point, Point scroll, double zoom, Rotation rotation, int width, int height,
                        Point& picked);

}  // namespace ostel::ui
