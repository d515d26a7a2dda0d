#include "layout/NrrdLayoutFile.h"

#include "LayoutFileTestSupport.h"

#include <gtest/gtest.h>

using namespace LayoutFileTest;

namespace {

VolumeLayout makeLayout(std::int64_t x, std::int64_t y, std::int64_t z, std::int64_t volumes, TVoxelDataType type,
                        TByteOrder order, std::int64_t header)
{
    VolumeLayout layout;
    layout.dims = {x, y, z};
    layout.volumes = volumes;
    layout.dataType = type;
    layout.byteOrder = order;
    layout.headerBytes = header;
    return layout;
}

LayoutFileReading readExpectingLayout(const std::string& path)
{
    LayoutFileReading reading = readLayoutFile(path);
    EXPECT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    return reading;
}

// ---- Headers we write ----

TEST(NrrdLayoutFile, HeaderTextNamesEveryFieldOnlyWhenNeeded)
{
    const std::string one = nrrdHeaderText(makeLayout(4, 3, 2, 1, vdtByte, boBigEndian, 0), "a.raw");
    EXPECT_NE(one.find("type: uchar\n"), std::string::npos);
    EXPECT_NE(one.find("dimension: 3\nsizes: 4 3 2\n"), std::string::npos);
    EXPECT_EQ(one.find("endian"), std::string::npos); // single bytes have no order
    EXPECT_EQ(one.find("byte skip"), std::string::npos);
    EXPECT_TRUE(one.ends_with("encoding: raw\ndata file: a.raw\n"));

    const std::string four = nrrdHeaderText(makeLayout(4, 3, 2, 6, vdtInt8, boBigEndian, 9), "/x/a.raw");
    EXPECT_NE(four.find("type: signed char\n"), std::string::npos);
    EXPECT_NE(four.find("dimension: 4\nsizes: 4 3 2 6\n"), std::string::npos);
    EXPECT_NE(four.find("byte skip: 9\n"), std::string::npos);
}

// ---- Headers teem writes, read by us ----

struct UnuMadeCase
{
    std::string options; // unu make options after -i and -o
    VolumeLayout expected; // headerBytes relative to the data (attached: after the header)
    std::size_t dataBytes;
};

class NrrdUnuMade : public testing::TestWithParam<UnuMadeCase>
{
};

TEST_P(NrrdUnuMade, DetachedHeaderGivesItsLayout)
{
    const std::string unu = findUnu();
    if (unu.empty())
        GTEST_SKIP() << "unu (teem-apps) is not installed";
    const UnuMadeCase& c = GetParam();
    TempDir dir;
    std::string bytes(c.dataBytes + static_cast<std::size_t>(c.expected.headerBytes), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 1);
    const std::string raw = dir.write("data/v.raw", bytes);
    const std::string header = dir.path("data/v.nhdr");
    int status = 0;
    runCommand("cd " + shellQuote(dir.path("data")) + " && " + unu + " make -h -i v.raw " + c.options +
                   " -o v.nhdr 2>/dev/null",
               status);
    ASSERT_EQ(status, 0);
    const LayoutFileReading reading = readExpectingLayout(header);
    EXPECT_EQ(reading.contents.layout, c.expected) << readFile(header);
    EXPECT_EQ(reading.contents.dataPath, raw);
}

TEST_P(NrrdUnuMade, AttachedFileGivesTheDataAfterItsHeader)
{
    const std::string unu = findUnu();
    if (unu.empty())
        GTEST_SKIP() << "unu (teem-apps) is not installed";
    const UnuMadeCase& c = GetParam();
    // A byte skip belongs to detached data: unu writes the data right after
    // the header.
    std::string options = c.options;
    if (const std::size_t skip = options.find(" -bs "); skip != std::string::npos)
        options.erase(skip);
    TempDir dir;
    std::string bytes(c.dataBytes, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 1);
    dir.write("v.raw", bytes);
    int status = 0;
    const std::string attached = dir.path("v.nrrd");
    runCommand("cd " + shellQuote(dir.path()) + " && " + unu + " make -i v.raw " + options + " -o v.nrrd 2>/dev/null",
               status);
    ASSERT_EQ(status, 0);
    const LayoutFileReading reading = readExpectingLayout(attached);
    const std::string file = readFile(attached);
    // unu stores attached data in this machine's byte order, whatever the
    // input's was; its "unu data" gives the voxel bytes as stored.
    VolumeLayout expected = c.expected;
    expected.headerBytes = static_cast<std::int64_t>(file.size() - c.dataBytes);
    expected.byteOrder = file.find("endian: big") != std::string::npos ? boBigEndian : boLittleEndian;
    EXPECT_EQ(reading.contents.layout, expected);
    EXPECT_EQ(reading.contents.dataPath, attached);
    const std::string voxels = runCommand(unu + " data " + shellQuote(attached) + " 2>/dev/null", status);
    EXPECT_EQ(file.substr(static_cast<std::size_t>(reading.contents.layout.headerBytes)), voxels);
}

INSTANTIATE_TEST_SUITE_P(
    TypesSizesAndSkips, NrrdUnuMade,
    testing::Values(UnuMadeCase{"-t uchar -s 4 3 2 -e raw", makeLayout(4, 3, 2, 1, vdtByte, boLittleEndian, 0), 24},
                    UnuMadeCase{"-t int8 -s 4 3 2 -e raw", makeLayout(4, 3, 2, 1, vdtInt8, boLittleEndian, 0), 24},
                    UnuMadeCase{"-t short -s 4 3 2 -e raw -en big",
                                makeLayout(4, 3, 2, 1, vdtInt16, boBigEndian, 0), 48},
                    UnuMadeCase{"-t ushort -s 4 3 -e raw -en little",
                                makeLayout(4, 3, 1, 1, vdtUInt16, boLittleEndian, 0), 24},
                    UnuMadeCase{"-t int -s 2 2 2 3 -e raw -en big", makeLayout(2, 2, 2, 3, vdtInt32, boBigEndian, 0),
                                96},
                    UnuMadeCase{"-t uint -s 7 -e raw -en little", makeLayout(7, 1, 1, 1, vdtUInt32, boLittleEndian, 0),
                                28},
                    UnuMadeCase{"-t float -s 3 3 3 -e raw -en big -bs 11",
                                makeLayout(3, 3, 3, 1, vdtFloat32, boBigEndian, 11), 108},
                    UnuMadeCase{"-t double -s 2 3 4 1 1 -e raw -en little",
                                makeLayout(2, 3, 4, 1, vdtFloat64, boLittleEndian, 0), 192}));

TEST(NrrdLayoutFile, LineSkipCountsTheDataFilesTextLines)
{
    TempDir dir;
    dir.write("v.raw", std::string("P5\n4 3\n255\n") + std::string(12, 'x'));
    const std::string header = dir.write(
        "v.nhdr", "NRRD0004\ntype: uchar\ndimension: 2\nsizes: 4 3\nencoding: raw\nline skip: 3\ndata file: v.raw\n");
    EXPECT_EQ(readExpectingLayout(header).contents.layout.headerBytes, 11);
}

TEST(NrrdLayoutFile, ByteSkipMinusOneTakesTheDataFromTheEnd)
{
    TempDir dir;
    dir.write("v.raw", std::string(100, 'x'));
    const std::string header = dir.write("v.nhdr", "NRRD0004\ntype: short\ndimension: 3\nsizes: 2 2 2\nendian: "
                                                    "little\nencoding: raw\nbyte skip: -1\ndata file: v.raw\n");
    EXPECT_EQ(readExpectingLayout(header).contents.layout.headerBytes, 84);
}

TEST(NrrdLayoutFile, CompressedEncodingsAreRefusedByName)
{
    const std::string unu = findUnu();
    if (unu.empty())
        GTEST_SKIP() << "unu (teem-apps) is not installed";
    TempDir dir;
    dir.write("v.raw", std::string(24, 'x'));
    for (const std::string encoding : {"bzip2", "ascii"}) {
        const std::string out = dir.path(encoding + ".nrrd");
        int status = 0;
        runCommand("cd " + shellQuote(dir.path()) + " && " + unu + " make -i v.raw -t uchar -s 4 3 2 -e raw 2>/dev/null | " +
                       unu + " save -f nrrd -e " + encoding + " -o " + shellQuote(out) + " 2>/dev/null",
                   status);
        if (status != 0)
            continue; // this teem build lacks the codec
        const LayoutFileReading reading = readLayoutFile(out);
        EXPECT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal);
        EXPECT_EQ(reading.refusal, out + " uses " + encoding + " encoding, which Kelvox cannot show");
    }
}

// ---- Hostile and unusable headers: a clear refusal, never a crash ----

struct HostileCase
{
    std::string name;
    std::string header; // NRRD text; "DATA" files exist as v.raw (64 bytes) and folder dir
    std::string refusalPart;
};

class NrrdHostile : public testing::TestWithParam<HostileCase>
{
};

TEST_P(NrrdHostile, IsRefusedClearly)
{
    TempDir dir;
    dir.write("v.raw", std::string(64, 'x'));
    std::filesystem::create_directories(dir.path("dir"));
    const std::string path = dir.write("h.nhdr", GetParam().header);
    const LayoutFileReading reading = readLayoutFile(path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_TRUE(reading.refusal.starts_with(path)) << reading.refusal;
    EXPECT_NE(reading.refusal.find(GetParam().refusalPart), std::string::npos) << reading.refusal;
}

const std::string Head = "NRRD0004\ntype: short\nendian: little\nencoding: raw\n";

INSTANTIATE_TEST_SUITE_P(
    Headers, NrrdHostile,
    testing::Values(
        HostileCase{"NoMagic", "type: short\n", "is not a NRRD file"},
        HostileCase{"Empty", "", "is not a NRRD file"},
        HostileCase{"Truncated", "NRRD0004\ntype: sho", "is not a NRRD header Kelvox can read"},
        HostileCase{"TruncatedInSizes", Head + "dimension: 3\nsizes: 4 4", "is not a NRRD header Kelvox can read"},
        HostileCase{"OverflowingSizes",
                    Head + "dimension: 3\nsizes: 4000000000 3000000000 5000000000\ndata file: v.raw\n",
                    "is not a NRRD header Kelvox can read"},
        HostileCase{"SizesOverflowing64Bits",
                    Head + "dimension: 3\nsizes: 18446744073709551615 2 2\ndata file: v.raw\n",
                    "is not a NRRD header Kelvox can read"},
        HostileCase{"MillionDimensions", Head + "dimension: 1000000\nsizes: 1\ndata file: v.raw\n",
                    "has 1000000 dimensions; Kelvox shows at most four"},
        HostileCase{"FiveDimensions", Head + "dimension: 5\nsizes: 2 2 2 2 2\ndata file: v.raw\n",
                    "has 5 dimensions; Kelvox shows at most four"},
        HostileCase{"NegativeByteSkip", Head + "dimension: 3\nsizes: 2 2 2\nbyte skip: -5\ndata file: v.raw\n",
                    "byte skip \"-5\""},
        HostileCase{"HugeByteSkip",
                    Head + "dimension: 3\nsizes: 2 2 2\nbyte skip: 99999999999999999999\ndata file: v.raw\n",
                    "byte skip"},
        HostileCase{"NegativeLineSkip", Head + "dimension: 3\nsizes: 2 2 2\nline skip: -2\ndata file: v.raw\n",
                    "line skip \"-2\""},
        HostileCase{"LinesMissing", Head + "dimension: 3\nsizes: 2 2 2\nline skip: 5\ndata file: v.raw\n",
                    "lines it skips were not found"},
        HostileCase{"ByteSkipMinusOneTooBig", Head + "dimension: 3\nsizes: 20 20 20\nbyte skip: -1\ndata file: v.raw\n",
                    "smaller than the voxels it states"},
        HostileCase{"DataFileMissing", Head + "dimension: 3\nsizes: 2 2 2\ndata file: nope.raw\n", "does not exist"},
        HostileCase{"DataFileIsFolder", Head + "dimension: 3\nsizes: 2 2 2\ndata file: dir\n", "is a folder"},
        HostileCase{"DataFileList", Head + "dimension: 3\nsizes: 2 2 2\ndata file: LIST\nv.raw\nv.raw\n",
                    "spreads its data over several files"},
        HostileCase{"DataFilePattern", Head + "dimension: 3\nsizes: 2 2 2\ndata file: v%03d.raw 1 2 1\n",
                    "spreads its data over several files"},
        HostileCase{"LongLong", "NRRD0004\ntype: int64\nendian: little\nencoding: raw\ndimension: 3\nsizes: 2 2 "
                                "2\ndata file: v.raw\n",
                    "holds 64-bit integer voxels"},
        HostileCase{"Complex", Head + "dimension: 3\nsizes: 2 2 2\nkinds: complex space space\ndata file: v.raw\n",
                    "holds complex voxels"},
        HostileCase{"Rgb", "NRRD0004\ntype: uchar\nencoding: raw\ndimension: 3\nsizes: 3 2 2\nkinds: RGB-color "
                           "space space\ndata file: v.raw\n",
                    "holds colour (RGB) voxels"},
        HostileCase{"NulInHeader", std::string("NRRD0004\ntype: uchar\0\ndimension: 3\n", 35), "holds NUL bytes"},
        HostileCase{"RgbOfOneComponent", "NRRD0004\ntype: uchar\nencoding: raw\ndimension: 3\nsizes: 1 2 2\nkinds: "
                                         "RGB-color space space\ndata file: v.raw\n",
                    "requires size 3"},
        HostileCase{"ZeroSize", Head + "dimension: 3\nsizes: 2 0 2\ndata file: v.raw\n", "is not a NRRD header"}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST(NrrdLayoutFile, HeaderWithoutEndWithinAMebibyteIsRefused)
{
    TempDir dir;
    const std::string path = dir.write("big.nrrd", "NRRD0004\n# " + std::string(2 << 20, 'x'));
    const LayoutFileReading reading = readLayoutFile(path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_NE(reading.refusal.find("header longer than 1 MiB"), std::string::npos);
}

TEST(NrrdLayoutFile, ScanFindsTheAttachedDataStartAfterACarriageReturnBlankLine)
{
    const NrrdHeaderScan scan = scanNrrdHeader("NRRD0004\r\ntype: uchar\r\ndata file: a b.raw \r\n\r\nXYZ");
    EXPECT_TRUE(scan.endsWithBlankLine);
    EXPECT_EQ(scan.headerBytes, 46u);
    EXPECT_EQ(scan.withoutSkips, "NRRD0004\r\ntype: uchar\r\ndata file: a b.raw \r\n\r\n");
    EXPECT_EQ(scan.dataFile, "a b.raw");
}

} // namespace
