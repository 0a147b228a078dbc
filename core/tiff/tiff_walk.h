#pragma once
// Internal interface between the directory walker and its tag handlers.
#include <cstdint>

#include "core/session/decoder_session.h"
#include "core/tiff/tiff_io.h"
#include "core/tiff/tiff_state.h"

namespace ostel::core::tiff {

// One entry as read from a directory; the stream stands at its value.
struct Entry {
    unsigned tag = 0, type = 0, count = 0;
};

// Directory tags of the main tree. ifd is the table entry being filled; a
// handler may move it on to the next one.
void handle_ifd_tag(DecoderSession& s, IfdWalkState& w, int& ifd, int64_t base, const Entry& e);
// DNG colour and level tags; false when the tag is not one of them.
bool handle_dng_tag(DecoderSession& s, IfdWalkState& w, int64_t base, const Entry& e);

// Pattern word from the directory's filter pattern and plane map; false, with
// everything unchanged, when the pattern uses a value the map lacks.
bool build_pattern_word(DecoderSession& s, const IfdWalkState& w);
// Linearisation table of count values; the rest of the first 4096 entries
// repeat the last one and the white level becomes entry 4095.
void read_linearisation_table(DecoderSession& s, unsigned count);

// The colour profile of a DNG directory holding two calibrations or forward
// matrices: the matrix interpolated for the shot's white (as-shot neutral or
// white point) and the white balance that goes with it. False, leaving all
// as it was, when the directory has no such profile or it is unusable.
bool set_dng_profile_matrix(DecoderSession& s, IfdWalkState& w);

// The end-of-directory steps: private block, calibration and matrices.
void finish_directory(DecoderSession& s, IfdWalkState& w);
// Deciphers the private block recorded in w and walks it as a directory.
void walk_private_block(DecoderSession& s, const IfdWalkState& w);
// The keyed word stream used to decipher that block (32-bit words, stored
// most significant byte first), applied in place.
void decipher_words(uint8_t* data, size_t words, uint32_t key);

// True when the value of the entry lies inside the file; the walkers skip
// entries whose data does not.
bool entry_value_in_file(const DecoderSession& s, const Entry& e);

// Walks the directory at the current position: the entry count (none when
// it exceeds max_entries), then handle(entry) for each entry whose value lies
// inside the file, returning to the next entry after each.
template <typename Handler>
void walk_entries(DecoderSession& s, int64_t base, unsigned max_entries, Handler handle) {
    const unsigned claimed = s.read_u16();
    if (claimed > max_entries) return;
    const unsigned entries = bounded_entry_count(s, claimed);
    for (unsigned n = 0; n < entries; ++n) {
        if (!spend_work(s, 1)) return;
        Entry e;
        int64_t save = 0;
        s.read_ifd_entry(base, e.tag, e.type, e.count, save);
        if (entry_value_in_file(s, e)) handle(e);
        s.seek(save);
    }
}

}  // namespace ostel::core::tiff
