// The colour transform of the output buffer: matrix stage, built-in sRGB
// fast path and Little CMS transforms between the chosen profiles.
#include <algorithm>
#include <cmath>

#include "develop/colour_management.h"
#include "develop/colour_management_internal.h"
#include "develop/tone_support.h"

namespace ostel::develop {

namespace {

// Chromatic adaptation D65 -> D50 (Bradford), in the precision it is
// specified with.
constexpr float kBradford[3][3] = {{1.047835f, 0.022897f, -0.050147f},
                                   {0.029556f, 0.990481f, -0.017056f},
                                   {-0.009238f, 0.015050f, 0.752034f}};

constexpr double kXyzToSrgb[3][3] = {{3.24071, -1.53726, -0.498571},
                                     {-0.969258, 1.87599, 0.0415557},
                                     {0.0556352, -0.203996, 1.05707}};

// cmsDoTransform counts pixels in 32 bits.
constexpr size_t kMaxTransformRun = size_t(1) << 28;

std::vector<float> build_transfer_table() {
    std::vector<float> table(65536);
    const double exponent = double(1.0f / 2.4f);
    for (size_t i = 0; i < table.size(); ++i) {
        const double x = double(i) / 65535.0;
        const double encoded = x <= 0.00304 ? 12.92 * x : 1.055 * std::pow(x, exponent) - 0.055;
        const double scaled = std::clamp(encoded * 65535.0, 0.0, 65535.0);
        table[i] = float(int64_t(scaled));
    }
    return table;
}

uint16_t clamp_to(double v, double hi) {
    if (!(v > 0.0)) return 0;  // also catches NaN
    return uint16_t(v >= hi ? hi : v);
}

void transform_run(cmsHTRANSFORM t, uint16_t* pixels, size_t count) {
    while (count > 0) {
        const size_t run = std::min(count, kMaxTransformRun);
        cmsDoTransform(t, pixels, pixels, cmsUInt32Number(run));
        pixels += run * 3;
        count -= run;
    }
}

}  // namespace

const std::vector<float>& transfer_table() {
    static const std::vector<float> table = build_transfer_table();
    return table;
}

struct ColourTransform::Handles {
    detail::ProfileHandle input, output;
    detail::TransformHandle transform;
};

namespace {

detail::ProfileHandle open_input_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!read_icc_file(path, bytes)) return nullptr;
    detail::ProfileHandle h(cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size())));
    // The buffer is three 16-bit channels: only an RGB profile can read it.
    if (h && cmsGetColorSpace(h.get()) != cmsSigRgbData) h.reset();
    return h;
}

detail::ProfileHandle open_output_file(const std::string& path, std::vector<uint8_t>& bytes) {
    if (!read_icc_file(path, bytes)) return nullptr;
    detail::ProfileHandle h(cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size())));
    if (h && cmsGetColorSpace(h.get()) != cmsSigRgbData) h.reset();
    return h;
}

detail::TransformHandle make_transform(cmsHPROFILE in, cmsHPROFILE out, bool xyz_input, bool exact) {
    // One transform object serves both halves of the buffer at once; with
    // the one-pixel cache off, a transform keeps no state between calls.
    const cmsUInt32Number flags =
        cmsFLAGS_NOCACHE | (!xyz_input ? 0 : exact ? cmsFLAGS_NOOPTIMIZE : cmsFLAGS_HIGHRESPRECALC);
    return detail::TransformHandle(cmsCreateTransform(in, xyz_input ? TYPE_XYZ_16 : TYPE_RGB_16, out, TYPE_RGB_16,
                                                      INTENT_PERCEPTUAL, flags));
}

}  // namespace

ColourTransform::ColourTransform(const ProfileChoice& input, const ProfileChoice& output, Notifier& notifier,
                                 Precision precision)
    : handles_(std::make_unique<Handles>()) {
    silence_colour_errors();
    Handles& h = *handles_;

    // Input first: a file that cannot serve as input falls back to the
    // camera space before any pixel is touched, so the matrix stage runs
    // for exactly the images that the transform then reads as XYZ.
    input_kind_ = input.kind == kProfileCamera ? kProfileCamera : kProfileFile;
    if (input_kind_ == kProfileFile) {
        h.input = open_input_file(input.path);
        if (!h.input) {
            notifier.message(kInputProfileError);
            input_kind_ = kProfileCamera;
        }
    }

    // A built-in output is opened from its serialised bytes, so the image is
    // converted with exactly the profile that export embeds.
    auto use_builtin_output = [&](int kind) {
        output_kind_ = kind;
        output_bytes_ = builtin_profile_bytes(kind);
        h.output.reset(cmsOpenProfileFromMem(output_bytes_.data(), cmsUInt32Number(output_bytes_.size())));
    };
    if (output.kind == kProfileSrgb || output.kind == kProfileRomm) {
        use_builtin_output(output.kind);
    } else {
        output_kind_ = kProfileFile;
        h.output = open_output_file(output.path, output_bytes_);
        if (!h.output) {
            notifier.message(kOutputProfileError);
            use_builtin_output(kProfileSrgb);
        }
    }

    // Profiles that open may still not combine into a transform (missing
    // tags, unsupported tables). Fall back the same way: output first, then
    // input, each reported once.
    for (;;) {
        if (uses_srgb_fast_path()) {
            h.output.reset();
            h.input.reset();
            return;
        }
        if (input_kind_ == kProfileCamera && !h.input) h.input = detail::create_builtin_profile(kProfileCamera);
        if (h.input && h.output) {
            h.transform = make_transform(h.input.get(), h.output.get(), input_kind_ == kProfileCamera,
                                         precision == Precision::exact);
            if (h.transform) return;
        }
        if (output_kind_ == kProfileFile) {
            notifier.message(kOutputProfileError);
            use_builtin_output(kProfileSrgb);
        } else if (input_kind_ == kProfileFile) {
            notifier.message(kInputProfileError);
            input_kind_ = kProfileCamera;
            h.input.reset();
        } else {
            return;  // built-in to built-in failed: nothing left to try; apply() leaves the buffer as it is
        }
    }
}

ColourTransform::~ColourTransform() = default;

bool ColourTransform::has_transform() const { return handles_ && handles_->transform != nullptr; }

ColourTransform::StageMatrix ColourTransform::stage_matrix(const double (&rgb_to_xyz)[3][3]) const {
    // The fast path converts from D65 XYZ itself; Little CMS expects its
    // D50 connection space.
    StageMatrix m{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) {
            if (uses_srgb_fast_path()) {
                m[i][j] = rgb_to_xyz[i][j];
                continue;
            }
            double sum = 0.0;
            for (size_t k = 0; k < 3; ++k) sum += double(kBradford[i][k]) * rgb_to_xyz[k][j];
            m[i][j] = sum;
        }
    return m;
}

void ColourTransform::matrix_span(uint16_t* pixels, size_t count, const StageMatrix& m, float* luminance) const {
    // The 16-bit XYZ encoding reaches almost 2.0. Components above 1.0 are
    // ordinary (Z of a D65 white is 1.089), so they are kept: cutting them
    // at 1.0 would tint every bright neutral yellow.
    for (size_t p = 0; p < count; ++p) {
        uint16_t* px = pixels + p * 3;
        const double r = px[0], g = px[1], b = px[2];
        for (size_t i = 0; i < 3; ++i) px[i] = clamp_to(0.5 * (m[i][0] * r + m[i][1] * g + m[i][2] * b), 65535.0);
        if (luminance) luminance[p] = float(std::min<uint16_t>(px[1], 32767)) / 32767.0f;
    }
}

void ColourTransform::matrix_and_apply_span(uint16_t* pixels, size_t count, const StageMatrix& m,
                                            const double* fill_ratio) const {
    if (!pixels || count == 0) return;
    const bool fast = uses_srgb_fast_path();
    const float* table = transfer_table().data();
    // Each pixel goes from working RGB to the output in registers; the
    // arithmetic and every truncation to 16 bits are those of the separate
    // steps, in their order, so the results are the same.
    for (size_t p = 0; p < count; ++p) {
        uint16_t* px = pixels + p * 3;
        const double r = px[0], g = px[1], b = px[2];
        uint16_t xyz[3];
        for (size_t i = 0; i < 3; ++i) xyz[i] = clamp_to(0.5 * (m[i][0] * r + m[i][1] * g + m[i][2] * b), 65535.0);
        if (fill_ratio) {
            const double ratio = fill_ratio[std::min<uint16_t>(xyz[1], 32767)];
            for (size_t k = 0; k < 3; ++k)
                xyz[k] = static_cast<uint16_t>(detail::clamp_value(ratio * xyz[k], 0.0, 32767.0));
        }
        if (!fast) {
            std::copy(xyz, xyz + 3, px);
            continue;
        }
        const double x = 2.0 * xyz[0], y = 2.0 * xyz[1], z = 2.0 * xyz[2];
        for (size_t i = 0; i < 3; ++i) {
            const uint16_t linear =
                clamp_to(kXyzToSrgb[i][0] * x + kXyzToSrgb[i][1] * y + kXyzToSrgb[i][2] * z, 65535.0);
            px[i] = uint16_t(table[linear]);
        }
    }
    if (!fast) apply_span(pixels, count);
}

void ColourTransform::matrix_stage(uint16_t* pixels, size_t count, const double (&rgb_to_xyz)[3][3],
                                   float* luminance) const {
    if (!runs_matrix_stage() || !pixels) return;
    const StageMatrix m = stage_matrix(rgb_to_xyz);
    constexpr size_t kBlock = 4096;
    const std::ptrdiff_t blocks = std::ptrdiff_t((count + kBlock - 1) / kBlock);
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t b = 0; b < blocks; ++b) {
        const size_t first = size_t(b) * kBlock;
        matrix_span(pixels + 3 * first, std::min(kBlock, count - first), m, luminance ? luminance + first : nullptr);
    }
}

void ColourTransform::apply_span(uint16_t* pixels, size_t count) const {
    if (!pixels || count == 0) return;
    if (uses_srgb_fast_path()) {
        const float* table = transfer_table().data();
        for (size_t p = 0; p < count; ++p) {
            uint16_t* px = pixels + p * 3;
            const double x = 2.0 * px[0], y = 2.0 * px[1], z = 2.0 * px[2];
            for (size_t i = 0; i < 3; ++i) {
                const uint16_t linear = clamp_to(kXyzToSrgb[i][0] * x + kXyzToSrgb[i][1] * y + kXyzToSrgb[i][2] * z,
                                                 65535.0);
                px[i] = uint16_t(table[linear]);
            }
        }
        return;
    }
    if (has_transform()) transform_run(handles_->transform.get(), pixels, count);
}

void ColourTransform::apply(uint16_t* pixels, size_t count) const {
    if (!pixels || count == 0) return;
    if (uses_srgb_fast_path()) {
        constexpr size_t kBlock = 4096;
        const std::ptrdiff_t blocks = std::ptrdiff_t((count + kBlock - 1) / kBlock);
#pragma omp parallel for schedule(static)
        for (std::ptrdiff_t b = 0; b < blocks; ++b) {
            const size_t first = size_t(b) * kBlock;
            apply_span(pixels + 3 * first, std::min(kBlock, count - first));
        }
        return;
    }
    if (!has_transform()) return;
    cmsHTRANSFORM t = handles_->transform.get();
    const size_t first = count / 2;
#pragma omp parallel sections
    {
#pragma omp section
        transform_run(t, pixels, first);
#pragma omp section
        transform_run(t, pixels + first * 3, count - first);
    }
}

}  // namespace ostel::develop
