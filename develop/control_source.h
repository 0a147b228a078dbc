#pragma once
// How the document reads the develop controls: by integer tag, at the moment
// a stage runs. The GUI's main frame implements it over its control bars; the
// command line and the tests over a map of values.
#include <map>
#include <string>

namespace ostel::develop {

class ControlSource {
public:
    virtual ~ControlSource() = default;
    // The control's current value (slider position, check state 0/1, list
    // index); the control's initial position when the source has none.
    virtual double value(int tag) const = 0;
    // Text controls (profile names and paths, curve points) by tag.
    virtual std::string text(int tag) const { return {}; }
    // Sets the two custom white-balance sliders from a red and a blue
    // multiplier (a white-balance pick); sources that cannot be written
    // ignore it.
    virtual void set_white_balance_sliders(double red, double blue) {}
    // The exposure position the file itself suggests (a DNG's baseline
    // exposure), offered when a file opens for the first time, with no
    // positions stored for it. A source takes it where nobody chose an
    // exposure; sources that cannot be written ignore it.
    virtual void offer_file_exposure(int position) {}
};

// A ControlSource over a map; tags not in the map give the initial positions.
class MapControlSource : public ControlSource {
public:
    double value(int tag) const override;
    std::string text(int tag) const override;
    void set_white_balance_sliders(double red, double blue) override;
    void set(int tag, double v) { values_[tag] = v; }
    void set_text(int tag, std::string t) { texts_[tag] = std::move(t); }
    // The values and texts set so far, by tag.
    const std::map<int, double>& values() const { return values_; }
    const std::map<int, std::string>& texts() const { return texts_; }

private:
    std::map<int, double> values_;
    std::map<int, std::string> texts_;
};

// Initial position of each control (the default a fresh image starts from).
double initial_control_value(int tag);

}  // namespace ostel::develop
