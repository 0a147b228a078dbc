// A program that drives the settings database from outside the test
// process, so that tests can kill it, run two at once or starve it of disk.
//
//   settings_db_tool FOLDER save-loop ID      saves controls with exposure
//                                             0, 1, 2, ... and prints each
//                                             number once it is committed
//   settings_db_tool FOLDER hold              opens, prints "open" or
//                                             "refused", waits for stdin to
//                                             close, shuts down
//   settings_db_tool FOLDER store ID TAG VALUE
//   settings_db_tool FOLDER fill-and-close ID fills the folder's disk, then
//                                             shuts down
//
// Messages of the database go to stderr; the damaged-copy question is
// answered No. Exit 0 on success, 1 when the database was not usable or
// the shutdown did not store it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "persistence/control_map.h"
#include "persistence/settings_database.h"

using ostel::persistence::ControlMap;
using ostel::persistence::DatabaseHooks;
using ostel::persistence::SettingsDatabase;

namespace {

void fill_disk(const std::string& folder) {
    const int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    std::vector<char> block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    // Smaller pieces take what is left.
    while (::write(fd, block.data(), 1) > 0) {
    }
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string folder = argv[1], command = argv[2];
    DatabaseHooks hooks;
    hooks.tell = [](const std::string& text) { std::cerr << text << std::endl; };
    hooks.ask = [](const std::string& question) {
        std::cerr << "asked: " << question << std::endl;
        return false;
    };
    SettingsDatabase db(hooks);
    const bool opened = db.open(folder);
    if (command == "hold") {
        std::cout << (opened ? "open" : "refused") << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        return opened && db.close() ? 0 : 1;
    }
    if (!opened) return 1;
    const int id = argc > 3 ? std::atoi(argv[3]) : 0;
    if (command == "save-loop") {
        ControlMap panel;
        for (int i = 0;; ++i) {
            panel.set(101, i);
            panel.set(501, -i);
            if (!db.SaveControls(id, panel)) return 1;
            std::printf("%d\n", i);
            std::fflush(stdout);
        }
    }
    if (command == "store" && argc == 6) {
        const bool ok = db.SetControlValue(id, 1, std::atoi(argv[4]), std::atof(argv[5]));
        return ok && db.close() ? 0 : 1;
    }
    if (command == "fill-and-close") {
        ControlMap panel;
        for (int i = 0; i < 200; ++i) {
            panel.set(101, i % 30);
            if (!db.SaveControls(id + i, panel)) return 1;
        }
        fill_disk(folder);
        return db.close() ? 0 : 1;
    }
    return 2;
}
