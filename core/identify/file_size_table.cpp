// Cameras that write bare sensor dumps with no header: the file size alone
// names the camera.
#include <array>
#include <cstdint>

#include "core/identify/identify_steps.h"
#include "core/identify/parsers.h"

namespace ostel::core {
namespace {

struct FileSizeRow {
    uint32_t size;
    const char* make;   // at most 11 characters
    const char* model;  // at most 18 characters
    uint8_t with_jpeg;  // 1: metadata lives in a companion JPEG
};

constexpr std::array<FileSizeRow, 75> kFileSizeTable = {{
    {62464, "Kodak", "DC20", 0},
    {124928, "Kodak", "DC20", 0},
    {1652736, "Kodak", "DCS200", 0},
    {4159302, "Kodak", "C330", 0},
    {4162462, "Kodak", "C330", 0},
    {460800, "Kodak", "C603v", 0},
    {614400, "Kodak", "C603v", 0},
    {6163328, "Kodak", "C603", 0},
    {6166488, "Kodak", "C603", 0},
    {9116448, "Kodak", "C603y", 0},
    {311696, "ST Micro", "STV680 VGA", 0},
    {787456, "Creative", "PC-CAM 600", 0},
    {1138688, "Minolta", "RD175", 0},
    {3840000, "Foculus", "531C", 0},
    {786432, "AVT", "F-080C", 0},
    {1447680, "AVT", "F-145C", 0},
    {1920000, "AVT", "F-201C", 0},
    {5067304, "AVT", "F-510C", 0},
    {10134608, "AVT", "F-510C", 0},
    {16157136, "AVT", "F-810C", 0},
    {1409024, "Sony", "XCD-SX910CR", 0},
    {2818048, "Sony", "XCD-SX910CR", 0},
    {3884928, "Micron", "2010", 0},
    {6624000, "Pixelink", "A782", 0},
    {13248000, "Pixelink", "A782", 0},
    {6291456, "RoverShot", "3320AF", 0},
    {6553440, "Canon", "PowerShot A460", 0},
    {6653280, "Canon", "PowerShot A530", 0},
    {6573120, "Canon", "PowerShot A610", 0},
    {9219600, "Canon", "PowerShot A620", 0},
    {9243240, "Canon", "PowerShot A470", 0},
    {10341600, "Canon", "PowerShot A720", 0},
    {10383120, "Canon", "PowerShot A630", 0},
    {12945240, "Canon", "PowerShot A640", 0},
    {15636240, "Canon", "PowerShot A650", 0},
    {5298000, "Canon", "PowerShot SD300", 0},
    {7710960, "Canon", "PowerShot S3 IS", 0},
    {15467760, "Canon", "PowerShot SX110 IS", 0},
    {5939200, "OLYMPUS", "C770UZ", 0},
    {1581060, "NIKON", "E900", 1},
    {2465792, "NIKON", "E950", 1},
    {2940928, "NIKON", "E2100", 1},
    {4771840, "NIKON", "E990", 1},
    {4775936, "NIKON", "E3700", 1},
    {5869568, "NIKON", "E4300", 1},
    {5865472, "NIKON", "E4500", 1},
    {7438336, "NIKON", "E5000", 1},
    {8998912, "NIKON", "COOLPIX S6", 1},
    {1976352, "CASIO", "QV-2000UX", 1},
    {3217760, "CASIO", "QV-3*00EX", 1},
    {6218368, "CASIO", "QV-5700", 1},
    {6054400, "CASIO", "QV-R41", 1},
    {7530816, "CASIO", "QV-R51", 1},
    {7684000, "CASIO", "QV-4000", 1},
    {2937856, "CASIO", "EX-S20", 1},
    {4948608, "CASIO", "EX-S100", 1},
    {7542528, "CASIO", "EX-Z50", 1},
    {7753344, "CASIO", "EX-Z55", 1},
    {7816704, "CASIO", "EX-Z60", 1},
    {10843712, "CASIO", "EX-Z75", 1},
    {10834368, "CASIO", "EX-Z750", 1},
    {12310144, "CASIO", "EX-Z850", 1},
    {7426656, "CASIO", "EX-P505", 1},
    {9313536, "CASIO", "EX-P600", 1},
    {10979200, "CASIO", "EX-P700", 1},
    {3178560, "PENTAX", "Optio S", 1},
    {4841984, "PENTAX", "Optio S", 1},
    {6114240, "PENTAX", "Optio S4", 1},
    {10702848, "PENTAX", "Optio 750Z", 1},
    {15980544, "AGFAPHOTO", "DC-833m", 1},
    {16098048, "SAMSUNG", "S85", 1},
    {16215552, "SAMSUNG", "S85", 1},
    {12582980, "Sinar", "", 0},
    {33292868, "Sinar", "", 0},
    {44390468, "Sinar", "", 0},
}};

}  // namespace

bool apply_file_size_table(DecoderSession& s, int64_t file_size) {
    bool matched = false;
    for (const FileSizeRow& row : kFileSizeTable) {
        if (file_size != row.size) continue;
        matched = true;
        set_text(s.make, row.make);
        set_text(s.model, row.model);
        if (row.with_jpeg) parse_external_jpeg(s);
    }
    return matched;
}

}  // namespace ostel::core
