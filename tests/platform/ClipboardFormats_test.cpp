// The clipboard-format registry.

#include "platform/ClipboardFormats.h"

#include <gtest/gtest.h>

namespace {

TEST(ClipboardFormats, OneNumberPerNameFrom0xC000IgnoringCase)
{
    const UINT a = RegisterClipboardFormatA("Kelvox Test Format");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterClipboardFormatA("kelvox TEST format"), a);
    const UINT b = RegisterClipboardFormatA("Kelvox Other Format");
    EXPECT_NE(b, a);
    EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
    EXPECT_EQ(RegisterClipboardFormatA(nullptr), 0u);

    char name[8];
    EXPECT_EQ(GetClipboardFormatNameA(a, name, sizeof name), 7);
    EXPECT_STREQ(name, "Kelvox ");
    char full[64];
    EXPECT_EQ(GetClipboardFormatNameA(a, full, sizeof full), 18);
    EXPECT_STREQ(full, "Kelvox Test Format");
    EXPECT_EQ(GetClipboardFormatNameA(15, full, sizeof full), 0);
    EXPECT_EQ(GetClipboardFormatNameA(0xFFFF, full, sizeof full), 0);
    EXPECT_EQ(GetClipboardFormatNameA(a, full, 0), 0);
}

} // namespace
