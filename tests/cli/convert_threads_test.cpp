// The converted file does not depend on how many threads did the work: the
// real command, run as a separate process with OMP_NUM_THREADS=1 and =2,
// writes the same 16-bit TIFF byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "develop/control_tags.h"
#include "tests/support/samples.h"

namespace {

namespace fs = std::filesystem;

TEST(ConvertThreads, SixteenBitOutputIsTheSameForOneAndTwoThreads) {
    const char* build = std::getenv("OSTEL_BUILD_DIR");
    if (!build) GTEST_SKIP() << "OSTEL_BUILD_DIR not set (run through ctest)";
    const std::string tool = std::string(build) + "/cli/ostelraw";
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " not built";
    const std::string cr2 = ostel::test::testdata_path("canon_eos30d.cr2");
    ASSERT_TRUE(fs::exists(cr2));

    const fs::path dir = fs::temp_directory_path() / ("ostel_threads_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } cleanup{dir};
    // Besides the defaults (AHD, recovery, refinement), stages with their own
    // parallel loops: wavelet denoising, aberration scaling, automatic balance,
    // levels, fill light and a quarter turn.
    const std::string options = " --format tiff16 --wb auto --exposure 2 --contrast 10 --rotate cw --set " +
                                std::to_string(ostel::develop::tag::kWaveletNr) + "=20 --set " +
                                std::to_string(ostel::develop::tag::kCaRed) + "=15 --set " +
                                std::to_string(ostel::develop::tag::kHistCorrection) + "=1 --set " +
                                std::to_string(ostel::develop::tag::kFillLight) + "=20";
    std::vector<std::vector<unsigned char>> outputs;
    for (int threads : {1, 2}) {
        const std::string out = (dir / ("t" + std::to_string(threads) + ".tif")).string();
        const std::string command = "OMP_NUM_THREADS=" + std::to_string(threads) + " '" + tool + "' convert '" + cr2 +
                                    "' -o '" + out + "'" + options + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        outputs.push_back(ostel::test::read_file(out));
        ASSERT_GT(outputs.back().size(), size_t(3514) * 2340 * 6);
    }
    EXPECT_TRUE(outputs[0] == outputs[1]);
}

}  // namespace
