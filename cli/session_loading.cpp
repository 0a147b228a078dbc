#include "cli/session_loading.h"

#include <new>

#include "core/session/core_failure.h"

namespace ostel::cli {

std::string run_core_entry(const std::string& path, core::DecoderSession& session,
                           const std::function<void(core::DecoderSession&)>& entry) {
    if (!core::ByteSource::load_file(path, session.input)) return "File not found";
    try {
        entry(session);
    } catch (const core::CoreFailure&) {
        return "Memory allocation error";
    } catch (const std::bad_alloc&) {
        return "Memory allocation error";
    }
    if (session.raw_count == 0)
        return session.refusal_reason.empty() ? "Wrong file header" : "Wrong file header (" + session.refusal_reason + ")";
    return "";
}

}  // namespace ostel::cli
