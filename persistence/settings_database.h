#pragma once
// The settings database: which raw files were opened, the control positions
// of each image, which images were exported in which format, and a few free
// settings. It is one SQLite file; between runs it is kept deflated as
// "ostelraw.odb" in the data folder, and while a program runs it works on the
// plain copy "ostelraw.tmp" beside it.
//
// Nothing is lost when a run ends badly: every write is committed to the
// working copy at once (write-ahead log, synchronous commits), so a working
// copy found at start-up holds everything up to the last completed call. When
// it passes SQLite's integrity check it is stored before anything else; only
// a damaged one leads to the question whether to start afresh. A stored file
// that does not inflate is set aside as "ostelraw.odb.bad" and the program
// starts with an empty database. Shutdown writes the new stored file beside
// the old one and renames it into place only after a complete, flushed
// write, and removes the working copy after that.
//
// One program at a time owns a data folder (an advisory lock on
// "ostelraw.lock"); a second one works without the database and says so.
//
// The operations may be called from several threads; each runs alone.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "persistence/control_panel.h"
#include "persistence/database_lock.h"

struct sqlite3;

namespace ostel::persistence {

inline constexpr char kStoredFileName[] = "ostelraw.odb";
inline constexpr char kWorkingFileName[] = "ostelraw.tmp";
inline constexpr char kLockFileName[] = "ostelraw.lock";

inline constexpr char kDamagedQuestion[] =
    "Ostel RAW terminated unexpectedly last time, file with user settings may be damaged. Delete setting file?";
inline constexpr char kRecordError[] = "Error adding DB record, trying to request one more time!";
inline constexpr char kCloseError[] = "Error closing database!";

// How the database reaches the user: a Yes/No question box and a message box
// in the desktop program; the command line answers without asking and
// writes messages to stderr.
struct DatabaseHooks {
    // The Yes/No question; true for Yes. Unset: No.
    std::function<bool(const std::string& question)> ask;
    std::function<void(const std::string& text)> tell;
};

// The row of an opened raw file.
struct RawFileRecord {
    std::string filename;      // full path as opened
    std::string capture_time;  // "YYYY-MM-DD hh:mm:ss" or empty
    std::string open_time;     // UTC of the last opening, "YYYY-MM-DD hh:mm:ss"
};

class SettingsDatabase {
public:
    explicit SettingsDatabase(DatabaseHooks hooks = {});
    SettingsDatabase(const SettingsDatabase&) = delete;
    SettingsDatabase& operator=(const SettingsDatabase&) = delete;
    ~SettingsDatabase();  // shuts down when still open

    // Start-up in `folder` (created when missing). False when the program
    // goes on without a database; the reason was told through the hooks.
    bool open(const std::string& folder);
    // Shutdown: closes the database and stores it. False when the stored
    // file could not be written; the working copy then stays for the next
    // start to recover, and the previous stored file is untouched.
    bool close();
    bool is_open() const;
    const std::string& folder() const { return folder_; }

    // The operations. Each reports failure (or nothing found) when a
    // statement fails or there is no database.
    bool RecordRawFile(int32_t id, const std::string& path, const std::string& capture_time);
    // The name part of the path recorded for `id`.
    std::optional<std::string> LookupRawFileName(int32_t id);
    std::optional<float> GetControlValue(int32_t id, int lid, int tag);
    bool SetControlValue(int32_t id, int lid, int tag, double value);
    std::optional<std::string> GetTagValue(const std::string& tag);
    bool SetTagValue(const std::string& tag, const std::string& value);
    bool AddSavedFile(int32_t id, int64_t save_time, const std::string& filename, int mode);
    // The average export format rounded half up; none when there is no
    // export or the average rounds to 0.
    std::optional<int> PreferredSaveMode();

    // Stores every control position of the panel for `id` and the selected
    // display profile, in one transaction. False when any statement failed.
    bool SaveControls(int32_t id, const ControlPanel& panel);
    // Restores the stored positions of `id` into the panel in the fixed
    // order; a control without a row keeps its position. Returns the number
    // of rows restored (the saturation row counts twice: it is applied
    // twice), -1 without a database.
    int LoadControls(int32_t id, ControlPanel& panel);

    // For the command line: the stored control rows of `id`, the file row,
    // only the control rows written (no display profile), and forgetting.
    std::map<int, float> stored_controls(int32_t id);
    std::optional<RawFileRecord> raw_file(int32_t id);
    bool save_control_rows(int32_t id, const ControlPanel& panel);
    bool clear_controls(int32_t id);

    // The tags SaveControls writes, in its order; the display profile's
    // list selection goes under kDisplayListTag.
    static constexpr int kDisplayListTag = 604;

private:
    bool start_up();
    bool recover_working_copy();
    bool open_working_copy();
    void create_tables();
    void close_handle();
    bool write_control_rows(int32_t id, const ControlPanel& panel);
    bool set_control_value(int32_t id, int lid, int tag, double value);
    bool set_tag_value(const std::string& tag, const std::string& value);
    bool execute(const char* sql);
    std::string path(const char* name) const { return folder_ + "/" + name; }
    void tell(const std::string& text) const;
    bool ask(const std::string& question) const;

    DatabaseHooks hooks_;
    std::string folder_;
    DatabaseLock lock_;
    sqlite3* db_ = nullptr;
    mutable std::recursive_mutex mutex_;
};

}  // namespace ostel::persistence
