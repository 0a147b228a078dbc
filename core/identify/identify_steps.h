#pragma once
// The steps of identification, in the order identify_file runs them. Kept
// separate so each can be exercised on a session prepared by hand.
#include <cstddef>
#include <cstdint>

#include "core/session/decoder_session.h"

namespace ostel::core {

inline constexpr size_t kHeaderBytes = 32;

// Which container the first 32 bytes announce; the first test that matches wins.
enum class Container {
    phase_one,
    ciff,
    tiff,
    jpeg_exif,
    contax,
    logitech,
    quicktake_100,
    quicktake_150,
    raf,
    riff,
    nokia,
    rollei,
    sinar_ia,
    mrw,
    foveon,
    cine,
    unknown,  // fall back to the file-size table
};

struct MagicMatch {
    Container container = Container::unknown;
    int position = 0;  // where the Phase One marker was found
};

MagicMatch match_header_magic(const uint8_t (&header)[kHeaderBytes]);

// Applies every file-size row that matches, in order (later rows win); rows
// flagged for it read the companion JPEG's metadata. True when any matched.
bool apply_file_size_table(DecoderSession& s, int64_t file_size);

// Maker names, the model cut and trim rules, and the forced terminators.
void normalise_names(DecoderSession& s);

// Visible size from the stored size, diagonal sensors and fixed corrections.
void fix_dimensions(DecoderSession& s);

// DNG: pattern, shot count or colours from the samples, and the loader.
void apply_dng_rules(DecoderSession& s);

// Maker rules that run before the per-camera chain. Returns false when they
// settle the camera themselves and the chain is to be skipped.
bool apply_maker_rules(DecoderSession& s, const uint8_t (&header)[kHeaderBytes]);

// Model text, default pattern, colour table and thumbnail size (non-DNG only).
void finish_non_dng(DecoderSession& s);

// Levels, refusals, colour letters, stored size and the second-green split.
void finish_common(DecoderSession& s);

// Marks the second green of each 2x2 block with colour index 3 in a
// three-colour pattern word.
uint32_t split_second_green(uint32_t pattern);

// Refuses (raw_count = 0) a file whose sizes, counts or offsets would be
// unsafe to hand to a loader.
void apply_global_guards(DecoderSession& s);

// Reads the frame size of a JPEG stream at offset; false when none is found.
bool read_jpeg_frame_size(DecoderSession& s, int64_t offset, int& width, int& height);

}  // namespace ostel::core
