#pragma once
// RawDocument: the one open raw file, its decoded planes and the develop
// pipeline that turns them into the 16-bit output image, the 8-bit display
// image and the two histogram pictures.
//
// Use without a GUI (command line, export, tests):
//
//   ostel::develop::MapControlSource controls;   // initial positions
//   controls.set(ostel::develop::tag::kExposure, 5);
//   ostel::develop::RawDocument doc;
//   doc.set_controls(&controls);                 // read at every stage
//   doc.set_notifier(&my_notifier);              // status, progress, messages
//   int status = doc.open("/path/IMG_0001.CR2"); // decode + develop for screen
//   if (status == ostel::develop::kLoadOk) {
//       doc.Develop(false);                      // develop for saving
//       const auto& rgb = doc.output();          // R,G,B interleaved
//       int w = doc.width(), h = doc.height();
//       const auto& icc = doc.output_profile();  // profile bytes to embed
//       const ShootingData& shot = doc.shooting();
//   }
//
// open() returns the load status; OnOpenDocument() is the same open with
// the failure shown through the notifier's message(). Control changes re-run
// the level they affect: Develop(true) for tone, curve and profile
// controls, CalculateWhiteBalance() + Develop(true) for white balance,
// PostProcess() for the filter controls, open()/LoadRaw() again for the
// pre-filter controls (wavelet noise reduction, aberration, recovery).
//
// A view develops only what it shows (see set_viewport):
//
//   doc.set_viewport(Viewport::fit(window_w, window_h));  // before open()
//   doc.open(path);                         // screen() holds the fitted image
//   doc.set_viewport(Viewport::area(1, x, y, w, h));      // 100 %
//   if (!doc.screen_covers(Viewport::area(1, x, y, w, h))) doc.Develop(true);
//   controls.set(tag::kExposure, 3); doc.Develop(true);  // the new screen()
//   doc.Develop(false);                     // whole image for saving: output()
//
// The controls and the notifier are not owned and must outlive the calls.
// Without a control source the document uses the fixed values of a missing
// main frame: all sliders 0, boxes off, mixer sliders 50, camera white
// balance, identity curve, camera-space input and built-in sRGB output.
//
// Nothing here throws: running out of memory inside the core or the
// pipeline becomes status kMemoryError (LoadRaw) or the message
// "Memory allocation error" (later runs), and the document is left empty.
#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/session/large_buffer.h"
#include "develop/control_source.h"
#include "develop/control_tags.h"
#include "develop/filters.h"
#include "develop/histogram.h"
#include "develop/notifier.h"
#include "develop/region_develop.h"
#include "develop/rgb_planes.h"
#include "develop/tone.h"

namespace ostel::core {
class DecoderSession;
}
namespace ostel::persistence {
class ControlPanel;
class SettingsDatabase;
}  // namespace ostel::persistence

namespace ostel::develop {

// The developed picture: R, G, B samples interleaved, row by row.
using Picture16 = core::LargeBuffer<uint16_t>;

// Results of a load; the values the open step maps to its messages.
enum LoadStatus : int {
    kLoadOk = 0,
    kFileError = 2,      // "File error"
    kWrongHeader = 3,    // "Wrong file header": not decodable or too short
    kMemoryError = 4,    // "Memory allocation error"
    kOpenFailed = -1,    // the path could not be opened ("Error opening file")
};

// The message shown for a load status; empty for success.
std::string load_status_message(int status);

// Options from the application settings, read once per document.
struct DocumentOptions {
    int artifact_level = 1;       // colour-artifact suppression passes, 1..3
    bool chroma_prefilter = false;
    int luma_nr_type = 0;         // kept only; one method exists
    int chroma_nr_type = 0;       // 0 uniform median, 1 diffusion
    // From the stored values of "CHRec" (level index), "CPF", "LNRType",
    // "CNRType", with the document's range rules.
    static DocumentOptions from_settings(int chrec, int cpf, int lnr_type, int cnr_type);
};

// What the document does with the settings database.
enum class DatabaseUse {
    record_restore_save,  // the desktop program: also saves before every develop
    record_restore,       // the command line: reads stored positions, never writes them
};

// Shooting data copied from the file.
struct ShootingData {
    std::string make, model;
    float iso = 0, shutter = 0, aperture = 0, focal_length = 0;
    int black_level = 0;
    int orientation = 0;        // the decoder's orientation code (0 as stored, 3, 5, 6 turned)
    int data_errors = 0;        // reads the loader found short or corrupt: the image is incomplete
    int64_t capture_time = 0;   // seconds since 1970 in the camera's clock
    std::string capture_text;   // "YYYY-MM-DD hh:mm:ss", empty when unknown
    // Exposure the file suggests, in stops (a DNG's baseline exposure): for
    // the program to offer as the exposure default; not applied by itself,
    // so that a DNG develops like the camera's own raw file unless asked.
    double suggested_exposure = 0;
};

// What the view shows, for the screen develop. scale_down 0: the whole image
// fitted into a window of width x height screen pixels (the document picks
// the whole-number reduction that fits). scale_down n >= 1: one screen
// pixel per n x n image pixels (1 is 100 %), and x, y, width, height the
// visible rectangle in image pixels.
struct Viewport {
    int scale_down = 0;
    int x = 0, y = 0, width = 0, height = 0;
    static Viewport fit(int window_width, int window_height) { return {0, 0, 0, window_width, window_height}; }
    static Viewport area(int scale_down, int x, int y, int width, int height) {
        return {scale_down, x, y, width, height};
    }
};

// The image of the last screen develop: `width` x `height` screen pixels
// showing the image from pixel (x, y), each screen pixel standing for
// scale_down x scale_down image pixels (their mean before developing).
// At scale_down 1 the values are exactly those of the saved image there.
struct ScreenImage {
    int scale_down = 0;          // 0 before the first screen develop
    int x = 0, y = 0;            // image pixel under the top-left screen pixel
    int width = 0, height = 0;   // screen pixels
    std::vector<uint8_t> pixels; // blue, green, red, 0 (with clipping warnings when on)
    std::vector<uint16_t> rgb;   // the developed R, G, B samples
    // The image rectangle covered, in image pixels (clipped to the image).
    int image_width = 0, image_height = 0;
};

// How far a reduced screen image (scale_down above 1) may lie from the mean
// of the saved image's 8-bit values over each block: the screen develops
// the mean of the linear values, so blocks across strong edges differ
// (the tone stages are not linear), the more so the noisier and busier the
// picture. On 8-bit samples: the mean difference, and the share of samples
// further than `sample` levels off.
struct FitTolerance {
    double mean;
    double sample;
    double share_beyond;
};
inline constexpr FitTolerance kFitTolerance{4.0, 12.0, 0.08};
// How far the quick picture of a load (set_quick_picture_handler) may lie
// from the fit image that follows at the same reduction. Its cells are
// neither demosaiced nor refined and its clipped highlights are blended per
// cell; and the levels statistics come from the cells, less noisy than the
// pixels, so their black point sits higher. Single samples stay as close
// as the fit image's; the mean may be twice as far off.
inline constexpr FitTolerance kQuickTolerance{8.0, 12.0, 0.08};

// Embedded preview of a preview-only open.
struct Thumbnail {
    std::vector<uint8_t> bytes;  // JPEG data, or BGR0 pixels (4 bytes each)
    bool jpeg = false;
    int width = 0, height = 0;   // pixels (for JPEG as the file states them)
};

class RawDocument {
public:
    RawDocument();
    explicit RawDocument(const DocumentOptions& options);
    RawDocument(const RawDocument&) = delete;
    RawDocument& operator=(const RawDocument&) = delete;
    ~RawDocument();

    void set_controls(ControlSource* controls) { controls_ = controls; }
    void set_notifier(Notifier* notifier);
    void set_options(const DocumentOptions& options) { options_ = options; }
    // Preview-only documents read only the shooting data and the thumbnail.
    void set_preview_only(bool on) { preview_only_ = on; }
    // Off for a document that is only developed for saving (the command
    // line): loading then stops before the screen develop, so there is no
    // display image or output histogram and ready() stays false until the
    // first Develop(false). The status texts up to that point are the same.
    void set_screen_develop(bool on) { screen_develop_ = on; }
    // A quick first picture while a file loads, for a view that would
    // otherwise wait for demosaicing and refinement: right after decoding,
    // one pixel per two-by-two sensor cell (no demosaic, no refinement, no
    // filters), reduced by block means to about the viewport's fit size
    // and developed with the current controls, is handed to `handler` on
    // the loading thread. Its scale_down counts image pixels per picture
    // pixel, as in screen(). Only mosaic sensors with every colour in each
    // two-by-two cell have it, and only with a viewport and the screen
    // develop on; other files, and a picture that runs out of memory, go
    // without. It changes nothing of the document: the screen image and
    // everything saved are those of a load without it. Empty: none.
    using QuickPictureHandler = std::function<void(const ScreenImage&)>;
    void set_quick_picture_handler(QuickPictureHandler handler) { quick_picture_ = std::move(handler); }
    // The settings database and the panel whose positions it stores (not
    // owned). With them, a newly opened file is recorded and the positions
    // stored for its image are restored into the panel before the pipeline
    // reads them; a re-decode of the same file (LoadRaw() called again)
    // does neither. Every develop run first saves the panel's positions
    // ("Failed to save controls" when that fails), unless `use` says
    // otherwise. A missing or closed database is reported ("Could not
    // import RAWDB to doc - it is NULL") and the document goes on without
    // records. Without this call the document never touches a database.
    void use_database(persistence::SettingsDatabase* database, persistence::ControlPanel* panel,
                      DatabaseUse use = DatabaseUse::record_restore_save);

    // The screen develop. With a viewport set, every develop for the screen
    // (Develop(true), the end of loading, PostProcess, PickWhiteBalance)
    // develops only what the viewport shows, at the screen's resolution,
    // into screen(); the full-size display buffer and output stay empty and
    // ready() is set as before. The visible area gets a margin of
    // kScreenMargin screen pixels on each side, so small pans need no new
    // develop (see screen_covers). The output histogram then comes from a
    // reduced copy of the whole image. Develop(false) still develops the
    // whole image for saving. Setting a viewport develops nothing by itself:
    // call Develop(true) when screen_covers() says the new view is not in
    // the last screen image.
    static constexpr int kScreenMargin = 64;
    void set_viewport(const Viewport& v) { viewport_ = v; }
    void clear_viewport() { viewport_.reset(); }
    bool has_viewport() const { return viewport_.has_value(); }
    const ScreenImage& screen() const { return screen_; }
    // True when the last screen image holds everything `v` shows at the
    // same reduction.
    bool screen_covers(const Viewport& v) const;
    // The reduction a fit viewport uses for this image.
    int fit_scale_down(int window_width, int window_height) const;
    // At 100 % (a viewport with scale_down 1), PostProcess with a filter on
    // filters only the screen area with a halo of kFilterHalo pixels and
    // shows it at once; the whole image is filtered later, by
    // FinishFilters() (for a view when it is idle) or by the next run that
    // needs the whole image (every Develop, PickWhiteBalance). Until then
    // the screen image is close to, not equal to, the saved image: levels
    // and fill light take their statistics from the planes of the last
    // whole-image filter run (or the unfiltered image) and the filters see
    // only the area. working_planes() are those planes while
    // filters_pending() is true.
    static constexpr int kFilterHalo = 96;
    bool filters_pending() const { return filters_pending_; }
    void FinishFilters();

    // Opens the file and loads it (LoadRaw, or LoadThumbnail in preview-only
    // mode). Returns the load status; the previous image is gone either way.
    int open(const std::string& path);
    // The same, with a failure shown as a message; always true.
    bool OnOpenDocument(const std::string& path);

    // Pipeline levels.
    int LoadRaw();
    int LoadThumbnail();
    void RefineImage();
    void CalculateWhiteBalance();
    // Measures the neutral point at (column, row) of the working image, then
    // runs CalculateWhiteBalance() and Develop(true). The pick is used in
    // custom white-balance mode.
    void PickWhiteBalance(int column, int row);
    void PostProcess();
    void Develop(bool for_display);
    void ProcessImage(std::array<double, 3>& multipliers, bool for_display);
    void UpdateDisplay(bool for_display);
    void UpdateHistogram();

    // State and results.
    bool ready() const { return ready_; }
    bool loaded() const { return !source_.plane[0].empty(); }
    const std::string& path() const { return path_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Develop result: width * height pixels of R, G, B.
    const Picture16& output() const { return output_; }
    // Hands the develop result over (the document keeps its planes and is
    // no longer ready), so a caller that only saves the picture can let the
    // document and its planes go before writing.
    Picture16 take_output() {
        ready_ = false;
        return std::move(output_);
    }
    // BGR0 display image of display_width() x display_height() pixels.
    const std::vector<uint8_t>& display() const { return display_; }
    int display_width() const { return width_ > 2 * kDisplayBorder ? width_ - 2 * kDisplayBorder : 0; }
    int display_height() const { return height_ > 2 * kDisplayBorder ? height_ - 2 * kDisplayBorder : 0; }
    const HistogramImage& raw_histogram() const { return raw_histogram_; }
    const HistogramImage& output_histogram() const { return output_histogram_; }
    // Profile of the last develop run's output space (what export embeds).
    const std::vector<uint8_t>& output_profile() const { return output_profile_; }
    const ShootingData& shooting() const { return shooting_; }
    // Id of the open file's sensor image (0 when none), the key of its rows
    // in the settings database.
    int32_t image_id() const { return image_id_; }
    const Thumbnail& thumbnail() const { return thumbnail_; }
    const std::array<double, 3>& white_balance() const { return wb_; }
    // R/G and B/G of the camera's as-shot multipliers, and 1.
    const std::array<float, 3>& camera_white_balance() const { return camera_wb_; }
    // The planes the develop reads: the filtered copy, or the source planes
    // themselves when no filter is on.
    const RgbPlanes& working_planes() const { return develop_planes(); }
    const RgbPlanes& source_planes() const { return source_; }
    const Table16& curve_table() const { return curve_; }
    bool diagonal_sensor() const { return diagonal_; }
    const std::array<int, 4>& cfa_colours() const { return cfa_colours_; }

private:
    const RgbPlanes& develop_planes() const { return working_.plane[0].empty() ? source_ : working_; }
    double control(int tag) const;
    std::string control_text(int tag) const;
    void status(const char* text);
    void progress(int percent);
    void message(const std::string& text);
    void clear_image();
    int load_raw_checked();
    void copy_from_session(const core::DecoderSession& s);
    // The pipeline levels without the memory guard; the public operations
    // wrap them, LoadRaw runs them inside its own guard.
    void refine_unchecked();
    void white_balance_unchecked();
    void post_process_unchecked();
    void develop_unchecked(bool for_display);
    // The decoded image as square roots of its samples; with fold_colours the
    // four camera colours are first mapped to linear sRGB by the camera matrix.
    void planes_from_session(const core::DecoderSession& s, bool fold_colours);
    void fill_curve_table();
    void memory_failure();
    void save_controls();
    // Gains, tables, colour transform and whole-image statistics of one
    // develop run, from the current controls.
    DevelopRecipe make_recipe(const std::array<double, 3>& multipliers, bool for_display) {
        return make_recipe(multipliers, for_display, develop_planes(), true);
    }
    // The same with the whole-image statistics taken from `statistics`;
    // `remember`: the planes are the develop's own, so the results are kept
    // for the next runs, and the output profile is the run's.
    DevelopRecipe make_recipe(const std::array<double, 3>& multipliers, bool for_display, const RgbPlanes& statistics,
                              bool remember);
    // White-balance multipliers of the current mode for these planes
    // (without a pending pick), reduced `reduction` times from the image.
    std::array<double, 3> white_balance_for(const RgbPlanes& planes, int reduction = 1) const;
    void offer_quick_picture(core::DecoderSession& s, bool fold_colours);
    void develop_screen();
    void develop_filtered_area(const FilterControls& filters);
    void finish_filters_unchecked();
    FilterControls filter_controls() const;
    void screen_pixels_from_rgb();
    const RgbPlanes& reduced_planes(int factor);

    ControlSource* controls_ = nullptr;
    Notifier* notifier_ = nullptr;
    Notifier silent_;
    persistence::SettingsDatabase* database_ = nullptr;
    persistence::ControlPanel* panel_ = nullptr;
    DatabaseUse database_use_ = DatabaseUse::record_restore_save;
    bool new_file_ = false;  // the next LoadRaw decodes a newly opened file
    int32_t image_id_ = 0;
    DocumentOptions options_;
    bool preview_only_ = false;
    bool screen_develop_ = true;
    QuickPictureHandler quick_picture_;

    std::string path_;
    std::ifstream file_;
    int width_ = 3284, height_ = 2458;
    RgbPlanes working_, source_;
    Picture16 output_;
    std::vector<uint8_t> display_;
    Table16 curve_;
    HistogramImage raw_histogram_, output_histogram_;

    std::array<double, 3> wb_{1.0, 1.0, 1.0};
    std::array<float, 3> camera_wb_{1.0f, 1.0f, 1.0f};
    std::array<double, 2> picked_{1.0, 1.0};
    bool pick_pending_ = false;

    double rgb_to_xyz_[3][3] = {};
    float camera_matrix_[3][3] = {};
    LabMatrix lab_ = lab_matrix_for_camera(camera_matrix_);  // camera RGB to CIELab, for the filters
    std::array<int, 4> cfa_colours_{};
    // Row and column parity of the red and blue sites; valid only for a
    // two-by-two Bayer layout.
    int red_site_[2] = {0, 0}, blue_site_[2] = {0, 0};
    bool bayer_layout_ = false;
    bool refine_ = false;  // mosaic data: the refinement stages apply
    bool diagonal_ = false;
    int diagonal_width_ = 0;

    std::optional<Viewport> viewport_;
    bool filters_pending_ = false;
    ScreenImage screen_;
    // Planes of the develop, reduced for the screen; both caches belong to
    // one generation of the planes.
    uint64_t planes_generation_ = 0;
    struct Reduced {
        int factor = 0;
        uint64_t generation = 0;
        RgbPlanes planes;
    };
    std::array<Reduced, 2> reduced_;
    // Whole-image statistics of the last runs, reused while their inputs
    // are unchanged.
    struct LevelsMemo {
        uint64_t generation = 0;
        std::array<double, 3> gain{};
        LevelCounts counts;  // histograms after exposure; the shares only pick levels from them
    } levels_memo_;
    // Colour transforms of the last runs between built-in profiles, by
    // profile choice: building one can take longer than a screen develop.
    // Transforms with a profile file are built at every run, so a file
    // changed on disk or one that cannot be used behaves as before.
    struct TransformMemo {
        ProfileChoice input, output;
        ColourTransform::Precision precision = ColourTransform::Precision::exact;
        std::shared_ptr<const ColourTransform> transform;
    };
    // Two pairs of profiles, each at both precisions.
    std::array<TransformMemo, 4> transforms_;
    std::shared_ptr<const ColourTransform> colour_transform(const ProfileChoice& input, const ProfileChoice& output,
                                                            ColourTransform::Precision precision);
    struct FillMemo {
        uint64_t generation = 0;
        std::array<double, 3> gain{};
        Table16 levels;
        ColourTransform::StageMatrix matrix{};
        std::vector<double> row_sums;
    } fill_memo_;

    ShootingData shooting_;
    Thumbnail thumbnail_;
    std::vector<uint8_t> output_profile_;
    bool ready_ = false;
};

}  // namespace ostel::develop
