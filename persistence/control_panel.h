#pragma once
// The controls whose positions the settings database saves and restores per
// image: the main frame's control bars in the desktop program, a map of
// positions on the command line and in tests. The database decides the order
// in which positions are written and read back; the panel owns the widgets
// and the handlers a restored position runs.
#include <string>

namespace ostel::persistence {

class ControlPanel {
public:
    virtual ~ControlPanel() = default;

    // Whether a control with this tag exists ("Recovery" may be absent).
    virtual bool has_control(int tag) const = 0;
    // Current position: slider position, check state 0/1 or list index.
    virtual int position(int tag) const = 0;

    // Restoring brackets: while restoring, handlers update the panel's own
    // state but send nothing to the view or the document.
    virtual void begin_restore() {}
    virtual void end_restore() {}
    // Sets the control to a stored position and runs the handler that the
    // control's tag names. Called only between begin_restore/end_restore.
    virtual void restore_position(int tag, int position) = 0;

    // The selected display profile, stored beside the control rows.
    virtual int display_profile_index() const { return 0; }
    virtual std::string display_profile_path() const { return {}; }
    virtual std::string display_profile_name() const { return {}; }
};

}  // namespace ostel::persistence
