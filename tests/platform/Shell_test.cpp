// The minimal shell namespace: item-ID lists to file-system paths, and the
// 16-bit to system code page conversion of names.

#include "platform/Shell.h"
#include "platform/TextConversion.h"

#include <gtest/gtest.h>

namespace {

struct PathCase
{
    const char* label;
    std::string list;
    bool ok;
    std::string path;
};

class ShellPath : public ::testing::TestWithParam<PathCase>
{
};

TEST_P(ShellPath, FollowsOneComponentPerItem)
{
    const PathCase& c = GetParam();
    char path[MAX_PATH + 1] = "garbage";
    EXPECT_EQ(SHGetPathFromIDListA(AsItemIdList(c.list), path) != FALSE, c.ok) << c.label;
    EXPECT_EQ(std::string(path), c.path) << c.label;
}

std::string fs(const std::string& name)
{
    return MakeShellItem(ShellItemFileSystem, name);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ShellPath,
    ::testing::Values(PathCase{"desktop", MakeItemIdList(""), true, "/"},
                      PathCase{"two items", MakeItemIdList(fs("tmp") + fs("a b.raw")), true, "/tmp/a b.raw"},
                      PathCase{"from a path", ItemIdListFromPath("/x//y/"), true, "/x/y"},
                      PathCase{"virtual item", MakeItemIdList(fs("tmp") + MakeShellItem(ShellItemVirtual, "v")),
                               false, ""},
                      PathCase{"dot dot", MakeItemIdList(fs("..")), false, ""},
                      PathCase{"slash inside", MakeItemIdList(fs("a/b")), false, ""},
                      PathCase{"empty name", MakeItemIdList(fs("")), false, ""},
                      PathCase{"too long", MakeItemIdList(fs(std::string(200, 'a')) + fs(std::string(60, 'b'))),
                               false, ""},
                      PathCase{"longest that fits", MakeItemIdList(fs(std::string(258, 'c'))), true,
                               "/" + std::string(258, 'c')}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return "Case" + std::to_string(info.index); });

TEST(TextConversion, WideNamesBecomeUtf8AndBack)
{
    EXPECT_EQ(WideToSystem(u"/a/\u0100\u00e9\U0001F600"), "/a/\xC4\x80\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(SystemToWide("/a/\xC4\x80\xC3\xA9\xF0\x9F\x98\x80"), u"/a/\u0100\u00e9\U0001F600");
    EXPECT_EQ(WideToSystem(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
    EXPECT_EQ(SystemToWide("\xC4"), u"\uFFFD");
}

TEST(TextConversion, FileNamesThatAreNotUtf8SurviveTheRoundTrip)
{
    const std::string names[] = {
        "/d/caf\xE9.raw",            // Latin-1
        "/d/\xC3\xA9\xE9\xC3",       // valid, then a stray byte, then a cut sequence
        "/d/\xED\xB2\x80",           // an encoded surrogate is not UTF-8
        "/d/\xC0\xAF\xFF\x80",       // over-long form, bytes that start nothing
        "/d/\xF0\x9F\x98\x80 ok",   // valid four-byte sequence
    };
    for (const std::string& name : names) {
        const std::u16string wide = FileNameToWide(name);
        EXPECT_EQ(WideToSystem(wide), name);
    }
    EXPECT_EQ(FileNameToWide("a\xE9"), u"a\xDCE9");
    EXPECT_EQ(FileNameToWide("\xC3\xA9"), u"\u00E9");
    // Text that is not a file name keeps the replacement character.
    EXPECT_EQ(SystemToWide("a\xE9"), u"a\uFFFD");
    // Only the escapes of bytes 0x80..0xFF become bytes again.
    EXPECT_EQ(WideToSystem(u"\xDC7F"), "\xEF\xBF\xBD");
}

} // namespace
