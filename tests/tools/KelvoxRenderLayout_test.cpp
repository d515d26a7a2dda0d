// kelvox-render with layout files, end to end: the built binary saves
// headers that teem's unu reads, and renders from layout files with
// command-line overrides.

#include "layout/LayoutFile.h"

#include "RenderRun.h"
#include "layout/LayoutFileTestSupport.h"
#include "support/LayoutBuilders.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace LayoutFileTest;

namespace {

class KelvoxRenderLayout : public testing::Test
{
protected:
    void SetUp() override
    {
        // 4 x 3 x 2 Int-16 big-endian, two whole volumes and a stray byte,
        // behind a 10-byte header. Slice 0 of volume 0 holds 10..21.
        std::string bytes(10, 'H');
        for (int i = 0; i < 2 * 24; ++i) {
            const int v = i < 12 ? 10 + i : 100 + i;
            bytes += static_cast<char>(v >> 8);
            bytes += static_cast<char>(v & 0xFF);
        }
        bytes += 'x';
        raw = dir.write("data/v.raw", bytes);
        std::filesystem::create_directories(dir.path("work"));
    }

    RunResult run(const std::vector<std::string>& args) const { return runKelvoxRender(dir, args); }

    std::vector<std::string> rawOptions() const
    {
        return {raw, "--dims", "4x3x2", "--type", "i16", "--order", "big", "--header", "10"};
    }

    TempDir dir;
    std::string raw;
};

TEST_F(KelvoxRenderLayout, SavesHeadersThatDescribeTheWholeVolumes)
{
    for (const std::string name : {"v.nhdr", "v.mhd"}) {
        std::vector<std::string> args = rawOptions();
        args.insert(args.end(), {"--save-layout", dir.path("data/" + name)});
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const LayoutFileReading reading = readLayoutFile(dir.path("data/" + name));
        ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
        EXPECT_EQ(reading.contents.layout, layoutOf({4, 3, 2}, vdtInt16, boBigEndian, 10, 2));
        EXPECT_EQ(reading.contents.dataPath, raw);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path("work"))) << "no PNG without --out";

    const std::string unu = findUnu();
    if (unu.empty())
        GTEST_SKIP() << "unu (teem-apps) is not installed";
    int status = 0;
    const std::string text = runCommand(unu + " reshape -i " + shellQuote(dir.path("data/v.nhdr")) + " -s 48 2>/dev/null | " +
                                            unu + " save -f text -o - 2>/dev/null",
                                        status);
    ASSERT_EQ(status, 0);
    std::istringstream values(text);
    std::vector<int> got;
    for (int v = 0; values >> v;)
        got.push_back(v);
    ASSERT_EQ(got.size(), 48u) << "both whole volumes, not the stray byte";
    for (int i = 0; i < 48; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)], i < 12 ? 10 + i : 100 + i) << "voxel " << i;
}

TEST_F(KelvoxRenderLayout, SaveFailuresExitWithTheReason)
{
    std::vector<std::string> args = rawOptions();
    args.insert(args.end(), {"--save-layout", dir.path("missing/v.nhdr")});
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kelvox-render: Cannot write " + dir.path("missing/v.nhdr") + ": No such file or directory\n");

    args.back() = dir.path("v.txt");
    r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--save-layout: expected a name ending in .nhdr, .nrrd, .mhd or .mha"), std::string::npos);

    // Never over the file that holds the voxels: the raw file under another
    // name (a hard link), or an attached header saved over itself.
    const std::string before = readFile(raw);
    std::filesystem::create_hard_link(raw, dir.path("data/same.nhdr"));
    args.back() = dir.path("data/same.nhdr");
    r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kelvox-render: Cannot write " + dir.path("data/same.nhdr")
                         + ": it is the file that holds the voxels; choose another name\n");
    EXPECT_EQ(readFile(raw), before);
    const std::string attached =
        dir.write("data/self.nrrd", "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 1\nencoding: raw\n\nABCD");
    r = run({attached, "--save-layout", attached});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(readFile(attached), "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 1\nencoding: raw\n\nABCD");
}

TEST_F(KelvoxRenderLayout, LayoutFileRendersAsItsRawFileWithTheSliceRange)
{
    std::vector<std::string> save = rawOptions();
    save.insert(save.end(), {"--save-layout", dir.path("data/v.nhdr")});
    ASSERT_EQ(run(save).status, 0);

    std::vector<std::string> explicitArgs = rawOptions();
    explicitArgs.insert(explicitArgs.end(), {"--window", "10:21", "--view", "slice", "--out", dir.path("a.png")});
    ASSERT_EQ(run(explicitArgs).status, 0);
    const RunResult fromLayout = run({dir.path("data/v.nhdr"), "--out", dir.path("b.png")});
    ASSERT_EQ(fromLayout.status, 0) << fromLayout.err;
    EXPECT_EQ(readFile(dir.path("a.png")), readFile(dir.path("b.png")));

    // Other views and a given window as for the raw file.
    explicitArgs = rawOptions();
    explicitArgs.insert(explicitArgs.end(),
                        {"--window", "0:200", "--view", "other", "--volume", "1", "--out", dir.path("c.png")});
    ASSERT_EQ(run(explicitArgs).status, 0);
    ASSERT_EQ(run({dir.path("data/v.nhdr"), "--window", "0:200", "--view", "other", "--volume", "1", "--out",
                   dir.path("d.png")})
                  .status,
              0);
    EXPECT_EQ(readFile(dir.path("c.png")), readFile(dir.path("d.png")));
}

TEST_F(KelvoxRenderLayout, CommandLineOverridesTheLayoutFile)
{
    std::vector<std::string> save = rawOptions();
    save.insert(save.end(), {"--save-layout", dir.path("data/v.mhd")});
    ASSERT_EQ(run(save).status, 0);
    const std::vector<std::string> view{"--window", "0:255", "--view", "slice", "--out"};

    std::vector<std::string> explicitArgs{raw, "--dims", "6x2x2", "--type", "u8", "--order", "little", "--header", "3"};
    explicitArgs.insert(explicitArgs.end(), view.begin(), view.end());
    explicitArgs.push_back(dir.path("a.png"));
    ASSERT_EQ(run(explicitArgs).status, 0);

    std::vector<std::string> overridden{dir.path("data/v.mhd"), "--dims", "6x2x2", "--type", "u8", "--order",
                                        "little", "--header", "3"};
    overridden.insert(overridden.end(), view.begin(), view.end());
    overridden.push_back(dir.path("b.png"));
    const RunResult r = run(overridden);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir.path("a.png")), readFile(dir.path("b.png")));
}

TEST_F(KelvoxRenderLayout, RefusedLayoutFileExitsWithTheReason)
{
    const std::string header = dir.write(
        "data/z.nhdr", "NRRD0004\ntype: short\ndimension: 3\nsizes: 4 3 2\nendian: big\nencoding: bzip2\ndata file: v.raw\n");
    const RunResult r = run({header, "--out", dir.path("work/z.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kelvox-render: " + header + " uses bzip2 encoding, which Kelvox cannot show\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path("work")));

    // More than the window can show along an axis: refused, as the window does.
    dir.write("data/wide.raw", std::string(12000 * 40 * 3, '\0'));
    const std::string wide = dir.write(
        "data/wide.nhdr", "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 12000 40 3\nencoding: raw\ndata file: wide.raw\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{wide, "--out", dir.path("work/w.png")}, std::vector<std::string>{wide, "--guess"}}) {
        const RunResult w = run(args);
        EXPECT_EQ(w.status, 1);
        EXPECT_EQ(w.err, "kelvox-render: " + wide + " states 12000 voxels per row, more than the 10000 Kelvox can show\n");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path("work")));
}

} // namespace
