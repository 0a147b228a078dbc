#include "persistence/data_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace ostel::persistence {

namespace {

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string home_folder() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

}  // namespace

std::string data_folder() {
    if (std::string dir = environment("OSTELRAW_DATA_DIR"); !dir.empty()) return dir;
    // XDG base directories must be absolute; a relative value is ignored.
    std::string base = environment("XDG_DATA_HOME");
    if (base.empty() || base[0] != '/') {
        const std::string home = home_folder();
        if (home.empty()) return {};
        base = home + "/.local/share";
    }
    return base + "/OstelRAW/data";
}

}  // namespace ostel::persistence
