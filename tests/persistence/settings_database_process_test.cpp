// The settings database across real processes: killed in the middle of its
// writes, run twice at once, starved of disk at shutdown.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "persistence/settings_database.h"
#include "tests/persistence/database_test_support.h"

namespace ostel::persistence {
namespace {

using test::DataFolder;
using test::Recorder;
namespace fs = std::filesystem;

// The test helper program with its stdin and stdout on pipes.
class Tool {
public:
    explicit Tool(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
            std::vector<char*> argv;
            std::string program = OSTEL_SETTINGS_DB_TOOL;
            argv.push_back(program.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = ::fdopen(out[0], "r");
    }
    ~Tool() {
        close_stdin();
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (stdout_) std::fclose(stdout_);
    }
    // The next line of output without its newline; empty at the end.
    std::string line() {
        char buf[256];
        if (!stdout_ || !std::fgets(buf, sizeof buf, stdout_)) return {};
        std::string s = buf;
        if (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }
    void close_stdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }
    void kill_hard() { ::kill(pid_, SIGKILL); }
    // Exit code, or 128 + signal.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    FILE* stdout_ = nullptr;
    bool reaped_ = false;
};

int run_tool(const std::vector<std::string>& args) {
    Tool t(args);
    t.close_stdin();
    return t.wait();
}

TEST(SettingsDatabaseProcesses, KilledInTheMiddleOfSavingLosesNoCommittedWrite) {
    DataFolder dir("kill");
    ASSERT_EQ(run_tool({dir.path(), "store", "5", "302", "7"}), 0);  // an earlier, normal run
    for (int round = 0; round < 3; ++round) {
        int last = -1;
        {
            Tool saver({dir.path(), "save-loop", "11"});
            // Let it get well into its loop, at a different point each round.
            for (int i = 0; i < 40 + 37 * round; ++i) {
                const std::string l = saver.line();
                ASSERT_FALSE(l.empty()) << "the saving program stopped";
                last = std::atoi(l.c_str());
            }
            saver.kill_hard();
            EXPECT_EQ(saver.wait(), 128 + SIGKILL);
        }
        ASSERT_TRUE(dir.has(kWorkingFileName));
        Recorder r;
        SettingsDatabase db(r.hooks());
        ASSERT_TRUE(db.open(dir.path()));
        EXPECT_TRUE(r.asked.empty()) << "an intact working copy needs no question";
        EXPECT_TRUE(r.told.empty()) << r.told.front();
        const auto exposure = db.GetControlValue(11, 1, 101);
        const auto fill = db.GetControlValue(11, 1, 501);
        ASSERT_TRUE(exposure && fill);
        // Every reported save is there; one more may have been committed
        // before the kill; the rows of one save belong together.
        EXPECT_GE(*exposure, float(last));
        EXPECT_LE(*exposure, float(last + 1));
        EXPECT_EQ(*fill, -*exposure);
        EXPECT_EQ(db.GetControlValue(5, 1, 302), 7.0f);
        EXPECT_TRUE(db.close());
        EXPECT_FALSE(dir.has(kWorkingFileName));
        EXPECT_FALSE(dir.has(std::string(kWorkingFileName) + "-wal"));
    }
}

TEST(SettingsDatabaseProcesses, SecondProgramWorksWithoutTheDatabase) {
    DataFolder dir("lock");
    Tool first({dir.path(), "hold"});
    ASSERT_EQ(first.line(), "open");
    const auto working = test::file_bytes(dir.file(kWorkingFileName));

    Recorder r;
    SettingsDatabase second(r.hooks());
    EXPECT_FALSE(second.open(dir.path()));
    ASSERT_EQ(r.told.size(), 1u);
    EXPECT_NE(r.told[0].find("in use by another Ostel RAW (process " + std::to_string(first.pid()) + ")"),
              std::string::npos)
        << r.told[0];
    EXPECT_FALSE(second.SetControlValue(1, 1, 101, 3));
    EXPECT_TRUE(dir.has(kWorkingFileName)) << "the first program's working copy was touched";
    EXPECT_EQ(test::file_bytes(dir.file(kWorkingFileName)), working);
    EXPECT_EQ(run_tool({dir.path(), "store", "1", "101", "3"}), 1);

    first.close_stdin();
    EXPECT_EQ(first.wait(), 0);
    EXPECT_FALSE(dir.has(kWorkingFileName));
    EXPECT_TRUE(second.open(dir.path()));
}

// A small file system of its own, so that the disk can be filled.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=8m") == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST(SettingsDatabaseProcesses, FullDiskAtShutdownKeepsTheStoredFile) {
    DataFolder dir("full");
    SmallDisk disk(dir.path());
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): the full-disk case is not run";
    ASSERT_EQ(run_tool({dir.path(), "store", "3", "101", "4"}), 0);
    const auto before = test::file_bytes(dir.file(kStoredFileName));
    ASSERT_FALSE(before.empty());

    EXPECT_EQ(run_tool({dir.path(), "fill-and-close", "1000"}), 1);
    EXPECT_EQ(test::file_bytes(dir.file(kStoredFileName)), before);
    EXPECT_TRUE(dir.has(kWorkingFileName));
    EXPECT_FALSE(dir.has(std::string(kStoredFileName) + ".new"));

    fs::remove(dir.file("filler"));
    Recorder r;
    SettingsDatabase db(r.hooks());
    ASSERT_TRUE(db.open(dir.path()));
    EXPECT_TRUE(r.asked.empty());
    EXPECT_EQ(db.GetControlValue(3, 1, 101), 4.0f);
    EXPECT_EQ(db.GetControlValue(1000 + 199, 1, 101), float(199 % 30));
    EXPECT_TRUE(db.close());
}

}  // namespace
}  // namespace ostel::persistence
