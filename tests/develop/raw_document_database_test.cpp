// The document and the settings database: a newly opened file is recorded
// and its positions restored, every develop run saves them first.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "persistence/settings_database.h"
#include "tools/simcam/formats.h"

namespace ostel::develop {
namespace {

namespace fs = std::filesystem;
namespace sim = ostel::simcam;

struct Messages : Notifier {
    std::vector<std::string> texts;
    void message(const std::string& t) override { texts.push_back(t); }
};

// The main frame's part: its controls feed the pipeline and are what the
// database saves and restores.
class Frame : public MapControlSource, public persistence::ControlPanel {
public:
    bool has_control(int) const override { return true; }
    int position(int tag) const override { return int(value(tag)); }
    void restore_position(int tag, int position) override {
        set(tag, position);
        ++restored;
    }
    int restored = 0;
};

class DocumentDatabase : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("ostel_docdb_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        ASSERT_TRUE(db_.open(folder_.string()));
        const sim::Camera cam = sim::camera_for(sim::Format::cr2, 96, 72);
        file_ = (folder_ / "photo.cr2").string();
        const auto bytes = sim::write_raw(sim::Format::cr2, sim::render_mosaic(sim::Scene{}, cam), cam);
        std::ofstream(file_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void TearDown() override {
        db_.close();
        fs::remove_all(folder_);
    }
    int32_t id_of_file() {
        RawDocument doc;
        doc.set_screen_develop(false);
        EXPECT_EQ(doc.open(file_), kLoadOk);
        return doc.image_id();
    }

    fs::path folder_;
    std::string file_;
    persistence::SettingsDatabase db_;
};

TEST_F(DocumentDatabase, NewFileIsRecordedAndRestoredAndEveryDevelopSaves) {
    const int32_t id = id_of_file();
    ASSERT_NE(id, 0);
    ASSERT_TRUE(db_.SetControlValue(id, 1, tag::kExposure, 5));
    ASSERT_TRUE(db_.SetControlValue(id, 1, tag::kContrast, -3));

    Frame frame;
    Messages messages;
    RawDocument doc;
    doc.set_controls(&frame);
    doc.set_notifier(&messages);
    doc.use_database(&db_, &frame);
    ASSERT_EQ(doc.open(file_), kLoadOk);
    EXPECT_EQ(doc.image_id(), id);
    EXPECT_EQ(frame.restored, 2);
    EXPECT_EQ(frame.value(tag::kExposure), 5);
    EXPECT_EQ(frame.value(tag::kContrast), -3);
    const auto record = db_.raw_file(id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->filename, file_);
    // The screen develop of the load saved every control.
    EXPECT_EQ(db_.stored_controls(id).size(), 29u);

    // A re-decode of the same file restores nothing, and its develop saves
    // the frame's positions over what the database holds.
    ASSERT_TRUE(db_.SetControlValue(id, 1, tag::kExposure, 9));
    frame.set(tag::kSharpness, 4);
    ASSERT_EQ(doc.LoadRaw(), kLoadOk);
    EXPECT_EQ(frame.restored, 2);
    EXPECT_EQ(frame.value(tag::kExposure), 5);
    EXPECT_EQ(db_.GetControlValue(id, 1, tag::kExposure), 5.0f);
    EXPECT_EQ(db_.GetControlValue(id, 1, tag::kSharpness), 4.0f);
    frame.set(tag::kExposure, 2);
    doc.Develop(false);
    EXPECT_EQ(db_.GetControlValue(id, 1, tag::kExposure), 2.0f);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(DocumentDatabase, MissingDatabaseAndFailedSavesAreShownAndTheWorkGoesOn) {
    Frame frame;
    Messages messages;
    RawDocument doc;
    doc.set_controls(&frame);
    doc.set_notifier(&messages);
    persistence::SettingsDatabase never_opened;
    doc.use_database(&never_opened, &frame);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Could not import RAWDB to doc - it is NULL"});
    ASSERT_EQ(doc.open(file_), kLoadOk);
    EXPECT_TRUE(doc.ready());
    EXPECT_EQ(messages.texts.size(), 1u);

    // The controls table disappears behind the program's back.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / persistence::kWorkingFileName).c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "drop table controls", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    messages.texts.clear();
    doc.use_database(&db_, &frame);
    ASSERT_EQ(doc.open(file_), kLoadOk);
    EXPECT_TRUE(doc.ready());
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Failed to save controls"});

    // Restoring only (the command line): nothing is saved, nothing fails.
    messages.texts.clear();
    doc.use_database(&db_, &frame, DatabaseUse::record_restore);
    ASSERT_EQ(doc.open(file_), kLoadOk);
    EXPECT_TRUE(messages.texts.empty());
}

}  // namespace
}  // namespace ostel::develop
