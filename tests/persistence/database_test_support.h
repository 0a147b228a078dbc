#pragma once
// Shared pieces of the settings database tests: a scratch data folder, the
// hooks that record what the user would see, and reading the stored file.
#include <sqlite3.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "persistence/control_panel.h"
#include "persistence/settings_database.h"

namespace ostel::persistence::test {

namespace fs = std::filesystem;

class DataFolder {
public:
    explicit DataFolder(const std::string& tag = "db")
        : path_(fs::temp_directory_path() /
                ("ostel_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~DataFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    bool has(const std::string& name) const { return fs::exists(path_ / name); }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

// What the database told and asked, and the answer it gets.
struct Recorder {
    std::vector<std::string> told, asked;
    bool answer = false;
    DatabaseHooks hooks() {
        DatabaseHooks h;
        h.tell = [this](const std::string& t) { told.push_back(t); };
        h.ask = [this](const std::string& q) {
            asked.push_back(q);
            return answer;
        };
        return h;
    }
    bool told_about(const std::string& part) const {
        for (const std::string& t : told)
            if (t.find(part) != std::string::npos) return true;
        return false;
    }
};

inline std::vector<unsigned char> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The database inside a stored file, inflated; empty when it does not inflate.
inline std::vector<unsigned char> inflated(const std::vector<unsigned char>& stream) {
    std::vector<unsigned char> out(1 << 16);
    for (;;) {
        uLongf size = uLongf(out.size());
        const int rc = uncompress(out.data(), &size, stream.data(), uLong(stream.size()));
        if (rc == Z_OK) {
            out.resize(size);
            return out;
        }
        if (rc != Z_BUF_ERROR || out.size() > (64u << 20)) return {};
        out.resize(out.size() * 4);
    }
}

// A panel over fixed positions that records what is restored, in order.
class RecordingPanel : public ControlPanel {
public:
    bool has_control(int tag) const override { return tag != 404 || recovery_exists; }
    int position(int tag) const override { return tag * 10 % 97 - 40; }
    void begin_restore() override { log.push_back(-1); }
    void end_restore() override { log.push_back(-2); }
    void restore_position(int tag, int position) override {
        log.push_back(tag);
        restored.push_back(position);
    }
    int display_profile_index() const override { return 3; }
    std::string display_profile_path() const override { return "/usr/share/color/icc/\"my\" display.icc"; }
    std::string display_profile_name() const override { return "value"; }

    bool recovery_exists = true;
    std::vector<int> log, restored;
};

}  // namespace ostel::persistence::test
