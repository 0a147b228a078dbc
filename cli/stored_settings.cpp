#include "cli/stored_settings.h"

#include <algorithm>

#include "develop/control_tags.h"
#include "persistence/data_folder.h"

namespace ostel::cli {

namespace {

constexpr int kDecodeTags[] = {develop::tag::kWaveletNr, develop::tag::kCaRed, develop::tag::kCaBlue};

}  // namespace

bool take_flag(std::vector<std::string>& args, const std::string& flag) {
    const auto end = std::find(args.begin(), args.end(), "--");
    const auto first_kept = std::remove(args.begin(), end, flag);
    const bool found = first_kept != end;
    args.erase(first_kept, end);
    return found;
}

std::unique_ptr<persistence::SettingsDatabase> open_settings_database(std::ostream& err) {
    persistence::DatabaseHooks hooks;
    hooks.tell = [&err](const std::string& text) { err << "ostelraw: " << text << "\n"; };
    hooks.ask = [&err](const std::string& question) {
        err << "ostelraw: " << question << " No (the stored settings are kept)\n";
        return false;
    };
    auto database = std::make_unique<persistence::SettingsDatabase>(hooks);
    if (!database->open(persistence::data_folder())) return nullptr;
    return database;
}

StoredControls::StoredControls(const develop::MapControlSource& given, std::map<int, double> defaults)
    : given_(given), defaults_(std::move(defaults)) {
    for (int tag : kDecodeTags) decoded_with_.push_back(value(tag));
}

double StoredControls::value(int tag) const {
    if (given_.values().count(tag)) return given_.value(tag);
    const auto stored = stored_.find(tag);
    if (stored != stored_.end()) return stored->second;
    if (tag == develop::tag::kExposure && file_exposure_) return *file_exposure_;
    const auto fallback = defaults_.find(tag);
    return fallback != defaults_.end() ? fallback->second : given_.value(tag);
}

bool StoredControls::decode_controls_changed() const {
    for (size_t i = 0; i < std::size(kDecodeTags); ++i)
        if (value(kDecodeTags[i]) != decoded_with_[i]) return true;
    return false;
}

}  // namespace ostel::cli
