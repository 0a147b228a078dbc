#include "ui/dialogs/save_size.h"

#include <algorithm>

namespace ostel::ui {

namespace {
// The derived side never drops below one pixel, however thin the picture.
int at_least_one(double v) { return std::max(1, int(v)); }
}  // namespace

SaveSize::SaveSize(int base_width, int base_height)
    : base_width_(std::max(1, base_width)),
      base_height_(std::max(1, base_height)),
      ratio_(float(base_height_) / float(base_width_)),
      width_(base_width_),
      height_(base_height_) {}

int SaveSize::typeWidth(int value) {
    width_ = std::clamp(value, 1, kMaxFactor * base_width_);
    height_ = at_least_one(double(width_) * double(ratio_) + 0.1);
    scale_ = int(double(width_) / base_width_ * 100.0);
    return width_;
}

int SaveSize::typeHeight(int value) {
    height_ = std::clamp(value, 1, kMaxFactor * base_height_);
    width_ = at_least_one(double(height_) / double(ratio_) + 0.1);
    scale_ = int(double(height_) / base_height_ * 100.0);
    return height_;
}

int SaveSize::typeScale(int value) {
    scale_ = std::clamp(value, 1, kMaxScale);
    width_ = at_least_one(scale_ * 0.01 * base_width_ + 0.1);
    height_ = at_least_one(scale_ * 0.01 * base_height_ + 0.1);
    return scale_;
}

const char* SaveSize::leaveScale(bool empty, int value) {
    const char* message = nullptr;
    if (empty) {
        value = 100;
    } else if (value > kMaxScale) {
        value = kMaxScale;
        message = kScaleAboveMaximum;
    } else if (value <= 0) {
        value = 1;
        message = kScaleBelowMinimum;
    }
    scale_ = value;
    width_ = at_least_one(scale_ * 0.01 * base_width_);
    height_ = at_least_one(scale_ * 0.01 * base_height_);
    return message;
}

void SaveSize::restoreBase() {
    width_ = base_width_;
    height_ = base_height_;
    scale_ = 100;
}

}  // namespace ostel::ui
