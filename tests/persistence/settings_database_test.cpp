#include "persistence/settings_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "persistence/control_map.h"
#include "tests/persistence/database_test_support.h"

namespace ostel::persistence {
namespace {

using test::DataFolder;
using test::Recorder;
using test::RecordingPanel;
namespace fs = std::filesystem;

// The schema and rows of a database held in memory.
class Snapshot {
public:
    explicit Snapshot(const std::vector<unsigned char>& bytes) {
        sqlite3_open(":memory:", &db_);
        if (bytes.empty()) return;
        auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), copy);
        sqlite3_deserialize(db_, "main", copy, sqlite3_int64(bytes.size()), sqlite3_int64(bytes.size()),
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
    }
    ~Snapshot() { sqlite3_close(db_); }
    // The first column of every row, as text.
    std::vector<std::string> column(const char* sql) const {
        std::vector<std::string> out;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return {"error: " + std::string(sql)};
        while (sqlite3_step(s) == SQLITE_ROW) {
            const auto* t = sqlite3_column_text(s, 0);
            out.push_back(t ? reinterpret_cast<const char*>(t) : "(null)");
        }
        sqlite3_finalize(s);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

Snapshot stored(const DataFolder& dir) { return Snapshot(test::inflated(test::file_bytes(dir.file(kStoredFileName)))); }

TEST(SettingsDatabase, FirstStartCreatesTheTablesAndShutdownStoresADeflatedFile) {
    DataFolder dir;
    Recorder r;
    {
        SettingsDatabase db(r.hooks());
        ASSERT_TRUE(db.open(dir.path()));
        EXPECT_TRUE(dir.has(kWorkingFileName));
        EXPECT_FALSE(db.PreferredSaveMode());
        EXPECT_TRUE(db.close());
    }
    EXPECT_FALSE(dir.has(kWorkingFileName));
    EXPECT_FALSE(dir.has(std::string(kWorkingFileName) + "-wal"));
    const auto bytes = test::file_bytes(dir.file(kStoredFileName));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0x78);  // zlib header of level 5
    EXPECT_EQ(bytes[1], 0x5E);
    const std::vector<std::string> schema = stored(dir).column("select sql from sqlite_master order by rowid");
    const std::vector<std::string> expected = {
        "create table rawdb (id int not null primary key, filename char(100), name char (100), capturetime "
        "timestamp, opentime timestamp)",
        "create table savedfiles (id int not null, savetime int not null primary key, filename char(100),mode int "
        "not null)",
        "create table ostelraw (tag char(50) not null primary key, value double)",
        "create table controls (id int not null, lid int not null, tag int not null, value double, primary key "
        "(id,lid,tag))",
    };
    // SQLite keeps the statement text, with its opening words in capitals.
    std::vector<std::string> tables;
    for (std::string sql : schema)
        if (sql != "(null)") tables.push_back(sql.replace(0, 12, "create table"));  // indexes have no text
    EXPECT_EQ(tables, expected);
    EXPECT_TRUE(r.told.empty());
}

TEST(SettingsDatabase, OperationsStoreValuesAsGivenAcrossARestart) {
    DataFolder dir;
    Recorder r;
    const std::string quoted = "/photos/the \"best\" one/IMG_0001.CR2";
    {
        SettingsDatabase db(r.hooks());
        ASSERT_TRUE(db.open(dir.path()));
        EXPECT_TRUE(db.RecordRawFile(-1234, "/old/name.cr2", "2024-05-06 07:08:09"));
        EXPECT_TRUE(db.RecordRawFile(-1234, quoted, "2024-05-06 07:08:09"));  // replaces the row
        EXPECT_TRUE(db.SetTagValue("DPName", "value"));  // a column's name is a value like any other
        EXPECT_TRUE(db.SetTagValue("Gamma", "1.5"));
        EXPECT_TRUE(db.SetControlValue(-1234, 1, 101, 7));
        EXPECT_TRUE(db.AddSavedFile(-1234, 1700000000, "/out/\"a\".jpg", 2));
        EXPECT_TRUE(db.AddSavedFile(-1234, 1700000001, "/out/b.tif", 1));
        EXPECT_EQ(db.PreferredSaveMode(), 2);  // 1.5 rounds up
        EXPECT_TRUE(db.AddSavedFile(-1234, 1700000002, "/out/c.tif", 1));
        EXPECT_EQ(db.PreferredSaveMode(), 1);
        EXPECT_TRUE(db.AddSavedFile(5, 1700000002, "/out/d.tif", 3));  // same second: replaces
        EXPECT_EQ(db.PreferredSaveMode(), 2);
    }  // shut down by the destructor
    SettingsDatabase db(r.hooks());
    ASSERT_TRUE(db.open(dir.path()));
    EXPECT_EQ(db.LookupRawFileName(-1234), "IMG_0001.CR2");
    EXPECT_FALSE(db.LookupRawFileName(99));
    EXPECT_EQ(db.GetTagValue("DPName"), "value");
    EXPECT_EQ(db.GetTagValue("Gamma"), "1.5");
    EXPECT_FALSE(db.GetTagValue("DPPath"));
    EXPECT_EQ(db.GetControlValue(-1234, 1, 101), 7.0f);
    EXPECT_FALSE(db.GetControlValue(-1234, 1, 102));
    const auto record = db.raw_file(-1234);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->filename, quoted);
    EXPECT_EQ(record->capture_time, "2024-05-06 07:08:09");
    EXPECT_EQ(record->open_time.size(), 19u);
    db.close();
    Snapshot snap = stored(dir);
    EXPECT_EQ(snap.column("select count(*) from rawdb"), std::vector<std::string>{"1"});
    EXPECT_EQ(snap.column("select name || '|' || typeof(id) from rawdb"), std::vector<std::string>{"NULL|integer"});
    EXPECT_EQ(snap.column("select filename from savedfiles order by savetime"),
              (std::vector<std::string>{"/out/\"a\".jpg", "/out/b.tif", "/out/d.tif"}));
}

TEST(SettingsDatabase, ControlsAreSavedAndRestoredInTheirOrder) {
    DataFolder dir;
    SettingsDatabase db;
    ASSERT_TRUE(db.open(dir.path()));
    RecordingPanel panel;
    panel.recovery_exists = false;
    ASSERT_TRUE(db.SaveControls(42, panel));
    const auto rows = db.stored_controls(42);
    std::vector<int> tags;
    for (const auto& [tag, value] : rows) {
        tags.push_back(tag);
        if (tag == 404) EXPECT_EQ(value, 0) << "a missing Recovery box is saved as off";
        else if (tag == 604) EXPECT_EQ(value, 3) << "display list selection";
        else EXPECT_EQ(value, panel.position(tag)) << tag;
    }
    const std::vector<int> saved = {101, 102, 104, 105, 106, 201, 202, 203, 301, 302, 303, 304, 305, 306, 401,
                                    402, 403, 404, 501, 502, 503, 504, 505, 506, 507, 601, 602, 603, 604};
    EXPECT_EQ(tags, saved);
    EXPECT_EQ(db.GetTagValue("DPPath"), panel.display_profile_path());
    EXPECT_EQ(db.GetTagValue("DPName"), "value");

    // Stored values are truncated towards zero; rows that are not there
    // leave their controls alone; the screen rows are not restored.
    ASSERT_TRUE(db.SetControlValue(7, 1, 101, 2.9));
    ASSERT_TRUE(db.SetControlValue(7, 1, 503, -2.9));
    ASSERT_TRUE(db.SetControlValue(7, 1, 404, 1));
    ASSERT_TRUE(db.SetControlValue(7, 1, 601, 100));
    RecordingPanel target;
    EXPECT_EQ(db.LoadControls(7, target), 4);
    EXPECT_EQ(target.log, (std::vector<int>{-1, 101, 404, 503, 503, -2}));
    EXPECT_EQ(target.restored, (std::vector<int>{2, 1, -2, -2}));
    target.recovery_exists = false;
    target.log.clear();
    EXPECT_EQ(db.LoadControls(7, target), 3);
    EXPECT_EQ(target.log, (std::vector<int>{-1, 101, 503, 503, -2}));

    // All rows of an image in the order they are restored.
    RecordingPanel full;
    EXPECT_EQ(db.LoadControls(42, full), 26);
    const std::vector<int> restored = {-1,  101, 102, 104, 105, 106, 201, 202, 203, 301, 302, 303, 304, 305,
                                       306, 401, 402, 403, 404, 501, 502, 503, 503, 504, 505, 506, 507, -2};
    EXPECT_EQ(full.log, restored);
}

TEST(SettingsDatabase, FailuresAreReported) {
    DataFolder dir;
    Recorder r;
    SettingsDatabase closed(r.hooks());
    RecordingPanel panel;
    EXPECT_FALSE(closed.SaveControls(1, panel));
    EXPECT_EQ(closed.LoadControls(1, panel), -1);
    EXPECT_FALSE(closed.RecordRawFile(1, "/a.cr2", ""));
    EXPECT_FALSE(closed.LookupRawFileName(1));
    EXPECT_EQ(r.told, (std::vector<std::string>{kRecordError, kRecordError}));
    EXPECT_FALSE(closed.SetTagValue("a", "b"));
    EXPECT_FALSE(closed.AddSavedFile(1, 2, "c", 1));

    // A table lost under the program's feet: every control row fails, and
    // SaveControls says so.
    SettingsDatabase db;
    ASSERT_TRUE(db.open(dir.path()));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file(kWorkingFileName).c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "drop table controls", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_FALSE(db.SaveControls(1, panel));
    EXPECT_FALSE(db.SetControlValue(1, 1, 101, 1));
    EXPECT_TRUE(db.SetTagValue("DPName", "x"));
}

TEST(SettingsDatabase, DamagedStoredFileIsSetAsideAndTheStartIsEmpty) {
    // A whole stream taken from a real stored file, to cut and spoil.
    std::vector<unsigned char> good;
    {
        DataFolder dir;
        SettingsDatabase db;
        ASSERT_TRUE(db.open(dir.path()));
        db.SetTagValue("DPName", "kept");
        ASSERT_TRUE(db.close());
        good = test::file_bytes(dir.file(kStoredFileName));
    }
    std::vector<unsigned char> not_a_database(4096, 'z');
    std::vector<unsigned char> deflated_junk(compressBound(uLong(not_a_database.size())));
    uLongf junk_size = uLongf(deflated_junk.size());
    compress2(deflated_junk.data(), &junk_size, not_a_database.data(), uLong(not_a_database.size()), 5);
    deflated_junk.resize(junk_size);
    std::vector<unsigned char> flipped = good;
    flipped[flipped.size() / 2] ^= 0xFF;
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {"truncated", std::vector<unsigned char>(good.begin(), good.begin() + long(good.size() / 2))},
        {"garbage", std::vector<unsigned char>(1000, 0xA5)},
        {"empty", {}},
        {"one byte changed", flipped},
        {"a whole stream of no database", deflated_junk},
    };
    for (const auto& c : cases) {
        DataFolder dir;
        test::write_bytes(dir.file(kStoredFileName), c.bytes);
        test::write_bytes(dir.file(std::string(kStoredFileName) + ".bad"), {1, 2, 3});  // from an earlier time
        Recorder r;
        SettingsDatabase db(r.hooks());
        ASSERT_TRUE(db.open(dir.path())) << c.what;
        EXPECT_TRUE(r.told_about("moved to " + dir.file(std::string(kStoredFileName) + ".bad.1"))) << c.what;
        EXPECT_EQ(test::file_bytes(dir.file(std::string(kStoredFileName) + ".bad.1")), c.bytes) << c.what;
        EXPECT_EQ(test::file_bytes(dir.file(std::string(kStoredFileName) + ".bad")),
                  (std::vector<unsigned char>{1, 2, 3}));
        EXPECT_FALSE(db.GetTagValue("DPName")) << c.what;
        EXPECT_TRUE(db.SetTagValue("DPName", "new")) << c.what;
        EXPECT_TRUE(db.close()) << c.what;
        EXPECT_EQ(stored(dir).column("select value from ostelraw"), std::vector<std::string>{"new"}) << c.what;
    }
}

TEST(SettingsDatabase, DamagedWorkingCopyAsksAndOnlyYesForgetsTheStoredSettings) {
    for (const bool yes : {false, true}) {
        DataFolder dir;
        {
            SettingsDatabase db;
            ASSERT_TRUE(db.open(dir.path()));
            db.SetTagValue("DPName", "stored");
            ASSERT_TRUE(db.close());
        }
        const auto stored_bytes = test::file_bytes(dir.file(kStoredFileName));
        test::write_bytes(dir.file(kWorkingFileName), std::vector<unsigned char>(3000, 0x5A));
        test::write_bytes(dir.file(std::string(kWorkingFileName) + "-journal"), std::vector<unsigned char>(512, 1));
        Recorder r;
        r.answer = yes;
        SettingsDatabase db(r.hooks());
        ASSERT_TRUE(db.open(dir.path()));
        EXPECT_EQ(r.asked, std::vector<std::string>{kDamagedQuestion});
        EXPECT_FALSE(dir.has(std::string(kWorkingFileName) + "-journal")) << "stale journal left beside the copy";
        if (yes) {
            EXPECT_FALSE(db.GetTagValue("DPName"));
        } else {
            EXPECT_EQ(db.GetTagValue("DPName"), "stored");
            EXPECT_EQ(test::file_bytes(dir.file(kStoredFileName)), stored_bytes);
        }
    }
}

TEST(SettingsDatabase, StoredFileIsReplacedOnlyByACompleteWrite) {
    DataFolder dir;
    {
        SettingsDatabase db;
        ASSERT_TRUE(db.open(dir.path()));
        db.SetControlValue(1, 1, 101, 4);
        ASSERT_TRUE(db.close());
    }
    const auto before = test::file_bytes(dir.file(kStoredFileName));
    Recorder r;
    SettingsDatabase db(r.hooks());
    ASSERT_TRUE(db.open(dir.path()));
    db.SetControlValue(1, 1, 101, 9);
    // The new stored file cannot be made: shutdown must keep both the old
    // stored file and the working copy.
    fs::create_directory(dir.file(std::string(kStoredFileName) + ".new"));
    EXPECT_FALSE(db.close());
    EXPECT_TRUE(r.told_about("will be recovered at the next start"));
    EXPECT_EQ(test::file_bytes(dir.file(kStoredFileName)), before);
    EXPECT_TRUE(dir.has(kWorkingFileName));
    fs::remove(dir.file(std::string(kStoredFileName) + ".new"));

    // The next start recovers the kept copy without asking.
    Recorder next;
    SettingsDatabase again(next.hooks());
    ASSERT_TRUE(again.open(dir.path()));
    EXPECT_TRUE(next.asked.empty());
    EXPECT_EQ(again.GetControlValue(1, 1, 101), 9.0f);
    EXPECT_NE(test::file_bytes(dir.file(kStoredFileName)), before) << "the recovered copy is stored at once";
}

TEST(ControlMap, GivesStoredPositionsElseTheFallback) {
    ControlMap map([](int tag) { return tag == 302 ? 1 : 0; });
    map.restore_position(101, 5);
    EXPECT_EQ(map.position(101), 5);
    EXPECT_EQ(map.position(302), 1);
    EXPECT_EQ(map.position(303), 0);
    EXPECT_FALSE(map.find(302));
}

}  // namespace
}  // namespace ostel::persistence
