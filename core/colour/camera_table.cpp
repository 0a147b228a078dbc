// Lookup in the built-in camera colour table.
#include <cstring>
#include <string>

#include "core/colour/camera_colour_table.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void apply_camera_table(DecoderSession& s, const char* make, const char* model) {
    const std::string name = std::string(make ? make : "") + " " + (model ? model : "");
    for (const CameraColourRow& row : kCameraColourTable) {
        const size_t len = std::strlen(row.prefix);
        if (name.compare(0, len, row.prefix) != 0) continue;
        // First match wins, even an empty row: it shields its camera from a
        // shorter key further down.
        if (row.black) s.black_level = static_cast<uint16_t>(row.black);
        if (row.maximum) s.white_level = row.maximum;
        if (row.trans[0] == 0) return;
        double xyz_cam[4][3];
        for (int i = 0; i < 12; ++i) xyz_cam[i / 3][i % 3] = row.trans[i] * 0.0001;
        set_camera_matrix(s, xyz_cam);
        return;
    }
}

}  // namespace ostel::core
