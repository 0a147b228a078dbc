#pragma once
// The core's single failure exit. Running out of memory (or being asked to
// allocate an absurd amount) inside the decoder leaves through this
// exception; callers at the subsystem boundary catch it, drop the session
// and report "Memory allocation error".
#include <stdexcept>

namespace ostel::core {

class CoreFailure : public std::runtime_error {
public:
    explicit CoreFailure(const char* what) : std::runtime_error(what) {}
};

[[noreturn]] inline void fail_out_of_memory() { throw CoreFailure("Memory allocation error"); }

}  // namespace ostel::core
