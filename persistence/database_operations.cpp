// The operations on the settings database and the control rows of an image.
#include <sqlite3.h>

#include <cmath>
#include <iterator>
#include <limits>

#include "persistence/settings_database.h"
#include "persistence/sql_statement.h"

namespace ostel::persistence {

namespace {

constexpr int kLayer = 1;

// The order in which the rows of an image are restored. Saturation comes
// twice: its handler runs once per application, as the control bar expects.
constexpr int kRestoreOrder[] = {101, 102, 104, 105, 106, 201, 202, 203, 301, 302, 303, 304, 305, 306,
                                 401, 402, 403, 404, 501, 502, 503, 503, 504, 505, 506, 507};
constexpr int kRecoveryTag = 404;

// A stored position read back as a float and truncated towards zero.
int truncated_position(float v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 2147483520.0f) return std::numeric_limits<int>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

// After "BEGIN IMMEDIATE": commits when `ok`, else rolls back, unless the
// commit itself fails. Returns whether the writes are stored.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        begun_ = db_ && sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
        if (begun_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool begun() const { return begun_; }
    bool commit() {
        if (!begun_) return false;
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
        begun_ = false;
        return true;
    }

private:
    sqlite3* db_;
    bool begun_ = false;
};

}  // namespace

bool SettingsDatabase::RecordRawFile(int32_t id, const std::string& path, const std::string& capture_time) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (!db_) {
        tell(kRecordError);
        return false;
    }
    SqlStatement s(db_, "insert or replace into rawdb values(?,?,?,?,CURRENT_TIMESTAMP);");
    return s.bind(1, id) && s.bind(2, path) && s.bind(3, std::string("NULL")) && s.bind(4, capture_time) && s.run();
}

std::optional<std::string> SettingsDatabase::LookupRawFileName(int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (!db_) {
        tell(kRecordError);
        return std::nullopt;
    }
    SqlStatement s(db_, "select filename from rawdb where id=?");
    if (!s.bind(1, id) || s.step() != SQLITE_ROW) return std::nullopt;
    const std::string path = s.text(0);
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<float> SettingsDatabase::GetControlValue(int32_t id, int lid, int tag) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    SqlStatement s(db_, "select value from controls where id=? and lid=? and tag=?");
    if (!s.bind(1, id) || !s.bind(2, lid) || !s.bind(3, tag) || s.step() != SQLITE_ROW) return std::nullopt;
    return float(s.real(0));
}

bool SettingsDatabase::SetControlValue(int32_t id, int lid, int tag, double value) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return set_control_value(id, lid, tag, value);
}

bool SettingsDatabase::set_control_value(int32_t id, int lid, int tag, double value) {
    SqlStatement s(db_, "insert or replace into controls values (?,?,?,?)");
    return s.bind(1, id) && s.bind(2, lid) && s.bind(3, tag) && s.bind(4, value) && s.run();
}

std::optional<std::string> SettingsDatabase::GetTagValue(const std::string& tag) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    SqlStatement s(db_, "select value from ostelraw where tag=?");
    if (!s.bind(1, tag) || s.step() != SQLITE_ROW) return std::nullopt;
    return s.text(0);
}

bool SettingsDatabase::SetTagValue(const std::string& tag, const std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return set_tag_value(tag, value);
}

bool SettingsDatabase::set_tag_value(const std::string& tag, const std::string& value) {
    // Bound as text, as it was always written: numeric-looking values become
    // numbers by the column's type, paths and names stay text.
    SqlStatement s(db_, "insert or replace into ostelraw values (?,?)");
    return s.bind(1, tag) && s.bind(2, value) && s.run();
}

bool SettingsDatabase::AddSavedFile(int32_t id, int64_t save_time, const std::string& filename, int mode) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    SqlStatement s(db_, "insert or replace into savedfiles values (?,?,?,?)");
    return s.bind(1, id) && s.bind(2, save_time) && s.bind(3, filename) && s.bind(4, mode) && s.run();
}

std::optional<int> SettingsDatabase::PreferredSaveMode() {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    SqlStatement s(db_, "select avg(mode) from savedfiles");
    if (s.step() != SQLITE_ROW || s.is_null(0)) return std::nullopt;
    const double rounded = std::floor(s.real(0) + 0.5);
    if (!(rounded >= 1 && rounded <= 1e9)) return std::nullopt;
    return int(rounded);
}

bool SettingsDatabase::write_control_rows(int32_t id, const ControlPanel& panel) {
    SqlStatement s(db_, "insert or replace into controls values (?,?,?,?)");
    bool ok = s.prepared();
    auto write = [&](int tag, int position) {
        s.reset();
        ok = s.bind(1, id) && s.bind(2, kLayer) && s.bind(3, tag) && s.bind(4, double(position)) && s.run() && ok;
    };
    write(101, panel.position(101));
    write(102, panel.position(102));
    // The levels correction's three controls are read together, then written.
    const int shadows = panel.position(105), highlights = panel.position(106), levels = panel.position(104);
    write(104, levels);
    write(105, shadows);
    write(106, highlights);
    for (int tag : {201, 202, 203, 301, 302, 303, 304, 305, 306}) write(tag, panel.position(tag));
    write(kRecoveryTag, panel.has_control(kRecoveryTag) && panel.position(kRecoveryTag) != 0 ? 1 : 0);
    for (int tag : {401, 402, 403, 501, 502, 503, 504, 505, 506, 507, 601, 602, 603}) write(tag, panel.position(tag));
    write(kDisplayListTag, panel.display_profile_index());
    return ok;
}

bool SettingsDatabase::SaveControls(int32_t id, const ControlPanel& panel) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Transaction transaction(db_);
    if (!transaction.begun()) return false;
    // Every row is attempted even after one failed; the result says whether
    // all of them are stored.
    bool ok = write_control_rows(id, panel);
    ok = set_tag_value("DPPath", panel.display_profile_path()) && ok;
    ok = set_tag_value("DPName", panel.display_profile_name()) && ok;
    return transaction.commit() && ok;
}

bool SettingsDatabase::save_control_rows(int32_t id, const ControlPanel& panel) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Transaction transaction(db_);
    if (!transaction.begun()) return false;
    const bool ok = write_control_rows(id, panel);
    return transaction.commit() && ok;
}

int SettingsDatabase::LoadControls(int32_t id, ControlPanel& panel) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (!db_) return -1;
    SqlStatement s(db_, "select value from controls where id=? and lid=? and tag=?");
    int restored = 0;
    panel.begin_restore();
    for (int tag : kRestoreOrder) {
        if (tag == kRecoveryTag && !panel.has_control(tag)) continue;
        s.reset();
        if (!s.bind(1, id) || !s.bind(2, kLayer) || !s.bind(3, tag) || s.step() != SQLITE_ROW) continue;
        panel.restore_position(tag, truncated_position(float(s.real(0))));
        ++restored;
    }
    panel.end_restore();
    return restored;
}

std::map<int, float> SettingsDatabase::stored_controls(int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::map<int, float> rows;
    SqlStatement s(db_, "select tag, value from controls where id=? and lid=? order by tag");
    if (!s.bind(1, id) || !s.bind(2, kLayer)) return rows;
    while (s.step() == SQLITE_ROW) rows[int(s.integer(0))] = float(s.real(1));
    return rows;
}

std::optional<RawFileRecord> SettingsDatabase::raw_file(int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    SqlStatement s(db_, "select filename, capturetime, opentime from rawdb where id=?");
    if (!s.bind(1, id) || s.step() != SQLITE_ROW) return std::nullopt;
    return RawFileRecord{s.text(0), s.text(1), s.text(2)};
}

bool SettingsDatabase::clear_controls(int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    SqlStatement s(db_, "delete from controls where id=?");
    return s.bind(1, id) && s.run();
}

}  // namespace ostel::persistence
