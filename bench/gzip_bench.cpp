// Compressed files, in one run so the ratios compare like with like:
//   - the index pass over a 1 GiB (unpacked) gzip file against `gzip -dc`
//     of the same file to /dev/null;
//   - a 512 x 512 Int-16 slice read at a random place after indexing (cache
//     cold: the places spread over the whole GiB), against the same read from
//     the uncompressed file;
//   - the window's four renders of a 256^3 Int-16 volume after indexing,
//     gzip against raw: the first refresh (every chunk inflated) and the
//     steady state (recently inflated chunks cached).
// The files are written once per run under $TMPDIR (about 1.3 GiB plain +
// packed); packing uses pigz.

#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewImage.h"
#include "volume/VolumeFile.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path scratch()
{
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / "kelvox-gzip-bench";
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// Int-16 slices of d0 x d1 voxels: a smooth blob with noise, like a scan;
// written raw and packed by pigz, once.
fs::path volume(const char* name, int d0, int d1, int slices)
{
    const fs::path raw = scratch() / (std::string(name) + ".raw");
    const fs::path packed = scratch() / (std::string(name) + ".raw.gz");
    if (fs::exists(packed))
        return raw;
    FILE* out = std::fopen(raw.c_str(), "wb");
    if (!out)
        std::abort();
    std::mt19937 rng(1);
    std::vector<std::int16_t> slice(static_cast<std::size_t>(d0) * static_cast<std::size_t>(d1));
    for (int z = 0; z < slices; ++z) {
        for (int y = 0; y < d1; ++y) {
            for (int x = 0; x < d0; ++x) {
                const double r = std::hypot(x - d0 / 2.0, y - d1 / 2.0) / d0;
                const double v = 1000.0 * std::exp(-8 * r * r) * (1 + 0.3 * std::sin(z * 0.05)) + (rng() % 32);
                slice[static_cast<std::size_t>(y) * static_cast<std::size_t>(d0) + static_cast<std::size_t>(x)] =
                    static_cast<std::int16_t>(v);
            }
        }
        std::fwrite(slice.data(), sizeof(std::int16_t), slice.size(), out);
    }
    std::fclose(out);
    const std::string command = "pigz -6 -c '" + raw.string() + "' > '" + packed.string() + "'";
    if (std::system(command.c_str()) != 0)
        std::abort();
    return raw;
}

constexpr int BigSlices = 2048; // 512 x 512 x 2048 Int-16: 1 GiB
fs::path bigRaw() { return volume("i16_512x512x2048", 512, 512, BigSlices); }
fs::path bigPacked() { return bigRaw().string() + ".gz"; }
fs::path cubeRaw() { return volume("i16_256x256x256", 256, 256, 256); }
fs::path cubePacked() { return cubeRaw().string() + ".gz"; }

void BM_GzipDcToDevNull(benchmark::State& state)
{
    const std::string command = "gzip -dc '" + bigPacked().string() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("gzip -dc failed");
    }
}

void BM_IndexPass(benchmark::State& state)
{
    const fs::path packed = bigPacked();
    for (auto _ : state) {
        const VolumeFile file(packed.string());
        benchmark::DoNotOptimize(file.size());
        if (file.size() != std::int64_t{1} << 30)
            state.SkipWithError("wrong unpacked size");
        state.counters["restart_points"] = static_cast<double>(file.unpacked()->restartPoints());
        state.counters["index_share_pct"] =
            100.0 * static_cast<double>(file.unpacked()->indexBytes()) / static_cast<double>(file.size());
    }
}

void sliceReads(benchmark::State& state, const fs::path& path)
{
    const VolumeFile file(path.string());
    std::vector<std::uint8_t> slice(512 * 512 * 2);
    std::mt19937 rng(5);
    for (auto _ : state) {
        const auto z = static_cast<std::int64_t>(rng() % BigSlices);
        if (file.readAt(z * static_cast<std::int64_t>(slice.size()), slice.data(), slice.size()) != slice.size())
            state.SkipWithError("short read");
    }
}

void BM_SliceReadGzip(benchmark::State& state) { sliceReads(state, bigPacked()); }
void BM_SliceReadRaw(benchmark::State& state) { sliceReads(state, bigRaw()); }

// The four renders of a refresh: slice 128, 129, the cross-slice of row 128
// and the other volume (volume 0 again: the file holds one).
void refresh(TKelvoxDataMgr& m, std::array<MemoryViewImage, 4>& images)
{
    m.RenderView(0, 128, vkSlice, images[0]);
    m.RenderView(0, 129, vkNextSlice, images[1]);
    m.RenderView(0, 128, vkCrossSlice, images[2]);
    m.RenderView(0, 128, vkOtherVolume, images[3]);
}

void refreshes(benchmark::State& state, const fs::path& path, bool cold)
{
    TKelvoxDataMgr m;
    std::array<MemoryViewImage, 4> images;
    m.OpenFile(path.string());
    m.SetParams(256, 256, 256, vdtInt16, boLittleEndian, 0, 1200, 0);
    refresh(m, images);
    if (m.FileName.empty() || m.ViewCounts[vkCrossSlice] != 256 * 256 || m.ViewCounts[vkSlice] != 256 * 256)
        state.SkipWithError("the views did not read the whole volume");
    for (auto _ : state) {
        if (cold) {
            // A fresh index: nothing inflated yet (the pass is not timed).
            state.PauseTiming();
            m.OpenFile(path.string());
            state.ResumeTiming();
        }
        refresh(m, images);
    }
}

void BM_RefreshRaw(benchmark::State& state) { refreshes(state, cubeRaw(), false); }
void BM_RefreshGzipSteady(benchmark::State& state) { refreshes(state, cubePacked(), false); }
void BM_RefreshGzipFirst(benchmark::State& state) { refreshes(state, cubePacked(), true); }

} // namespace

BENCHMARK(BM_GzipDcToDevNull)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_IndexPass)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SliceReadGzip)->Unit(benchmark::kMillisecond)->Iterations(100)->UseRealTime();
BENCHMARK(BM_SliceReadRaw)->Unit(benchmark::kMillisecond)->Iterations(100)->UseRealTime();
BENCHMARK(BM_RefreshRaw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RefreshGzipSteady)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RefreshGzipFirst)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

BENCHMARK_MAIN();
