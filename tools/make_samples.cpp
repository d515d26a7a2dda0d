// Writes the sample volumes: a head-like phantom in several voxel types,
// byte orders and volume counts, so there is something to open at once.
//
//   make_samples OUTPUT_DIR
//
// The phantom is deterministic: a skull shell around a brain, two dark
// ventricles, a few bright spots and a "nose" at the front (row 0 side).
// A marker block in the top-left corner of every slice (low columns, low
// rows) grows brighter slice by slice, so orientation and slice order are
// obvious in every view.

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace
{

// Tissue classes of the phantom; each sample maps them to its own values.
enum class Tissue { Air, Skull, Brain, Ventricle, Spot, Nose, Marker, Lesion };

struct Ellipsoid
{
    double cx, cy, cz, rx, ry, rz;

    bool contains(double x, double y, double z) const
    {
        const double dx = (x - cx) / rx;
        const double dy = (y - cy) / ry;
        const double dz = (z - cz) / rz;
        return dx * dx + dy * dy + dz * dz <= 1.0;
    }
};

constexpr Ellipsoid Head{0.0, 0.05, 0.0, 0.80, 0.88, 0.95};
constexpr Ellipsoid BrainEllipsoid{0.0, 0.07, 0.0, 0.70, 0.78, 0.85};
constexpr Ellipsoid Nose{0.0, -0.86, 0.0, 0.12, 0.14, 0.30};
constexpr std::array<Ellipsoid, 2> Ventricles{{{-0.17, 0.0, 0.10, 0.09, 0.26, 0.32},
                                               {0.19, 0.02, 0.12, 0.10, 0.24, 0.30}}};
constexpr std::array<Ellipsoid, 3> Spots{{{0.42, 0.30, -0.30, 0.07, 0.07, 0.12},
                                          {-0.35, 0.48, 0.25, 0.06, 0.06, 0.10},
                                          {0.05, -0.45, 0.50, 0.08, 0.05, 0.10}}};
// Appears in the second volume of a multi-volume sample only.
constexpr Ellipsoid Lesion{-0.40, -0.20, -0.10, 0.12, 0.10, 0.25};

// Voxel (i, j) of a d0 x d1 slice at height z, in coordinates -1..1 per axis.
Tissue tissueAt(int i, int j, double z, int d0, int d1, bool withLesion)
{
    if (i < d0 / 8 && j < d1 / 8)
        return Tissue::Marker;
    const double x = (i + 0.5) / d0 * 2.0 - 1.0;
    const double y = (j + 0.5) / d1 * 2.0 - 1.0;
    for (const Ellipsoid& e : Spots)
        if (e.contains(x, y, z))
            return Tissue::Spot;
    if (withLesion && Lesion.contains(x, y, z))
        return Tissue::Lesion;
    for (const Ellipsoid& e : Ventricles)
        if (e.contains(x, y, z))
            return Tissue::Ventricle;
    if (BrainEllipsoid.contains(x, y, z))
        return Tissue::Brain;
    if (Head.contains(x, y, z))
        return Tissue::Skull;
    if (Nose.contains(x, y, z))
        return Tissue::Nose;
    return Tissue::Air;
}

struct Values
{
    double air, skull, brain, ventricle, spot, nose, lesion;
    double markerFirst, markerLast; // the marker ramps over the slices
};

double valueOf(Tissue t, const Values& v, int k, int d2)
{
    switch (t) {
    case Tissue::Air: return v.air;
    case Tissue::Skull: return v.skull;
    case Tissue::Brain: return v.brain;
    case Tissue::Ventricle: return v.ventricle;
    case Tissue::Spot: return v.spot;
    case Tissue::Nose: return v.nose;
    case Tissue::Lesion: return v.lesion;
    case Tissue::Marker:
        return v.markerFirst + (v.markerLast - v.markerFirst) * (d2 > 1 ? static_cast<double>(k) / (d2 - 1) : 0.0);
    }
    return v.air;
}

void putBytes(std::uint8_t* out, std::uint32_t bits, int bytes, bool bigEndian)
{
    for (int b = 0; b < bytes; ++b) {
        const int shift = bigEndian ? 8 * (bytes - 1 - b) : 8 * b;
        out[b] = static_cast<std::uint8_t>(bits >> shift);
    }
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

enum class Kind { U8, I16, I32, F32, U16 };

struct Sample
{
    const char* name;
    int d0, d1, d2, volumes;
    Kind kind;
    bool bigEndian;
    Values values;
    int headerBytes = 0; // a scanner-style header before the voxels
    // Where the slices start along the head's axis (-1 its lowest point, the
    // slices then reach to +1): the byte sample starts inside the head, so
    // that its slice 0, the window's start-up slice, shows the head.
    double zFirst = -1.0;
};

// Float specials of the float sample, all on its middle slice: a NaN block
// at the right edge of rows 0.. (spanning a quarter of the slices), and
// 3 x 3 patches of +infinity, -infinity and 3.0e38 inside the brain.
std::uint32_t floatSpecial(int i, int j, int k, int d0, int d1, int d2, std::uint32_t bits)
{
    if (i >= d0 * 3 / 4 && j < d1 / 8 && k >= d2 / 4 && k < d2 / 2)
        return 0x7FC00000u; // quiet NaN
    if (k == d2 / 2 && j >= d1 / 2 - 1 && j <= d1 / 2 + 1) {
        const int c = d0 / 2;
        if (i >= c - 13 && i <= c - 11)
            return std::bit_cast<std::uint32_t>(std::numeric_limits<float>::infinity());
        if (i >= c - 1 && i <= c + 1)
            return std::bit_cast<std::uint32_t>(-std::numeric_limits<float>::infinity());
        if (i >= c + 11 && i <= c + 13)
            return std::bit_cast<std::uint32_t>(3.0e38f);
    }
    return bits;
}

std::vector<std::uint8_t> build(const Sample& s)
{
    const int bytes = s.kind == Kind::U8 ? 1 : s.kind == Kind::I16 || s.kind == Kind::U16 ? 2 : 4;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(s.headerBytes)
                                  + static_cast<std::size_t>(s.d0) * s.d1 * s.d2 * s.volumes * bytes);
    // The header: a text line and its fields, then zeros, as scanners write.
    const std::string headerText = "KELVOX SAMPLE HEADER\nvoxels 160 128 48\ntype uint16 little-endian\n";
    for (std::size_t i = 0; i < headerText.size() && i < static_cast<std::size_t>(s.headerBytes); ++i)
        out[i] = static_cast<std::uint8_t>(headerText[i]);
    std::uint8_t* next = out.data() + s.headerBytes;
    for (int vol = 0; vol < s.volumes; ++vol) {
        for (int k = 0; k < s.d2; ++k) {
            for (int j = 0; j < s.d1; ++j) {
                for (int i = 0; i < s.d0; ++i) {
                    const double z = s.zFirst + (k + 0.5) / s.d2 * (1.0 - s.zFirst);
                    const Tissue t = tissueAt(i, j, z, s.d0, s.d1, vol > 0);
                    // A gentle gradient over the slices inside the brain.
                    double v = valueOf(t, s.values, k, s.d2);
                    if (t == Tissue::Brain)
                        v += (s.values.skull - s.values.brain) * 0.25 * k / s.d2;
                    std::uint32_t bits = 0;
                    switch (s.kind) {
                    case Kind::U8:
                    case Kind::I16:
                    case Kind::I32:
                    case Kind::U16:
                        bits = static_cast<std::uint32_t>(static_cast<std::int64_t>(std::lround(v)));
                        break;
                    case Kind::F32:
                        bits = floatSpecial(i, j, k, s.d0, s.d1, s.d2,
                                            std::bit_cast<std::uint32_t>(static_cast<float>(v)));
                        break;
                    }
                    putBytes(next, bits, bytes, s.bigEndian);
                    next += bytes;
                }
            }
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::array<Sample, 5> samples{{
        {"head_256x256x64_u8.raw", 256, 256, 64, 1, Kind::U8, false,
         {0, 230, 120, 35, 255, 170, 0, 60, 250}, 0, -0.55},
        {"head_128x128x64x2_i16be.raw", 128, 128, 64, 2, Kind::I16, true,
         {-1000, 1800, 900, 200, 3000, 1200, 2500, -800, 3200}},
        {"head_96x80x40_f32le.raw", 96, 80, 40, 1, Kind::F32, false,
         {0.0, 0.9, 0.45, 0.12, 1.0, 0.6, 0.0, 0.05, 0.95}},
        {"head_64x64x32_i32le.raw", 64, 64, 32, 1, Kind::I32, false,
         {-100000, 2000000, 1000000, 250000, 1073741824, 1500000, 0, -2000000, 1500000000}},
        // Unsigned 16-bit as CT and microscopy write it, values above 32767
        // included, behind a 512-byte header.
        {"head_160x128x48_u16le_header512.raw", 160, 128, 48, 1, Kind::U16, false,
         {0, 52000, 30000, 12000, 65535, 41000, 0, 2000, 64000}, 512},
    }};
    for (const Sample& s : samples) {
        const std::string path = dir + "/" + s.name;
        if (!writeFile(path, build(s))) {
            std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
