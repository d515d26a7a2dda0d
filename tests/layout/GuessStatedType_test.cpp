// The type and byte order a header states in its text, and how candidates
// that differ from it score less.

#include "layout/GuessStatedType.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using namespace GuessDetail;

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

VolumeLayout typed(TVoxelDataType type, TByteOrder order, std::int64_t header = 0)
{
    VolumeLayout l;
    l.dims = {4, 4, 1};
    l.dataType = type;
    l.byteOrder = order;
    l.headerBytes = header;
    return l;
}

// "i16 big", ... for every type and order that reads at factor 1 under the
// statements (1-byte types once).
std::string agreeing(const std::vector<StatedType>& statements, std::int64_t header = 0)
{
    std::string out;
    for (const VoxelTypeInfo& info : VoxelTypes)
        for (const TByteOrder order : {boLittleEndian, boBigEndian}) {
            if (info.bytes == 1 && order == boBigEndian)
                continue;
            const double f = statedTypeFactor(statements, typed(info.type, order, header));
            EXPECT_GT(f, 0.0);
            EXPECT_LE(f, 1.0);
            if (f == 1.0)
                out += (out.empty() ? "" : ",") + std::string(info.shortName) +
                       (info.bytes == 1 ? "" : order == boBigEndian ? " big" : " little");
        }
    return out;
}

struct TypeCase
{
    const char* text;
    const char* agrees; // as agreeing() writes it
};

// Type codes, type words in values, bit counts, a maximum after the
// dimensions, endian words; text that states nothing leaves every type.
TEST(GuessStatedType, ReadsTheTypeATextStates)
{
    const std::string all = agreeing({});
    const TypeCase cases[] = {
        {"{'descr': '<f4', 'fortran_order': False, 'shape': (256, 256), }", "f32 little"},
        {"{'descr': '>i2', 'shape': (3, 4), }", "i16 big"},
        {"{'descr': '|u1', 'shape': (3, 4), }", "u8"},
        {"BITPIX  =                  -32 / bits per data value   NAXIS   =    2", "f32 little,f32 big"},
        {"BITPIX  =                   16 / Bits per pixel        NAXIS   =    2",
         "i16 little,i16 big,u16 little,u16 big"},
        {"type: unsigned short\nendian: big\nsizes: 4 4\n", "u16 big"},
        {"ObjectType = Image\nElementType = MET_FLOAT\nBinaryDataByteOrderMSB = True\n", "f32 big"},
        {"ElementByteOrderMSB = False\nElementType = MET_DOUBLE\n", "f64 little"},
        {"SAMPLE_TYPE = MSB_INTEGER\nSAMPLE_BITS = 16\n", "i16 big,u16 big"},
        {"P5\n# made here\n256 256\n65535\n", "u16 little,u16 big"},
        {"P5 64 48 255\n", "u8"},
        {"data bits 8 follow here", "u8,i8"},
        {"pixel type = double, little endian\n", "f64 little"},
        // Nothing stated: keys without a type, a type word as a key, a
        // maximum that is no power of two less one, words in prose.
        {"BSCALE  =           1.000000E0 / REAL = TAPE*BSCALE + BZERO   ", nullptr},
        {"NAXIS   =                    2 / number of axes        ", nullptr},
        {"P5\n256 256\n1000\n", nullptr},
        {"a big file of little worth, int or not", nullptr},
        {"short", nullptr}, // a run too short for a header
    };
    for (const TypeCase& c : cases)
        EXPECT_EQ(agreeing(statedTypes(bytesOf(c.text), 0)), c.agrees ? c.agrees : all) << c.text;
}

// The last statement before the data speaks for it (a second header
// describes the data after it); before the first header's end, the first.
// Offsets are the file's.
TEST(GuessStatedType, TheLastStatementBeforeTheDataSpeaks)
{
    std::string text = "BITPIX  =                    8 / first header";
    text.resize(2880, ' ');
    text += "BITPIX  =                  -32 / second header";
    const std::vector<StatedType> s = statedTypes(bytesOf(text), 1000);
    ASSERT_EQ(s.size(), 2U);
    EXPECT_EQ(s[0].offset, 1008);
    EXPECT_EQ(s[1].offset, 1000 + 2888);
    EXPECT_EQ(agreeing(s, 1000 + 5760), "f32 little,f32 big");
    EXPECT_EQ(agreeing(s, 1000 + 2880), "u8,i8");
    EXPECT_EQ(agreeing(s, 0), "u8,i8");
    EXPECT_EQ(statedWidth(s, 1000 + 5760), 4);
    EXPECT_EQ(statedWidth({}, 0), 0);
}

// A wrong width costs most, the sign least; a 1-byte type has no order.
TEST(GuessStatedType, WidthCostsMoreThanOrderMoreThanSign)
{
    const std::vector<StatedType> s = statedTypes(bytesOf("type: unsigned short\nendian: big\n"), 0);
    const double sign = statedTypeFactor(s, typed(vdtInt16, boBigEndian));
    const double order = statedTypeFactor(s, typed(vdtUInt16, boLittleEndian));
    const double width = statedTypeFactor(s, typed(vdtByte, boLittleEndian));
    EXPECT_LT(width, order);
    EXPECT_LT(order, sign);
    EXPECT_LT(sign, 1.0);
    EXPECT_EQ(width, statedTypeFactor(s, typed(vdtByte, boBigEndian)));
}

// No fault on any bytes: a cap on statements, truncated codes are none.
TEST(GuessStatedType, StopsAtItsCapAndTheBytesEnd)
{
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "type: float\n";
    EXPECT_EQ(statedTypes(bytesOf(many), 0, 10).size(), 10U);
    for (const char* cut : {"descr: '<f", "BITPIX  = -", "type:     ", "P5 1 1 255"})
        for (std::size_t n = 0; n <= std::string(cut).size(); ++n)
            EXPECT_LE(statedTypes(bytesOf(std::string(cut).substr(0, n)), 0).size(), 1U) << cut << " " << n;
}

} // namespace
