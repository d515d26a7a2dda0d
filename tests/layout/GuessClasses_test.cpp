// Kinds of real file the phantoms do not show: values that read alike signed
// and unsigned, many short volumes, frames that differ, rows too long for the
// first look. Each file is generated here from a smooth field with noise.

#include "layout/LayoutGuess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace
{

// A file of dims[0] x dims[1] x slices voxels (all volumes) of type T, in
// little-endian order unless big, each value field(x, y, z) plus noise of
// the given amplitude.
template<typename T>
std::vector<std::uint8_t> fieldFile(std::array<std::int64_t, 3> dims, const std::function<double(double, double, double)>& field,
                                    double noise, bool big = false)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-noise, noise);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(dims[0] * dims[1] * dims[2]) * sizeof(T));
    std::size_t at = 0;
    for (std::int64_t z = 0; z < dims[2]; ++z)
        for (std::int64_t y = 0; y < dims[1]; ++y)
            for (std::int64_t x = 0; x < dims[0]; ++x) {
                const double v = field(static_cast<double>(x), static_cast<double>(y), static_cast<double>(z)) + jitter(random);
                const T value = static_cast<T>(v);
                std::uint8_t raw[sizeof(T)];
                std::memcpy(raw, &value, sizeof(T));
                for (std::size_t b = 0; b < sizeof(T); ++b)
                    bytes[at + b] = raw[big ? sizeof(T) - 1 - b : b];
                at += sizeof(T);
            }
    return bytes;
}

std::string lines(const std::vector<LayoutCandidate>& guesses)
{
    std::string text;
    for (const LayoutCandidate& c : guesses)
        text += guessLine(c) + " | " + c.reason + "\n";
    return text;
}

// A blob in each slice, brightest in the middle slices.
double blob(double x, double y, double z, double w, double h, double d)
{
    const double dx = (x - w / 2) / (w / 3), dy = (y - h / 2) / (h / 3), dz = (z - d / 2) / (d / 2);
    return std::exp(-(dx * dx + dy * dy + dz * dz));
}

// Values that read the same signed and unsigned take one place, in the
// name's type where it names one, and its reason says the other reads alike.
TEST(GuessClasses, SignAlikeReadingsTakeOnePlace)
{
    const auto bytes = fieldFile<std::uint16_t>({64, 48, 20}, [](double x, double y, double z) {
        return 200.0 + 3000.0 * blob(x, y, z, 64, 48, 20);
    }, 20.0);
    const MemoryLayoutSource source(bytes.data(), bytes.size());
    for (const char* name : {"scan.bin", "scan_u16.raw", "scan_i16.raw"}) {
        const std::vector<LayoutCandidate> guesses = guessLayout(source, name);
        ASSERT_FALSE(guesses.empty()) << name;
        for (std::size_t i = 0; i < guesses.size(); ++i)
            for (std::size_t j = 0; j < i; ++j) {
                VolumeLayout other = guesses[j].layout;
                other.dataType = guesses[i].layout.dataType;
                EXPECT_FALSE(other == guesses[i].layout) << name << "\n" << lines(guesses);
            }
        EXPECT_EQ(guesses.front().layout.dims, (std::array<std::int64_t, 3>{64, 48, 20})) << lines(guesses);
        EXPECT_NE(guesses.front().reason.find("reads the same"), std::string::npos) << guesses.front().reason;
        if (std::string(name) != "scan.bin") {
            EXPECT_EQ(guesses.front().layout.dataType, std::string(name).find("u16") != std::string::npos ? vdtUInt16 : vdtInt16);
        }
    }
}

// Grids of the oceans mark land with a huge fill value (1e20, 9.97e36):
// repeated, it is no sign of a wrong byte order, and the floats are read as
// floats, not as the integers their bits also make smooth.
TEST(GuessClasses, FillValuesLeaveFloatsFloats)
{
    for (const double fill : {1e20, 9.96921e36}) {
        const auto bytes = fieldFile<float>({180, 90, 19 * 4}, [&](double x, double y, double z) {
            const bool land = std::sin(x * 0.05) * std::cos(y * 0.07) > 0.3;
            return land ? fill : 25.0 * std::cos((y - 45) / 60.0) + 8.0 * std::sin(x * 0.11 + y * 0.03) - std::fmod(z, 19.0);
        }, 0.05, true);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "grid.bin");
        ASSERT_FALSE(guesses.empty()) << fill;
        EXPECT_EQ(guesses.front().layout.dataType, vdtFloat32) << lines(guesses);
        EXPECT_EQ(guesses.front().layout.byteOrder, boBigEndian);
        EXPECT_EQ(guesses.front().layout.dims[0], 180);
    }
}

// A detector's difference frame beside its raw frame: two slices that share
// no content, whose only sign is the sharp change of the rows between them.
TEST(GuessClasses, FramesThatDifferAreSlices)
{
    const auto bytes = fieldFile<std::int32_t>({320, 240, 2}, [](double x, double y, double z) {
        return z < 1.0 ? 30.0 * std::sin(x * 0.05) * std::cos(y * 0.04) : 20000.0 + 30000.0 * blob(x, y, 0.5, 320, 240, 1);
    }, 40.0);
    const MemoryLayoutSource source(bytes.data(), bytes.size());
    const std::vector<LayoutCandidate> guesses = guessLayout(source, "detector.bin");
    ASSERT_FALSE(guesses.empty());
    EXPECT_EQ(guesses.front().layout.dims, (std::array<std::int64_t, 3>{320, 240, 2})) << lines(guesses);
}

// Rows of thousands of voxels (camera frames, micro-CT) are found from the
// bytes, both in a file read whole and in one that is sampled.
TEST(GuessClasses, LongRowsAreFoundFromTheBytes)
{
    for (const std::array<std::int64_t, 3> dims : {std::array<std::int64_t, 3>{6000, 720, 1}, {4112, 1400, 1}}) {
        const auto bytes = fieldFile<std::uint16_t>(dims, [&](double x, double y, double z) {
            return 40000.0 * blob(x, y, z, static_cast<double>(dims[0]), static_cast<double>(dims[1]), 1.0) + 500.0;
        }, 200.0);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "frame.bin");
        ASSERT_FALSE(guesses.empty());
        EXPECT_EQ(guesses.front().layout.dims, dims) << lines(guesses);
    }
}

// Smooth random texture of w x h x d (no period anywhere, unlike sums of
// sines): noise blurred three times by 7 voxels along rows and columns,
// each slice much like the one before.
std::vector<double> texture(std::int64_t w, std::int64_t h, std::int64_t d, double alike = 0.8)
{
    std::mt19937 random(11);
    std::normal_distribution<double> normal;
    const auto slice = static_cast<std::size_t>(w * h);
    std::vector<double> t(slice * static_cast<std::size_t>(d));
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = (i >= slice ? alike * t[i - slice] + std::sqrt(1.0 - alike * alike) * normal(random) : normal(random));
    const auto blur = [](double* v, std::int64_t n, std::int64_t stride) {
        std::vector<double> out(static_cast<std::size_t>(n));
        for (int pass = 0; pass < 3; ++pass) {
            for (std::int64_t i = 0; i < n; ++i)
                for (std::int64_t k = std::max<std::int64_t>(0, i - 3); k <= std::min(n - 1, i + 3); ++k)
                    out[static_cast<std::size_t>(i)] += v[k * stride] / 7.0;
            for (std::int64_t i = 0; i < n; ++i)
                v[i * stride] = std::exchange(out[static_cast<std::size_t>(i)], 0.0);
        }
    };
    for (std::int64_t z = 0; z < d; ++z) {
        double* s = t.data() + z * w * h;
        for (std::int64_t y = 0; y < h; ++y)
            blur(s + y * w, w, 1);
        for (std::int64_t x = 0; x < w; ++x)
            blur(s + x, h, w);
    }
    return t;
}

// Monthly grids of a few levels: a whole level, flattened into one long
// row, repeats from month to month, and those long lags crowd out the row's
// own period; the rows are found among the shorter lags all the same. Thick
// slices that barely resemble each other, whose file also reads as tall
// slices of several, are still listed as themselves.
TEST(GuessClasses, RowsAreFoundBesideSlicesThatRepeat)
{
    struct Case
    {
        std::array<std::int64_t, 3> dims;
        std::int64_t volumes;
        double alike; // of a slice's texture to the one before
        double narrowEnds; // how much narrower the first and last levels are
        std::size_t within; // places the true layout must be listed within
    };
    for (const Case& c : {Case{{100, 90, 19}, 6, 0.8, 0.0, 1}, Case{{180, 90, 19}, 6, 0.8, 0.0, 1}, Case{{72, 46, 36}, 5, 0.8, 0.15, 3},
                          Case{{120, 100, 10}, 8, 0.3, 0.3, 3}}) {
        const std::array<std::int64_t, 3> dims = c.dims;
        const std::vector<double> t = texture(dims[0], dims[1], dims[2], c.alike);
        const auto bytes = fieldFile<float>({dims[0], dims[1], dims[2] * c.volumes}, [&](double x, double y, double z) {
            const auto level = static_cast<std::int64_t>(z) % dims[2];
            const double dx = x / static_cast<double>(dims[0]) - 0.5, dy = y / static_cast<double>(dims[1]) - 0.5;
            const auto at = static_cast<std::size_t>((level * dims[1] + static_cast<std::int64_t>(y)) * dims[0] +
                                                     static_cast<std::int64_t>(x));
            const double r = 0.4 - c.narrowEnds * (1.0 - std::sin(3.14159 * (static_cast<double>(level) + 0.5) /
                                                                  static_cast<double>(dims[2])));
            return dx * dx + dy * dy < r * r ? 700.0 + 150.0 * t[at] : 5.0;
        }, 3.0, true);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "monthly.bin");
        const auto listed = std::find_if(guesses.begin(), guesses.end(), [&](const LayoutCandidate& g) {
            return g.layout.dims == dims && g.layout.volumes == c.volumes;
        });
        EXPECT_LT(listed - guesses.begin(), static_cast<std::ptrdiff_t>(c.within)) << lines(guesses);
    }
}

// Slices taller than the kept blocks hold (a camera's frames) are told from
// rows sampled over the file, the heights from the size's factors.
TEST(GuessClasses, TallSlicesAreFoundFromTheBytes)
{
    const std::array<std::int64_t, 3> dims{600, 1300, 4};
    const auto bytes = fieldFile<std::uint8_t>(dims, [](double x, double y, double z) {
        return 20.0 + 5.0 * z + 200.0 * blob(x, y, 0.5, 600, 1300, 1) + 10.0 * std::sin(x * 0.1);
    }, 3.0);
    const MemoryLayoutSource source(bytes.data(), bytes.size());
    const std::vector<LayoutCandidate> guesses = guessLayout(source, "frames.bin");
    ASSERT_FALSE(guesses.empty());
    EXPECT_EQ(guesses.front().layout.dims, dims) << lines(guesses);
}

// A series of volumes of a few thick slices (fMRI): the slices inside a
// volume barely resemble each other, so only the volume repeats; read as one
// tall slice per volume it would be 20 x 72 (64 x 576). The volume splits
// into the slices the rows show: sharp edges between slices of different
// content, or quiet ones where each slice's empty rim surrounds its blob.
TEST(GuessClasses, VolumesOfFewSlicesAreSplitIntoSlices)
{
    struct Case
    {
        std::array<std::int64_t, 3> slice;
        std::int64_t volumes;
        std::function<double(double, double, double)> field; // of x, y and the slice in the volume
    };
    const Case cases[] = {
        {{20, 24, 3}, 12, [](double x, double y, double s) {
             // A blob of its own size and place in each slice, over a
             // ripple that shifts from slice to slice.
             const double dx = (x - 4.0 - 6.0 * s) / (3.0 + 2.0 * s), dy = (y - 18.0 + 5.0 * s) / (3.0 + 2.0 * s);
             return 100.0 + 2000.0 * std::exp(-(dx * dx + dy * dy)) + 300.0 * std::sin(0.7 * x + 2.1 * s);
         }},
        {{64, 64, 9}, 3, [](double x, double y, double s) {
             // An ellipse on an empty background, its size and texture
             // changing from slice to slice.
             const double r = 22.0 - 2.5 * std::fabs(s - 4.0);
             const double d = std::hypot((x - 32.0 - 3.0 * std::sin(1.7 * s)) / r, (y - 30.0) / (1.2 * r));
             return d < 1.0 ? 830.0 + 300.0 * std::sin(0.5 * x + 2.0 * s) * std::cos(0.4 * y + s) + (d > 0.8 ? 200.0 : 0.0)
                            : 30.0;
         }},
    };
    for (const Case& c : cases) {
        const auto bytes = fieldFile<std::int16_t>({c.slice[0], c.slice[1], c.slice[2] * c.volumes}, [&](double x, double y, double z) {
            return c.field(x, y, std::fmod(z, static_cast<double>(c.slice[2])));
        }, 30.0);
        const MemoryLayoutSource source(bytes.data(), bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "series.bin");
        ASSERT_FALSE(guesses.empty());
        EXPECT_EQ(guesses.front().layout.dims, c.slice) << lines(guesses);
        EXPECT_EQ(guesses.front().layout.volumes, c.volumes) << lines(guesses);
    }
}

// Floats of everyday magnitudes spanning several decades read as Int-32 are
// all near 10^9 and as monotonic as the floats; Int-8 data clipped at both
// ends of its range reads as two piles far apart, not as UInt-8 values
// beside 128. The type each file was written in comes first.
TEST(GuessClasses, FloatBitsAndClippedBytesKeepTheirType)
{
    const std::array<std::int64_t, 3> dims{48, 40, 12};
    // Noise in proportion to the signal, over an empty background.
    const auto decades = [](double x, double y, double z) {
        const double noise = std::sin(x * 12.9898 + y * 78.233 + z * 37.719) * 43758.5453;
        const double b = blob(x, y, z, 48, 40, 12);
        return b < 0.2 ? 0.0 : std::exp(-5.0 + 5.0 * b) * (0.3 + 1.5 * (noise - std::floor(noise)));
    };
    // Regions beyond either end of the range, next to each other.
    const auto clipped = [](double x, double y, double z) {
        return std::clamp(2000.0 * std::sin(x * 0.3 + z) * std::cos(y * 0.25), -128.0, 127.0);
    };
    struct Case
    {
        std::vector<std::uint8_t> bytes;
        TVoxelDataType type;
    };
    const Case cases[] = {{fieldFile<float>(dims, decades, 0.0), vdtFloat32},
                          {fieldFile<std::int8_t>(dims, clipped, 0.0), vdtInt8}};
    for (const Case& c : cases) {
        const MemoryLayoutSource source(c.bytes.data(), c.bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "data.bin");
        ASSERT_FALSE(guesses.empty());
        EXPECT_EQ(guesses.front().layout.dataType, c.type) << lines(guesses);
    }
}

} // namespace
