// Layout guessing against reading the whole file, from a page-cached 1 GiB
// volume (512 x 512 x 2048 Int-16 little-endian, 512 header bytes, a smooth
// head-like shape with noise), in one run:
//
//   GuessLayout      guessLayoutOfFile on the volume
//   ReadWholeFile    one pass of 4 MiB preads over the whole file
//
// GuessLayout reports its time as a share of the whole-file read
// ("of_full_read"); the guess samples, so it must stay at or below 0.1.
//
//   GuessWideFrames  guessLayoutOfFile on four 10000 x 10000 Float-32 frames
//                    (1.6 GB, filled with data): rows that long are found
//                    from the bytes; the guess must take under a second
//                    ("slowest_of_1s", the slowest guess of the run, below 1).
//
// When the field corpus is cached (tools/field_corpus.py), the guesser's
// top-1 and top-3 figures on it are printed after the benchmarks.

#include "layout/LayoutGuess.h"

#include "FieldCorpus.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr std::int64_t Rows = 512;
constexpr std::int64_t Columns = 512;
constexpr std::int64_t Slices = 2048;
constexpr std::int64_t Header = 512;
const std::string Path = "/tmp/kelvox-guess-bench-512x512x2048-i16.raw";

// Writes the volume slice by slice unless it is there already.
// Opens path for writing anew unless it already holds size bytes (the bench
// files are kept between runs); -1 when it does.
int freshFile(const std::string& path, std::int64_t size)
{
    const int existing = ::open(path.c_str(), O_RDONLY);
    if (existing >= 0) {
        const off_t have = ::lseek(existing, 0, SEEK_END);
        ::close(existing);
        if (have == size)
            return -1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write " + path);
    return fd;
}

void makeVolume()
{
    const std::int64_t size = Header + Rows * Columns * Slices * 2;
    const int fd = freshFile(Path, size);
    if (fd < 0)
        return;
    std::vector<std::uint8_t> header(Header, 0x5A);
    if (::write(fd, header.data(), header.size()) != Header)
        throw std::runtime_error("cannot write " + Path);
    std::vector<std::int16_t> slice(static_cast<std::size_t>(Rows * Columns));
    std::uint32_t noise = 12345;
    for (std::int64_t k = 0; k < Slices; ++k) {
        const double z = (k + 0.5) / Slices * 2.0 - 1.0;
        for (std::int64_t j = 0; j < Rows; ++j) {
            const double y = (j + 0.5) / Rows * 2.0 - 1.0;
            for (std::int64_t i = 0; i < Columns; ++i) {
                const double x = (i + 0.5) / Columns * 2.0 - 1.0;
                const double r = x * x / 0.64 + y * y / 0.77 + z * z / 0.9;
                const double inner = x * x / 0.49 + y * y / 0.6 + z * z / 0.72;
                double v = r > 1.0 ? -1000.0 : inner > 1.0 ? 1500.0 : 300.0 + 200.0 * y + 100.0 * z;
                noise = noise * 1664525u + 1013904223u;
                v += static_cast<double>(noise >> 24) * 0.2 - 25.6;
                slice[static_cast<std::size_t>(j * Columns + i)] = static_cast<std::int16_t>(std::lround(v));
            }
        }
        const auto bytes = static_cast<ssize_t>(slice.size() * 2);
        if (::write(fd, slice.data(), static_cast<std::size_t>(bytes)) != bytes)
            throw std::runtime_error("cannot write " + Path);
    }
    ::close(fd);
}

std::int64_t readWholeFile()
{
    const int fd = ::open(Path.c_str(), O_RDONLY);
    std::vector<std::uint8_t> buffer(std::size_t{4} << 20);
    std::int64_t total = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), total);
        if (n <= 0)
            break;
        total += n;
        benchmark::DoNotOptimize(buffer.data());
    }
    ::close(fd);
    return total;
}

double g_fullReadSeconds = 0.0;

void ReadWholeFile(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readWholeFile());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (Header + Rows * Columns * Slices * 2));
}
BENCHMARK(ReadWholeFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void GuessLayout(benchmark::State& state)
{
    std::vector<LayoutCandidate> guesses;
    for (auto _ : state) {
        guesses = guessLayoutOfFile(Path);
        benchmark::DoNotOptimize(guesses.data());
    }
    // The median of five guesses (one slow run on a shared machine moves a
    // mean, not the median).
    constexpr int Repeats = 5;
    std::vector<double> seconds;
    for (int i = 0; i < Repeats; ++i) {
        const auto started = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(guessLayoutOfFile(Path).size());
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    std::sort(seconds.begin(), seconds.end());
    const double guessSeconds = seconds[Repeats / 2];
    state.counters["of_full_read"] = guessSeconds / g_fullReadSeconds;
    state.counters["guess_ms"] = guessSeconds * 1e3;
    state.counters["full_read_ms"] = g_fullReadSeconds * 1e3;
    state.SetLabel(guesses.empty() ? "no candidates" : guessLine(guesses.front()));
}
BENCHMARK(GuessLayout)->Unit(benchmark::kMillisecond)->MinTime(1.0);

constexpr std::int64_t WideSide = 10000;
constexpr std::int64_t WideFrames = 4;
// (A name that states no layout: the bytes must tell it.)
const std::string WidePath = "/tmp/kelvox-guess-bench-wide-frames.raw";

// Four frames of a smooth field with noise, written frame by frame unless
// the file is there already.
void makeWideFrames()
{
    const std::int64_t size = WideSide * WideSide * WideFrames * 4;
    const int fd = freshFile(WidePath, size);
    if (fd < 0)
        return;
    std::vector<float> row(static_cast<std::size_t>(WideSide));
    std::uint32_t noise = 54321;
    for (std::int64_t k = 0; k < WideFrames; ++k) {
        for (std::int64_t j = 0; j < WideSide; ++j) {
            const double y = static_cast<double>(j) / WideSide - 0.5;
            for (std::int64_t i = 0; i < WideSide; ++i) {
                const double x = static_cast<double>(i) / WideSide - 0.5;
                const double r = x * x + y * y;
                noise = noise * 1664525u + 1013904223u;
                row[static_cast<std::size_t>(i)] = static_cast<float>(
                    (r < 0.16 ? 800.0 + 400.0 * x - 300.0 * y + 50.0 * static_cast<double>(k) : 20.0) +
                    static_cast<double>(noise >> 24) * 0.05);
            }
            const auto bytes = static_cast<ssize_t>(row.size() * 4);
            if (::write(fd, row.data(), static_cast<std::size_t>(bytes)) != bytes)
                throw std::runtime_error("cannot write " + WidePath);
        }
    }
    ::close(fd);
}

void GuessWideFrames(benchmark::State& state)
{
    std::vector<LayoutCandidate> guesses;
    double slowest = 0.0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        guesses = guessLayoutOfFile(WidePath);
        benchmark::DoNotOptimize(guesses.data());
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    // The slowest guess as a share of the second it may take at most.
    state.counters["slowest_of_1s"] = slowest;
    state.SetLabel(guesses.empty() ? "no candidates" : guessLine(guesses.front()));
}
BENCHMARK(GuessWideFrames)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The field corpus's figures, or a line saying why there are none.
void printFieldCorpusFigures()
{
    std::string error;
    const std::string manifest = fieldcorpus::runCorpusScript(KELVOX_SOURCE_DIR, "cached", error);
    const std::vector<fieldcorpus::Case> cases =
        manifest.empty() ? std::vector<fieldcorpus::Case>{} : fieldcorpus::readManifest(manifest, error);
    if (cases.empty()) {
        std::printf("field corpus: no figures (%s)\n", error.c_str());
        return;
    }
    fieldcorpus::Figures f;
    for (const fieldcorpus::Case& c : cases)
        fieldcorpus::count(f, fieldcorpus::measure(c));
    std::printf("field corpus of %d files: neutral names first %.0f %%, top 3 %.0f %%; honest names first %.0f %%, "
                "top 3 %.0f %%\n",
                f.cases, fieldcorpus::percent(f.neutralFirst, f.cases), fieldcorpus::percent(f.neutralTopThree, f.cases),
                fieldcorpus::percent(f.honestFirst, f.cases), fieldcorpus::percent(f.honestTopThree, f.cases));
}

} // namespace

int main(int argc, char** argv)
{
    makeVolume();
    makeWideFrames();
    // Page-cache the file, then time a whole read (the best of three).
    readWholeFile();
    g_fullReadSeconds = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto started = std::chrono::steady_clock::now();
        readWholeFile();
        g_fullReadSeconds = std::min(
            g_fullReadSeconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printFieldCorpusFigures();
    return 0;
}
