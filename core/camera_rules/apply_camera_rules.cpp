// The camera-rule chain: tried group by group in a fixed order; the first
// rule whose key matches applies and ends the chain.
#include "core/camera_rules/rule_groups.h"
#include "core/identify/parsers.h"

namespace ostel::core {

void apply_camera_rules(DecoderSession& s) {
    rules::canon_rules(s) || rules::nikon_rules(s) || rules::fuji_rules(s) || rules::minolta_rules(s) ||
        rules::other_rules(s);
    // Corrections that subtract from a size the file got wrong must not leave
    // it negative; a size of 0 is refused with the other implausible ones.
    s.height = rules::bounded_dim(s.height);
    s.width = rules::bounded_dim(s.width);
}

}  // namespace ostel::core
