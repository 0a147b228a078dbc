// Saving the control positions of an image, as the document does before
// every develop run: all rows and the display profile in one transaction,
// committed to the disk. Runs in a scratch data folder ($TMPDIR, or the
// folder OSTELRAW_DATA_DIR names, to measure a particular disk).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "persistence/control_map.h"
#include "persistence/settings_database.h"

namespace {

namespace fs = std::filesystem;

fs::path scratch_folder() {
    const char* chosen = std::getenv("OSTELRAW_DATA_DIR");
    const fs::path base = chosen && *chosen ? fs::path(chosen) : fs::temp_directory_path();
    return base / ("ostel_settings_bench_" + std::to_string(::getpid()));
}

void BM_SaveControls(benchmark::State& state) {
    const fs::path folder = scratch_folder();
    fs::remove_all(folder);
    ostel::persistence::SettingsDatabase db;
    if (!db.open(folder.string())) {
        state.SkipWithError("the settings database cannot be opened");
        return;
    }
    // A database with some history: many images already stored.
    ostel::persistence::ControlMap panel;
    const int images = int(state.range(0));
    for (int id = 0; id < images; ++id) {
        panel.set(101, id % 30);
        db.SaveControls(id, panel);
    }
    int position = 0;
    for (auto _ : state) {
        panel.set(101, ++position % 30);
        if (!db.SaveControls(images / 2, panel)) state.SkipWithError("SaveControls failed");
    }
    db.close();
    fs::remove_all(folder);
}
BENCHMARK(BM_SaveControls)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
