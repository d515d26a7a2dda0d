#include "volume/GzipStream.h"
#include "volume/Kelvox_DataMgr.h"

#include "support/TempDir.h"
#include "support/ZlibReference.h"
#include "support/VectorImage.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;

// Image-like bytes: smooth 16-bit ramps with noise, some runs of zeros and a
// stretch of random bytes, so deflate makes blocks of every kind.
Bytes volumeLike(std::size_t size, unsigned seed)
{
    Bytes b(size);
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t region = (i / 200000) % 4;
        if (region == 0)
            b[i] = 0;
        else if (region == 1)
            b[i] = static_cast<std::uint8_t>(rng());
        else
            b[i] = static_cast<std::uint8_t>((i % 512) / 3 + rng() % 4);
    }
    return b;
}

std::filesystem::path tempDir()
{
    const auto dir = std::filesystem::temp_directory_path() / ("kelvox_gzip_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The output of a packer program run on data; the program must be there.
Bytes packedBy(const std::string& command, const Bytes& data)
{
    const auto dir = tempDir();
    writeBytes(dir / "in.raw", data);
    const std::string line = command + " < '" + (dir / "in.raw").string() + "' > '" + (dir / "out.gz").string() + "'";
    EXPECT_EQ(std::system(line.c_str()), 0) << line << " failed: is the program installed?";
    return readBytes(dir / "out.gz");
}

struct PackCase
{
    const char* name;
    GzipWrapper wrapper;
    std::function<Bytes(const Bytes&)> pack;
    std::function<void(Bytes&)> harm; // damage after packing, or none
};

Bytes concatenated(const Bytes& data, std::size_t parts)
{
    Bytes all;
    const std::size_t step = data.size() / parts + 1;
    for (std::size_t at = 0; at < data.size(); at += step) {
        const Bytes part(data.begin() + static_cast<std::ptrdiff_t>(at),
                         data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), at + step)));
        const Bytes packed = deflateWith(part, 31, 6, Z_DEFAULT_STRATEGY);
        all.insert(all.end(), packed.begin(), packed.end());
    }
    return all;
}

class GzipStreamAgainstInflate : public ::testing::TestWithParam<PackCase>
{
};

// Every read, anywhere and of any length, gives the bytes a sequential
// inflate gives there: nothing beyond what it could read, and the damage is
// named when it stops early.
TEST_P(GzipStreamAgainstInflate, RandomReadsMatch)
{
    const PackCase& c = GetParam();
    const Bytes data = volumeLike(3'300'000, 7);
    Bytes packed = c.pack(data);
    if (c.harm)
        c.harm(packed);
    const Bytes expected = sequentialInflate(packed, c.wrapper);
    ASSERT_GT(expected.size(), 0u);
    if (!c.harm) {
        ASSERT_EQ(expected, data);
    }

    // A point every 64 KiB, the index as large as it likes: the zero and ramp
    // regions give windows that pack, the random one windows kept as they are.
    auto source = std::make_shared<MemoryByteSource>(packed.data(), packed.size());
    const GzipStream stream(source, 0, static_cast<std::int64_t>(packed.size()), c.wrapper, {}, 65536, 1.0);
    EXPECT_EQ(stream.size(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(stream.damage().empty(), !c.harm) << stream.damage();
    EXPECT_GT(stream.restartPoints(), 10u);

    std::mt19937 rng(3);
    const auto size = static_cast<std::int64_t>(expected.size());
    for (int k = 0; k < 100; ++k) {
        const std::int64_t at = static_cast<std::int64_t>(rng() % static_cast<unsigned>(size + 100)) - 50;
        const std::size_t count = k % 10 == 0 ? 3'000'000 : rng() % 70000;
        Bytes got(count, 0xEE);
        // Half the reads find the chunks the pass or earlier reads left,
        // half inflate from a restart point.
        if (k % 2 == 0)
            stream.clearCache();
        const std::size_t n = stream.readAt(at, got.data(), count);
        const std::int64_t from = std::max<std::int64_t>(at, 0);
        const std::size_t want =
            at < 0 || at >= size ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(count, size - at));
        ASSERT_EQ(n, want) << "at " << at << " count " << count;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                               expected.begin() + from))
            << "at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packers, GzipStreamAgainstInflate,
    ::testing::Values(
        PackCase{"ZlibGzip", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 6, Z_DEFAULT_STRATEGY); }, {}},
        PackCase{"ZlibFastest", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 1, Z_DEFAULT_STRATEGY); }, {}},
        PackCase{"ZlibHuffmanOnly", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 6, Z_HUFFMAN_ONLY); }, {}},
        PackCase{"ZlibWrapper", GzipWrapper::Zlib, [](const Bytes& d) { return deflateWith(d, 15, 6, Z_DEFAULT_STRATEGY); }, {}},
        PackCase{"StoredBlocks", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 0, Z_DEFAULT_STRATEGY); }, {}},
        PackCase{"GzipProgram", GzipWrapper::Gzip, [](const Bytes& d) { return packedBy("gzip -c", d); }, {}},
        PackCase{"PigzProgram", GzipWrapper::Gzip, [](const Bytes& d) { return packedBy("pigz -c -b 128 -p 2", d); }, {}},
        PackCase{"ConcatenatedMembers", GzipWrapper::Gzip, [](const Bytes& d) { return concatenated(d, 37); }, {}},
        PackCase{"Truncated", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 6, Z_DEFAULT_STRATEGY); },
                 [](Bytes& p) { p.resize(p.size() * 2 / 3); }},
        PackCase{"TruncatedMember", GzipWrapper::Gzip, [](const Bytes& d) { return concatenated(d, 9); },
                 [](Bytes& p) { p.resize(p.size() - 1000); }},
        PackCase{"Corrupt", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 6, Z_DEFAULT_STRATEGY); },
                 [](Bytes& p) {
                     for (std::size_t i = p.size() / 2; i < p.size() / 2 + 64; ++i)
                         p[i] ^= 0x5A;
                 }},
        PackCase{"WrongChecksum", GzipWrapper::Gzip, [](const Bytes& d) { return deflateWith(d, 31, 6, Z_DEFAULT_STRATEGY); },
                 [](Bytes& p) { p[p.size() - 6] ^= 1; }}),
    [](const ::testing::TestParamInfo<PackCase>& info) { return std::string(info.param.name); });

// Cut short where the last match runs past the end of the pass's 32 KiB ring:
// inflate still owes its rest once the input is used up, and it is data.
TEST(GzipStream, OutputOwedAfterTheInputEndsIsKept)
{
    const std::uint8_t payload[] = {0, 2, 0, 0, 10, 123, 0, 1};
    Bytes data(200000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(payload[i % 8] + i / 4096);
    Bytes packed = deflateWith(data, 15, 9, Z_DEFAULT_STRATEGY);
    packed.resize(729);
    const Bytes expected = sequentialInflate(packed, GzipWrapper::Zlib);
    auto source = std::make_shared<MemoryByteSource>(packed.data(), packed.size());
    const GzipStream stream(source, 0, static_cast<std::int64_t>(packed.size()), GzipWrapper::Zlib, {}, 65536, 1.0);
    ASSERT_EQ(stream.size(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(stream.damage(), "the zlib data is cut short");
    Bytes got(expected.size());
    stream.clearCache();
    EXPECT_EQ(stream.readAt(0, got.data(), got.size()), got.size());
    EXPECT_EQ(got, expected);
}

TEST(GzipStream, RefusesWhatDoesNotInflateAndStopsWhenCancelled)
{
    const Bytes junk{0x1F, 0x8B, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    auto source = std::make_shared<MemoryByteSource>(junk.data(), junk.size());
    EXPECT_THROW(GzipStream(source, 0, static_cast<std::int64_t>(junk.size()), GzipWrapper::Gzip), std::runtime_error);

    const Bytes packed = deflateWith(volumeLike(1'000'000, 1), 31, 6, Z_DEFAULT_STRATEGY);
    auto packedSource = std::make_shared<MemoryByteSource>(packed.data(), packed.size());
    int calls = 0;
    EXPECT_THROW(GzipStream(packedSource, 0, static_cast<std::int64_t>(packed.size()), GzipWrapper::Gzip,
                            [&](std::int64_t done, std::int64_t total) {
                                EXPECT_LE(done, total);
                                return ++calls < 3;
                            }),
                 IndexCancelled);
    EXPECT_EQ(calls, 3);
}

// A bomb: 256 MiB of zeros packs into about 256 KiB; its size is what inflates,
// the index stays under 1 % of it, and a read at its end is as cheap as any.
TEST(GzipStream, BombIsBoundedByItsInflateAndIndexStaysSmall)
{
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    const Bytes zeros(std::size_t{1} << 24, 0);
    Bytes packed(std::size_t{4} << 20);
    s.next_out = packed.data();
    s.avail_out = static_cast<uInt>(packed.size());
    for (int k = 0; k < 16; ++k) {
        s.next_in = const_cast<Bytes::value_type*>(zeros.data());
        s.avail_in = static_cast<uInt>(zeros.size());
        deflate(&s, k == 15 ? Z_FINISH : Z_NO_FLUSH);
    }
    packed.resize(s.total_out);
    deflateEnd(&s);
    // The gzip trailer's size field is never looked at.
    auto source = std::make_shared<MemoryByteSource>(packed.data(), packed.size());
    const GzipStream stream(source, 0, static_cast<std::int64_t>(packed.size()), GzipWrapper::Gzip);
    EXPECT_EQ(stream.size(), std::int64_t{1} << 28);
    EXPECT_LE(stream.indexBytes(), (std::size_t{1} << 28) / 100);
    Bytes tail(100, 0xEE);
    EXPECT_EQ(stream.readAt((std::int64_t{1} << 28) - 50, tail.data(), tail.size()), 50u);
    EXPECT_EQ(tail[0], 0);
}

TEST(GzipStream, NamesPackersByTheirMagic)
{
    const std::vector<std::pair<Bytes, const char*>> table{
        {{0x1F, 0x8B, 0x08, 0, 0}, "gzip"},
        {{'B', 'Z', 'h', '9', 0x31, 0x41, 0x59, 0x26, 0x53, 0x59}, "bzip2"},
        {{'B', 'Z', 'h', '9', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90}, "bzip2"},
        {{0xFD, '7', 'z', 'X', 'Z', 0x00, 0}, "xz"},
        {{0x28, 0xB5, 0x2F, 0xFD, 0}, "zstd"},
        {{'B', 'Z', 'h', '9', 0, 0, 0, 0, 0, 0}, nullptr},
        {{0x1F, 0x8B}, nullptr},
        {{0x78, 0x9C, 0, 0}, nullptr},
    };
    for (const auto& [head, name] : table) {
        const char* found = compressionOf(head.data(), head.size());
        EXPECT_EQ(found ? std::string(found) : std::string("none"), name ? std::string(name) : std::string("none"));
    }
}

// The data manager shows a .raw.gz exactly as the raw file: every view, the
// cross-slice included, pixel for pixel; other packers are refused by name.
TEST(GzipStream, DataManagerShowsGzipFileLikeTheRawOne)
{
    const auto dir = tempDir();
    const Bytes data = volumeLike(64 * 48 * 40 * 2 * 2, 11);
    writeBytes(dir / "v.raw", data);
    writeBytes(dir / "v.raw.xz", Bytes{0xFD, '7', 'z', 'X', 'Z', 0x00, 1, 2, 3});
    TKelvoxDataMgr plain;
    plain.OpenFile((dir / "v.raw").string());
    plain.SetParams(64, 48, 40, vdtInt16, boBigEndian, 0, 30000, 6);

    TKelvoxDataMgr packed;
    for (const char* packer : {"gzip -c", "pigz -c -p 2 -b 128"}) {
        SCOPED_TRACE(packer);
        writeBytes(dir / "v.raw.gz", packedBy(packer, data));
        packed.OpenFile((dir / "v.raw.gz").string());
        ASSERT_EQ(packed.FileName, (dir / "v.raw.gz").string()) << packed.ErrorText;
        EXPECT_EQ(packed.Stream->encoding(), VolumeEncoding::Gzip);
        EXPECT_EQ(unpackedNote(*packed.Stream), "gzip, shown unpacked");
        packed.SetParams(64, 48, 40, vdtInt16, boBigEndian, 0, 30000, 6);
        for (const TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume}) {
            VectorImage a;
            VectorImage b;
            plain.RenderView(1, 17, view, a);
            packed.RenderView(1, 17, view, b);
            EXPECT_EQ(a.pixels, b.pixels) << "view " << view;
        }
    }

    // Cut short in the second volume: the first shows whole, the second
    // light blue from where the data ends.
    Bytes cut = packedBy("gzip -c", data);
    cut.resize(cut.size() * 3 / 4);
    writeBytes(dir / "v.raw.gz", cut);
    packed.OpenFile((dir / "v.raw.gz").string());
    ASSERT_TRUE(packed.Stream);
    EXPECT_NE(unpackedNote(*packed.Stream).find("; the gzip data is cut short after "), std::string::npos);
    packed.SetParams(64, 48, 40, vdtInt16, boBigEndian, 0, 30000, 6);
    VectorImage first;
    VectorImage firstPlain;
    packed.RenderView(0, 39, vkSlice, first);
    plain.RenderView(0, 39, vkSlice, firstPlain);
    EXPECT_EQ(first.pixels, firstPlain.pixels);
    VectorImage last;
    packed.RenderView(1, 39, vkSlice, last);
    EXPECT_EQ(last.at(63, 47), LightBlue);

    packed.OpenFile((dir / "v.raw.xz").string());
    EXPECT_EQ(packed.ErrorText, "Cannot open file " + (dir / "v.raw.xz").string() +
                                    ": it is compressed with xz, which Kelvox cannot unpack");

    // A cancelled index pass leaves the open file as it was.
    plain.OpenFile((dir / "v.raw").string());
    EXPECT_FALSE(plain.OpenFile((dir / "v.raw.gz").string(), VolumeEncoding::Detect, 0,
                                [](std::int64_t, std::int64_t) { return false; }));
    EXPECT_EQ(plain.FileName, (dir / "v.raw").string());
    ASSERT_TRUE(plain.Stream);
    EXPECT_EQ(plain.Stream->encoding(), VolumeEncoding::Raw);
    std::filesystem::remove_all(dir);
}

} // namespace
