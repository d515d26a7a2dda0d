// Rendering speed of the data manager, from page-cached files.
//
//   RenderSlice/<type>  RenderView of a 1024 x 1024 slice (f32-2048 and
//                       f32-4096: Float-32 slices of 2048 x 2048, the least
//                       read ahead on a second thread, and 4096 x 4096,
//                       beyond the caches)
//   SliceFloor/<type>   one pread of the same bytes plus writing the 3-byte
//                       pixels with memset: memory traffic alone
//                       Both run 7 times each, all repetitions of the binary
//                       in random order; at the end the ratios (render /
//                       floor) of their minima and of their medians are
//                       printed per type.
//   CrossSlice/u8       the cross-slice view of a 1024^3 byte volume (1024 row reads)
//   CrossSlice/f32-2048x2048x2060   the cross-slice view of a 34.6 GB sparse
//                       float32 volume (2060 row reads of 8 KiB, beyond 4 GiB)
//   CrossSliceFloor/f32-2048x2048x2060   2060 plain preads of the same rows
//   FourViews/i16       the four views of a 256^3 int16 volume, as the window renders them
//   ZoomedSlice/f32-10000x10000/<k>   RenderView of a page-cached 10000 x 10000
//                       float32 slice at 1:k (1 and 16), with the bytes read
//                       per render as the counter "bytes_read"
//
// --vector_units=plain|avx2 runs them with the loops of processors without
// AVX-512 (or without vector units).

#include "volume/GreyKernels.h"
#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewImage.h"

#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

class PlainImage final : public ViewImage
{
public:
    void setSize24(int width, int height) override
    {
        m_width = width;
        m_pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    }
    std::uint8_t* rowPointer(int y) override { return m_pixels.data() + static_cast<std::size_t>(y) * m_width * 3; }
    void repaintNow() override { benchmark::DoNotOptimize(m_pixels.data()); }

private:
    int m_width = 0;
    std::vector<std::uint8_t> m_pixels;
};

// Benchmark files live in one temporary directory, removed at exit.
class BenchFiles
{
public:
    // A file of size bytes whose first min(size, filled) bytes come from a
    // deterministic generator of plausible voxels of the type; the rest is
    // sparse. Read once so that it sits in the page cache.
    // Each file is written once: a file rewritten before every repetition
    // leaves its dirty pages to be written back during the timed loop.
    std::string make(const std::string& name, std::int64_t size, std::int64_t filled, TVoxelDataType type,
                     bool warm = true)
    {
        const std::string path = m_dir.path(name);
        if (!m_made.insert(name).second)
            return path;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(size, filled)));
        std::uint32_t x = 2463534242u;
        const auto step = static_cast<std::size_t>(bytesPerVoxelOf(type));
        for (std::size_t i = 0; i < bytes.size(); i += step) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            std::uint64_t v = x;
            if (type == vdtFloat32) {
                const float f = static_cast<float>(x % 100000) / 100000.0f;
                std::uint32_t bits;
                std::memcpy(&bits, &f, 4);
                v = bits;
            } else if (type == vdtFloat64) {
                const double d = static_cast<double>(x % 100000) / 100000.0;
                std::memcpy(&v, &d, 8);
            } else if (type == vdtInt16 || type == vdtUInt16) {
                v = x % 4000;
            } else if (type == vdtInt32) {
                v = x % 2000000;
            }
            std::memcpy(bytes.data() + i, &v, std::min(step, bytes.size() - i));
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())
            || ::ftruncate(fd, size) != 0)
            throw std::runtime_error("cannot write " + path);
        std::vector<std::uint8_t> sink(1 << 20);
        for (off_t at = 0; warm && ::pread(fd, sink.data(), sink.size(), at) > 0; at += static_cast<off_t>(sink.size())) {
        }
        ::close(fd);
        return path;
    }

private:
    TempDir m_dir;
    std::set<std::string> m_made;
};

BenchFiles* files = nullptr;

constexpr std::int64_t SliceSide = 1024;
// Float-32 slices of 16 MiB, the least that is read ahead on a second
// thread, and of 64 MiB, more than the processor's caches hold.
constexpr std::int64_t MiddleSliceSide = 2048;
constexpr std::int64_t LargeSliceSide = 4096;
constexpr int SliceRepetitions = 7;

struct TypeCase
{
    const char* name;
    TVoxelDataType type;
    std::int32_t intensityMin, intensityMax;
    std::int64_t side = SliceSide;
};

constexpr TypeCase Types[]{{"u8", vdtByte, 0, 255},        {"i16", vdtInt16, 0, 4000},
                           {"i32", vdtInt32, 0, 2000000}, {"f32", vdtFloat32, 0, 1},
                           {"u16", vdtUInt16, 0, 4000},   {"f64", vdtFloat64, 0, 1},
                           {"f32-2048", vdtFloat32, 0, 1, MiddleSliceSide},
                           {"f32-4096", vdtFloat32, 0, 1, LargeSliceSide}};

void renderSlice(benchmark::State& state, TypeCase t)
{
    const std::int64_t bytes = t.side * t.side * bytesPerVoxelOf(t.type);
    const std::string path = files->make(std::string("slice_") + t.name, bytes, bytes, t.type);
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(static_cast<std::int32_t>(t.side), static_cast<std::int32_t>(t.side), 1, t.type, boLittleEndian,
                  t.intensityMin, t.intensityMax);
    PlainImage image;
    // Steady state: the view buffer and the bitmap have their memory.
    mgr.RenderView(0, 0, vkSlice, image);
    for (auto _ : state)
        mgr.RenderView(0, 0, vkSlice, image);
    state.SetBytesProcessed(state.iterations() * bytes);
}

void sliceFloor(benchmark::State& state, TypeCase t)
{
    const std::int64_t bytes = t.side * t.side * bytesPerVoxelOf(t.type);
    const std::string path = files->make(std::string("floor_") + t.name, bytes, bytes, t.type);
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(bytes));
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(t.side * t.side * 3));
    benchmark::DoNotOptimize(::pread(fd, buffer.data(), buffer.size(), 0));
    std::memset(pixels.data(), 0x80, pixels.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(::pread(fd, buffer.data(), buffer.size(), 0));
        std::memset(pixels.data(), 0x80, pixels.size());
        benchmark::ClobberMemory();
    }
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * bytes);
}

void crossSlice(benchmark::State& state)
{
    const std::int64_t side = 1024;
    // 1 GiB, of which the first 64 MiB hold data; the rest is sparse.
    const std::string path = files->make("cross_u8", side * side * side, 64 << 20, vdtByte);
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(side, side, side, vdtByte, boLittleEndian, 0, 255);
    PlainImage image;
    for (auto _ : state)
        mgr.RenderView(0, 512, vkCrossSlice, image);
}

// The micro-CT case: 2048 x 2048 x 2060 float32, 34.6 GB, all holes, so the
// rows come from the page cache's zero page once warm.
constexpr std::int64_t CtSide = 2048;
constexpr std::int64_t CtSlices = 2060;
constexpr std::int32_t CtRow = 1024;

std::string ctFile()
{
    static const std::string path =
        files->make("ct_f32", CtSide * CtSide * CtSlices * 4, 0, vdtFloat32, /*warm=*/false);
    return path;
}

void crossSliceHuge(benchmark::State& state)
{
    TKelvoxDataMgr mgr;
    mgr.OpenFile(ctFile());
    mgr.SetParams(CtSide, CtSide, CtSlices, vdtFloat32, boLittleEndian, 0, 1);
    PlainImage image;
    for (auto _ : state)
        mgr.RenderView(0, CtRow, vkCrossSlice, image);
}

void crossSliceHugeFloor(benchmark::State& state)
{
    const int fd = ::open(ctFile().c_str(), O_RDONLY);
    const std::size_t rowBytes = CtSide * 4;
    std::vector<std::uint8_t> rows(rowBytes * CtSlices);
    for (auto _ : state) {
        for (std::int64_t k = 0; k < CtSlices; ++k) {
            const off_t at = static_cast<off_t>((k * CtSide + CtRow) * CtSide * 4);
            benchmark::DoNotOptimize(::pread(fd, rows.data() + k * rowBytes, rowBytes, at));
        }
        benchmark::ClobberMemory();
    }
    ::close(fd);
}

void fourViews(benchmark::State& state)
{
    const std::int64_t side = 256;
    const std::int64_t bytes = side * side * side * 2;
    const std::string path = files->make("four_i16", bytes, bytes, vdtInt16);
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    PlainImage slice, next, cross, other;
    for (auto _ : state) {
        mgr.SetParams(side, side, side, vdtInt16, boLittleEndian, 0, 4000);
        mgr.RenderView(0, 128, vkSlice, slice);
        mgr.RenderView(0, 129, vkNextSlice, next);
        mgr.RenderView(0, 128, vkCrossSlice, cross);
        mgr.RenderView(0, 128, vkOtherVolume, other);
    }
}

// Counts the bytes the renders ask of the file.
class ByteCounter final : public FileReadObserver
{
public:
    void beforeRead(std::int64_t, std::size_t bytes) override { total += static_cast<std::int64_t>(bytes); }
    std::int64_t total = 0;
};

void zoomedSlice(benchmark::State& state)
{
    constexpr std::int64_t side = 10000;
    static const std::string path = files->make("zoom_f32", side * side * 4, side * side * 4, vdtFloat32);
    const auto step = static_cast<std::int32_t>(state.range(0));
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(side, side, 1, vdtFloat32, boLittleEndian, 0, 1);
    PlainImage image;
    ByteCounter counter;
    TKelvoxDataMgr::SetReadObserver(&counter);
    for (auto _ : state)
        mgr.RenderView(0, 0, vkSlice, image, step);
    TKelvoxDataMgr::SetReadObserver(nullptr);
    state.counters["bytes_read"] = static_cast<double>(counter.total) / static_cast<double>(state.iterations());
}

// The console's report, and at the end the ratio of each slice render's
// fastest repetition to its floor's, and of their median repetitions (the
// median is less swayed by one lucky repetition of either on a shared
// machine).
class RatioReporter final : public benchmark::ConsoleReporter
{
public:
    RatioReporter()
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular)
    {
    }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            Times& times = m_times[run.run_name.function_name];
            times.real.push_back(run.GetAdjustedRealTime());
            times.cpu.push_back(run.GetAdjustedCPUTime());
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nSlice render / floor over %d repetitions in random order (wall, CPU):\n", SliceRepetitions);
        std::printf("  %-8s %-11s %s\n", "", "minima", "medians");
        for (const TypeCase& t : Types) {
            const auto render = m_times.find(std::string("RenderSlice/") + t.name);
            const auto floor = m_times.find(std::string("SliceFloor/") + t.name);
            if (render == m_times.end() || floor == m_times.end())
                continue;
            const auto ratio = [](std::vector<double> r, std::vector<double> f, double q) {
                return quantile(r, q) / quantile(f, q);
            };
            std::printf("  %-8s %.2f  %.2f  %.2f  %.2f\n", t.name, ratio(render->second.real, floor->second.real, 0),
                        ratio(render->second.cpu, floor->second.cpu, 0),
                        ratio(render->second.real, floor->second.real, 0.5),
                        ratio(render->second.cpu, floor->second.cpu, 0.5));
        }
    }

private:
    // Each repetition's time per iteration.
    struct Times
    {
        std::vector<double> real, cpu;
    };
    // The repetition at fraction q of the sorted times (0: the fastest).
    static double quantile(std::vector<double>& times, double q)
    {
        std::sort(times.begin(), times.end());
        return times[static_cast<std::size_t>(q * static_cast<double>(times.size() - 1) + 0.5)];
    }
    std::map<std::string, Times> m_times;
};

} // namespace

int main(int argc, char** argv)
{
    BenchFiles benchFiles;
    files = &benchFiles;
    for (const TypeCase& t : Types) {
        benchmark::RegisterBenchmark((std::string("RenderSlice/") + t.name).c_str(), renderSlice, t)
            ->Unit(benchmark::kMicrosecond)
            ->Repetitions(SliceRepetitions);
        benchmark::RegisterBenchmark((std::string("SliceFloor/") + t.name).c_str(), sliceFloor, t)
            ->Unit(benchmark::kMicrosecond)
            ->Repetitions(SliceRepetitions);
    }
    benchmark::RegisterBenchmark("CrossSlice/u8", crossSlice)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("CrossSlice/f32-2048x2048x2060", crossSliceHuge)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("CrossSliceFloor/f32-2048x2048x2060", crossSliceHugeFloor)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("FourViews/i16", fourViews)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ZoomedSlice/f32-10000x10000", zoomedSlice)
        ->Arg(1)
        ->Arg(16)
        ->Unit(benchmark::kMillisecond);
    // Render and floor meet the same machine state: every repetition of
    // the binary runs in random order unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    if (std::none_of(args.begin(), args.end(), [](const char* a) {
            return std::string(a).starts_with("--benchmark_enable_random_interleaving");
        }))
        args.insert(args.begin() + 1, interleave.data());
    // --vector_units=plain|avx2 measures the loops of processors without
    // AVX-512 (or without vector units) on this one.
    const auto units = std::find_if(args.begin(), args.end(),
                                    [](const char* a) { return std::string(a).starts_with("--vector_units="); });
    if (units != args.end()) {
        const std::string name = std::string(*units).substr(std::strlen("--vector_units="));
        const GreyKernels::VectorUnits wanted = name == "plain" ? GreyKernels::VectorUnits::Plain
            : name == "avx2"                                    ? GreyKernels::VectorUnits::Avx2
                                                                : GreyKernels::VectorUnits::Avx512;
        std::printf("Vector units in use: %d (0 plain, 1 AVX2, 2 AVX-512)\n",
                    static_cast<int>(GreyKernels::useVectorUnits(wanted)));
        args.erase(units);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
