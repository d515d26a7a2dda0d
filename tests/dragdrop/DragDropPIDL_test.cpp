// Shell item-ID lists: CIDA blocks, list sizes, joining and the path view.

#include "dragdrop/DragDropFile.h"
#include "dragdrop/DragDropPIDL.h"
#include "platform/Shell.h"

#include "ScriptedDataObject.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

std::string item(const char* name)
{
    return MakeShellItem(ShellItemFileSystem, name);
}

TItemIdList listOf(std::initializer_list<std::string> items)
{
    std::string bytes;
    for (const std::string& i : items) {
        bytes += i;
    }
    return MakeItemIdList(bytes);
}

bool readBlock(TPIDLClipboardFormat& format, const std::string& block)
{
    std::vector<char> exact(block.begin(), block.end());
    return format.ReadData(exact.data(), static_cast<int>(exact.size()));
}

TEST(PidlFormat, ThreeFilesOfOneFolderGiveThreeFullPaths)
{
    const TItemIdList folder = listOf({item("home"), item("user")});
    TPIDLClipboardFormat format;
    ASSERT_TRUE(readBlock(format, MakeCidaBlock({folder, listOf({item("a.raw")}), listOf({item("b.raw")}),
                                                 listOf({item("sub"), item("c.raw")})})));
    ASSERT_EQ(format.Paths.Count(), 3);
    EXPECT_EQ(format.Paths[0], "/home/user/a.raw");
    EXPECT_EQ(format.Paths[1], "/home/user/b.raw");
    EXPECT_EQ(format.Paths[2], "/home/user/sub/c.raw");
    EXPECT_THROW(format.Paths[3], DragDropError);
    EXPECT_THROW(format.Paths[-1], DragDropError);
}

TEST(PidlFormat, VirtualItemBecomesAnEmptyString)
{
    TPIDLClipboardFormat format;
    ASSERT_TRUE(readBlock(format, MakeCidaBlock({listOf({item("tmp")}),
                                                 listOf({MakeShellItem(ShellItemVirtual, "Printers")}),
                                                 listOf({item("x.raw")})})));
    EXPECT_EQ(format.Paths[0], "");
    EXPECT_EQ(format.Paths[1], "/tmp/x.raw");
    format.Paths.Clear();  // the view's setters do nothing
    format.Paths.Delete(0);
    EXPECT_EQ(format.Paths.Count(), 2);
}

TEST(PidlFormat, ParentOfTwoBytesJoinsToTheChildUnchanged)
{
    const TItemIdList child = listOf({item("etc"), item("hosts")});
    EXPECT_EQ(JoinItemLists(MakeItemIdList(""), child), child);
    EXPECT_EQ(JoinItemLists(listOf({item("a")}), child), listOf({item("a"), item("etc"), item("hosts")}));
}

TEST(PidlFormat, ItemListSizeCountsItemsAndTerminator)
{
    const TItemIdList list = listOf({item("ab"), item("c")});
    EXPECT_EQ(ItemListSize(list.data()), list.size());
    EXPECT_EQ(ItemListSize(nullptr), 0u);
    EXPECT_EQ(ItemListSize(list.data(), list.size()), list.size());
    EXPECT_EQ(ItemListSize(list.data(), list.size() - 1), std::nullopt);
}

struct HostileCida
{
    const char* label;
    std::string block;
};

class PidlBlockBounds : public ::testing::TestWithParam<HostileCida>
{
};

TEST_P(PidlBlockBounds, IsRejectedWithoutReadingBeyondIt)
{
    TPIDLClipboardFormat format;
    EXPECT_FALSE(readBlock(format, GetParam().block)) << GetParam().label;
}

const std::string Terminator(2, '\0');

INSTANTIATE_TEST_SUITE_P(
    Blocks, PidlBlockBounds,
    ::testing::Values(
        HostileCida{"count 0 has only the parent", MakeCidaBlock({listOf({item("a")})})},
        HostileCida{"shorter than the count word", std::string("\1\0", 2)},
        HostileCida{"huge count", le32(0x40000000) + le32(12) + le32(12) + Terminator},
        HostileCida{"count 0 passes 8n+4 but the table does not fit", le32(0) + Terminator},
        HostileCida{"offset past the end", le32(1) + le32(12) + le32(900) + Terminator + Terminator},
        HostileCida{"list running past the end", le32(1) + le32(12) + le32(14) + Terminator + "\x09\0ab"},
        HostileCida{"item count below 2", le32(1) + le32(12) + le32(14) + Terminator + std::string("\1\0\0\0", 4)},
        HostileCida{"offset at the last byte", le32(1) + le32(12) + le32(13) + Terminator}),
    [](const ::testing::TestParamInfo<HostileCida>& info) { return "Case" + std::to_string(info.index); });

TEST(PidlFormat, WrittenBlockHasTheTableThenTheLists)
{
    TPIDLClipboardFormat format;
    format.ItemLists = {MakeItemIdList(""), listOf({item("a")})};
    const std::string expected = le32(1) + le32(12) + le32(14) + Terminator + listOf({item("a")});
    ASSERT_EQ(format.DataSize(), static_cast<int>(expected.size()));
    std::string written(expected.size(), '\0');
    EXPECT_TRUE(format.WriteData(written.data(), static_cast<int>(written.size())));
    EXPECT_EQ(written, expected);
}

TEST(PidlFormat, FileDataFormatUsesItemListsWhenThereIsNoHdrop)
{
    const CLIPFORMAT idList = formatNamed("Shell IDList Array");
    const std::string block = MakeCidaBlock({MakeItemIdList(""), listOf({item("v"), item("one.raw")})});
    TFileDataFormat files(nullptr);

    auto onlyIdList = ScriptedDataObject::make({{idList, block}});
    EXPECT_TRUE(files.GetData(onlyIdList.get()));
    EXPECT_EQ(files.FileNames.Items(), Names{"/v/one.raw"});

    auto withHdrop = ScriptedDataObject::make({{CF_HDROP, dropFiles(wideZ(u"/h.raw"), true)}, {idList, block}});
    files.Clear();
    EXPECT_TRUE(files.GetData(withHdrop.get()));
    EXPECT_TRUE(files.HasUsableFormat(withHdrop.get()));
    EXPECT_EQ(files.FileNames.Items(), Names{"/h.raw"});
    EXPECT_FALSE(withHdrop->wasFetched(idList));
    EXPECT_FALSE(withHdrop->wasQueried(idList));
}

} // namespace
