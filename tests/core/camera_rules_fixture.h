#pragma once
// A session as the container parsers would leave it: maker, model, sizes and
// a file of the given bytes.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/session/decoder_session.h"

namespace ostel::test {

struct CameraSetup {
    const char* make = "";
    const char* model = "";
    int height = 0, width = 0;
    int stored_height = 0, stored_width = 0;
};

inline std::unique_ptr<core::DecoderSession> camera(const CameraSetup& c, std::vector<uint8_t> file = {}) {
    auto s = std::make_unique<core::DecoderSession>();
    s->reset_for_identification();
    s->input = core::ByteSource(std::move(file));
    core::set_text(s->make, c.make);
    core::set_text(s->model, c.model);
    s->height = c.height;
    s->width = c.width;
    s->stored_height = c.stored_height ? c.stored_height : c.height;
    s->stored_width = c.stored_width ? c.stored_width : c.width;
    return s;
}

}  // namespace ostel::test
