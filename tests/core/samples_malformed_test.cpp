// Broken and crafted files: identification and decoding must end in a
// refusal or a clean partial result, without a crash or a hang (the
// sanitizer build runs this too).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "core/session/core_failure.h"
#include "core/thumb/entries.h"
#include "tests/support/samples.h"

namespace fs = std::filesystem;

namespace {

// Guards against hangs only; timings are measured by the benchmarks.
constexpr double kHangSeconds = 20.0;

std::vector<std::string> hostile_inputs() {
    std::vector<std::string> files;
    for (const char* folder : {"malformed", "metadata", "unsupported"})
        for (const std::string& f : ostel::test::sample_files(folder)) files.push_back(f);
    const fs::path regressions = fs::path(OSTEL_SOURCE_DIR) / "testdata" / "regressions";
    if (fs::is_directory(regressions))
        for (const auto& entry : fs::directory_iterator(regressions))
            if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path().string());
    return files;
}

template <typename Entry>
double run_entry(const std::string& path, Entry entry) {
    const auto start = std::chrono::steady_clock::now();
    ostel::core::DecoderSession s;
    EXPECT_TRUE(ostel::core::ByteSource::load_file(path, s.input));
    try {
        entry(s);
    } catch (const ostel::core::CoreFailure&) {
        // A refused allocation is a clean end.
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(HostileFiles, DecodeAndThumbnailEndCleanly) {
    const std::vector<std::string> files = hostile_inputs();
    if (files.empty()) GTEST_SKIP() << "no samples or regression fixtures found";
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const double decode_seconds = run_entry(path, [](ostel::core::DecoderSession& s) { ostel::core::decode(s); });
        EXPECT_LT(decode_seconds, kHangSeconds);
        const double thumb_seconds =
            run_entry(path, [](ostel::core::DecoderSession& s) { ostel::core::extract_thumbnail(s); });
        EXPECT_LT(thumb_seconds, kHangSeconds);
    }
}
