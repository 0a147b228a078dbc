#pragma once
// The settings database as the command line uses it: only when asked, read
// through the same control tags as the convert options.
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "persistence/control_panel.h"
#include "persistence/settings_database.h"

namespace ostel::cli {

// Removes every `flag` from `args`; true when there was one.
bool take_flag(std::vector<std::string>& args, const std::string& flag);

// Opens the database of the data folder for a command; messages go to
// `err`, and the question about a damaged working copy is answered No
// (the stored settings are kept). Null when the command has to go on
// without it (in use by another program, no data folder, ...).
std::unique_ptr<persistence::SettingsDatabase> open_settings_database(std::ostream& err);

// The controls of one file of `convert --use-settings`: the options given
// on the command line, else the positions stored for the image, else
// `defaults`, else the initial positions. Without a database it is the
// given options over the defaults.
class StoredControls : public develop::ControlSource, public persistence::ControlPanel {
public:
    explicit StoredControls(const develop::MapControlSource& given, std::map<int, double> defaults = {});

    double value(int tag) const override;
    std::string text(int tag) const override { return given_.text(tag); }
    void set_white_balance_sliders(double red, double blue) override { given_.set_white_balance_sliders(red, blue); }
    // Below an --exposure option and a stored position, above the default.
    void offer_file_exposure(int position) override { file_exposure_ = position; }

    bool has_control(int tag) const override { return true; }
    int position(int tag) const override { return int(value(tag)); }
    void restore_position(int tag, int position) override { stored_[tag] = position; }

    // Whether restoring changed a control that is read before the image id
    // is known (wavelet noise reduction, aberration): the file must then be
    // decoded again.
    bool decode_controls_changed() const;

private:
    develop::MapControlSource given_;
    std::map<int, double> defaults_;
    std::map<int, int> stored_;
    std::optional<int> file_exposure_;
    std::vector<double> decoded_with_;
};

}  // namespace ostel::cli
