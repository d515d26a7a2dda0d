#include "layout/NameHints.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Dims = NameHints::Dims;

struct NameCase
{
    const char* name;
    std::vector<Dims> triples;
    std::vector<std::array<std::int64_t, 2>> pairs;
    std::optional<TVoxelDataType> type;
    std::optional<TByteOrder> order;
    bool typeConflict = false;
    bool orderConflict = false;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << '"' << c.name << '"';
}

class NameHintsTable : public testing::TestWithParam<NameCase>
{
};

TEST_P(NameHintsTable, ReadsTheHints)
{
    const NameCase& c = GetParam();
    const NameHints h = parseNameHints(c.name);
    EXPECT_EQ(h.triples, c.triples);
    EXPECT_EQ(h.pairs, c.pairs);
    EXPECT_EQ(h.dataType, c.type);
    EXPECT_EQ(h.byteOrder, c.order);
    EXPECT_EQ(h.typeConflict, c.typeConflict);
    EXPECT_EQ(h.orderConflict, c.orderConflict);
}

constexpr auto LE = boLittleEndian;
constexpr auto BE = boBigEndian;

INSTANTIATE_TEST_SUITE_P(
    Names, NameHintsTable,
    testing::Values(
        // Dimension forms.
        NameCase{"head_256x256x108_i16_le.raw", {{{256, 256, 108}, 1}}, {}, vdtInt16, LE},
        NameCase{"head_256_256_108.raw", {{{256, 256, 108}, 1}}, {}, {}, {}},
        NameCase{"scan.320x200x16.u8", {{{320, 200, 16}, 1}}, {}, vdtByte, {}},
        NameCase{"slice-256-256.dat", {}, {{256, 256}}, {}, {}},
        NameCase{"CT 512 X 512 X 40 INT16 BIG.img", {{{512, 512, 40}, 1}}, {}, vdtInt16, BE},
        NameCase{"fmri_64x64x32x2_f32.raw", {{{64, 64, 32}, 2}, {{64, 32, 2}, 1}}, {}, vdtFloat32, {}},
        NameCase{"/data/256x256x108/volume.raw", {}, {}, {}, {}}, // only the last path component
        NameCase{"t1_256x256x108.raw", {{{256, 256, 108}, 1}}, {}, {}, {}}, // "t1" is a word, not a number
        NameCase{"vol0_64x64x64.raw", {{{64, 64, 64}, 1}}, {}, {}, {}}, // zero ends a run
        NameCase{"x_99999999999x2x2.raw", {}, {{2, 2}}, {}, {}}, // too large: ends the run
        NameCase{"image.raw", {}, {}, {}, {}},
        NameCase{"", {}, {}, {}, {}},
        // Type words, every one.
        NameCase{"a_uint8", {}, {}, vdtByte, {}}, NameCase{"a_uchar", {}, {}, vdtByte, {}},
        NameCase{"a_byte", {}, {}, vdtByte, {}}, NameCase{"a_i8", {}, {}, vdtInt8, {}},
        NameCase{"a_int8", {}, {}, vdtInt8, {}}, NameCase{"a_short", {}, {}, vdtInt16, {}},
        NameCase{"a_u16", {}, {}, vdtUInt16, {}}, NameCase{"a_uint16", {}, {}, vdtUInt16, {}},
        NameCase{"a_ushort", {}, {}, vdtUInt16, {}}, NameCase{"a_i32", {}, {}, vdtInt32, {}},
        NameCase{"a_int32", {}, {}, vdtInt32, {}}, NameCase{"a_int", {}, {}, vdtInt32, {}},
        NameCase{"a_u32", {}, {}, vdtUInt32, {}}, NameCase{"a_uint32", {}, {}, vdtUInt32, {}},
        NameCase{"a_float", {}, {}, vdtFloat32, {}}, NameCase{"a_float32", {}, {}, vdtFloat32, {}},
        NameCase{"a_real", {}, {}, vdtFloat32, {}}, NameCase{"a_f64", {}, {}, vdtFloat64, {}},
        NameCase{"a_double", {}, {}, vdtFloat64, {}}, NameCase{"a_float64", {}, {}, vdtFloat64, {}},
        // Order words.
        NameCase{"a.little", {}, {}, {}, LE}, NameCase{"a.lsb", {}, {}, {}, LE},
        NameCase{"a.be", {}, {}, {}, BE}, NameCase{"a.MSB", {}, {}, {}, BE},
        // Only whole words count.
        NameCase{"intensity_pointer_table.raw", {}, {}, {}, {}},
        NameCase{"int16le.raw", {}, {}, vdtInt16, LE},
        NameCase{"head_160x128x48_u16le_header512.raw", {{{160, 128, 48}, 1}}, {}, vdtUInt16, LE},
        NameCase{"a_f64be", {}, {}, vdtFloat64, BE},
        NameCase{"a_i16let.raw", {}, {}, {}, {}},
        // Conflicting and repeated hints.
        NameCase{"u8_or_i16.raw", {}, {}, {}, {}, true, false},
        NameCase{"le_be.raw", {}, {}, {}, {}, false, true},
        NameCase{"float_f32_real.raw", {}, {}, vdtFloat32, {}},
        NameCase{"a_64x64x10_b_128x128x5.raw", {{{64, 64, 10}, 1}, {{128, 128, 5}, 1}}, {}, {}, {}}));

} // namespace
