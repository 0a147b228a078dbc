#include "ui/controls/control_labels.h"

#include <cmath>
#include <cstdio>

#include "develop/tone.h"

namespace ostel::ui {

int sharpening_radius(int position) {
    if (position < 6) return position;
    return int(position * std::sqrt(double(position)) * 0.5);
}

std::string correction_text(double value) {
    char text[32];
    if (std::fabs(value) >= 1e10)
        std::snprintf(text, sizeof text, "%.3g", value);
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::array<int, 3> mixer_shares(int red, int green, int blue) {
    const double sum = double(red) + green + blue;
    if (sum <= 0) return {0, 0, 0};
    auto share = [sum](int v) { return int(v / sum * 100.0 + 0.01); };
    return {share(red), share(green), share(blue)};
}

namespace {

std::string bounded(const char* format, long long value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    std::string s(text);
    if (s.size() > kLabelLimit) s.resize(kLabelLimit);
    return s;
}

// Converts the row's "%d" into the long long conversion bounded() uses.
std::string wide_format(const char* format) {
    std::string f(format);
    const auto at = f.find("%d");
    if (at != std::string::npos) f.replace(at, 2, "%lld");
    return f;
}

long long clamp_to_long(double v) {
    if (!std::isfinite(v)) return 0;
    if (v > 9.2e18) return 9200000000000000000LL;
    if (v < -9.2e18) return -9200000000000000000LL;
    return static_cast<long long>(v);
}

}  // namespace

std::string label_text(const ControlRow& row, int position, const LabelContext& context) {
    if (!row.label_format) return {};
    const std::string format = wide_format(row.label_format);
    switch (row.label_value) {
        case LabelValue::none: return {};
        case LabelValue::position: return bounded(format.c_str(), position);
        case LabelValue::ten_times: return bounded(format.c_str(), 10LL * position);
        case LabelValue::iso_exposure:
            return bounded(format.c_str(), clamp_to_long(context.iso * develop::exposure_factor(position)));
        case LabelValue::sharp_radius: return bounded(format.c_str(), sharpening_radius(position));
        case LabelValue::wb_correction: {
            std::string f(row.label_format);
            const auto at = f.find("%s");
            if (at != std::string::npos) f.replace(at, 2, correction_text(0.03 * position));
            if (f.size() > kLabelLimit) f.resize(kLabelLimit);
            return f;
        }
        case LabelValue::mixer_share: {
            const auto shares = mixer_shares(context.mixer[0], context.mixer[1], context.mixer[2]);
            const int index = row.id == id::kMixerRed ? 0 : row.id == id::kMixerGreen ? 1 : 2;
            return bounded(format.c_str(), shares[size_t(index)]);
        }
    }
    return {};
}

}  // namespace ostel::ui
