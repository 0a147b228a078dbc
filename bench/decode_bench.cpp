// Decode throughput per loader, single-threaded, in megapixels per second:
// simulated 20-megapixel files of every writer, the 24-megapixel CR2 that the
// preview benchmark opens, and the real sample files when they are present.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdlib>
#include <map>
#include <string>

#include "core/session/decoder_session.h"
#include "core/identify/identify.h"
#include "core/ljpeg/ljpeg.h"
#include "core/loaders/loaders.h"
#include "core/thumb/entries.h"
#include "tools/simcam/formats.h"

namespace {

using namespace ostel;

constexpr int kWidth = 5472, kHeight = 3648;  // 19.96 megapixels

const std::vector<uint8_t>& simulated(simcam::Format f) {
    static std::map<simcam::Format, std::vector<uint8_t>> cache;
    auto it = cache.find(f);
    if (it == cache.end()) {
        simcam::Camera cam = simcam::camera_for(f, kWidth, kHeight);
        cam.noise_sigma = 8;  // realistic difference lengths for the entropy coders
        it = cache.emplace(f, simcam::write_raw(f, simcam::render_mosaic(simcam::Scene{}, cam), cam)).first;
    }
    return it->second;
}

// The file ostel_preview_bench opens: 6000 x 4000, noise 4.
const std::vector<uint8_t>& simulated_cr2_24mp() {
    static const std::vector<uint8_t> bytes = [] {
        simcam::Camera cam = simcam::camera_for(simcam::Format::cr2, 6000, 4000);
        cam.noise_sigma = 4;
        return simcam::write_raw(simcam::Format::cr2, simcam::render_mosaic(simcam::Scene{}, cam), cam);
    }();
    return bytes;
}

void run_decode(benchmark::State& state, const std::vector<uint8_t>& bytes) {
    omp_set_num_threads(1);
    if (bytes.empty()) {
        state.SkipWithError("file not found");
        return;
    }
    int64_t pixels = 0;
    for (auto _ : state) {
        state.PauseTiming();
        core::DecoderSession s;
        s.input = core::ByteSource(bytes);
        state.ResumeTiming();
        core::decode(s);
        benchmark::DoNotOptimize(s.image.data());
        if (!s.raw_count || s.image.empty()) {
            state.SkipWithError("decode refused the file");
            return;
        }
        pixels = int64_t(s.width) * s.height;
        state.SetLabel(std::string(core::loader_name(s.loader)));
    }
    state.counters["MP/s"] = benchmark::Counter(double(pixels) * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
    state.SetBytesProcessed(int64_t(bytes.size()) * state.iterations());
}

void BM_Simulated(benchmark::State& state) {
    run_decode(state, simulated(static_cast<simcam::Format>(state.range(0))));
}

// The loader alone: identification and the zero-filled image are prepared
// outside the timed region, which for large images is dominated by page
// faults rather than by decoding.
void run_loader_only(benchmark::State& state, const std::vector<uint8_t>& bytes, int threads = 1) {
    omp_set_num_threads(threads);
    int64_t pixels = 0;
    for (auto _ : state) {
        state.PauseTiming();
        core::DecoderSession s;
        s.input = core::ByteSource(bytes);
        s.seek(0);
        core::identify_file(s);
        if (!s.raw_count) {
            state.SkipWithError("identification refused the file");
            return;
        }
        s.image_height = s.height;
        s.image_width = s.width;
        s.image.assign(size_t(s.height) * size_t(s.width), core::Pixel4{});
        if (s.aux_length > 0) s.aux_data.assign(size_t(s.aux_length), 0);
        s.seek(s.raw_offset);
        pixels = int64_t(s.width) * s.height;
        state.SetLabel(std::string(core::loader_name(s.loader)));
        state.ResumeTiming();
        core::run_loader(s, s.loader);
        benchmark::DoNotOptimize(s.image.data());
        state.PauseTiming();
        s.image = {};  // release outside the timed region
        state.ResumeTiming();
    }
    state.counters["MP/s"] = benchmark::Counter(double(pixels) * double(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_LoaderOnly(benchmark::State& state) {
    run_loader_only(state, simulated(static_cast<simcam::Format>(state.range(0))));
}

// The entropy decoding alone: every line of the file's lossless JPEG stream,
// without placing the samples in the image.
void BM_Cr2_24mpStreamOnly(benchmark::State& state) {
    const auto& bytes = simulated_cr2_24mp();
    core::DecoderSession s;
    s.input = core::ByteSource(bytes);
    s.seek(0);
    core::identify_file(s);
    int64_t samples = 0;
    for (auto _ : state) {
        s.seek(s.raw_offset);
        core::LjpegHeader jh;
        if (!core::parse_ljpeg_header(s, jh, false)) {
            state.SkipWithError("no lossless JPEG stream");
            return;
        }
        uint64_t sum = 0;
        for (int jrow = 0; jrow < jh.high; ++jrow) sum += core::decode_ljpeg_row(s, jrow, jh)[0];
        benchmark::DoNotOptimize(sum);
        samples = int64_t(jh.high) * jh.wide * jh.clrs;
    }
    state.counters["ns/sample"] =
        benchmark::Counter(double(samples) * double(state.iterations()) * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Tiled files decode their tiles side by side: the loader on every core.
void BM_LoaderAllCores(benchmark::State& state) {
    run_loader_only(state, simulated(static_cast<simcam::Format>(state.range(0))), omp_get_num_procs());
}

void BM_Cr2_24mp(benchmark::State& state) { run_decode(state, simulated_cr2_24mp()); }
void BM_Cr2_24mpLoaderOnly(benchmark::State& state) { run_loader_only(state, simulated_cr2_24mp()); }

std::vector<uint8_t> read_file(const std::string& path) {
    core::ByteSource src;
    if (!core::ByteSource::load_file(path, src)) return {};
    return src.bytes();
}

std::string samples_dir() {
    if (const char* env = std::getenv("OSTEL_SAMPLES")) return env;
    return std::string(OSTEL_SOURCE_DIR) + "/../shared/samples";
}

void BM_RealCr2(benchmark::State& state) {
    static const auto bytes = read_file(std::string(OSTEL_SOURCE_DIR) + "/testdata/canon_eos30d.cr2");
    run_decode(state, bytes);
}

void BM_RealNef(benchmark::State& state) {
    static const auto bytes = read_file(samples_dir() + "/real/nikon_d1.nef");
    run_decode(state, bytes);
}

void register_all() {
    for (int f = 0; f < static_cast<int>(simcam::Format::count_); ++f) {
        const std::string name = "decode/" + std::string(simcam::format_name(static_cast<simcam::Format>(f)));
        benchmark::RegisterBenchmark(name.c_str(), BM_Simulated)->Arg(f)->Unit(benchmark::kMillisecond);
    }
    for (int f = 0; f < static_cast<int>(simcam::Format::count_); ++f) {
        const std::string name = "loader/" + std::string(simcam::format_name(static_cast<simcam::Format>(f)));
        benchmark::RegisterBenchmark(name.c_str(), BM_LoaderOnly)->Arg(f)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("loader_all_cores/dng_ljpeg", BM_LoaderAllCores)
        ->Arg(static_cast<int>(simcam::Format::dng_ljpeg))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("decode/cr2_24mp", BM_Cr2_24mp)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("loader/cr2_24mp", BM_Cr2_24mpLoaderOnly)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("stream/cr2_24mp", BM_Cr2_24mpStreamOnly)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decode/real_canon_eos30d_cr2", BM_RealCr2)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("decode/real_nikon_d1_nef", BM_RealNef)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
