#pragma once
// Locating the shared real-camera samples and the repository's own test data.
#include <string>
#include <vector>

namespace ostel::test {

// The samples folder (OSTELRAW_SAMPLES, else ../shared/samples beside the
// source tree), or an empty string when it is absent.
std::string samples_dir();
// Files of one sample sub-folder ("real", "metadata", ...), sorted; empty when absent.
std::vector<std::string> sample_files(const std::string& sub_folder);
// Path inside the repository's testdata folder.
std::string testdata_path(const std::string& name);
// Reads a whole file; empty on failure.
std::vector<unsigned char> read_file(const std::string& path);

}  // namespace ostel::test

// Skips the current test with a message when the shared samples are absent.
#define OSTEL_REQUIRE_SAMPLES()                                                      \
    do {                                                                             \
        if (ostel::test::samples_dir().empty())                                      \
            GTEST_SKIP() << "shared samples folder not found (set OSTELRAW_SAMPLES)"; \
    } while (0)
