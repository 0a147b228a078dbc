// The quick first picture of a load: developed from the two-by-two sensor
// cells right after decoding, while demosaicing and refinement still lie
// ahead.
#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/processing/preprocess.h"
#include "core/session/core_failure.h"
#include "core/session/decoder_session.h"
#include "develop/geometry.h"
#include "develop/raw_document.h"

namespace ostel::develop {

namespace {

// Colours of the four sites of the cells starting at each even row (the
// pattern repeats every eight rows and two columns), site order top-left,
// top-right, bottom-left, bottom-right. False when some cell lacks one of
// the sensor's colours: then there is no one-pixel-per-cell picture.
bool cell_colours(const core::DecoderSession& s, std::array<std::array<int, 4>, 4>& colours) {
    for (int pair = 0; pair < 4; ++pair) {
        unsigned present = 0;
        for (int site = 0; site < 4; ++site) {
            const int c = s.filter_color(2 * pair + site / 2, site % 2);
            colours[size_t(pair)][size_t(site)] = c;
            present |= 1u << c;
        }
        if (present != (1u << s.color_count) - 1) return false;
    }
    return true;
}

// The window the picture is fitted into, in screen pixels.
std::pair<int, int> window_of(const Viewport& v) {
    if (v.scale_down <= 0) return {v.width, v.height};
    const int64_t k = v.scale_down;
    return {int((int64_t(std::max(v.width, 1)) + k - 1) / k), int((int64_t(std::max(v.height, 1)) + k - 1) / k)};
}

}  // namespace

void RawDocument::offer_quick_picture(core::DecoderSession& s, bool fold_colours) {
    if (!quick_picture_ || !screen_develop_ || !viewport_) return;
    // Full-colour data needs no demosaicing, and turned or stretched
    // sensors have no cell grid in the picture's geometry.
    if (s.samples_per_pixel == 3 || s.cfa_pattern <= 1 || s.half_grid != 0 || diagonal_ ||
        has_half_height_pixels(shooting_.make, shooting_.model))
        return;
    if (s.color_count != 3 && s.color_count != 4) return;
    std::array<std::array<int, 4>, 4> colours{};
    if (!cell_colours(s, colours)) return;
    const int cw = width_ / 2, ch = height_ / 2;
    const size_t stride = size_t(s.image_width);
    if (cw < 1 || ch < 1 || s.image_width < width_ || s.image.size() < stride * size_t(height_)) return;

    try {
        // One pixel per cell, each colour the mean of its sites, in linear
        // planes. Clipped highlights are blended per cell, as the full
        // picture's are per pixel after demosaicing: each thread runs the
        // core's blend on a session of its own that holds one row of cells.
        // Row buffers keep the temporary memory small, so the load peaks no
        // higher than without the picture. The picture pixel of m x m cells
        // stands for 2m x 2m image pixels, m from the fit of the window.
        const auto [window_w, window_h] = window_of(*viewport_);
        const int m = std::max(1, fit_scale_down(window_w, window_h) / 2);
        // The whole-image statistics (automatic white balance, levels, fill
        // light) come from every cell, as the full picture's come from every
        // pixel; without them the cells go straight into their block means.
        const bool statistics = control(tag::kWbMode) == 1 || control(tag::kHistCorrection) != 0 ||
                                control(tag::kFillLight) != 0;
        const int f = statistics ? 1 : m;
        const int tw = (cw + f - 1) / f, th = (ch + f - 1) / f;
        RgbPlanes target;
        target.resize(tw, th, size_t(tw) * size_t(th));
        float fold[3][4];
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 4; ++k) fold[i][k] = s.cam_to_out[i][k];
        const int colour_count = s.color_count;
        bool out_of_memory = false;
#pragma omp parallel
        {
            // Nothing may be thrown out of a parallel region.
            std::unique_ptr<core::DecoderSession> row_session;
            std::vector<double> sums;
            try {
                row_session = std::make_unique<core::DecoderSession>();
                row_session->color_count = colour_count;
                std::copy(std::begin(s.daylight_mul), std::end(s.daylight_mul), std::begin(row_session->daylight_mul));
                row_session->image.assign(size_t(cw), core::Pixel4{});
                sums.resize(3 * size_t(tw));
            } catch (const std::bad_alloc&) {
                row_session.reset();
#pragma omp atomic write
                out_of_memory = true;
            }
#pragma omp for schedule(static)
            for (int tr = 0; tr < th; ++tr) {
                if (!row_session) continue;
                core::DecoderSession& row = *row_session;
                std::fill(sums.begin(), sums.end(), 0.0);
                const int r0 = tr * f, r1 = std::min(r0 + f, ch);
                // Summed row by row and left to right in each block, as
                // downscale_planes sums.
                for (int r = r0; r < r1; ++r) {
                    const std::array<int, 4>& site_colour = colours[size_t(r & 3)];
                    const core::Pixel4* top = s.image.data() + size_t(2 * r) * stride;
                    const core::Pixel4* bottom = top + stride;
                    for (int c = 0; c < cw; ++c) {
                        const core::Pixel4* sites[4] = {top + 2 * c, top + 2 * c + 1, bottom + 2 * c,
                                                        bottom + 2 * c + 1};
                        uint32_t sum[4] = {}, count[4] = {};
                        for (int k = 0; k < 4; ++k) {
                            const int colour = site_colour[size_t(k)];
                            sum[colour] += (*sites[k])[size_t(colour)];
                            ++count[colour];
                        }
                        for (int k = 0; k < colour_count; ++k)
                            row.image[size_t(c)][size_t(k)] = uint16_t((sum[k] + count[k] / 2) / count[k]);
                    }
                    core::blend_clipped_highlights(row);
                    for (int c = 0; c < cw; ++c) {
                        const core::Pixel4& px = row.image[size_t(c)];
                        double* block = sums.data() + 3 * size_t(c / f);
                        for (int i = 0; i < 3; ++i) {
                            if (!fold_colours) {
                                block[i] += px[size_t(i)];
                                continue;
                            }
                            // Folded and clipped per pixel, as the full planes are.
                            float v = 0;
                            for (int k = 0; k < 4; ++k) v += fold[i][k] * float(px[size_t(k)]);
                            block[i] += std::min(std::max(v, 0.0f), 65535.0f);
                        }
                    }
                }
                for (int tc = 0; tc < tw; ++tc) {
                    const double count = double(r1 - r0) * double(std::min(tc * f + f, cw) - tc * f);
                    for (int i = 0; i < 3; ++i)
                        target[i][size_t(tr) * size_t(tw) + size_t(tc)] = float(sums[3 * size_t(tc) + size_t(i)] / count);
                }
            }
        }
        if (out_of_memory) return;

        RgbPlanes reduced;
        if (f != m) reduced = downscale_planes(target, m);
        const RgbPlanes& small = f != m ? reduced : target;
        const int sw = small.width, sh = small.height;

        // The develop of a reduced screen image, with nothing kept for the
        // document's own runs.
        DevelopRecipe rc = make_recipe(white_balance_for(target, 2 * f), true, target, false);
        if (rc.screen_transform) rc.transform = rc.screen_transform;
        ScreenImage picture;
        picture.scale_down = 2 * m;
        picture.width = sw, picture.height = sh;
        picture.image_width = std::min(sw * 2 * m, width_), picture.image_height = std::min(sh * 2 * m, height_);
        picture.rgb.assign(size_t(sw) * size_t(sh) * 3, 0);
        develop_area(rc, small, 0, 0, sw, sh, picture.rgb.data());
        const bool warnings = control(tag::kWarnings) != 0;
        picture.pixels.assign(size_t(sw) * size_t(sh) * 4, 0);
        for (int r = 0; r < sh; ++r)
            display_span(picture.rgb.data() + size_t(r) * size_t(sw) * 3, size_t(sw), warnings,
                         picture.pixels.data() + size_t(r) * size_t(sw) * 4);
        quick_picture_(picture);
    } catch (const core::CoreFailure&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // Without it the full picture simply comes first.
}

}  // namespace ostel::develop
