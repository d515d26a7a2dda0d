// The type and byte order a header states in its text, and how candidates
// that differ from it score less.

#include "layout/GuessStatedType.h"
#include "layout/LayoutGuess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
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
    return {.dims = {4, 4, 1}, .dataType = type, .byteOrder = order, .headerBytes = header};
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
        {"in unbinned pixelsBINAXIS1=    1 / ORBIT =   16 / ", nullptr}, // no "lsb" or "bit" key
        {"short", nullptr}, // a run too short for a header
    };
    for (const TypeCase& c : cases)
        EXPECT_EQ(agreeing(statedTypes(bytesOf(c.text), 0)), c.agrees ? c.agrees : all) << c.text;
}

// The last header's statements before the data speak for it (a second
// header describes the data after it; a statement far before the last is
// another header's or about something else); before the first header's
// end, the first. Offsets are the file's.
TEST(GuessStatedType, TheLastStatementBeforeTheDataSpeaks)
{
    std::string text = "OUTTYPE = 'REAL' / what another program writes                     ";
    text.resize(1200, ' ');
    text += "BITPIX  =                    8 / first header";
    text.resize(2880, ' ');
    text += "BITPIX  =                  -32 / second header";
    const std::vector<StatedType> s = statedTypes(bytesOf(text), 1000);
    ASSERT_EQ(s.size(), 3U);
    EXPECT_EQ(s[1].offset, 1000 + 1208);
    EXPECT_EQ(s[2].offset, 1000 + 2888);
    EXPECT_EQ(agreeing(s, 1000 + 5760), "f32 little,f32 big");
    EXPECT_EQ(agreeing(s, 1000 + 2880), "u8,i8");
    EXPECT_EQ(agreeing(s, 0), "f32 little,f32 big,f64 little,f64 big");
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
    // Values that read the same with either sign: the sign is no difference.
    EXPECT_EQ(statedTypeFactor(s, typed(vdtInt16, boBigEndian), true), 1.0);
    EXPECT_EQ(statedTypeFactor(s, typed(vdtInt16, boLittleEndian), true), order);
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

// Whole files whose header text states the type: the guess follows it where
// the bytes cannot tell (data of few values, noise, a ramp whose period is
// not its row).
namespace
{

void putBig16(std::vector<std::uint8_t>& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

// A mask of 0.0 and 1.0 (a small disc low in an n x n image) in Float-32
// after a header stating '<f4' and the shape: its first rows read as one
// value in any type, and as a header of zeros.
std::vector<std::uint8_t> floatMask(int n, int cy, int r)
{
    std::string head = std::string("\x93NUMPY\x01", 7) + '\0' + "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                       std::to_string(n) + ", " + std::to_string(n) + "), }";
    head.resize(79, ' ');
    head += '\n';
    std::vector<std::uint8_t> b = bytesOf(head);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const float v = (x - n / 2) * (x - n / 2) + (y - cy) * (y - cy) < r * r ? 1.0F : 0.0F;
            std::uint8_t raw[4];
            std::memcpy(raw, &v, 4);
            b.insert(b.end(), raw, raw + 4);
        }
    return b;
}

// Cards of 80 bytes padded to blocks of 2880; big-endian Int-16 noise
// around base (one high byte) padded to a block; then a second header and
// data of the same dimensions.
std::vector<std::uint8_t> blockedCards(int base)
{
    std::mt19937 random(5);
    std::vector<std::uint8_t> b;
    for (int part = 0; part < 2; ++part) {
        std::string cards;
        for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                   16 / bits per pixel",
                                 "NAXIS   =                    2", "NAXIS1  =                   60 / x",
                                 "NAXIS2  =                   50 / y", "END"}) {
            std::string c = card;
            c.resize(80, ' ');
            cards += c;
        }
        cards.resize(2880 * 2, ' ');
        const std::vector<std::uint8_t> text = bytesOf(cards);
        b.insert(b.end(), text.begin(), text.end());
        for (int i = 0; i < 60 * 50; ++i)
            putBig16(b, static_cast<std::uint16_t>(base + static_cast<int>(random() % 40)));
        b.resize((b.size() + 2879) / 2880 * 2880, 0);
    }
    return b;
}

// A 16-bit ramp 0 .. 4095 repeating every 16 rows of 256, after a header
// stating 256 x 256 and a maximum of 65535.
std::vector<std::uint8_t> statedRamp()
{
    std::vector<std::uint8_t> b = bytesOf("P5\n# ramp\n256 256\n65535\n");
    for (int i = 0; i < 256 * 256; ++i)
        putBig16(b, static_cast<std::uint16_t>(i % 4096));
    return b;
}

struct FileCase
{
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::array<std::int64_t, 3> dims;
    std::int64_t header;
    TVoxelDataType type; // or its sign twin where the values read alike
    TByteOrder order;
};

TEST(GuessStatedType, TheGuessReadsTheStatedType)
{
    const FileCase cases[] = {
        {"Float-32 mask", floatMask(128, 100, 10), {128, 128, 1}, 80, vdtFloat32, boLittleEndian},
        {"Float-32 mask, zeros like a header", floatMask(256, 200, 20), {256, 256, 1}, 80, vdtFloat32, boLittleEndian},
        {"blocked cards, noise", blockedCards(-31000), {60, 50, 1}, 5760, vdtInt16, boBigEndian},
        {"blocked cards, printable first bytes", blockedCards(31000), {60, 50, 1}, 5760, vdtInt16, boBigEndian},
        {"ramp of another period", statedRamp(), {256, 256, 1}, 24, vdtUInt16, boBigEndian},
    };
    for (const FileCase& c : cases) {
        const MemoryLayoutSource source(c.bytes.data(), c.bytes.size());
        const std::vector<LayoutCandidate> guesses = guessLayout(source, "file.bin");
        ASSERT_FALSE(guesses.empty()) << c.what;
        const VolumeLayout& l = guesses.front().layout;
        std::string all;
        for (const LayoutCandidate& g : guesses)
            all += guessLine(g) + " | " + g.reason + "\n";
        EXPECT_EQ(l.dims, c.dims) << c.what << "\n" << all;
        EXPECT_EQ(l.headerBytes, c.header) << c.what << "\n" << all;
        EXPECT_EQ(l.byteOrder, c.order) << c.what << "\n" << all;
        const VoxelTypeInfo* got = voxelTypeInfo(l.dataType);
        const VoxelTypeInfo* want = voxelTypeInfo(c.type);
        EXPECT_TRUE(l.dataType == c.type || (got->bytes == want->bytes && !got->isFloat && !want->isFloat &&
                                             guesses.front().reason.find("reads the same") != std::string::npos))
            << c.what << "\n" << all;
    }
}

} // namespace
