// The decode entry over arbitrary bytes: identification, the chosen loader
// and bad-pixel repair must end cleanly whatever the data.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "core/identify/identify.h"
#include "core/session/core_failure.h"
#include "core/thumb/entries.h"

namespace {

// Keeps single inputs within the fuzzer's memory limit: sizes a real file
// could legitimately have (up to the core's own cap) are still decoded by the
// tests, the fuzzer only explores the smaller ones.
constexpr int64_t kMaxFuzzPixels = int64_t(4) << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ostel::core;
    std::vector<uint8_t> bytes(data, data + size);
    {
        DecoderSession probe;
        probe.input = ByteSource(bytes);
        try {
            identify_file(probe);
        } catch (const CoreFailure&) {
            return 0;
        } catch (const std::bad_alloc&) {
            return 0;
        }
        if (probe.raw_count == 0 || int64_t(probe.width) * probe.height > kMaxFuzzPixels) return 0;
    }
    DecoderSession session;
    session.input = ByteSource(std::move(bytes));
    try {
        decode(session);
    } catch (const CoreFailure&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
