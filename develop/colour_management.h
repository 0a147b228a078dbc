#pragma once
// Colour management of the develop pipeline: the built-in camera, sRGB and
// ROMM profiles, ICC files for input and output, the transform of the
// 16-bit output buffer, the sRGB transfer table and the profile bytes that
// export embeds.
//
// How the document uses it in one develop run (for-display flag d):
//   1. ColourTransform ct(input choice, d ? display choice : output choice,
//      notifier). Profiles are opened and checked here; a profile that
//      cannot be used is reported once (kInputProfileError or
//      kOutputProfileError) and replaced: input by the camera space, output
//      by the built-in sRGB.
//   2. If ct.runs_matrix_stage(): ct.matrix_stage(buffer, n, rgb_to_xyz,
//      luminance or nullptr). The buffer is the interleaved R, G, B output
//      buffer (n = width * height pixels, linear 0..65535); afterwards it
//      holds XYZ in the 16-bit encoding where 1.0 is 32768. With a
//      luminance plane (n floats) the stage also writes min(Y, 32767) / 32767 there for
//      the fill-light stage, which may then change the buffer.
//   3. ct.apply(buffer, n): the built-in sRGB fast path or the transform,
//      in place. The buffer then holds the output space's R, G, B.
//   4. The final pass applies transfer_table() only when
//      ct.final_pass_applies_transfer().
//   5. ct.output_profile_bytes() are the bytes to embed on export.
// Nothing here prints, throws on bad profiles or depends on the number of
// OpenMP threads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "develop/notifier.h"

namespace ostel::develop {

// Kinds of a profile record; any value other than 1..3 is a profile file.
enum ProfileKind : int {
    kProfileFile = 0,
    kProfileCamera = 1,  // built-in camera space (input only): XYZ
    kProfileSrgb = 2,    // built-in sRGB
    kProfileRomm = 3,    // built-in ROMM
};

struct ProfileChoice {
    std::string name;
    std::string path;
    int kind = kProfileSrgb;
};

extern const char* const kInputProfileError;   // "... Input profile is wrong."
extern const char* const kOutputProfileError;  // "... output profile is wrong."

// Little CMS reports errors through a process-wide handler; this installs
// one that drops them. Safe to call any number of times from any thread.
void silence_colour_errors();

// The 65536-entry sRGB encoding table: entry i maps the linear value i to
// the encoded value, both on the 0..65535 scale, stored as whole floats.
const std::vector<float>& transfer_table();

// Serialised built-in profile for kProfileSrgb or kProfileRomm (empty for
// other kinds): the ICC bytes export embeds.
std::vector<uint8_t> builtin_profile_bytes(int kind);

// Reads an output ICC file: the first four bytes give the profile size
// (big-endian), and that many bytes from the start of the file are the
// profile. False when the file cannot be read or the size is below an ICC
// header or beyond the file.
bool read_icc_file(const std::string& path, std::vector<uint8_t>& bytes);

// What the profile lists need to know of an ICC file.
struct ProfileDescription {
    bool ok = false;
    uint32_t device_class = 0;  // ICC signature, e.g. 'mntr'
    uint32_t colour_space = 0;  // ICC signature, e.g. 'RGB '
    std::string description;    // may be empty
};
ProfileDescription describe_profile_file(const std::string& path);

// The name a list shows for a profile file: its description, or the file
// name without its last four characters when the description is empty.
std::string profile_display_name(const std::string& path, const std::string& description);

// The three lists of the colour-management bar, built-in entries first,
// then the RGB profiles found in `directories` (files matching "*.ic*",
// top level, in name order): input-class profiles to the input list,
// colour-space and display profiles to the output and display lists.
struct ProfileLists {
    std::vector<ProfileChoice> input, output, display;
};
ProfileLists gather_profile_lists(const std::vector<std::string>& directories);

// Folders searched for ICC files: OSTELRAW_ICC_DIR (a ':'-separated list)
// when set, else the user's and the system's colour folders.
std::vector<std::string> profile_directories();

// Differences between the screen and the exact transform on the 0..65535
// scale, over the colours a develop produces: the largest of any channel
// (in the deepest shadows, where an encoding curve is steepest; about 8
// levels of 8 bits) and the mean (under a quarter of an 8-bit level).
struct ScreenTransformTolerance {
    int worst;
    double mean;
};
inline constexpr ScreenTransformTolerance kScreenTransformTolerance{2200, 64.0};

class ColourTransform {
public:
    // How a transform through Little CMS is computed: exactly, for images
    // that are saved or must match them pixel for pixel, or through the
    // library's own precomputed tables, several times faster and within
    // kScreenTransformTolerance of the exact result, for reduced screen
    // images. The built-in sRGB fast path is exact either way.
    enum class Precision { exact, screen };
    ColourTransform(const ProfileChoice& input, const ProfileChoice& output, Notifier& notifier,
                    Precision precision = Precision::exact);
    ~ColourTransform();
    ColourTransform(const ColourTransform&) = delete;
    ColourTransform& operator=(const ColourTransform&) = delete;

    // Kinds in effect after any fallback.
    int input_kind() const { return input_kind_; }
    int output_kind() const { return output_kind_; }

    bool runs_matrix_stage() const { return input_kind_ == kProfileCamera; }
    bool uses_srgb_fast_path() const { return input_kind_ == kProfileCamera && output_kind_ == kProfileSrgb; }
    bool has_transform() const;
    bool final_pass_applies_transfer() const { return input_kind_ != kProfileCamera; }

    // Linear working RGB (0..65535) to XYZ with `rgb_to_xyz` (D65), adapted
    // to D50 unless the fast path follows, halved (1.0 becomes 32768) and
    // clamped to the encoding's 0..65535. The luminance plane gets Y on the
    // 0..1 scale (Y / 32767, at most 1).
    void matrix_stage(uint16_t* pixels, size_t count, const double (&rgb_to_xyz)[3][3],
                      float* luminance) const;

    // Converts `count` interleaved pixels in place into the output space.
    void apply(uint16_t* pixels, size_t count) const;

    // The two steps for callers that visit the image in pieces, each piece
    // in the calling thread; the results are those of the whole-buffer
    // calls. The matrix is the one matrix_stage() uses for `rgb_to_xyz`.
    using StageMatrix = std::array<std::array<double, 3>, 3>;
    StageMatrix stage_matrix(const double (&rgb_to_xyz)[3][3]) const;
    void matrix_span(uint16_t* pixels, size_t count, const StageMatrix& m, float* luminance) const;
    void apply_span(uint16_t* pixels, size_t count) const;
    // matrix_span, the fill-light ratio and apply_span in one pass, with
    // the same results. `fill_ratio`, when given, holds the ratio for each
    // luminance level min(Y, 32767) (see fill_light_ratios()).
    void matrix_and_apply_span(uint16_t* pixels, size_t count, const StageMatrix& m, const double* fill_ratio) const;

    const std::vector<uint8_t>& output_profile_bytes() const { return output_bytes_; }

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    int input_kind_ = kProfileCamera;
    int output_kind_ = kProfileSrgb;
    std::vector<uint8_t> output_bytes_;
};

}  // namespace ostel::develop
