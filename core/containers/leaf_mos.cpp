// Leaf metadata: a chain of "PKTS" packets, each a 40-byte name and a data
// block that may itself hold packets. Most values are decimal text.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/containers/container_io.h"
#include "core/identify/limits.h"
#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

constexpr int64_t kHeaderBytes = 4 + 4 + 40 + 4;
// Text values are short; this bounds the copy made of each one.
constexpr int64_t kMaxTextBytes = 1024;
// Rotation values are angles; the bound keeps their arithmetic in range.
constexpr int kMaxAngle = 1000000;

constexpr const char* kBackNames[21] = {
    "",         "DCB2",     "Volare",   "Cantare",   "CMost",     "Valeo 6",   "Valeo 11",
    "Valeo 22", "Valeo 11p", "Valeo 17", "",          "Aptus 17",  "Aptus 22",  "Aptus 75",
    "Aptus 65", "Aptus 54S", "Aptus 65S", "Aptus 75S", "AFi 5",     "AFi 6",     "AFi 7"};
constexpr uint8_t kPatternByRotation[4] = {0x94, 0x61, 0x16, 0x49};

// Reads whitespace-separated decimal values from a packet's text.
class TextValues {
public:
    TextValues(DecoderSession& s, int64_t length) {
        text_.resize(static_cast<size_t>(std::clamp<int64_t>(length, 0, kMaxTextBytes)));
        text_.resize(s.read(&text_[0], 1, text_.size()));
        cursor_ = text_.c_str();
    }
    bool next_int(long& out) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(cursor_, &end, 10);
        if (end == cursor_ || errno == ERANGE) return false;
        cursor_ = end;
        out = std::clamp<long>(v, -kMaxAngle, kMaxAngle);
        return true;
    }
    bool next_float(float& out) {
        char* end = nullptr;
        const double v = std::strtod(cursor_, &end);
        if (end == cursor_ || !std::isfinite(v) || std::fabs(v) > 3.4e38) return false;
        cursor_ = end;
        out = static_cast<float>(v);
        return true;
    }

private:
    std::string text_;
    const char* cursor_;
};

struct MosWalk {
    int planes = 0;
    int rotation = 0;
};

void read_packet(DecoderSession& s, MosWalk& walk, const char* name, int64_t data, int64_t length) {
    auto is = [name](const char* n) { return std::strcmp(name, n) == 0; };
    if (is("JPEG_preview_data")) {
        s.thumb_offset = data;
        s.thumb_length = length;
        return;
    }
    if (is("icc_camera_profile")) {
        s.icc_offset = data;
        s.icc_length = length;
        return;
    }
    if (is("icc_camera_to_tone_matrix")) {
        float romm[3][3];
        for (int i = 0; i < 9; ++i) romm[i / 3][i % 3] = containers::ieee_single(s.read_u32());
        for (int i = 0; i < 9; ++i)
            if (!std::isfinite(romm[i / 3][i % 3])) return;
        set_romm_matrix(s, romm);
        return;
    }
    TextValues text(s, length);
    long v = 0;
    if (is("ShootObj_back_type")) {
        if (text.next_int(v) && v >= 0 && v < 21) set_text(s.model, kBackNames[v]);
    } else if (is("CaptProf_color_matrix")) {
        float romm[3][3];
        for (int i = 0; i < 9; ++i)
            if (!text.next_float(romm[i / 3][i % 3])) return;
        set_romm_matrix(s, romm);
    } else if (is("CaptProf_number_of_planes")) {
        if (text.next_int(v)) walk.planes = static_cast<int>(v);
    } else if (is("CaptProf_raw_data_rotation")) {
        if (text.next_int(v)) s.orientation = static_cast<int>(v);
    } else if (is("CaptProf_mosaic_pattern")) {
        for (int c = 0; c < 4 && text.next_int(v); ++c)
            if (v == 1) walk.rotation = c ^ (c >> 1);
    } else if (is("ImgProf_rotation_angle")) {
        if (text.next_int(v)) {
            const int previous = std::clamp(s.orientation, -kMaxAngle, kMaxAngle);
            s.orientation = static_cast<int>(v) - previous;
        }
    } else if (is("NeutObj_neutrals") && s.as_shot_mul[0] == 0) {
        long n[4];
        for (long& x : n)
            if (!text.next_int(x)) return;
        // A zero neutral has no reciprocal; that channel keeps its value.
        for (int c = 0; c < 3; ++c)
            if (n[c + 1] != 0) s.as_shot_mul[c] = static_cast<float>(n[0]) / static_cast<float>(n[c + 1]);
    }
}

// Walks the packets in [offset, end); nested packets stay inside their parent.
void walk_packets(DecoderSession& s, int64_t offset, int64_t end) {
    limits::DepthGuard depth(s);
    if (!depth) return;
    MosWalk walk;
    for (int64_t at = offset; at + kHeaderBytes <= end;) {
        s.seek(at);
        char magic[4];
        if (s.read(magic, 1, 4) != 4 || std::memcmp(magic, "PKTS", 4) != 0) break;
        s.read_u32();
        char name[41] = {};
        s.read(name, 1, 40);
        const int64_t length = s.read_u32();
        const int64_t data = s.tell();
        if (length > end - data) break;
        read_packet(s, walk, name, data, length);
        walk_packets(s, data, data + length);
        at = data + length;
    }
    if (walk.planes)
        s.cfa_pattern = walk.planes == 1
                            ? 0x01010101u * kPatternByRotation[(s.orientation / 90 + walk.rotation) & 3]
                            : 0;
}

}  // namespace

void read_mos(DecoderSession& s, int64_t offset) {
    if (!limits::within_file(s, offset, 0)) return;
    walk_packets(s, offset, s.file_size());
}

}  // namespace ostel::core
