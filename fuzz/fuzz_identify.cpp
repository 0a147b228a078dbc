// Identification of arbitrary bytes must end in a refusal or a result,
// never a crash, hang or unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "core/identify/identify.h"
#include "core/session/core_failure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ostel::core::DecoderSession session;
    session.input = ostel::core::ByteSource(std::vector<uint8_t>(data, data + size));
    try {
        ostel::core::identify_file(session);
    } catch (const ostel::core::CoreFailure&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
