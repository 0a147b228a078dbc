#include "cli/session_loading.h"

#include <new>

#include "cli/input_files.h"
#include "core/session/core_failure.h"

namespace ostel::cli {

std::string run_core_entry(const std::string& path, core::DecoderSession& session,
                           const std::function<void(core::DecoderSession&)>& entry) {
    const std::string unreadable = unreadable_reason(path);
    if (!unreadable.empty()) return unreadable;
    if (!core::ByteSource::load_file(path, session.input)) return "File not found";
    try {
        entry(session);
    } catch (const core::CoreFailure&) {
        return "Memory allocation error";
    } catch (const std::bad_alloc&) {
        return "Memory allocation error";
    }
    if (session.raw_count == 0) {
        if (!session.refusal_reason.empty()) return "Wrong file header: " + session.refusal_reason;
        const std::string kind = refused_file_kind(path);
        return kind.empty() ? "Wrong file header" : "Wrong file header: " + kind;
    }
    return "";
}

}  // namespace ostel::cli
