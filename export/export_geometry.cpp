#include "export/export_geometry.h"

#include <vigra/multi_array.hxx>
#include <vigra/resizeimage.hxx>
#include <vigra/splines.hxx>
#include <vigra/tinyvector.hxx>

#include <algorithm>
#include <cmath>
#include <exception>

namespace ostel::exporting {

namespace {

constexpr size_t kChannels = 3;

size_t pixel_index(int x, int y, int width) { return (size_t(y) * size_t(width) + size_t(x)) * kChannels; }

RgbImage16 make_image(int width, int height) {
    RgbImage16 out;
    out.width = width;
    out.height = height;
    out.samples.resize(size_t(width) * size_t(height) * kChannels);
    return out;
}

uint16_t to_sample(float v) {
    if (!(v > 0.0f)) return 0;  // also catches NaN
    if (v >= 65535.0f) return 65535;
    return uint16_t(std::lround(v));
}

// Nearest-neighbour scaling for images the spline cannot handle (fewer than
// four pixels across in the source, or fewer than two in the target).
RgbImage16 resample_nearest(const RgbImage16& image, int width, int height) {
    RgbImage16 out = make_image(width, height);
    for (int y = 0; y < height; ++y) {
        const int sy = int(std::min<int64_t>(image.height - 1, int64_t(y) * image.height / height));
        for (int x = 0; x < width; ++x) {
            const int sx = int(std::min<int64_t>(image.width - 1, int64_t(x) * image.width / width));
            std::copy_n(&image.samples[pixel_index(sx, sy, image.width)], kChannels,
                        &out.samples[pixel_index(x, y, width)]);
        }
    }
    return out;
}

}  // namespace

int orientation_code(int orientation) {
    switch (orientation) {
        case 90: return 6;
        case 180: return 3;
        case 270: return 5;
        default: return orientation >= 0 && orientation <= 7 ? orientation : 0;
    }
}

ExportSize exported_area(int width, int height) {
    if (width <= 2 * kExportMargin || height <= 2 * kExportMargin) return {};
    return {width - 2 * kExportMargin, height - 2 * kExportMargin};
}

CropRect clamp_crop(const CropRect& crop, ExportSize area) {
    // Both edges are clamped: a rectangle dragged from outside the picture
    // may start left of or above it.
    const int64_t x0 = std::clamp<int64_t>(crop.x, 0, area.width);
    const int64_t y0 = std::clamp<int64_t>(crop.y, 0, area.height);
    const int64_t x1 = std::clamp<int64_t>(int64_t(crop.x) + std::max(crop.width, 0), 0, area.width);
    const int64_t y1 = std::clamp<int64_t>(int64_t(crop.y) + std::max(crop.height, 0), 0, area.height);
    if (x1 <= x0 || y1 <= y0) return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

CropRect rotate_crop(const CropRect& c, ExportSize area, Rotation rotation) {
    switch (rotation) {
        case Rotation::clockwise:  // turned width is the unrotated height
            return {area.height - c.y - c.height, c.x, c.height, c.width};
        case Rotation::counter_clockwise:  // turned height is the unrotated width
            return {c.y, area.width - c.x - c.width, c.height, c.width};
        case Rotation::half_turn:
            return {area.width - c.x - c.width, area.height - c.y - c.height, c.width, c.height};
        case Rotation::none:
            break;
    }
    return c;
}

ExportSize default_output_size(int width, int height, Rotation rotation, bool crop_mode, const CropRect& crop,
                               int orientation) {
    ExportSize area = exported_area(width, height);
    if (orientation_swaps_axes(orientation)) std::swap(area.width, area.height);
    ExportSize size = area;
    const CropRect clamped = clamp_crop(crop, area);
    if (crop_mode && !clamped.empty()) size = {clamped.width, clamped.height};
    if (rotation == Rotation::clockwise || rotation == Rotation::counter_clockwise) std::swap(size.width, size.height);
    return size;
}

RgbImage16 copy_exported_area(const uint16_t* rgb, int width, int height) {
    const ExportSize area = exported_area(width, height);
    if (!rgb || area.width == 0) return {};
    RgbImage16 out = make_image(area.width, area.height);
    for (int y = 0; y < area.height; ++y) {
        const uint16_t* src = rgb + pixel_index(kExportMargin, y + kExportMargin, width);
        std::copy_n(src, size_t(area.width) * kChannels, &out.samples[pixel_index(0, y, area.width)]);
    }
    return out;
}

RgbImage16 rotate_image(const RgbImage16& image, Rotation rotation) {
    if (rotation == Rotation::none) return image;
    if (rotation == Rotation::half_turn) return orient_image(image, 3);
    const int w = image.width, h = image.height;
    RgbImage16 out = make_image(h, w);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Clockwise: source (x, y) lands in column h-1-y, row x.
            // Counter-clockwise: column y, row w-1-x.
            const int dx = rotation == Rotation::clockwise ? h - 1 - y : y;
            const int dy = rotation == Rotation::clockwise ? x : w - 1 - x;
            std::copy_n(&image.samples[pixel_index(x, y, w)], kChannels, &out.samples[pixel_index(dx, dy, h)]);
        }
    }
    return out;
}

RgbImage16 orient_image(const RgbImage16& image, int orientation) {
    const int code = orientation_code(orientation);
    if (code == 0) return image;
    const int w = image.width, h = image.height;
    const bool swap = (code & 4) != 0;
    RgbImage16 out = make_image(swap ? h : w, swap ? w : h);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            // Undo the steps in reverse: the swap of rows and columns, then
            // the mirrors.
            int sx = swap ? y : x, sy = swap ? x : y;
            if (code & 1) sx = w - 1 - sx;
            if (code & 2) sy = h - 1 - sy;
            std::copy_n(&image.samples[pixel_index(sx, sy, w)], kChannels, &out.samples[pixel_index(x, y, out.width)]);
        }
    }
    return out;
}

RgbImage16 crop_image(const RgbImage16& image, const CropRect& rect) {
    const CropRect r = clamp_crop(rect, {image.width, image.height});
    if (r.empty()) return image;
    RgbImage16 out = make_image(r.width, r.height);
    for (int y = 0; y < r.height; ++y)
        std::copy_n(&image.samples[pixel_index(r.x, r.y + y, image.width)], size_t(r.width) * kChannels,
                    &out.samples[pixel_index(0, y, r.width)]);
    return out;
}

bool resample_image(const RgbImage16& image, int width, int height, RgbImage16& out, std::string& error) {
    if (width <= 0 || height <= 0 || image.width <= 0 || image.height <= 0) {
        error = "empty image";
        return false;
    }
    if (width == image.width && height == image.height) {
        out = image;
        return true;
    }
    if (image.width < 4 || image.height < 4 || width < 2 || height < 2) {
        out = resample_nearest(image, width, height);
        return true;
    }
    using Pixel = vigra::TinyVector<float, 3>;
    try {
        vigra::MultiArray<2, Pixel> src(vigra::Shape2(image.width, image.height));
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                const uint16_t* p = &image.samples[pixel_index(x, y, image.width)];
                src(x, y) = Pixel(float(p[0]), float(p[1]), float(p[2]));
            }
        vigra::MultiArray<2, Pixel> dest(vigra::Shape2(width, height));
        vigra::resizeImageSplineInterpolation(src, dest, vigra::BSpline<3, double>());
        out = make_image(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint16_t* p = &out.samples[pixel_index(x, y, width)];
                for (size_t c = 0; c < kChannels; ++c) p[c] = to_sample(dest(x, y)[int(c)]);
            }
    } catch (const std::exception& e) {
        // VIGRA reports violated preconditions as exceptions; allocation
        // failures arrive here too.
        error = e.what();
        return false;
    }
    return true;
}

}  // namespace ostel::exporting
