#pragma once
// Every control of the main frame's bars as one row of data. The bars build
// their widgets from the rows, the frame's change handlers, the control
// source and the restore path all walk the same rows: adding a control is
// one new row.
#include <array>
#include <cstddef>
#include <string_view>

#include "develop/control_tags.h"

namespace ostel::ui {

// The ten docking bars, by bar id.
enum class Bar : int {
    exposure = 127,
    white_balance = 128,
    filters = 129,
    prefilters = 130,
    tone = 131,
    screen = 132,
    histogram_out = 133,
    histogram_raw = 134,
    curve = 135,
    colour_management = 136,
};

enum class Kind {
    text,       // caption that the frame relabels after a change
    text_line,  // caption drawn with a bevel line
    check_box,
    button,
    combo_box,
    slider,
    picture,    // histogram picture
    curve,      // the curve editor
};

// What a change of the control asks the document to run again.
enum class Level {
    none,           // labels only
    display,        // refresh the display image (warnings), then redraw
    redraw,         // the view only redraws (scale)
    develop,        // Develop for display
    white_balance,  // white balance, then Develop
    filters,        // noise reduction and sharpening, then Develop
    reload,         // decode the raw data again (pre-filters)
};

// How a label's number is formed from its control's position.
enum class LabelValue {
    none,
    position,       // the position itself
    ten_times,      // 10 x position
    iso_exposure,   // document ISO x exposure factor
    wb_correction,  // 0.03 x position, two decimals
    sharp_radius,   // the sharpening radius the position gives
    mixer_share,    // the position's share of the three mixer sliders, per cent
};

struct ControlRow {
    Bar bar;
    int id;
    Kind kind;
    const char* caption;     // initial text (labels, boxes, buttons) or list items separated by '|'
    int minimum = 0, maximum = 0, initial = 0;
    int tag = 0;             // 0: not a develop control
    Level level = Level::none;
    bool on_apply = false;   // takes effect through its bar's "Apply" button
    int label_id = 0;        // the label relabelled after a change
    const char* label_format = nullptr;  // printf format with one number, or a prefix for "%s"
    LabelValue label_value = LabelValue::none;
    const char* group = nullptr;         // collapsible group of the bar
};

// Control ids the frame handles by name.
namespace id {
inline constexpr int kExposureLabel = 299, kExposure = 300, kWarnings = 301, kHistCorrection = 302;
inline constexpr int kShadowsLabel = 303, kShadows = 304, kHighlightsLabel = 305, kHighlights = 306;
inline constexpr int kWbMode = 311, kWbRedLabel = 312, kWbRed = 314, kWbBlueLabel = 315, kWbBlue = 317;
inline constexpr int kSharpness = 332, kSharpRadius = 334, kFiltersApply = 343;
inline constexpr int kRecovery = 344, kPreFiltersApply = 351;
inline constexpr int kSaturation = 359, kBwMode = 360;
inline constexpr int kMixerRed = 362, kMixerGreen = 364, kMixerBlue = 366;
inline constexpr int kScaleLabel = 371, kScale = 372;
inline constexpr int kHistogramOut = 391, kHistogramRaw = 392, kCurve = 393, kCurveApply = 394, kCurveReset = 395;
inline constexpr int kInputProfile = 401, kOutputProfile = 403, kDisplayProfile = 405;
}  // namespace id

inline constexpr const char* kGroupCorrection = "Correction";
inline constexpr const char* kGroupMixer = "BWMixer";

namespace t = develop::tag;
using K = Kind;
using L = Level;
using V = LabelValue;

// clang-format off
inline constexpr ControlRow kControlRows[] = {
    // Exposure
    {Bar::exposure, 299, K::text, "Exposure"},
    {Bar::exposure, 300, K::slider, nullptr, -10, 25, 0, t::kExposure, L::develop, false, 299, "ISO: %d", V::iso_exposure},
    {Bar::exposure, 301, K::check_box, "Warnings", 0, 1, 0, t::kWarnings, L::display},
    {Bar::exposure, 302, K::check_box, "Hist.Corr.", 0, 1, 0, t::kHistCorrection, L::develop},
    {Bar::exposure, 303, K::text, "Shadows:", 0, 0, 0, 0, L::none, false, 0, nullptr, V::none, kGroupCorrection},
    {Bar::exposure, 304, K::slider, nullptr, -15, 15, 0, t::kShadows, L::develop, false, 303, "Shadows: %d", V::position, kGroupCorrection},
    {Bar::exposure, 305, K::text, "Highlights:", 0, 0, 0, 0, L::none, false, 0, nullptr, V::none, kGroupCorrection},
    {Bar::exposure, 306, K::slider, nullptr, -30, 5, 0, t::kHighlights, L::develop, false, 305, "Highlights: %d", V::position, kGroupCorrection},
    // White balance
    {Bar::white_balance, 311, K::combo_box, "Camera WB|Auto WB|Custom WB", 0, 2, 0, t::kWbMode, L::white_balance},
    {Bar::white_balance, 312, K::text, "R:"},
    {Bar::white_balance, 314, K::slider, nullptr, -30, 30, 0, t::kWbRed, L::white_balance, false, 312, "RC: %s", V::wb_correction},
    {Bar::white_balance, 315, K::text, "B:"},
    {Bar::white_balance, 317, K::slider, nullptr, -30, 30, 0, t::kWbBlue, L::white_balance, false, 315, "BC: %s", V::wb_correction},
    // Filters: the sliders take effect with "Apply"
    {Bar::filters, 331, K::text_line, "Sharpness:"},
    {Bar::filters, 332, K::slider, nullptr, 0, 50, 0, t::kSharpness, L::filters, true, 331, "Sharpness: %d", V::position},
    {Bar::filters, 333, K::text, "Sharp.radius:"},
    {Bar::filters, 334, K::slider, nullptr, 0, 35, 1, t::kSharpRadius, L::filters, true, 333, "Sharp.Radius: %d", V::sharp_radius},
    {Bar::filters, 335, K::text, "Sharp.Thresh.:"},
    {Bar::filters, 336, K::slider, nullptr, 0, 100, 0, t::kSharpThreshold, L::filters, true, 335, "Sharp.Thrsh.: %d", V::position},
    {Bar::filters, 337, K::text_line, "LNR:"},
    {Bar::filters, 338, K::slider, nullptr, 0, 100, 0, t::kLumaNr, L::filters, true, 337, "Luma-NR: %d", V::position},
    {Bar::filters, 339, K::text, "L-Thr.:"},
    {Bar::filters, 340, K::slider, nullptr, 0, 100, 0, t::kLumaThreshold, L::filters, true, 339, "Luma-Thrsh.: %d", V::position},
    {Bar::filters, 341, K::text_line, "CNR:"},
    {Bar::filters, 342, K::slider, nullptr, 0, 10, 0, t::kChromaNr, L::filters, true, 341, "Chroma-NR: %d", V::position},
    {Bar::filters, 343, K::button, "Apply", 0, 0, 0, 0, L::filters},
    // Pre-filters: read when the raw data is decoded, so they take effect with "Apply"
    {Bar::prefilters, 344, K::check_box, "Recovery", 0, 1, 1, t::kRecovery, L::reload, true},
    {Bar::prefilters, 345, K::text, "Wave-NR"},
    {Bar::prefilters, 346, K::slider, nullptr, 0, 100, 0, t::kWaveletNr, L::reload, true, 345, "Pre-NR: %d", V::ten_times},
    {Bar::prefilters, 347, K::text, "CA1:"},
    {Bar::prefilters, 348, K::slider, nullptr, -50, 50, 0, t::kCaRed, L::reload, true, 347, "ChrAb-R: %d", V::position},
    {Bar::prefilters, 349, K::text, "CA2:"},
    {Bar::prefilters, 350, K::slider, nullptr, -50, 50, 0, t::kCaBlue, L::reload, true, 349, "ChrAb-B: %d", V::position},
    {Bar::prefilters, 351, K::button, "Apply", 0, 0, 0, 0, L::reload},
    // Tone
    {Bar::tone, 352, K::text, "Fill Light:"},
    {Bar::tone, 353, K::slider, nullptr, 0, 50, 0, t::kFillLight, L::develop, false, 352, "Fill Light: %d", V::position},
    {Bar::tone, 354, K::text, "Contrast:"},
    {Bar::tone, 355, K::slider, nullptr, -30, 50, 0, t::kContrast, L::develop, false, 354, "Contrast: %d", V::position},
    {Bar::tone, 358, K::text, "Saturation:"},
    {Bar::tone, 359, K::slider, nullptr, -10, 10, 0, t::kSaturation, L::develop, false, 358, "Saturation: %d", V::position},
    {Bar::tone, 360, K::combo_box, "BW: Off|BW: Mixer|BW: Lum|BW: R|BW: G|BW: B", 0, 5, 0, t::kBwMode, L::develop},
    {Bar::tone, 361, K::text, "R:", 0, 0, 0, 0, L::none, false, 0, nullptr, V::none, kGroupMixer},
    {Bar::tone, 362, K::slider, nullptr, 0, 100, 0, t::kMixerRed, L::develop, false, 361, "R: %d %%", V::mixer_share, kGroupMixer},
    {Bar::tone, 363, K::text, "G:", 0, 0, 0, 0, L::none, false, 0, nullptr, V::none, kGroupMixer},
    {Bar::tone, 364, K::slider, nullptr, 0, 100, 0, t::kMixerGreen, L::develop, false, 363, "G: %d %%", V::mixer_share, kGroupMixer},
    {Bar::tone, 365, K::text, "B:", 0, 0, 0, 0, L::none, false, 0, nullptr, V::none, kGroupMixer},
    {Bar::tone, 366, K::slider, nullptr, 0, 100, 0, t::kMixerBlue, L::develop, false, 365, "B: %d %%", V::mixer_share, kGroupMixer},
    // Screen: the initial position comes from the user settings
    {Bar::screen, 371, K::text, "Scale:"},
    {Bar::screen, 372, K::slider, nullptr, 5, 200, 50, t::kScale, L::redraw, false, 371, "Scale: %d%%", V::position},
    // Histograms and curve
    {Bar::histogram_out, 391, K::picture, nullptr},
    {Bar::histogram_raw, 392, K::picture, nullptr},
    {Bar::curve, 393, K::curve, nullptr},
    {Bar::curve, 394, K::button, "Apply", 0, 0, 0, 0, L::develop},
    {Bar::curve, 395, K::button, "Reset"},
    // Colour management: the lists are filled from the profile folders
    {Bar::colour_management, 400, K::text, "Input Profile:"},
    {Bar::colour_management, 401, K::combo_box, nullptr, 0, 0, 0, t::kInputProfile, L::develop},
    {Bar::colour_management, 402, K::text, "Output Profile:"},
    {Bar::colour_management, 403, K::combo_box, nullptr, 0, 0, 0, t::kOutputProfile, L::none},
    {Bar::colour_management, 404, K::text, "Diplay Profile:"},
    {Bar::colour_management, 405, K::combo_box, nullptr, 0, 0, 0, t::kDisplayProfile, L::develop},
};
// clang-format on

// The bars in creation order, with their captions and show/hide commands.
struct BarRow {
    Bar bar;
    const char* caption;
    int command;
    const char* prompt;
    const char* tool_tip;
};

// clang-format off
inline constexpr BarRow kBarRows[] = {
    {Bar::exposure, "Exposure", 32786, "Show/hide exposure tool bar", "Exposure tools"},
    {Bar::white_balance, "WB", 32787, "Show/hide white balance bar", "White Balance"},
    {Bar::filters, "Filters", 32788, "Show/hide filters bar", "Filters"},
    {Bar::prefilters, "PreFilters", 32813, "Show/hide PreFilters bar", " PreFilters - CA control + PreNR"},
    {Bar::tone, "Tone", 32789, "Show/hide  tone control bar", "Color->Tone control, grayscale conversion"},
    {Bar::screen, "Screen", 32790, "Show/hide scale control", "Scale control"},
    {Bar::histogram_out, "Histogram OUT", 32791, "Show/hide output histogram", "Show output histogram"},
    {Bar::histogram_raw, "Histogram RAW", 32792, "Show/hide RAW histogram", "Show RAW histogram"},
    {Bar::curve, "Curve", 32809, "Show/hide Curves bar", "Curves"},
    {Bar::colour_management, "CMM", 32811, "Show/hide Color Management Bar", " Color Management Module"},
};
// clang-format on

// The row of a control id or of a tag; nullptr when there is none.
const ControlRow* row_by_id(int id);
const ControlRow* row_by_tag(int tag);
const BarRow& bar_row(Bar bar);

}  // namespace ostel::ui
