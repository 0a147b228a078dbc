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
    if (!controls_) {
        wb_ = {1.0, 1.0, 1.0};
        return;
    }
    switch (int(control(tag::kWbMode))) {
        case 1: wb_ = automatic_white_balance(source_); break;
        case 2:
            if (pick) controls_->set_white_balance_sliders(picked_[0], picked_[1]);
            wb_ = {1.0 + 0.03 * control(tag::kWbRed), 1.0, 1.0 + 0.03 * control(tag::kWbBlue)};
            break;
        default: wb_ = {1.0, 1.0, 1.0}; break;
    }
}

void RawDocument::PickWhiteBalance(int column, int row) {
    if (!loaded() || develop_planes().pixel_count() == 0) return;
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

void RawDocument::post_process_unchecked() {
    FilterControls filters;
    filters.sharpness = control(tag::kSharpness);
    filters.radius_position = control(tag::kSharpRadius);
    filters.sharp_threshold = control(tag::kSharpThreshold);
    filters.luma = control(tag::kLumaNr);
    filters.luma_threshold = control(tag::kLumaThreshold);
    filters.chroma = control(tag::kChromaNr);
    filters.chroma_method = options_.chroma_nr_type;
    const bool any = filters.any();
    if (any) {
        progress(70);
        status("Post Processing");
    }
    working_ = RgbPlanes{};
    Picture16().swap(output_);
    std::vector<uint8_t>().swap(display_);
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
    progress(70);
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

void RawDocument::ProcessImage(std::array<double, 3>& multipliers, bool for_display) {
    const RgbPlanes& planes = develop_planes();
    const size_t n = planes.pixel_count();
    if (n == 0) return;
    save_controls();
    silence_colour_errors();

    const double exposure = 1.6 * exposure_factor(control(tag::kExposure));
    output_.assign(n * 3, 0);
    apply_exposure_and_balance(planes, exposure, multipliers, output_.data());

    if (control(tag::kHistCorrection) != 0)
        apply_table(output_.data(), n,
                    levels_table(output_.data(), n, control(tag::kShadows), control(tag::kHighlights)));

    fill_curve_table();

    const ProfileChoice input = profile_from_text(control_text(tag::kInputProfile), kProfileCamera);
    const ProfileChoice output =
        profile_from_text(control_text(for_display ? tag::kDisplayProfile : tag::kOutputProfile), kProfileSrgb);
    Notifier& notes = notifier_ ? *notifier_ : silent_;
    ColourTransform transform(input, output, notes);
    if (transform.runs_matrix_stage()) {
        const double fill = control(tag::kFillLight);
        if (fill != 0) {
            std::vector<float> luminance(n);
            transform.matrix_stage(output_.data(), n, rgb_to_xyz_, luminance.data());
            fill_light(output_.data(), luminance.data(), width_, height_, fill);
        } else {
            transform.matrix_stage(output_.data(), n, rgb_to_xyz_, nullptr);
        }
    }
    transform.apply(output_.data(), n);
    output_profile_ = transform.output_profile_bytes();

    const double contrast = control(tag::kContrast);
    Table16 contrast_lut;
    if (contrast != 0) contrast_lut = contrast_table(contrast);

    FinalPass pass;
    pass.curve = curve_.data();
    pass.transfer = transform.final_pass_applies_transfer() ? transfer_table().data() : nullptr;
    pass.contrast = contrast != 0 ? contrast_lut.data() : nullptr;
    pass.saturation = control(tag::kSaturation);
    pass.bw_mode = int(control(tag::kBwMode));
    pass.mixer = mixer_weights(control(tag::kMixerRed), control(tag::kMixerGreen), control(tag::kMixerBlue));
    apply_final_pass(output_.data(), n, pass);

    wb_ = multipliers;
    if (for_display) UpdateHistogram();
}

void RawDocument::UpdateDisplay(bool for_display) {
    status("Updating");
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
