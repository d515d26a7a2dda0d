// File names from dropped data: DROPFILES and name-map blocks, the text
// formats and the order in which a drop tries the source's formats.

#include "dragdrop/DragDropFile.h"

#include "ScriptedDataObject.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;
using Medium = ScriptedDataObject::Medium;

struct BlockCase
{
    const char* label;
    std::string block;
    bool accepted;
    Names names;
};

class DropFilesBlock : public ::testing::TestWithParam<BlockCase>
{
};

TEST_P(DropFilesBlock, IsReadWithinItsBounds)
{
    const BlockCase& c = GetParam();
    TFileClipboardFormat format;
    // A heap copy of exactly the block's size, so a read beyond it is caught
    // by the address sanitizer.
    std::vector<char> exact(c.block.begin(), c.block.end());
    EXPECT_EQ(format.ReadData(exact.data(), static_cast<int>(exact.size())), c.accepted) << c.label;
    EXPECT_EQ(format.Names, c.names) << c.label;
}

const std::string Nul(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Blocks, DropFilesBlock,
    ::testing::Values(
        BlockCase{"header only", dropFiles("", true), false, {}},
        BlockCase{"list at the end", dropFiles("ab", false, 22), false, {}},
        BlockCase{"list past the end", dropFiles("ab", false, 4000), false, {}},
        BlockCase{"8-bit names", dropFiles("/a/b" + Nul + "/c" + Nul + Nul, false), true, {"/a/b", "/c"}},
        BlockCase{"16-bit names in order",
                  dropFiles(wideZ(u"/x/one") + wideZ(u"/x/two") + wideZ(u"/x/three") + std::string(2, '\0'), true),
                  true,
                  {"/x/one", "/x/two", "/x/three"}},
        BlockCase{"16-bit name starting with U+0100", dropFiles(wideZ(u"\u0100b") + wideZ(u"c"), true), true,
                  {"\xC4\x80" "b", "c"}},
        BlockCase{"8-bit name without terminator", dropFiles("/a/b", false), false, {}},
        BlockCase{"16-bit name without terminator", dropFiles(std::string("/\0a\0", 4), true), false, {}},
        BlockCase{"odd byte left in a 16-bit list", dropFiles(wideZ(u"/a") + "x", true), true, {"/a"}},
        BlockCase{"empty list", dropFiles(std::string(2, '\0'), true), false, {}}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return "Case" + std::to_string(info.index); });

TEST(NameMapBlock, ReadsEightAndSixteenBitLists)
{
    TFilenameMapClipboardFormat narrow;
    const std::string narrowBlock = "one" + Nul + "two" + Nul + Nul;
    EXPECT_TRUE(narrow.ReadData(narrowBlock.data(), static_cast<int>(narrowBlock.size())));
    EXPECT_EQ(narrow.Names, (Names{"one", "two"}));

    TFilenameMapWClipboardFormat wide;
    const std::string wideBlock = wideZ(u"\u00e9t\u00e9") + std::string(2, '\0');
    EXPECT_TRUE(wide.ReadData(wideBlock.data(), static_cast<int>(wideBlock.size())));
    EXPECT_EQ(wide.Names, (Names{"\xC3\xA9t\xC3\xA9"}));

    const std::string runaway = "one" + Nul + "tw";
    TFilenameMapClipboardFormat refused;
    EXPECT_FALSE(refused.ReadData(runaway.data(), static_cast<int>(runaway.size())));
    EXPECT_TRUE(refused.Names.empty());
}

class FileDataFormatTest : public ::testing::Test
{
protected:
    TFileDataFormat files{nullptr};
    TFileMapDataFormat maps{nullptr};
    const CLIPFORMAT fileName = formatNamed("FileName");
    const CLIPFORMAT fileNameW = formatNamed("FileNameW");
    const CLIPFORMAT idList = formatNamed("Shell IDList Array");
};

TEST_F(FileDataFormatTest, TrialOrdersFollowTheConversionMap)
{
    std::vector<CLIPFORMAT> order;
    for (int i = 0; i < files.CompatibleFormats.Count(); ++i) {
        order.push_back(files.CompatibleFormats[i]->FormatEtc.cfFormat);
    }
    EXPECT_EQ(order, (std::vector<CLIPFORMAT>{CF_HDROP, idList, fileNameW, fileName}));

    order.clear();
    for (int i = 0; i < maps.CompatibleFormats.Count(); ++i) {
        order.push_back(maps.CompatibleFormats[i]->FormatEtc.cfFormat);
    }
    EXPECT_EQ(order, (std::vector<CLIPFORMAT>{formatNamed("FileNameMapW"), formatNamed("FileNameMap")}));
}

TEST_F(FileDataFormatTest, ShellDragIsReadThroughHdropOnly)
{
    auto source = ScriptedDataObject::make({
        {CF_HDROP, dropFiles(wideZ(u"/d/a") + wideZ(u"/d/b") + wideZ(u"/d/c") + std::string(2, '\0'), true)},
        {idList, "never read"},
        {fileNameW, wideZ(u"/d/a")},
        {fileName, "/d/a" + Nul},
    });
    EXPECT_TRUE(files.GetData(source.get()));
    EXPECT_EQ(files.FileNames.Items(), (Names{"/d/a", "/d/b", "/d/c"}));
    EXPECT_EQ(source->fetched, (std::vector<CLIPFORMAT>{CF_HDROP}));
}

TEST_F(FileDataFormatTest, UnusableBlocksFallThroughToTheNextFormat)
{
    for (const Medium failing : {Medium::FailGet, Medium::Global, Medium::ShortStream}) {
        const std::string hdrop = failing == Medium::ShortStream ? dropFiles(wideZ(u"/s") + wideZ(u""), true)
                                                                  : dropFiles("", true);
        auto source = ScriptedDataObject::make({{CF_HDROP, hdrop, failing}, {fileName, "/f" + Nul}});
        files.Clear();
        EXPECT_TRUE(files.GetData(source.get()));
        EXPECT_EQ(files.FileNames.Items(), Names{"/f"});
    }
    EXPECT_EQ(GlobalBlockCount(), 0u);
}

TEST_F(FileDataFormatTest, WideFileNameIsPreferredAndNamesAreCutAtZero)
{
    auto both = ScriptedDataObject::make({{fileName, "/narrow" + Nul}, {fileNameW, wideZ(u"/wide\u0100") + "junk"}});
    EXPECT_TRUE(files.GetData(both.get()));
    EXPECT_EQ(files.FileNames.Items(), Names{"/wide\xC4\x80"});

    auto narrowOnly = ScriptedDataObject::make({{fileName, "/only" + Nul + "/second" + Nul, Medium::Stream}});
    files.Clear();
    EXPECT_TRUE(files.GetData(narrowOnly.get()));
    EXPECT_EQ(files.FileNames.Items(), Names{"/only"});
}

TEST_F(FileDataFormatTest, NothingUsableLeavesTheListEmpty)
{
    auto source = ScriptedDataObject::make({{CF_HDROP, dropFiles("ab", false, 30)}, {fileName, "", Medium::Global}});
    EXPECT_FALSE(files.GetData(source.get()));
    EXPECT_TRUE(files.FileNames.empty());
}

TEST_F(FileDataFormatTest, NameMapsFillMapEntries)
{
    auto source = ScriptedDataObject::make({{formatNamed("FileNameMap"), "m1" + Nul + Nul},
                                            {formatNamed("FileNameMapW"), wideZ(u"w1") + wideZ(u"w2")}});
    EXPECT_TRUE(maps.GetData(source.get()));
    EXPECT_EQ(maps.MapEntries.Items(), (Names{"w1", "w2"}));
}

} // namespace
