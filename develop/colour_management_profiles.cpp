// Built-in profiles, ICC files and the profile lists.
#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "develop/colour_management.h"
#include "develop/colour_management_internal.h"

namespace ostel::develop {

const char* const kInputProfileError = "Ostel RAW Color Management error, Input profile is wrong.";
const char* const kOutputProfileError = "Ostel RAW Color Management error, output profile is wrong.";

namespace {

constexpr char kMaker[] = "Ostel RAW";
constexpr char kNotice[] = "No copyright, use freely";

// Smallest valid ICC file: the 128-byte header and the tag count.
constexpr uint32_t kIccHeaderSize = 132;
// No display or output profile comes near this; it bounds the allocation.
constexpr uint64_t kMaxIccSize = uint64_t(64) << 20;

void drop_error(cmsContext, cmsUInt32Number, const char*) {}

bool write_text_tag(cmsHPROFILE h, cmsTagSignature sig, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    if (!mlu) return false;
    const bool ok = cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(h, sig, mlu);
    cmsMLUfree(mlu);
    return ok;
}

bool tag_builtin(cmsHPROFILE h, const char* description, const char* model) {
    // Version 2 so that the descriptions are stored as plain text
    // descriptions, which every reader of embedded profiles understands.
    cmsSetProfileVersion(h, 2.1);
    return write_text_tag(h, cmsSigDeviceMfgDescTag, kMaker) &&
           write_text_tag(h, cmsSigProfileDescriptionTag, description) &&
           write_text_tag(h, cmsSigDeviceModelDescTag, model) &&
           write_text_tag(h, cmsSigCopyrightTag, kNotice);
}

detail::ProfileHandle create_romm() {
    cmsCIExyY white;
    if (!cmsWhitePointFromTemp(&white, 5000)) return nullptr;
    const cmsCIExyYTRIPLE primaries{{0.7347, 0.2653, 0.28804}, {0.1596, 0.8404, 0.711874},
                                    {0.0366, 0.0001, 0.000086}};
    const cmsFloat64Number params[7] = {1.8, 0.996527, 0, 0.0622929, 0.03125, 0.003473, 0};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 5, params);
    if (!curve) return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    detail::ProfileHandle h(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return h;
}

}  // namespace

void silence_colour_errors() {
    static std::once_flag once;
    std::call_once(once, [] { cmsSetLogErrorHandler(drop_error); });
}

namespace detail {

ProfileHandle create_builtin_profile(int kind) {
    silence_colour_errors();
    ProfileHandle h;
    switch (kind) {
    case kProfileCamera:
        return ProfileHandle(cmsCreateXYZProfile());
    case kProfileSrgb:
        h.reset(cmsCreate_sRGBProfile());
        if (h && !tag_builtin(h.get(), "Ostel RAW sRGB profile", "Ostel RAW sRGB")) h.reset();
        return h;
    case kProfileRomm:
        h = create_romm();
        if (h && !tag_builtin(h.get(), "Ostel RAW ROMM profile", "Ostel RAW ROMM")) h.reset();
        return h;
    default:
        return nullptr;
    }
}

std::vector<uint8_t> serialise_profile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile, nullptr, &size) || size == 0) return {};
    std::vector<uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) return {};
    bytes.resize(size);
    return bytes;
}

}  // namespace detail

namespace {

// Little CMS stamps a new profile with the current time. The built-in
// profiles carry a fixed date instead, so that the same image exports to
// the same bytes whenever it is saved.
void fix_creation_date(std::vector<uint8_t>& bytes) {
    constexpr uint16_t kDate[6] = {2000, 1, 1, 0, 0, 0};
    constexpr size_t kDateOffset = 24;
    if (bytes.size() < kDateOffset + 12) return;
    for (size_t i = 0; i < 6; ++i) {
        bytes[kDateOffset + 2 * i] = uint8_t(kDate[i] >> 8);
        bytes[kDateOffset + 2 * i + 1] = uint8_t(kDate[i] & 0xFF);
    }
}

std::vector<uint8_t> make_builtin_bytes(int kind) {
    const detail::ProfileHandle h = detail::create_builtin_profile(kind);
    std::vector<uint8_t> bytes = detail::serialise_profile(h.get());
    fix_creation_date(bytes);
    return bytes;
}

}  // namespace

std::vector<uint8_t> builtin_profile_bytes(int kind) {
    static const std::vector<uint8_t> srgb = make_builtin_bytes(kProfileSrgb);
    static const std::vector<uint8_t> romm = make_builtin_bytes(kProfileRomm);
    if (kind == kProfileSrgb) return srgb;
    if (kind == kProfileRomm) return romm;
    return {};
}

bool read_icc_file(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < std::streamoff(kIccHeaderSize)) return false;
    in.seekg(0);
    unsigned char head[4];
    if (!in.read(reinterpret_cast<char*>(head), 4)) return false;
    const uint64_t size = (uint64_t(head[0]) << 24) | (uint64_t(head[1]) << 16) | (uint64_t(head[2]) << 8) | head[3];
    if (size < kIccHeaderSize || size > uint64_t(length) || size > kMaxIccSize) return false;
    std::vector<uint8_t> data(size);
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(data.data()), std::streamsize(size))) return false;
    bytes = std::move(data);
    return true;
}

ProfileDescription describe_profile_file(const std::string& path) {
    ProfileDescription d;
    std::vector<uint8_t> bytes;
    if (!read_icc_file(path, bytes)) return d;
    silence_colour_errors();
    const detail::ProfileHandle h(cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size())));
    if (!h) return d;
    d.ok = true;
    d.device_class = uint32_t(cmsGetDeviceClass(h.get()));
    d.colour_space = uint32_t(cmsGetColorSpace(h.get()));
    const cmsUInt32Number needed = cmsGetProfileInfoASCII(h.get(), cmsInfoDescription, "en", "US", nullptr, 0);
    if (needed > 1) {
        std::string text(needed, '\0');
        cmsGetProfileInfoASCII(h.get(), cmsInfoDescription, "en", "US", text.data(), needed);
        text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
        d.description = std::move(text);
    }
    return d;
}

std::string profile_display_name(const std::string& path, const std::string& description) {
    if (!description.empty()) return description;
    std::string name = std::filesystem::path(path).filename().string();
    name.resize(name.size() > 4 ? name.size() - 4 : 0);
    return name;
}

ProfileLists gather_profile_lists(const std::vector<std::string>& directories) {
    ProfileLists lists;
    lists.input.push_back({"Ostel RAW", "", kProfileCamera});
    lists.output.push_back({"Ostel sRGB", "", kProfileSrgb});
    lists.output.push_back({"Ostel ROMM", "", kProfileRomm});
    lists.display.push_back({"Ostel sRGB", "", kProfileSrgb});
    for (const std::string& dir : directories) {
        std::error_code ec;
        std::vector<std::string> files;
        for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (fnmatch("*.ic*", name.c_str(), FNM_CASEFOLD) != 0) continue;
            std::error_code type_ec;
            if (!it->is_regular_file(type_ec)) continue;
            files.push_back(it->path().string());
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            const ProfileDescription d = describe_profile_file(file);
            if (!d.ok || d.colour_space != uint32_t(cmsSigRgbData)) continue;
            const ProfileChoice entry{profile_display_name(file, d.description), file, kProfileFile};
            if (d.device_class == uint32_t(cmsSigInputClass)) {
                lists.input.push_back(entry);
            } else if (d.device_class == uint32_t(cmsSigColorSpaceClass) ||
                       d.device_class == uint32_t(cmsSigDisplayClass)) {
                lists.output.push_back(entry);
                lists.display.push_back(entry);
            }
        }
    }
    return lists;
}

std::vector<std::string> profile_directories() {
    std::vector<std::string> dirs;
    if (const char* over = std::getenv("OSTELRAW_ICC_DIR"); over && *over) {
        std::string list = over;
        size_t start = 0;
        while (start <= list.size()) {
            const size_t end = std::min(list.find(':', start), list.size());
            if (end > start) dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
        return dirs;
    }
    const char* home = std::getenv("HOME");
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home && *data_home)
        dirs.push_back(std::string(data_home) + "/icc");
    else if (home && *home)
        dirs.push_back(std::string(home) + "/.local/share/icc");
    if (home && *home) dirs.push_back(std::string(home) + "/.color/icc");
    dirs.push_back("/usr/local/share/color/icc");
    dirs.push_back("/usr/share/color/icc");
    return dirs;
}

}  // namespace ostel::develop
