// Start-up and shutdown of the settings database: the lock, recovering the
// working copy of a run that ended badly, inflating the stored file into a
// fresh working copy, and storing it again at the end.
#include "persistence/settings_database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>

#include "persistence/sql_statement.h"
#include "persistence/stored_file.h"

namespace ostel::persistence {

namespace {

// The files SQLite keeps beside a database while it works on it. Left
// behind by a crash they belong to that working copy only: a stale journal
// rolled into a freshly inflated copy would damage it.
constexpr const char* kCompanionSuffixes[] = {"-wal", "-shm", "-journal"};

constexpr struct {
    const char* probe;
    const char* create;
} kTables[] = {
    {"select * from rawdb",
     "create table rawdb (id int not null primary key, filename char(100), name char (100), capturetime timestamp, "
     "opentime timestamp);"},
    {"select * from savedfiles",
     "create table savedfiles (id int not null, savetime int not null primary key, filename char(100),mode int not "
     "null);"},
    {"select * from ostelraw", "create table ostelraw (tag char(50) not null primary key, value double);"},
    {"select * from controls",
     "create table controls (id int not null, lid int not null, tag int not null, value double, primary key "
     "(id,lid,tag));"},
};

// The single text a pragma answers, empty when it fails.
std::string pragma_text(sqlite3* db, const char* sql) {
    SqlStatement s(db, sql);
    return s.step() == SQLITE_ROW ? s.text(0) : std::string();
}

// True when the whole database passes SQLite's own check.
bool intact(sqlite3* db, const char* check) { return pragma_text(db, check) == "ok"; }

void remove_with_companions(const std::string& database) {
    remove_file(database);
    for (const char* suffix : kCompanionSuffixes) remove_file(database + suffix);
}

bool non_empty_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

}  // namespace

SettingsDatabase::SettingsDatabase(DatabaseHooks hooks) : hooks_(std::move(hooks)) {}

SettingsDatabase::~SettingsDatabase() {
    if (is_open()) close();
}

bool SettingsDatabase::is_open() const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return db_ != nullptr;
}

void SettingsDatabase::tell(const std::string& text) const {
    if (hooks_.tell) hooks_.tell(text);
}

bool SettingsDatabase::ask(const std::string& question) const { return hooks_.ask && hooks_.ask(question); }

bool SettingsDatabase::execute(const char* sql) { return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool SettingsDatabase::open(const std::string& folder) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (db_) close();
    folder_ = folder;
    const std::string without = "; working without the settings database.";
    if (folder.empty()) {
        tell("No folder for the settings database (neither OSTELRAW_DATA_DIR nor HOME is set)" + without);
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) {
        tell("Cannot create the data folder " + folder + without);
        return false;
    }
    long owner = 0;
    std::string error;
    if (!lock_.acquire(path(kLockFileName), owner, error)) {
        if (error.empty())
            tell("The settings database in " + folder + " is in use by another Ostel RAW" +
                 (owner > 0 ? " (process " + std::to_string(owner) + ")" : std::string()) +
                 "; this one works without it.");
        else
            tell(error + without);
        return false;
    }
    if (!start_up()) {
        close_handle();
        lock_.release();
        return false;
    }
    return true;
}

bool SettingsDatabase::start_up() {
    const std::string stored = path(kStoredFileName), working = path(kWorkingFileName);
    // Leftovers of a write that was cut short; the files they were meant to
    // replace are still whole.
    remove_file(stored + ".new");
    remove_file(working + ".new");

    const bool keep_working_copy = file_exists(working) && recover_working_copy();
    if (!keep_working_copy) {
        remove_with_companions(working);
        std::string error;
        switch (inflate_file(stored, working, error)) {
            case InflateResult::ok:
            case InflateResult::missing: break;
            case InflateResult::damaged: {
                const std::string aside = set_aside(stored);
                if (aside.empty()) {
                    tell(error + ", and it cannot be moved aside; working without the settings database.");
                    return false;
                }
                tell(error + "; it was moved to " + aside + " and the settings start empty.");
                break;
            }
            case InflateResult::unreadable:
            case InflateResult::write_failed:
                tell(error + "; working without the settings database.");
                return false;
        }
    }
    if (!open_working_copy()) return false;
    if (!intact(db_, "PRAGMA quick_check")) {
        // The stream was whole but what it holds is no sound database.
        close_handle();
        remove_with_companions(working);
        const std::string aside = set_aside(stored);
        if (aside.empty()) {
            tell(stored + " holds a damaged database and cannot be moved aside; working without the settings "
                          "database.");
            return false;
        }
        tell(stored + " holds a damaged database; it was moved to " + aside + " and the settings start empty.");
        if (!open_working_copy()) return false;
    }
    // Every commit reaches the disk before the call returns, so a crash
    // costs nothing that a call reported as done.
    if (pragma_text(db_, "PRAGMA journal_mode=WAL") != "wal") execute("PRAGMA journal_mode=DELETE");
    execute("PRAGMA synchronous=FULL");
    create_tables();
    return true;
}

// A working copy at start-up means the last run ended without its shutdown.
// Returns true when the recovered copy is to be worked on as it is (it
// could not be stored); false when the start goes on from the stored file.
bool SettingsDatabase::recover_working_copy() {
    const std::string stored = path(kStoredFileName), working = path(kWorkingFileName);
    sqlite3* copy = nullptr;
    bool sound = sqlite3_open_v2(working.c_str(), &copy, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    // Opening replays a write-ahead log or rolls back a hot journal; the
    // check then covers what the file really holds.
    sound = sound && intact(copy, "PRAGMA integrity_check");
    // Fold the log into the file so that the file alone holds everything.
    sound = sound && pragma_text(copy, "PRAGMA journal_mode=DELETE") == "delete";
    if (sqlite3_close(copy) != SQLITE_OK) {
        sqlite3_close_v2(copy);
        sound = false;
    }
    if (!sound) {
        const bool start_afresh = ask(kDamagedQuestion);
        remove_with_companions(working);
        if (start_afresh) remove_file(stored);
        sync_folder(folder_);
        return false;
    }
    std::string error;
    if (!deflate_file_replacing(working, stored, error)) {
        tell("The settings of the last run were recovered but cannot be stored (" + error +
             "); going on with the working copy.");
        return true;
    }
    remove_with_companions(working);
    sync_folder(folder_);
    return false;
}

bool SettingsDatabase::open_working_copy() {
    const std::string working = path(kWorkingFileName);
    if (sqlite3_open_v2(working.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        tell("Cannot open the settings database " + working + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory") +
             "; working without it.");
        close_handle();
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    return true;
}

void SettingsDatabase::create_tables() {
    for (const auto& table : kTables) {
        SqlStatement probe(db_, table.probe);
        const int rc = probe.step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) execute(table.create);
    }
}

void SettingsDatabase::close_handle() {
    if (!db_) return;
    if (sqlite3_close(db_) != SQLITE_OK) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SettingsDatabase::close() {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (!db_) {
        lock_.release();
        return false;
    }
    const std::string stored = path(kStoredFileName), working = path(kWorkingFileName);
    bool whole = pragma_text(db_, "PRAGMA journal_mode=DELETE") == "delete";
    if (sqlite3_close(db_) == SQLITE_BUSY) {
        tell(kCloseError);
        sqlite3_close_v2(db_);
        whole = false;
    }
    db_ = nullptr;
    // A log that could not be folded in still holds writes the file lacks.
    whole = whole && !non_empty_file(working + "-wal");
    bool stored_ok = false;
    std::string error;
    if (whole) {
        stored_ok = deflate_file_replacing(working, stored, error);
        if (stored_ok) {
            remove_with_companions(working);
            sync_folder(folder_);
        }
    } else {
        error = "the working copy could not be completed";
    }
    if (!stored_ok)
        tell("Cannot store the settings in " + stored + " (" + error + "); " + working +
             " is kept and will be recovered at the next start.");
    lock_.release();
    return stored_ok;
}

}  // namespace ostel::persistence
