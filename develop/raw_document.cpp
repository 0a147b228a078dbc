// Opening and loading: the document drives the decoding core and builds its
// working data from what the core delivers.
#include "develop/raw_document.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#include "core/loaders/dng_opcodes.h"
#include "core/processing/demosaic.h"
#include "core/processing/output_profile.h"
#include "core/processing/preprocess.h"
#include "core/session/core_failure.h"
#include "core/session/decoder_session.h"
#include "core/thumb/entries.h"
#include "persistence/image_id.h"
#include "persistence/settings_database.h"

namespace ostel::develop {

namespace {

// Linear sRGB to XYZ (D65), the working space when the camera has no matrix.
constexpr double kSrgbToXyz[3][3] = {{0.412424, 0.357579, 0.180464},
                                     {0.212656, 0.715158, 0.0721856},
                                     {0.0193324, 0.119193, 0.950444}};

// "YYYY-MM-DD hh:mm:ss" of the camera's clock. The core turned the file's
// clock text into seconds as local time, so local time gives it back.
std::string capture_text(int64_t seconds) {
    if (seconds <= 0) return {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!localtime_r(&t, &parts)) return {};
    const int year = parts.tm_year + 1900;
    if (year < 0 || year > 9999) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, parts.tm_mon + 1, parts.tm_mday,
                  parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

bool read_whole_stream(std::ifstream& file, std::vector<uint8_t>& bytes) {
    file.clear();
    file.seekg(0, std::ios::beg);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

}  // namespace

std::string load_status_message(int status) {
    switch (status) {
        case kOpenFailed: return "Error opening file";
        case 2: return "File error";
        case 3: return "Wrong file header";
        case 4: return "Memory allocation error";
        case 5: return "Wrong file or not supported camera manufecturer";
        case 6: return "Not supported camera model";
        default: return {};
    }
}

DocumentOptions DocumentOptions::from_settings(int chrec, int cpf, int lnr_type, int cnr_type) {
    DocumentOptions o;
    o.artifact_level = std::clamp(chrec + 1, 1, 3);
    o.chroma_prefilter = cpf != 0;
    o.luma_nr_type = (lnr_type == 0 || lnr_type == 1) ? lnr_type : 0;
    o.chroma_nr_type = (cnr_type == 0 || cnr_type == 1) ? cnr_type : 0;
    return o;
}

RawDocument::RawDocument() : curve_(identity_table()) {}
RawDocument::RawDocument(const DocumentOptions& options) : options_(options), curve_(identity_table()) {}
RawDocument::~RawDocument() = default;

void RawDocument::set_notifier(Notifier* notifier) { notifier_ = notifier; }

void RawDocument::use_database(persistence::SettingsDatabase* database, persistence::ControlPanel* panel,
                               DatabaseUse use) {
    database_use_ = use;
    panel_ = panel;
    database_ = database && database->is_open() ? database : nullptr;
    if (!database_) message("Could not import RAWDB to doc - it is NULL");
}

void RawDocument::save_controls() {
    if (!database_ || !panel_ || database_use_ != DatabaseUse::record_restore_save) return;
    if (!database_->SaveControls(image_id_, *panel_)) message("Failed to save controls");
}

double RawDocument::control(int t) const {
    if (controls_) return controls_->value(t);
    // No control bars: the fixed values of a missing main frame.
    switch (t) {
        case tag::kMixerRed:
        case tag::kMixerGreen:
        case tag::kMixerBlue: return 50;
        default: return 0;
    }
}

std::string RawDocument::control_text(int t) const { return controls_ ? controls_->text(t) : std::string(); }

void RawDocument::status(const char* text) { (notifier_ ? *notifier_ : silent_).status(text); }
void RawDocument::progress(int percent) { (notifier_ ? *notifier_ : silent_).progress(percent); }
void RawDocument::message(const std::string& text) { (notifier_ ? *notifier_ : silent_).message(text); }

void RawDocument::clear_image() {
    working_ = RgbPlanes{};
    source_ = RgbPlanes{};
    Picture16().swap(output_);
    std::vector<uint8_t>().swap(display_);
    output_profile_.clear();
    thumbnail_ = Thumbnail{};
    raw_histogram_ = HistogramImage{};
    output_histogram_ = HistogramImage{};
    pick_pending_ = false;
    ready_ = false;
    ++planes_generation_;
    for (Reduced& r : reduced_) r = Reduced{};
    levels_memo_ = LevelsMemo{};
    filters_pending_ = false;
    fill_memo_ = FillMemo{};
    screen_ = ScreenImage{};
}

void RawDocument::memory_failure() {
    clear_image();
    message(load_status_message(kMemoryError));
}

int RawDocument::open(const std::string& path) {
    clear_image();
    shooting_ = ShootingData{};
    image_id_ = 0;
    if (file_.is_open()) file_.close();
    file_.clear();
    file_.open(path, std::ios::binary);
    if (!file_.is_open()) return kOpenFailed;
    path_ = path;
    new_file_ = true;
    status("Loading");
    return preview_only_ ? LoadThumbnail() : LoadRaw();
}

bool RawDocument::OnOpenDocument(const std::string& path) {
    const int result = open(path);
    const std::string text = load_status_message(result);
    if (!text.empty()) message(text);
    return true;
}

void RawDocument::copy_from_session(const core::DecoderSession& s) {
    width_ = s.width;
    height_ = s.height;
    shooting_.make = s.make;
    shooting_.model = s.model;
    shooting_.iso = s.iso;
    shooting_.shutter = s.exposure_time;
    shooting_.aperture = s.f_number;
    shooting_.focal_length = s.focal_length;
    shooting_.black_level = s.black_level;
    shooting_.orientation = s.orientation;
    shooting_.data_errors = s.short_read_count;
    shooting_.capture_time = s.capture_time;
    shooting_.capture_text = capture_text(s.capture_time);
    shooting_.suggested_exposure = s.baseline_exposure;
}

int RawDocument::LoadRaw() {
    try {
        return load_raw_checked();
    } catch (const core::CoreFailure&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    clear_image();
    return kMemoryError;
}

int RawDocument::load_raw_checked() {
    // Only the first decode after open() is of a new file; a later LoadRaw
    // re-decodes the same file with new pre-filter controls.
    const bool new_file = std::exchange(new_file_, false);
    clear_image();
    std::vector<uint8_t> bytes;
    if (!file_.is_open() || !read_whole_stream(file_, bytes)) return kWrongHeader;
    const int64_t file_length = int64_t(bytes.size());

    auto session = std::make_unique<core::DecoderSession>();
    core::DecoderSession& s = *session;
    s.input = core::ByteSource(std::move(bytes));
    s.file_name = path_;
    s.ca_scale[0] = 1.0 + 0.0001 * control(tag::kCaRed);
    s.ca_scale[2] = 1.0 + 0.0001 * control(tag::kCaBlue);
    s.denoise_threshold = float(10.0 * control(tag::kWaveletNr));

    core::decode(s);
    if (!s.raw_count || s.image.empty()) return kWrongHeader;
    diagonal_ = s.diagonal_width != 0;
    diagonal_width_ = s.diagonal_width;
    // The length check: a file must reach past byte 103.
    if (file_length < 104) return kWrongHeader;

    copy_from_session(s);
    if (new_file) {
        image_id_ = persistence::image_id(s);
        bool exposure_stored = false;
        if (database_) {
            database_->RecordRawFile(image_id_, path_, shooting_.capture_text);
            if (panel_) {
                database_->LoadControls(image_id_, *panel_);
                exposure_stored = database_->stored_controls(image_id_).count(tag::kExposure) != 0;
            }
        }
        // A DNG says how much brighter than its data it is meant to be
        // shown (phones store several stops of headroom): that is its
        // exposure until the user or the stored positions say otherwise.
        if (!exposure_stored && controls_ && shooting_.suggested_exposure != 0) {
            const int position = exposure_position_for_stops(shooting_.suggested_exposure);
            if (position != 0) controls_->offer_file_exposure(position);
        }
    }
    cfa_colours_ = s.corner_colors;

    // First pass: white-balance multipliers only.
    s.apply_scaling = 0;
    core::balance_and_scale(s);
    camera_wb_[0] = s.as_shot_mul[1] != 0 ? s.as_shot_mul[0] / s.as_shot_mul[1] : 1.0f;
    camera_wb_[1] = s.as_shot_mul[1] != 0 ? s.as_shot_mul[2] / s.as_shot_mul[1] : 1.0f;
    camera_wb_[2] = 1.0f;
    for (float& v : camera_wb_)
        if (!std::isfinite(v)) v = 1.0f;
    status("Loading");

    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) camera_matrix_[i][j] = s.xyz_to_cam[i][j];
    {
        // Without a camera matrix the data counts as sRGB.
        const float none[3][3] = {};
        lab_ = lab_matrix_for_camera(s.no_camera_matrix ? none : camera_matrix_);
    }
    core::convert_to_output(s);
    // The working planes are three: a four-colour camera's colours are folded
    // into linear sRGB primaries when the planes are filled (the camera
    // matrix maps camera white to RGB white), so the planes then go to XYZ
    // with the sRGB primaries; together the two steps are final_matrix.
    const bool fold_colours = s.color_count == 4 && !s.no_camera_matrix;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            rgb_to_xyz_[i][j] = s.no_camera_matrix ? kSrgbToXyz[i][j]
                                : fold_colours     ? s.srgb_to_xyz[i][j]
                                                   : double(s.final_matrix[i][j]);

    // Red and blue sites of the 2x2 pattern (0 red, 1 and 3 green, 2 blue).
    // Four-colour sensors have no such sites: index 3 is a filter of its own.
    const auto& cc = cfa_colours_;
    bayer_layout_ = false;
    auto set_sites = [&](int rr, int rc, int br, int bc) {
        red_site_[0] = rr, red_site_[1] = rc, blue_site_[0] = br, blue_site_[1] = bc;
        bayer_layout_ = true;
    };
    if (s.cfa_pattern > 1 && s.color_count == 3) {
        if (cc[0] == 1 || cc[0] == 3) {
            if (cc[1] != 0) set_sites(1, 0, 0, 1);
            else set_sites(0, 1, 1, 0);
        } else if (cc[1] == 1 || cc[1] == 3) {
            if (cc[0] != 0) set_sites(1, 1, 0, 0);
            else set_sites(0, 0, 1, 1);
        }
    }
    status("Processing");
    progress(5);

    core::repair_bad_pixels(s);
    s.highlight_mode = control(tag::kRecovery) != 0 ? 1 : 0;
    s.apply_scaling = 1;
    core::balance_and_scale(s);
    core::prepare_for_interpolation(s);
    progress(15);
    offer_quick_picture(s, fold_colours);

    // Full-colour data (three samples per pixel, or no filter pattern) is
    // neither demosaiced nor refined.
    refine_ = s.samples_per_pixel != 3 && s.cfa_pattern != 0;
    if (s.samples_per_pixel != 3) core::ahd_demosaic(s);
    core::apply_dng_warps_after_demosaic(s);  // lens distortion needs full colour
    core::blend_clipped_highlights(s);
    progress(40);

    // Allocated only now, so the quick picture does not wait for their pages.
    const size_t padded = size_t(width_ + 5) * size_t(height_ + 5);
    working_.resize(width_, height_, padded);
    planes_from_session(s, fold_colours);
    draw_raw_histogram(s, width_, height_, raw_histogram_);
    session.reset();

    refine_unchecked();
    return kLoadOk;
}

void RawDocument::planes_from_session(const core::DecoderSession& s, bool fold_colours) {
    const int w = width_, h = height_;
    const int hg = s.half_grid;
    const size_t stride = size_t(s.image_width);
    float* p[3] = {working_[0], working_[1], working_[2]};
    float fold[3][4];
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k) fold[i][k] = s.cam_to_out[i][k];
#pragma omp parallel for schedule(static)
    for (int r = 0; r < h; ++r) {
        const size_t src_row = size_t(r >> hg);
        for (int c = 0; c < w; ++c) {
            const size_t src = src_row * stride + size_t(c >> hg);
            const size_t dst = size_t(r) * size_t(w) + size_t(c);
            if (size_t(c >> hg) >= stride || src >= s.image.size()) {
                p[0][dst] = p[1][dst] = p[2][dst] = 0;
                continue;
            }
            const core::Pixel4& px = s.image[src];
            if (!fold_colours) {
                for (int k = 0; k < 3; ++k) p[k][dst] = std::sqrt(float(px[size_t(k)]));
                continue;
            }
            // Colours outside the RGB gamut clip at its edges, as the
            // develop's own matrix stage clips them for three-colour cameras.
            for (int i = 0; i < 3; ++i) {
                float v = 0;
                for (int k = 0; k < 4; ++k) v += fold[i][k] * float(px[size_t(k)]);
                p[i][dst] = std::sqrt(std::min(std::max(v, 0.0f), 65535.0f));
            }
        }
    }
}

int RawDocument::LoadThumbnail() {
    try {
        clear_image();
        std::vector<uint8_t> bytes;
        if (!file_.is_open() || !read_whole_stream(file_, bytes)) return kWrongHeader;
        auto session = std::make_unique<core::DecoderSession>();
        core::DecoderSession& s = *session;
        s.input = core::ByteSource(std::move(bytes));
        s.file_name = path_;
        const int decoded = core::extract_thumbnail(s);
        if (!s.raw_count || !s.make[0]) return kWrongHeader;
        copy_from_session(s);

        Thumbnail& t = thumbnail_;
        if (decoded == 1 && !s.image.empty() && s.image_width > 0 && s.image_height > 0) {
            // A preview stored as raw data: its decoded samples as 8 bits.
            t.width = s.image_width;
            t.height = s.image_height;
            t.bytes.assign(size_t(t.width) * size_t(t.height) * 4, 0);
            for (size_t i = 0; i < s.image.size() && i * 4 + 3 < t.bytes.size(); ++i) {
                t.bytes[i * 4 + 0] = uint8_t(s.image[i][2] >> 8);
                t.bytes[i * 4 + 1] = uint8_t(s.image[i][1] >> 8);
                t.bytes[i * 4 + 2] = uint8_t(s.image[i][0] >> 8);
            }
        } else if (s.thumb_kind == 1 && !s.thumb_data.empty()) {
            t.jpeg = true;
            t.bytes = s.thumb_data;
            t.bytes.resize(size_t(std::clamp<int64_t>(s.thumb_data_length, 0, int64_t(s.thumb_data.size()))));
            t.width = s.thumb_width;
            t.height = s.thumb_height;
        } else if (s.thumb_kind == 2 && s.thumb_bitmap_width > 0 && s.thumb_bitmap_height > 0 &&
                   s.thumb_data.size() >= size_t(s.thumb_bitmap_width) * size_t(s.thumb_bitmap_height) * 4) {
            t.width = s.thumb_bitmap_width;
            t.height = s.thumb_bitmap_height;
            t.bytes.assign(s.thumb_data.begin(), s.thumb_data.begin() + std::ptrdiff_t(size_t(t.width) * size_t(t.height) * 4));
        } else {
            // No preview in the file: a small blank picture.
            t.width = t.height = 16;
            t.bytes.assign(16 * 16 * 4, 0);
        }
        return kLoadOk;
    } catch (const core::CoreFailure&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    clear_image();
    return kMemoryError;
}

}  // namespace ostel::develop
