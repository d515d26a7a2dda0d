// kelvox-render end to end: the built binary, run as a user would run it.

#include "volume/Kelvox_DataMgr.h"

#include "RenderRun.h"
#include "support/VectorImage.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const std::string Samples = KELVOX_SAMPLES_DIR;

class KelvoxRenderTest : public ::testing::Test
{
protected:
    void SetUp() override { std::filesystem::create_directory(work()); }

    RunResult run(const std::vector<std::string>& args) const { return runKelvoxRender(dir, args); }

    std::string work() const { return dir.path("work"); }
    std::string out() const { return dir.path("work/out.png"); }

    std::vector<std::string> filesInWork() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(work()))
            names.push_back(e.path().filename().string());
        return names;
    }

    TempDir dir;
};

// The PNG against the same view rendered in-process with the arguments the
// main window passes.
void expectSameAsDataMgr(const std::string& png, const std::string& file, std::array<std::int32_t, 3> dims,
                         TVoxelDataType type, TByteOrder order, double lo, double hi, TViewKind view,
                         std::int32_t volume, std::int32_t sliceOrRow)
{
    TKelvoxDataMgr mgr;
    mgr.OpenFile(file);
    mgr.SetParams(dims[0], dims[1], dims[2], type, order, lo, hi);
    VectorImage expected;
    mgr.RenderView(volume, sliceOrRow, view, expected);

    const QImage actual(QString::fromStdString(png));
    ASSERT_FALSE(actual.isNull());
    ASSERT_EQ(actual.width(), expected.width);
    ASSERT_EQ(actual.height(), expected.height);
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x) {
            const QRgb p = actual.pixel(x, y);
            const VectorImage::Rgb rgb{static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                                       static_cast<std::uint8_t>(qBlue(p))};
            ASSERT_EQ(rgb, expected.at(x, y)) << x << "," << y;
        }
}

TEST_F(KelvoxRenderTest, SliceOfTheByteSampleMatchesTheWindowAndPrintsTheRange)
{
    const std::string file = Samples + "/head_256x256x64_u8.raw";
    const RunResult r = run({file, "--dims", "256x256x64", "--type", "u8", "--order", "little", "--window", "0:255",
                             "--view", "slice", "--slice", "32", "--out", out()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Intens:       0.00 to     255.00\n"); // a bright spot lies in slice 32
    EXPECT_TRUE(r.err.empty());
    expectSameAsDataMgr(out(), file, {256, 256, 64}, vdtByte, boLittleEndian, 0, 255, vkSlice, 0, 32);

    // An 8-bit RGB PNG: bit depth 8, colour type 2 in the header chunk.
    const std::string png = readFile(out());
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png[24], 8);
    EXPECT_EQ(png[25], 2);
    EXPECT_EQ(filesInWork(), std::vector<std::string>{"out.png"});
}

struct ViewCase
{
    std::vector<std::string> args;
    TViewKind view;
    std::int32_t volume, sliceOrRow;
};

class KelvoxRenderViews : public KelvoxRenderTest, public ::testing::WithParamInterface<ViewCase>
{
};

TEST_P(KelvoxRenderViews, EachViewGetsTheWindowsArguments)
{
    const ViewCase& c = GetParam();
    const std::string file = Samples + "/head_128x128x64x2_i16be.raw";
    std::vector<std::string> args{file, "--dims=128x128x64", "--type=i16", "--order=big", "--window=-1000:3000"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("--out=" + out());
    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.empty(), c.view != vkSlice);
    expectSameAsDataMgr(out(), file, {128, 128, 64}, vdtInt16, boBigEndian, -1000, 3000, c.view, c.volume,
                        c.sliceOrRow);
}

INSTANTIATE_TEST_SUITE_P(
    Views, KelvoxRenderViews,
    ::testing::Values(ViewCase{{"--view", "slice", "--slice", "10"}, vkSlice, 0, 10},
                      ViewCase{{"--view", "next", "--slice", "63"}, vkNextSlice, 0, 64},
                      ViewCase{{"--view", "cross", "--row", "64", "--slice", "3"}, vkCrossSlice, 0, 64},
                      ViewCase{{"--view=other", "--volume=1", "--slice=30"}, vkOtherVolume, 1, 30},
                      ViewCase{{"--view", "cross"}, vkCrossSlice, 0, 0}));

TEST_F(KelvoxRenderTest, FloatSampleShowsSpecialsAndHugeRangeInExponentForm)
{
    const std::string file = Samples + "/head_96x80x40_f32le.raw";
    const RunResult r = run({file, "--dims", "96x80x40", "--type", "f32", "--order", "little", "--window", "0:1",
                             "--view", "slice", "--slice", "20", "--out", out()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Intens:       -INF to        INF\n");
    expectSameAsDataMgr(out(), file, {96, 80, 40}, vdtFloat32, boLittleEndian, 0, 1, vkSlice, 0, 20);

    const RunResult nan = run({file, "--dims", "96x80x40", "--type", "f32", "--order", "big", "--window", "0:1",
                               "--view", "slice", "--slice", "10", "--out", out()});
    ASSERT_EQ(nan.status, 0);
    EXPECT_NE(nan.out.find("E+"), std::string::npos) << nan.out; // wrong byte order: huge values
}

TEST_F(KelvoxRenderTest, UnopenableFileRendersLightBlueAndExitsOne)
{
    const RunResult r = run({dir.path("missing.raw"), "--dims", "4x3x2", "--type", "i32", "--order", "little",
                             "--window", "0:10", "--view", "slice", "--out", out()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kelvox-render: File does not exist\n");
    EXPECT_EQ(r.out, "Intens:       0.00 to       0.00\n");
    const QImage image(QString::fromStdString(out()));
    ASSERT_EQ(image.size(), QSize(4, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(image.pixel(x, y), qRgb(0, 255, 255));
}

class KelvoxRenderBadArguments : public KelvoxRenderTest,
                                 public ::testing::WithParamInterface<std::pair<std::vector<std::string>, std::string>>
{
};

TEST_P(KelvoxRenderBadArguments, ExitTwoNamingTheArgumentAndWriteNothing)
{
    const auto& [changes, named] = GetParam();
    // A good command line, then each case's changes appended: a later option
    // overrides an earlier one, so the bad value is the one in effect.
    std::vector<std::string> args{Samples + "/head_64x64x32_i32le.raw", "--dims", "64x64x32", "--type", "i32",
                                  "--order", "little", "--window", "0:100", "--view", "slice", "--out", out()};
    if (!changes.empty() && changes.front() == "!") // replace the whole line
        args.assign(changes.begin() + 1, changes.end());
    else
        args.insert(args.end(), changes.begin(), changes.end());
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(filesInWork().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, KelvoxRenderBadArguments,
    ::testing::Values(std::pair{std::vector<std::string>{"--dims", "64x64"}, "--dims"},
                      std::pair{std::vector<std::string>{"--dims=0x64x32"}, "--dims"},
                      std::pair{std::vector<std::string>{"--dims=64x64x32x2"}, "--dims"},
                      std::pair{std::vector<std::string>{"--dims=64x-4x32"}, "--dims"},
                      std::pair{std::vector<std::string>{"--type", "u64"}, "--type"},
                      std::pair{std::vector<std::string>{"--header", "-1"}, "--header"},
                      std::pair{std::vector<std::string>{"--header=9223372036854775808"}, "--header"},
                      std::pair{std::vector<std::string>{"--header", "12a"}, "--header"},
                      std::pair{std::vector<std::string>{"--order=middle"}, "--order"},
                      std::pair{std::vector<std::string>{"--window", "5"}, "--window"},
                      std::pair{std::vector<std::string>{"--window=1:2147483648"}, "--window"},
                      std::pair{std::vector<std::string>{"--window=a:3"}, "--window"},
                      std::pair{std::vector<std::string>{"--view", "top"}, "--view"},
                      std::pair{std::vector<std::string>{"--slice", "1.5"}, "--slice"},
                      std::pair{std::vector<std::string>{"--row="}, "--row"},
                      std::pair{std::vector<std::string>{"--volume"}, "--volume"},
                      std::pair{std::vector<std::string>{"--colour", "red"}, "--colour"},
                      std::pair{std::vector<std::string>{"second.raw"}, "second.raw"},
                      std::pair{std::vector<std::string>{"!", "--dims", "1x1x1"}, "FILE"},
                      std::pair{std::vector<std::string>{"!", "f.raw", "--dims", "1x1x1", "--type", "u8", "--order",
                                                         "big", "--window", "0:1", "--out", "o.png"},
                                "--view"}));

} // namespace

namespace
{

// The int16 big-endian value at a byte offset of a sample file, read directly.
std::int16_t int16BigEndianAt(const std::string& file, std::streamoff offset)
{
    std::ifstream in(file, std::ios::binary);
    in.seekg(offset);
    unsigned char b[2] = {};
    in.read(reinterpret_cast<char*>(b), 2);
    return static_cast<std::int16_t>((b[0] << 8) | b[1]);
}

} // namespace

TEST_F(KelvoxRenderTest, ReadoutPrintsTheStatusBarTextsOfThePointedVoxel)
{
    // Other-volume view, volume 1, slice 3, pointer at column 5, row 9:
    // voxel 5 + 9*128 + 3*128*128 + 1*128*128*64 = 1,098,885, byte 2,197,770.
    const std::string file = Samples + "/head_128x128x64x2_i16be.raw";
    const RunResult r = run({file, "--dims=128x128x64", "--type=i16", "--order=big", "--window=0:1000",
                             "--view=other", "--slice=3", "--volume=1", "--readout=5,9", "--out", out()});
    ASSERT_EQ(r.status, 0) << r.err;
    char value[32];
    std::snprintf(value, sizeof value, "Intens: %10d", int16BigEndianAt(file, 2197770));
    EXPECT_EQ(r.out, std::string("[   5,    9,    3,    1 ]\n") + value
                         + "\nVoxel:  1,098,885  Byte Offset:  2,197,770 = 0x0021.890A\n");

    // The cross-slice view reads out its row as Index 1 and its image row as the slice.
    const RunResult cross = run({file, "--dims", "128x128x64", "--type", "i16", "--order", "big", "--window", "0:1",
                                 "--view", "cross", "--row", "40", "--readout", "0,0", "--out", out()});
    ASSERT_EQ(cross.status, 0) << cross.err;
    EXPECT_EQ(cross.out.substr(0, cross.out.find('\n')), "[   0,   40,    0,    0 ]");
}

TEST_F(KelvoxRenderTest, UInt16SampleBehindItsHeaderMatchesTheWindow)
{
    const std::string file = Samples + "/head_160x128x48_u16le_header512.raw";
    const RunResult r = run({file, "--dims", "160x128x48", "--type", "u16", "--order", "little", "--header", "512",
                             "--window", "0:65535", "--view", "slice", "--slice", "24", "--readout", "80,64",
                             "--out", out()});
    ASSERT_EQ(r.status, 0) << r.err;
    // Values above 32767 are unsigned: the skull's 52000 is the maximum.
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Intens:       0.00 to   52000.00");
    // Voxel 80 + 64*160 + 24*160*128 = 501,840; its bytes lie behind the header.
    EXPECT_NE(r.out.find("Voxel:    501,840  Byte Offset:  1,004,192 = 0x000F.52A0"), std::string::npos) << r.out;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(file);
    mgr.SetParams(160, 128, 48, vdtUInt16, boLittleEndian, 0, 65535, 512);
    VectorImage expected;
    mgr.RenderView(0, 24, vkSlice, expected);
    const QImage actual(QString::fromStdString(out()));
    ASSERT_EQ(actual.width(), 160);
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            ASSERT_EQ(qRed(actual.pixel(x, y)), expected.at(x, y)[0]) << x << "," << y;
}

TEST_F(KelvoxRenderTest, ReadoutOutsideTheViewIsAnArgumentError)
{
    const std::string file = Samples + "/head_64x64x32_i32le.raw";
    for (const char* at : {"64,0", "0,32", "-1,0", "5", "5,x"}) {
        const RunResult r = run({file, "--dims", "64x64x32", "--type", "i32", "--order", "little", "--window",
                                 "0:1", "--view", "cross", "--readout", at, "--out", out()});
        EXPECT_EQ(r.status, 2) << at;
        EXPECT_NE(r.err.find("--readout"), std::string::npos) << at;
        EXPECT_TRUE(filesInWork().empty()) << at;
    }
}

// --guess: the ranked layouts, one line each in the stated form, nothing
// written; the samples' own layouts come first.
TEST_F(KelvoxRenderTest, GuessPutsEachSamplesLayoutFirst)
{
    const std::vector<std::pair<std::string, std::string>> samples{
        {"head_256x256x64_u8.raw", "256x256x64 u8 little header=0 volumes=1 score="},
        {"head_128x128x64x2_i16be.raw", "128x128x64 i16 big header=0 volumes=2 score="},
        {"head_64x64x32_i32le.raw", "64x64x32 i32 little header=0 volumes=1 score="},
        {"head_96x80x40_f32le.raw", "96x80x40 f32 little header=0 volumes=1 score="},
        {"head_160x128x48_u16le_header512.raw", "160x128x48 u16 little header=512 volumes=1 score="},
    };
    const std::regex line(R"(\d+x\d+x\d+ (u8|i16|i32|f32|u16|i8|u32|f64) (little|big) header=\d+ volumes=\d+ score=[01]\.\d{3})");
    for (const auto& [file, first] : samples) {
        const RunResult r = run({Samples + "/" + file, "--guess"});
        EXPECT_EQ(r.status, 0) << file;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_EQ(r.out.substr(0, first.size()), first) << file << "\n" << r.out;
        std::istringstream lines(r.out);
        int count = 0;
        for (std::string l; std::getline(lines, l); ++count)
            EXPECT_TRUE(std::regex_match(l, line)) << l;
        EXPECT_GE(count, 1);
        EXPECT_LE(count, 5);
        EXPECT_TRUE(filesInWork().empty());
    }
}

TEST_F(KelvoxRenderTest, GuessTopChoosesHowManyLines)
{
    const RunResult r = run({Samples + "/head_256x256x64_u8.raw", "--guess", "--top", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    const RunResult one = run({Samples + "/head_256x256x64_u8.raw", "--top=1", "--guess"});
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 1) << one.out;
}

TEST_F(KelvoxRenderTest, GuessOfAnEmptyFileListsNothing)
{
    const std::string empty = dir.path("empty.raw");
    std::ofstream(empty).close();
    const RunResult r = run({empty, "--guess"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

// A gzip copy of a sample: the same guesses (from the unpacked bytes, the
// name's hints without ".gz") and the same picture as the raw file.
TEST_F(KelvoxRenderTest, GzipSampleGuessesAndRendersAsTheRawOne)
{
    const std::string raw = Samples + "/head_128x128x64x2_i16be.raw";
    const std::string packed = dir.path("head_128x128x64x2_i16be.raw.gz");
    ASSERT_EQ(std::system(("gzip -c " + shellQuote(raw) + " > " + shellQuote(packed)).c_str()), 0);
    const RunResult rawGuess = run({raw, "--guess"});
    const RunResult packedGuess = run({packed, "--guess"});
    EXPECT_EQ(packedGuess.status, 0) << packedGuess.err;
    EXPECT_FALSE(rawGuess.out.empty());
    EXPECT_EQ(packedGuess.out, rawGuess.out);
    const std::vector<std::string> view{"--dims", "128x128x64", "--type", "i16", "--order", "big", "--window",
                                        "0:3000", "--view", "cross", "--row", "70", "--volume", "1", "--out"};
    std::vector<std::string> args{packed};
    args.insert(args.end(), view.begin(), view.end());
    args.push_back(out());
    ASSERT_EQ(run(args).status, 0);
    expectSameAsDataMgr(out(), raw, {128, 128, 64}, vdtInt16, boBigEndian, 0, 3000, vkCrossSlice, 1, 70);
}

// The same words as a render: a missing path or a folder does not exist, a
// FIFO cannot be opened.
TEST_F(KelvoxRenderTest, GuessOfAnUnopenableFileExitsOneWithTheRendersWords)
{
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [path, words] : {std::pair{dir.path("missing.raw"), std::string("File does not exist")},
                                      std::pair{dir.path("work"), std::string("File does not exist")},
                                      std::pair{fifo, "Cannot open file " + fifo}}) {
        const RunResult r = run({path, "--guess"});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err, "kelvox-render: " + words + "\n");
        const RunResult render = run({path, "--dims", "2x2x1", "--type", "u8", "--order", "little", "--window", "0:1",
                                      "--view", "slice", "--out", dir.path("x.png")});
        EXPECT_EQ(render.err, r.err) << path;
    }
}

// A layout file states its layout: --guess prints it alone, score 1.
TEST_F(KelvoxRenderTest, GuessOfALayoutFilePrintsItsOwnLayout)
{
    std::ofstream(dir.path("v.raw")) << std::string(4 * 3 * 2 * 2 + 7, 'x');
    std::ofstream(dir.path("v.nhdr")) << "NRRD0004\ntype: short\ndimension: 3\nsizes: 4 3 2\nendian: big\n"
                                         "encoding: raw\nbyte skip: 7\ndata file: v.raw\n";
    const RunResult r = run({dir.path("v.nhdr"), "--guess"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "4x3x2 i16 big header=7 volumes=1 score=1.000\n");
}

// No candidate along an axis longer than the window can show, even where the
// name states one.
TEST_F(KelvoxRenderTest, GuessNeverOffersALayoutTheWindowCannotShow)
{
    const std::string wide = dir.path("ramp_12000x4x1_u8.raw");
    std::string bytes;
    for (int i = 0; i < 12000 * 4; ++i)
        bytes += static_cast<char>((i % 12000) / 50);
    std::ofstream(wide) << bytes;
    const RunResult r = run({wide, "--guess", "--top", "8"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);) {
        int d0 = 0, d1 = 0, d2 = 0;
        ASSERT_EQ(std::sscanf(l.c_str(), "%dx%dx%d", &d0, &d1, &d2), 3) << l;
        EXPECT_LE(std::max({d0, d1, d2}), 10000) << l;
    }
}

TEST_F(KelvoxRenderTest, HelpPrintsEveryOptionAndNoArgumentsIsAUsageError)
{
    for (const char* flag : {"--help", "-h"}) {
        const RunResult r = run({flag});
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_TRUE(r.err.empty()) << r.err;
        for (const char* option : {"--dims", "--type", "--order", "--header", "--window", "--view", "--slice", "--row",
                                   "--volume", "--readout", "--out", "--guess", "--top", "--save-layout", "Exit status"})
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    const RunResult none = run({});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.out.empty());
    EXPECT_NE(none.err.find("Usage: kelvox-render"), std::string::npos) << none.err;
}

// --window takes decimals as the edits do: a Float-32 sample framed between
// fractions renders as the data manager renders it under the same ends.
TEST_F(KelvoxRenderTest, WindowTakesDecimals)
{
    const std::string file = Samples + "/head_96x80x40_f32le.raw";
    const RunResult r = run({file, "--dims", "96x80x40", "--type", "f32", "--order", "little", "--window=0.25:1.5e2",
                             "--view", "slice", "--slice", "20", "--out", out()});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSameAsDataMgr(out(), file, {96, 80, 40}, vdtFloat32, boLittleEndian, 0.25, 150.0, vkSlice, 0, 20);
    const RunResult bad = run({file, "--dims", "96x80x40", "--type", "i16", "--order", "little", "--window=0:4294967295",
                               "--view", "slice", "--out", out()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--window"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    GuessArguments, KelvoxRenderBadArguments,
    ::testing::Values(std::pair{std::vector<std::string>{"--top", "3"}, "--top"},
                      std::pair{std::vector<std::string>{"!", Samples + "/head_256x256x64_u8.raw", "--guess=yes"},
                                "--guess"},
                      std::pair{std::vector<std::string>{"!", Samples + "/head_256x256x64_u8.raw", "--guess", "--top",
                                                         "0"},
                                "--top"},
                      std::pair{std::vector<std::string>{"!", Samples + "/head_256x256x64_u8.raw", "--guess", "--top"},
                                "--top"},
                      std::pair{std::vector<std::string>{"!", "--guess"}, "FILE"}));
