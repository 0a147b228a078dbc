#pragma once
// Control positions held in a map: the panel of the command line and of the
// tests. Restoring a position simply stores it; a tag without a position
// reads as its fallback.
#include <functional>
#include <map>
#include <optional>

#include "persistence/control_panel.h"

namespace ostel::persistence {

class ControlMap : public ControlPanel {
public:
    // `fallback` gives the position of a tag the map does not hold (0 when
    // unset).
    explicit ControlMap(std::function<int(int tag)> fallback = {}) : fallback_(std::move(fallback)) {}

    bool has_control(int tag) const override { return true; }
    int position(int tag) const override;
    void restore_position(int tag, int position) override { positions_[tag] = position; }

    void set(int tag, int position) { positions_[tag] = position; }
    std::optional<int> find(int tag) const;
    const std::map<int, int>& positions() const { return positions_; }

private:
    std::function<int(int)> fallback_;
    std::map<int, int> positions_;
};

}  // namespace ostel::persistence
