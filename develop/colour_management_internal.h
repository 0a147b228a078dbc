#pragma once
// Little CMS handles shared by the colour-management files.
#include <lcms2.h>

#include <memory>
#include <type_traits>
#include <vector>

namespace ostel::develop::detail {

struct ProfileCloser {
    void operator()(void* h) const {
        if (h) cmsCloseProfile(h);
    }
};
using ProfileHandle = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* t) const {
        if (t) cmsDeleteTransform(t);
    }
};
using TransformHandle = std::unique_ptr<std::remove_pointer_t<cmsHTRANSFORM>, TransformDeleter>;

// kProfileCamera gives the XYZ profile, kProfileSrgb and kProfileRomm the
// tagged built-in profiles; null for other kinds or when creation fails.
ProfileHandle create_builtin_profile(int kind);

// The profile's ICC bytes; empty when it cannot be serialised.
std::vector<uint8_t> serialise_profile(cmsHPROFILE profile);

}  // namespace ostel::develop::detail
