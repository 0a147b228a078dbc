// The levels after decoding: refinement and geometry, white balance, the
// filter level and the develop stages.
#include <algorithm>
#include <new>
#include <stdexcept>

#include "core/session/core_failure.h"
#include "develop/colour_management.h"
#include "develop/geometry.h"
#include "develop/raw_document.h"
#include "develop/refine.h"
#include "develop/white_balance.h"

namespace ostel::develop {

namespace {

// Runs one pipeline level; running out of memory leaves the document empty
// with the allocation message instead of escaping.
template <typename F>
bool guarded(F&& f) {
    try {
        f();
        return true;
    } catch (const core::CoreFailure&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return false;
}

// A profile text: a built-in profile's name or the path of an ICC file.
ProfileChoice profile_from_text(const std::string& text, int fallback_kind) {
    ProfileChoice p;
    p.name = text;
    if (text.empty()) {
        p.kind = fallback_kind;
        p.name = fallback_kind == kProfileCamera ? "Ostel RAW" : "Ostel sRGB";
    } else if (text == "Ostel RAW") {
        p.kind = kProfileCamera;
    } else if (text == "Ostel sRGB") {
        p.kind = kProfileSrgb;
    } else if (text == "Ostel ROMM") {
        p.kind = kProfileRomm;
    } else {
        p.kind = kProfileFile;
        p.path = text;
    }
    return p;
}

void copy_planes(const RgbPlanes& from, RgbPlanes& to) {
    const size_t n = from.pixel_count();
    to.resize(from.width, from.height, n);
    const int64_t rows = from.height;
    const size_t w = size_t(from.width);
#pragma omp parallel for schedule(static)
    for (int64_t r = 0; r < rows; ++r)
        for (int c = 0; c < 3; ++c)
            std::copy_n(from[c] + size_t(r) * w, w, to[c] + size_t(r) * w);
}

}  // namespace

void RawDocument::RefineImage() {
    if (loaded() || working_.plane[0].empty()) return;  // only between decoding and the hand-over
    if (!guarded([&] { refine_unchecked(); })) memory_failure();
}

void RawDocument::refine_unchecked() {
    if (refine_) {
        if (bayer_layout_) GreenRepair(working_, {red_site_[0], red_site_[1]}, {blue_site_[0], blue_site_[1]});
        progress(50);
        if (options_.chroma_prefilter)
            for (int pass = 0; pass < 3; ++pass) ChromaPreFilter(working_);
        ArtifactSuppression(working_, options_.artifact_level);
        progress(70);
    }

    // Geometry: a 45-degree sensor is turned upright; a sensor with pixels
    // twice as wide as high gets its rows doubled; otherwise the refined
    // planes are handed over as they are.
    RgbPlanes turned;
    if (diagonal_ && rotate_diagonal_sensor(working_, diagonal_width_, turned)) {
        source_ = std::move(turned);
    } else if (!diagonal_ && has_half_height_pixels(shooting_.make, shooting_.model) &&
               stretch_pixel_aspect(working_, turned)) {
        source_ = std::move(turned);
    } else {
        source_ = std::move(working_);
    }
    width_ = source_.width;
    height_ = source_.height;
    working_ = RgbPlanes{};

    // Back to linear values.
    const int64_t n = int64_t(source_.pixel_count());
    for (int c = 0; c < 3; ++c) {
        float* p = source_[c];
#pragma omp parallel for schedule(static)
        for (int64_t i = 0; i < n; ++i) p[i] = std::min(std::max(p[i] * p[i], 0.0f), 65535.0f);
    }

    white_balance_unchecked();
    post_process_unchecked();
}

void RawDocument::CalculateWhiteBalance() {
    if (!guarded([&] { white_balance_unchecked(); })) memory_failure();
}

void RawDocument::white_balance_unchecked() {
    status("Calculating WB");
    const bool pick = pick_pending_;
    pick_pending_ = false;  // a pick applies to this run only
    if (pick && controls_ && int(control(tag::kWbMode)) == 2)
        controls_->set_white_balance_sliders(picked_[0], picked_[1]);
    wb_ = white_balance_for(source_);
}

std::array<double, 3> RawDocument::white_balance_for(const RgbPlanes& planes, int reduction) const {
    if (!controls_) return {1.0, 1.0, 1.0};
    switch (int(control(tag::kWbMode))) {
        case 1: return reduction > 1 ? automatic_white_balance(planes, (20 + reduction / 2) / reduction)
                                     : automatic_white_balance(planes);
        case 2: return {1.0 + 0.03 * control(tag::kWbRed), 1.0, 1.0 + 0.03 * control(tag::kWbBlue)};
        default: return {1.0, 1.0, 1.0};
    }
}

void RawDocument::PickWhiteBalance(int column, int row) {
    if (!loaded() || develop_planes().pixel_count() == 0) return;
    if (!guarded([&] { finish_filters_unchecked(); })) {
        memory_failure();
        return;
    }
    picked_ = measure_white_point(develop_planes(), column, row);
    pick_pending_ = true;
    if (!guarded([&] {
            white_balance_unchecked();
            develop_unchecked(true);
        }))
        memory_failure();
}

void RawDocument::PostProcess() {
    if (!loaded()) return;
    if (!guarded([&] { post_process_unchecked(); })) memory_failure();
}

FilterControls RawDocument::filter_controls() const {
    FilterControls filters;
    filters.sharpness = control(tag::kSharpness);
    filters.radius_position = control(tag::kSharpRadius);
    filters.sharp_threshold = control(tag::kSharpThreshold);
    filters.luma = control(tag::kLumaNr);
    filters.luma_threshold = control(tag::kLumaThreshold);
    filters.chroma = control(tag::kChromaNr);
    filters.chroma_method = options_.chroma_nr_type;
    return filters;
}

void RawDocument::FinishFilters() {
    if (!guarded([&] { finish_filters_unchecked(); })) memory_failure();
}

void RawDocument::finish_filters_unchecked() {
    if (!filters_pending_) return;
    // The controls as they are now: a later filter change would have
    // replaced the pending area anyway.
    const FilterControls filters = filter_controls();
    RgbPlanes filtered;
    if (filters.any()) {
        copy_planes(source_, filtered);
        apply_filters(filtered, filters, lab_, [](const char*) {});
    }
    working_ = std::move(filtered);
    ++planes_generation_;
    filters_pending_ = false;
}

void RawDocument::develop_filtered_area(const FilterControls& filters) {
    progress(70);
    save_controls();
    silence_colour_errors();
    // Statistics from the planes at hand: those of the last whole-image
    // filter run, or the unfiltered image.
    const DevelopRecipe rc = make_recipe(wb_, true);
    const Viewport v = *viewport_;
    auto within = [](int64_t value, int limit) { return int(std::clamp<int64_t>(value, 0, limit)); };
    const int64_t margin = kScreenMargin, halo = kScreenMargin + kFilterHalo;
    const int x0 = within(int64_t(v.x) - margin, width_), y0 = within(int64_t(v.y) - margin, height_);
    const int x1 = within(int64_t(v.x) + std::max(v.width, 0) + margin, width_);
    const int y1 = within(int64_t(v.y) + std::max(v.height, 0) + margin, height_);
    const int cx0 = within(int64_t(v.x) - halo, width_), cy0 = within(int64_t(v.y) - halo, height_);
    const int cx1 = within(int64_t(v.x) + std::max(v.width, 0) + halo, width_);
    const int cy1 = within(int64_t(v.y) + std::max(v.height, 0) + halo, height_);

    RgbPlanes crop;
    crop.resize(cx1 - cx0, cy1 - cy0, size_t(cx1 - cx0) * size_t(cy1 - cy0));
    for (int c = 0; c < 3; ++c)
        for (int r = cy0; r < cy1; ++r)
            std::copy_n(source_[c] + size_t(r) * size_t(width_) + size_t(cx0), size_t(cx1 - cx0),
                        crop[c] + size_t(r - cy0) * size_t(crop.width));
    apply_filters(crop, filters, lab_, [this](const char* text) { status(text); });

    ScreenImage& s = screen_;
    s.scale_down = 1;
    s.x = x0, s.y = y0, s.width = x1 - x0, s.height = y1 - y0;
    s.image_width = s.width, s.image_height = s.height;
    s.rgb.assign(size_t(s.width) * size_t(s.height) * 3, 0);
    develop_area(rc, crop, x0 - cx0, y0 - cy0, s.width, s.height, s.rgb.data());
    UpdateDisplay(true);
    status("Ready");
    progress(100);
    ready_ = true;
}

void RawDocument::post_process_unchecked() {
    const FilterControls filters = filter_controls();
    const bool any = filters.any();
    if (any) {
        progress(70);
        status("Post Processing");
    }
    Picture16().swap(output_);
    std::vector<uint8_t>().swap(display_);
    if (any && screen_develop_ && viewport_ && viewport_->scale_down == 1 && loaded()) {
        // The planes of the last whole-image filter run stay until the new
        // one replaces them: during a drag their statistics are the nearest
        // at hand.
        filters_pending_ = true;
        develop_filtered_area(filters);
        return;
    }
    working_ = RgbPlanes{};
    ++planes_generation_;
    filters_pending_ = false;
    // With a filter on, working planes of width * height are copied from the
    // unchanged source planes and filtered, so filters never accumulate
    // across runs; without one the develop reads the source planes
    // themselves.
    if (any) {
        copy_planes(source_, working_);
        apply_filters(working_, filters, lab_, [this](const char* text) { status(text); });
    }
    if (screen_develop_) develop_unchecked(true);
}

void RawDocument::Develop(bool for_display) {
    if (!loaded() || develop_planes().pixel_count() == 0) return;
    if (!guarded([&] { develop_unchecked(for_display); })) memory_failure();
}

void RawDocument::develop_unchecked(bool for_display) {
    finish_filters_unchecked();
    progress(70);
    if (viewport_ && for_display) {
        // The screen image replaces the full-size display buffers.
        Picture16().swap(output_);
        std::vector<uint8_t>().swap(display_);
        develop_screen();
        UpdateDisplay(true);
        status("Ready");
        progress(100);
        ready_ = true;
        return;
    }
    ProcessImage(wb_, for_display);
    UpdateDisplay(for_display);
    status("Ready");
    progress(100);
    ready_ = true;
}

void RawDocument::fill_curve_table() {
    status("Processing curves");
    curve_ = identity_table();
    std::vector<CurvePoint> points;
    const std::string text = control_text(tag::kCurvePoints);
    if (!text.empty() && parse_curve_points(text, points)) build_curve_table(points, curve_);
}

std::shared_ptr<const ColourTransform> RawDocument::colour_transform(const ProfileChoice& input,
                                                                   const ProfileChoice& output,
                                                                   ColourTransform::Precision precision) {
    auto same = [](const ProfileChoice& a, const ProfileChoice& b) {
        return a.kind == b.kind && a.path == b.path && a.name == b.name;
    };
    for (const TransformMemo& m : transforms_)
        if (m.transform && m.precision == precision && same(m.input, input) && same(m.output, output))
            return m.transform;
    // Only the exact transform reports unusable profiles; the screen one is
    // built after it from the same files.
    Notifier& notes = notifier_ && precision == ColourTransform::Precision::exact ? *notifier_ : silent_;
    auto t = std::make_shared<const ColourTransform>(input, output, notes, precision);
    const bool as_asked = (input.kind == kProfileCamera ? kProfileCamera : kProfileFile) == t->input_kind() &&
                          (output.kind == kProfileSrgb || output.kind == kProfileRomm ? output.kind : kProfileFile) ==
                              t->output_kind();
    // Profile files may change on disk between runs; only built-in ones are kept.
    const bool builtin = input.kind == kProfileCamera && (output.kind == kProfileSrgb || output.kind == kProfileRomm);
    if (as_asked && builtin) {
        std::move_backward(transforms_.begin(), transforms_.end() - 1, transforms_.end());
        transforms_[0] = TransformMemo{input, output, precision, t};
    }
    return t;
}

DevelopRecipe RawDocument::make_recipe(const std::array<double, 3>& multipliers, bool for_display,
                                       const RgbPlanes& planes, bool remember) {
    const size_t n = planes.pixel_count();
    DevelopRecipe rc;
    const double exposure = 1.6 * exposure_factor(control(tag::kExposure));
    rc.gain = {exposure * multipliers[0], exposure * multipliers[1], exposure * multipliers[2]};

    if (control(tag::kHistCorrection) != 0) {
        LevelsMemo& m = levels_memo_;
        LevelCounts own;
        if (!remember) {
            own = exposure_histograms(planes, rc.gain);
        } else if (m.counts[0].empty() || m.generation != planes_generation_ || m.gain != rc.gain) {
            m.counts = exposure_histograms(planes, rc.gain);
            m.generation = planes_generation_, m.gain = rc.gain;
        }
        rc.levels = levels_table_from_counts(remember ? m.counts : own, n, control(tag::kShadows),
                                             control(tag::kHighlights));
    }

    fill_curve_table();
    rc.curve = curve_;

    const ProfileChoice input = profile_from_text(control_text(tag::kInputProfile), kProfileCamera);
    const ProfileChoice output =
        profile_from_text(control_text(for_display ? tag::kDisplayProfile : tag::kOutputProfile), kProfileSrgb);
    rc.transform = colour_transform(input, output, ColourTransform::Precision::exact);
    if (for_display && rc.transform->has_transform()) {
        rc.screen_transform = colour_transform(input, output, ColourTransform::Precision::screen);
        // Kept only when it converts between the same profiles.
        if (!rc.screen_transform->has_transform() || rc.screen_transform->input_kind() != rc.transform->input_kind() ||
            rc.screen_transform->output_kind() != rc.transform->output_kind())
            rc.screen_transform.reset();
    }
    if (rc.transform->runs_matrix_stage()) {
        rc.matrix = rc.transform->stage_matrix(rgb_to_xyz_);
        const double fill = control(tag::kFillLight);
        if (fill != 0) {
            FillMemo& m = fill_memo_;
            std::vector<double> own;
            if (!remember) {
                own = luminance_row_sums(rc, planes);
            } else if (m.row_sums.empty() || m.generation != planes_generation_ || m.gain != rc.gain ||
                       m.levels != rc.levels || m.matrix != rc.matrix) {
                m.row_sums = luminance_row_sums(rc, planes);
                m.generation = planes_generation_, m.gain = rc.gain, m.levels = rc.levels, m.matrix = rc.matrix;
            }
            rc.fill_light = true;
            rc.fill_scale = fill_light_scale(remember ? m.row_sums : own, n, fill);
        }
    }
    if (remember) output_profile_ = rc.transform->output_profile_bytes();

    const double contrast = control(tag::kContrast);
    if (contrast != 0) rc.contrast = contrast_table(contrast);
    rc.pass.curve = rc.curve.data();
    rc.pass.transfer = rc.transform->final_pass_applies_transfer() ? transfer_table().data() : nullptr;
    rc.pass.contrast = contrast != 0 ? rc.contrast.data() : nullptr;
    rc.pass.saturation = control(tag::kSaturation);
    rc.pass.bw_mode = int(control(tag::kBwMode));
    rc.pass.mixer = mixer_weights(control(tag::kMixerRed), control(tag::kMixerGreen), control(tag::kMixerBlue));
    rc.final_table = final_pass_table(rc.pass);
    return rc;
}

void RawDocument::ProcessImage(std::array<double, 3>& multipliers, bool for_display) {
    const RgbPlanes& planes = develop_planes();
    const size_t n = planes.pixel_count();
    if (n == 0) return;
    save_controls();
    silence_colour_errors();

    const DevelopRecipe rc = make_recipe(multipliers, for_display);
    output_.assign(n * 3, 0);
    develop_area(rc, planes, 0, 0, planes.width, planes.height, output_.data());

    wb_ = multipliers;
    if (for_display) UpdateHistogram();
}

int RawDocument::fit_scale_down(int window_width, int window_height) const {
    const int64_t ww = std::max(window_width, 1), wh = std::max(window_height, 1);
    const int64_t by_width = (int64_t(width_) + ww - 1) / ww, by_height = (int64_t(height_) + wh - 1) / wh;
    return int(std::max<int64_t>({by_width, by_height, 1}));
}

bool RawDocument::screen_covers(const Viewport& v) const {
    const ScreenImage& s = screen_;
    if (s.scale_down == 0 || s.pixels.empty()) return false;
    if (v.scale_down <= 0) return s.scale_down == fit_scale_down(v.width, v.height) && s.x == 0 && s.y == 0 &&
                                  s.image_width == width_ && s.image_height == height_;
    if (v.scale_down != s.scale_down) return false;
    const int64_t x0 = std::max(v.x, 0), y0 = std::max(v.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(v.x) + v.width, width_);
    const int64_t y1 = std::min<int64_t>(int64_t(v.y) + v.height, height_);
    return x0 >= s.x && y0 >= s.y && x1 <= s.x + s.image_width && y1 <= s.y + s.image_height;
}

const RgbPlanes& RawDocument::reduced_planes(int factor) {
    if (factor <= 1) return develop_planes();
    for (Reduced& r : reduced_)
        if (r.factor == factor && r.generation == planes_generation_) return r.planes;
    // Replace an entry of an older generation first, else the other one.
    Reduced& slot = reduced_[0].generation != planes_generation_ ? reduced_[0]
                    : reduced_[1].generation != planes_generation_ ? reduced_[1]
                    : reduced_[0].factor == viewport_.value_or(Viewport{}).scale_down ? reduced_[1]
                                                                                      : reduced_[0];
    slot.planes = RgbPlanes{};
    slot.planes = downscale_planes(develop_planes(), factor);
    slot.factor = factor;
    slot.generation = planes_generation_;
    return slot.planes;
}

void RawDocument::develop_screen() {
    const Viewport v = *viewport_;
    save_controls();
    silence_colour_errors();
    DevelopRecipe rc = make_recipe(wb_, true);
    // A reduced image only has to be close to the saved one; at 100 % it
    // has to be equal, so there the exact transform converts the area.
    DevelopRecipe reduced = rc;
    if (rc.screen_transform) reduced.transform = rc.screen_transform;

    // The rectangle to develop, in image pixels, then in reduced pixels.
    const int k = v.scale_down <= 0 ? fit_scale_down(v.width, v.height) : v.scale_down;
    int x0 = 0, y0 = 0, x1 = width_, y1 = height_;
    if (v.scale_down > 0) {
        const int64_t margin = int64_t(kScreenMargin) * k;
        auto within = [](int64_t value, int limit) { return int(std::clamp<int64_t>(value, 0, limit)); };
        x0 = within(int64_t(v.x) - margin, width_), y0 = within(int64_t(v.y) - margin, height_);
        x1 = within(int64_t(v.x) + std::max(v.width, 0) + margin, width_);
        y1 = within(int64_t(v.y) + std::max(v.height, 0) + margin, height_);
        x0 -= x0 % k, y0 -= y0 % k;  // whole blocks of the reduced planes
    }
    const RgbPlanes& planes = reduced_planes(k);
    const int sx = x0 / k, sy = y0 / k;
    const int sw = std::max(0, std::min((x1 - x0 + k - 1) / k, planes.width - sx));
    const int sh = std::max(0, std::min((y1 - y0 + k - 1) / k, planes.height - sy));

    ScreenImage& s = screen_;
    s.scale_down = k;
    s.x = x0, s.y = y0, s.width = sw, s.height = sh;
    s.image_width = std::min(sw * k, width_ - x0), s.image_height = std::min(sh * k, height_ - y0);
    s.rgb.assign(size_t(sw) * size_t(sh) * 3, 0);
    develop_area(k > 1 ? reduced : rc, planes, sx, sy, sw, sh, s.rgb.data());

    // The output histogram from a reduced copy of the whole image of at
    // most about a quarter of a million pixels, without the outer frame.
    constexpr int64_t kHistogramPixels = 250000;
    int hk = std::max(k, 1);
    while (int64_t(width_ / hk) * int64_t(height_ / hk) > kHistogramPixels) ++hk;
    status("Updating Histogram");
    if (hk == k && sx == 0 && sy == 0 && sw == planes.width && sh == planes.height) {
        draw_output_histogram(s.rgb.data(), sw, sh, output_histogram_);
    } else {
        const RgbPlanes& small = reduced_planes(hk);
        std::vector<uint16_t> rgb(small.pixel_count() * 3);
        develop_area(reduced, small, 0, 0, small.width, small.height, rgb.data());
        draw_output_histogram(rgb.data(), small.width, small.height, output_histogram_);
    }
}

void RawDocument::screen_pixels_from_rgb() {
    ScreenImage& s = screen_;
    const bool warnings = control(tag::kWarnings) != 0;
    s.pixels.assign(size_t(s.width) * size_t(s.height) * 4, 0);
    const int64_t rows = s.height;
    const size_t w = size_t(s.width);
#pragma omp parallel for schedule(static)
    for (int64_t r = 0; r < rows; ++r)
        display_span(s.rgb.data() + 3 * w * size_t(r), w, warnings, s.pixels.data() + 4 * w * size_t(r));
}

void RawDocument::UpdateDisplay(bool for_display) {
    status("Updating");
    if (viewport_ && for_display) {
        screen_pixels_from_rgb();
        return;
    }
    if (output_.size() < size_t(width_) * size_t(height_) * 3) {
        display_.clear();
        return;
    }
    const bool warnings = for_display && control(tag::kWarnings) != 0;
    build_display_buffer(output_.data(), width_, height_, warnings, display_);
}

void RawDocument::UpdateHistogram() {
    status("Updating Histogram");
    if (output_.size() < size_t(width_) * size_t(height_) * 3) return;
    draw_output_histogram(output_.data(), width_, height_, output_histogram_);
}

}  // namespace ostel::develop
