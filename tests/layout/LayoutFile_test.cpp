#include "layout/LayoutFile.h"
#include "layout/MetaImageLayoutFile.h"
#include "layout/NrrdLayoutFile.h"

#include "LayoutFileTestSupport.h"

#include <gtest/gtest.h>

using namespace LayoutFileTest;

namespace {

VolumeLayout smallLayout()
{
    VolumeLayout layout;
    layout.dims = {4, 3, 2};
    layout.dataType = vdtInt16;
    layout.byteOrder = boBigEndian;
    layout.headerBytes = 16;
    return layout;
}

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LayoutFile, WholeVolumesCountOnlyCompleteOnesAfterTheHeader)
{
    VolumeLayout layout = smallLayout(); // 4 x 3 x 2 x 2 bytes = 48 per volume, 16 header bytes
    layout.volumes = 7; // ignored
    EXPECT_EQ(wholeVolumesIn(layout, 16 + 3 * 48), 3);
    EXPECT_EQ(wholeVolumesIn(layout, 16 + 3 * 48 + 47), 3);
    EXPECT_EQ(wholeVolumesIn(layout, 16 + 47), 1) << "a short file still shows one volume";
    EXPECT_EQ(wholeVolumesIn(layout, 0), 1);
    layout.headerBytes = std::int64_t{1} << 62;
    EXPECT_EQ(wholeVolumesIn(layout, 100), 1);
}

TEST(LayoutFile, FolderIsRefused)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path("folder.nhdr"));
    EXPECT_NE(readLayoutFile(dir.path("folder.nhdr")).refusal.find("it is not a regular file"), std::string::npos);
}

struct ReferenceCase
{
    std::string name;
    std::string dataName; // relative to the test folder; the header is hdr/x.<ext>
    std::string expectedLine; // "" = absolute path of the data file
};

class LayoutFileReference : public testing::TestWithParam<ReferenceCase>
{
};

TEST_P(LayoutFileReference, DataFileIsRelativeOnlyInOrBelowTheHeadersFolder)
{
    const ReferenceCase& c = GetParam();
    TempDir dir;
    const std::string data = dir.write(c.dataName, "x");
    std::filesystem::create_directories(dir.path("hdr"));
    const std::string expected =
        c.expectedLine.empty() ? std::filesystem::canonical(data).string() : c.expectedLine;
    // Every header the program writes names its data file in its last line.
    for (const LayoutFileFormat* format : writableLayoutFileFormats()) {
        const std::string header = dir.path("hdr/x" + std::string(format->extensions.front()));
        writeLayoutFile(header, *format, smallLayout(), data);
        EXPECT_TRUE(readFile(header).ends_with(" " + expected + "\n")) << readFile(header);
    }
}

INSTANTIATE_TEST_SUITE_P(Places, LayoutFileReference,
                         testing::Values(ReferenceCase{"SameFolder", "hdr/v.raw", "v.raw"},
                                         ReferenceCase{"Below", "hdr/a/b/v.raw", "a/b/v.raw"},
                                         ReferenceCase{"Beside", "other/v.raw", ""},
                                         ReferenceCase{"Above", "v.raw", ""},
                                         ReferenceCase{"PrefixNotFolder", "hdrx/v.raw", ""}),
                         [](const testing::TestParamInfo<ReferenceCase>& info) { return info.param.name; });

TEST(LayoutFile, RelativeDataPathsAreTakenFromTheWorkingFolder)
{
    TempDir dir;
    dir.write("v.raw", "x");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    writeLayoutFile("x.nhdr", NrrdLayoutFormat, smallLayout(), "v.raw");
    std::filesystem::current_path(before);
    EXPECT_NE(readFile(dir.path("x.nhdr")).find("data file: v.raw\n"), std::string::npos);
}

TEST(LayoutFile, RewritingReplacesTheWholeFile)
{
    TempDir dir;
    const std::string data = dir.write("v.raw", std::string(100, 'x'));
    const std::string path = dir.write("x.mhd", std::string(5000, '#'));
    writeLayoutFile(path, MetaImageLayoutFormat, smallLayout(), data);
    EXPECT_EQ(readFile(path).find('#'), std::string::npos);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"v.raw", "x.mhd"}));
}

TEST(LayoutFile, FailedWriteSaysWhyAndLeavesNothing)
{
    TempDir dir;
    const std::string data = dir.write("v.raw", "x");
    std::filesystem::create_directories(dir.path("taken.nhdr"));
    const std::pair<std::string, std::string> cases[] = {
        {dir.path("no/such/folder/x.nhdr"), "No such file or directory"},
        {dir.path("taken.nhdr"), "Is a directory"},
    };
    for (const auto& [path, why] : cases) {
        try {
            writeLayoutFile(path, NrrdLayoutFormat, smallLayout(), data);
            ADD_FAILURE() << "no error for " << path;
        } catch (const LayoutFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot write " + path + ": " + why);
        }
    }
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"taken.nhdr", "v.raw"}));
}

TEST(LayoutFile, UnusableLayoutsAndNamesAreNotWritten)
{
    TempDir dir;
    VolumeLayout empty = smallLayout();
    empty.dims[1] = 0;
    EXPECT_THROW(writeLayoutFile(dir.path("a.nhdr"), NrrdLayoutFormat, empty, dir.path("v.raw")),
                 LayoutFileError);
    VolumeLayout huge = smallLayout();
    huge.dims = {1 << 30, 1 << 30, 1 << 30};
    EXPECT_THROW(writeLayoutFile(dir.path("a.nhdr"), NrrdLayoutFormat, huge, dir.path("v.raw")),
                 LayoutFileError);
    EXPECT_THROW(writeLayoutFile(dir.path("a.nhdr"), NrrdLayoutFormat, smallLayout(), dir.path("a\nb.raw")),
                 LayoutFileError);
    EXPECT_THROW(writeLayoutFile(dir.path("a.mhd"), MetaImageLayoutFormat, smallLayout(), dir.path("a%d.raw")),
                 LayoutFileError);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

} // namespace
