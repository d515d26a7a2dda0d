// The numbers a header states: found in text and in binary of both orders,
// grouped into statements, placed where their data fits the file.

#include "layout/GuessHeaderNumbers.h"
#include "layout/GuessScore.h"
#include "layout/GuessStatedLayouts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{

using namespace GuessDetail;

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Text followed by a few bytes of binary data.
std::vector<std::uint8_t> textThenData(const std::string& text)
{
    std::vector<std::uint8_t> b = bytesOf(text);
    b.insert(b.end(), {0x81, 0x02, 0x83, 0x04});
    return b;
}

void putU16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v, bool big)
{
    b[at + (big ? 1 : 0)] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + (big ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
}

void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, bool big)
{
    for (std::size_t k = 0; k < 4; ++k)
        b[at + (big ? 3 - k : k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Records that label their values: a tag and a length stating the value's
// width (Int-16 or Int-32 length), or a name of letters and padding, each
// value of the given width and order, one record after another from at.
enum class Label
{
    ShortLength,
    LongLength,
    Name,
};

std::size_t putRecords(std::vector<std::uint8_t>& b, std::size_t at, Label label, int width, bool big,
                       const std::vector<std::uint32_t>& values)
{
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (label == Label::Name) {
            putU32(b, at, 6, big);
            std::memcpy(&b[at + 4], "xspace\0\0", 8);
            b[at + 4] = static_cast<std::uint8_t>('x' + k);
            at += 12;
        } else {
            putU16(b, at, 0x28, big);
            putU16(b, at + 2, static_cast<std::uint16_t>(0x10 + k), big);
            if (label == Label::ShortLength)
                putU16(b, at + 4, static_cast<std::uint16_t>(width), big);
            else
                putU32(b, at + 4, static_cast<std::uint32_t>(width), big);
            at += label == Label::ShortLength ? 6 : 8;
        }
        if (width == 2)
            putU16(b, at, static_cast<std::uint16_t>(values[k]), big);
        else
            putU32(b, at, values[k], big);
        at += static_cast<std::size_t>(width);
    }
    return at;
}

std::vector<std::int64_t> valuesOf(const std::vector<StatedNumber>& numbers, NumberForm form)
{
    std::vector<std::int64_t> out;
    for (const StatedNumber& n : numbers)
        if (n.form == form)
            out.push_back(n.value);
    return out;
}

bool states(const std::vector<StatedDims>& statements, std::array<std::int64_t, 4> dims)
{
    return std::any_of(statements.begin(), statements.end(), [&](const StatedDims& s) { return s.dims == dims; });
}

struct TextCase
{
    const char* text;
    std::vector<std::int64_t> values;
};

// Values after '=', ':', '(', ',', a line start or another number; not in
// words, signs, fractions or dates' words.
TEST(GuessHeaderNumbers, FindsTheValuesATextStates)
{
    const TextCase cases[] = {
        {"NAXIS1  =                   62 / length of data axis 1     ", {62}},
        {"P5\n256 256\n65535\n", {256, 256, 65535}},
        {"{'descr': '<f4', 'shape': (256, 128), }", {256, 128}},
        {"sizes: 58 58 24\nspacing: 1.5 2 -3\n", {58, 58, 24, 2}},
        {"DimSize = 128 96 24 name2 x7 3.25 ", {128, 96, 24}},
        {"Thu Nov 14 13:30:45 2013>>> dims: 64 32\n", {2013, 64, 32}}, // a time of day is no dimension
    };
    for (const TextCase& c : cases) {
        const std::vector<std::uint8_t> b = bytesOf(c.text);
        EXPECT_EQ(valuesOf(statedNumbers(b, 0, 1 << 20, false), NumberForm::Text), c.values) << c.text;
    }
    // Offsets are the file's; a run cut by the end of the bytes has no end.
    const std::vector<std::uint8_t> b = bytesOf("dims = 12 34");
    const std::vector<StatedNumber> n = statedNumbers(b, 1000, 1 << 20, false);
    ASSERT_EQ(n.size(), 2U);
    EXPECT_EQ(n[0].offset, 1007);
    EXPECT_EQ(n[1].end, 1012);
    EXPECT_EQ(n[1].textEnd, -1);
    EXPECT_EQ(statedNumbers(b, 88, 100, false)[1].textEnd, 100); // the file ends there
    // Larger than the file: no dimension of it.
    EXPECT_TRUE(statedNumbers(bytesOf("n = 99999999999"), 0, 1 << 20, false).empty());
}

// Binary integers in both orders, Int-16s at even offsets and Int-32s at
// offsets of four; none inside text; in order of offsets.
TEST(GuessHeaderNumbers, FindsBinaryNumbersInBothOrders)
{
    std::vector<std::uint8_t> b(64, 0);
    putU16(b, 10, 300, false);
    putU16(b, 22, 300, true);
    putU32(b, 32, 70000, true);
    putU32(b, 40, 70000, false);
    b[49] = 9; // the Int-16 at 48: 9 big-endian, 2304 little-endian
    const std::vector<StatedNumber> n = statedNumbers(b, 0, 1 << 20, true);
    const auto has = [&](std::int64_t value, std::int64_t offset, NumberForm form) {
        return std::any_of(n.begin(), n.end(), [&](const StatedNumber& x) {
            return x.value == value && x.offset == offset && x.form == form;
        });
    };
    EXPECT_TRUE(has(300, 10, NumberForm::U16Little));
    EXPECT_TRUE(has(300, 22, NumberForm::U16Big));
    EXPECT_TRUE(has(70000, 32, NumberForm::U32Big));
    EXPECT_TRUE(has(70000, 40, NumberForm::U32Little));
    EXPECT_TRUE(has(9, 48, NumberForm::U16Big));
    EXPECT_FALSE(std::any_of(n.begin(), n.end(), [](const StatedNumber& x) { return x.offset % 2 != 0; }));
    EXPECT_TRUE(std::is_sorted(n.begin(), n.end(),
                               [](const StatedNumber& a, const StatedNumber& c) { return a.offset < c.offset; }));
    // Bytes of text are no binary numbers; an Int-32 past the file's size is none.
    EXPECT_TRUE(valuesOf(statedNumbers(bytesOf("ABCDEFGH"), 0, 1 << 20, true), NumberForm::U16Little).empty());
    const std::vector<std::int64_t> small = valuesOf(statedNumbers(b, 0, 1000, true), NumberForm::U32Big);
    EXPECT_EQ(std::count(small.begin(), small.end(), 70000), 0);
    // A cap on how many, and no fault on any length (truncated numbers are none).
    EXPECT_LE(statedNumbers(std::vector<std::uint8_t>(4096, 1), 0, 1 << 20, true, 100).size(), 100U);
    for (std::size_t size = 0; size < 6; ++size)
        EXPECT_LE(statedNumbers(std::span(b).first(size), 2, 1 << 20, true).size(), size * 2);
}

// Statements: runs of two to four numbers, as written and reversed; a count
// before them marks them; a count is no dimension; repeats are counted.
TEST(GuessHeaderNumbers, GroupsNumbersIntoStatements)
{
    const std::vector<std::uint8_t> text = bytesOf("NAXIS   =   2 / axes   NAXIS1  =  62 / x      NAXIS2  =  44 / y    ");
    const std::vector<StatedDims> fits = statedDims(statedNumbers(text, 0, 1 << 20, false));
    EXPECT_TRUE(states(fits, {62, 44, 1, 1}));
    EXPECT_TRUE(states(fits, {44, 62, 1, 1}));
    EXPECT_FALSE(states(fits, {2, 62, 44, 1})); // the count is no dimension
    const auto counted = std::find_if(fits.begin(), fits.end(), [](const StatedDims& s) { return s.dims[0] == 62; });
    ASSERT_NE(counted, fits.end());
    EXPECT_TRUE(counted->counted);
    // Each number a key's own value: read as written (fastest first) more
    // than reversed; a list in one value either way nearly alike.
    const auto trustOf = [](const std::vector<StatedDims>& s, std::array<std::int64_t, 4> dims) {
        const auto it = std::find_if(s.begin(), s.end(), [&](const StatedDims& x) { return x.dims == dims; });
        return it == s.end() ? -1.0 : it->trust;
    };
    EXPECT_TRUE(counted->keyed);
    EXPECT_LT(trustOf(fits, {44, 62, 1, 1}), 0.9 * trustOf(fits, {62, 44, 1, 1}));
    const std::vector<std::uint8_t> sizes = bytesOf("sizes: 58 40 24\nkind: scalar\n");
    const std::vector<StatedDims> listed = statedDims(statedNumbers(sizes, 0, 1 << 20, false));
    EXPECT_GT(trustOf(listed, {24, 40, 58, 1}), 0.9 * trustOf(listed, {58, 40, 24, 1}));
    EXPECT_FALSE(std::any_of(listed.begin(), listed.end(), [](const StatedDims& x) { return x.keyed; }));
    // A count's statement only: not fewer of its numbers, not from its
    // second on, not numbers ending with the count.
    const std::vector<std::uint8_t> cube =
        bytesOf("BITPIX  =   32 / bits   NAXIS   =    3 / axes   NAXIS1  =   11   NAXIS2  =   10   NAXIS3  =    7   ");
    const std::vector<StatedDims> axes = statedDims(statedNumbers(cube, 0, 1 << 20, false));
    EXPECT_TRUE(states(axes, {11, 10, 7, 1}));
    for (const std::array<std::int64_t, 4> part : {std::array<std::int64_t, 4>{11, 10, 1, 1}, {10, 7, 1, 1}, {32, 3, 1, 1}})
        EXPECT_FALSE(states(axes, part)) << part[0] << " " << part[1];

    // A list of Int-16s after its count (4: 17 21 3 20), then the same pair
    // stated twice more far apart.
    std::vector<std::uint8_t> b(256, 0);
    const std::uint16_t dims[] = {4, 17, 21, 3, 20};
    for (std::size_t k = 0; k < 5; ++k)
        putU16(b, 40 + 2 * k, dims[k], false);
    for (const std::size_t at : {120, 160, 200}) {
        putU32(b, at, 96, true);
        putU32(b, at + 12, 128, true);
    }
    const std::vector<StatedDims> binary = statedDims(statedNumbers(b, 0, 1 << 20, true));
    const auto list = std::find_if(binary.begin(), binary.end(), [](const StatedDims& s) {
        return s.dims == std::array<std::int64_t, 4>{17, 21, 3, 20};
    });
    ASSERT_NE(list, binary.end());
    EXPECT_TRUE(list->counted);
    EXPECT_FALSE(list->text);
    const auto pair = std::find_if(binary.begin(), binary.end(), [](const StatedDims& s) {
        return s.dims == std::array<std::int64_t, 4>{128, 96, 1, 1} && s.form == NumberForm::U32Big;
    });
    ASSERT_NE(pair, binary.end());
    EXPECT_EQ(pair->repeats, 3);
    EXPECT_EQ(pair->offset, 120);
}

// Labelled numbers make statements trusted alike in both readings, wherever
// the head shows them; the same numbers unlabelled are trusted less; bytes
// of one repeated pattern hold no numbers.
TEST(GuessHeaderNumbers, TrustsNumbersTheirRecordsLabel)
{
    const struct
    {
        const char* what;
        Label label;
        int width;
        bool big;
        std::vector<std::uint32_t> values;
        std::array<std::int64_t, 4> dims; // as written
    } cases[] = {
        {"tag, Int-16 length", Label::ShortLength, 2, false, {96, 128}, {96, 128, 1, 1}},
        {"tag, Int-32 length", Label::LongLength, 2, false, {10, 10}, {10, 10, 1, 1}},
        {"tag, big-endian", Label::LongLength, 4, true, {300, 200}, {300, 200, 1, 1}},
        {"names", Label::Name, 4, true, {10, 20, 30}, {10, 20, 30, 1}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> b(512, 0);
        putRecords(b, 200, c.label, c.width, c.big, c.values);
        const std::vector<StatedDims> statements = statedDims(statedNumbers(b, 0, 1 << 20, true));
        std::array<std::int64_t, 4> reversed{1, 1, 1, 1};
        std::reverse_copy(c.values.begin(), c.values.end(), reversed.begin());
        const auto find = [&](const std::array<std::int64_t, 4>& dims) {
            return std::find_if(statements.begin(), statements.end(), [&](const StatedDims& s) {
                return s.dims == dims && s.labelled;
            });
        };
        const auto written = find(c.dims);
        const auto back = find(reversed);
        ASSERT_NE(written, statements.end()) << c.what;
        ASSERT_NE(back, statements.end()) << c.what;
        EXPECT_EQ(written->trust, back->trust) << c.what;
        // The bare values in the same places are no labelled statement.
        std::vector<std::uint8_t> bare(512, 0);
        for (std::size_t k = 0; k < c.values.size(); ++k)
            (c.width == 2 ? putU16(bare, 210 + 12 * k, static_cast<std::uint16_t>(c.values[k]), c.big)
                          : putU32(bare, 208 + 12 * k, c.values[k], c.big));
        for (const StatedDims& s : statedDims(statedNumbers(bare, 0, 1 << 20, true))) {
            EXPECT_FALSE(s.labelled) << c.what;
            EXPECT_LT(s.trust, written->trust) << c.what;
        }
    }
    // Kept when unlabelled statements before them are more than wanted.
    std::vector<std::uint8_t> late(4096, 0);
    for (std::size_t k = 0; k < 3000; k += 2)
        putU16(late, k, static_cast<std::uint16_t>(100 + (k * 7919) % 900), false);
    putRecords(late, 3600, Label::ShortLength, 2, false, {96, 128});
    EXPECT_TRUE(states(statedDims(statedNumbers(late, 0, 1 << 20, true), 64), {96, 128, 1, 1}));
    std::vector<std::uint8_t> fill;
    for (int k = 0; k < 256; ++k)
        fill.insert(fill.end(), {0x00, 0x5E, 0xD0, 0xB2});
    EXPECT_TRUE(statedNumbers(fill, 0, 1 << 20, true).empty());
}

struct PlaceCase
{
    const char* what;
    std::vector<std::uint8_t> head; // the file's first bytes
    std::int64_t size;
    int width;
    DataStart start;
    std::array<std::int64_t, 3> dims; // the place expected first
    std::int64_t volumes;
    std::int64_t header;
};

std::vector<std::uint8_t> niftiLike()
{
    std::vector<std::uint8_t> b(352, 0);
    const std::uint16_t dims[] = {4, 17, 21, 3, 20, 1, 1, 1};
    for (std::size_t k = 0; k < 8; ++k)
        putU16(b, 40 + 2 * k, dims[k], false);
    return b;
}

std::vector<std::uint8_t> rowsColumns()
{
    std::vector<std::uint8_t> b(2074, 0);
    putU16(b, 1570, 96, false);
    putU16(b, 1582, 128, false);
    b[2073] = 7; // the header's last byte, then zeros
    return b;
}

// Rows and columns in tagged records, the data's length just before it,
// trailing bytes after it.
std::vector<std::uint8_t> lengthBeforeData()
{
    std::vector<std::uint8_t> b(1200, 0);
    putRecords(b, 500, Label::ShortLength, 2, false, {96, 128});
    putU32(b, 1196, 96 * 128 * 2, false);
    return b;
}

// Dims by name, slowest first; later the data's length and its offset.
std::vector<std::uint8_t> namedWithOffset()
{
    std::vector<std::uint8_t> b(3000, 0);
    putRecords(b, 16, Label::Name, 4, true, {10, 20, 20});
    putU32(b, 1100, 4000, true);
    putU32(b, 1104, 3000, true);
    b[2999] = 1;
    return b;
}

DataStart seenAt(std::int64_t offset)
{
    DataStart s;
    s.offset = s.afterPadding = offset;
    s.precision = 4;
    return s;
}

// The first place of each: right after the text, where the data ends the
// file soon after a counted list or after a header seen there; as written
// before reversed.
TEST(GuessHeaderNumbers, PlacesStatementsWhereTheirDataFits)
{
    std::string fits = "SIMPLE  = T NAXIS   =   2 NAXIS1  =  62 NAXIS2  =  44 END";
    fits.resize(2880, ' ');
    const PlaceCase cases[] = {
        {"text, data right after it, trailing padding", textThenData(fits), 2880 * 3, 2, {}, {62, 44, 1}, 1, 2880},
        {"counted Int-16 list ending the file", niftiLike(), 352 + 17 * 21 * 3 * 20 * 2, 2, {}, {17, 21, 3}, 20, 352},
        {"two numbers, data seen to start", rowsColumns(), 2074 + 96 * 128 * 2, 2, seenAt(2074), {96, 128, 1}, 1, 2074},
        {"text shape", textThenData("{'shape': (30, 40, 5), }\n"), 25 + 6000 * 4, 4, {}, {30, 40, 5}, 1, 25},
        {"labelled pair, its length right before the data", lengthBeforeData(), 1200 + 96 * 128 * 2 + 300, 2, {},
         {128, 96, 1}, 1, 1200},
        {"named dims, length and offset beside each other", namedWithOffset(), 3000 + 20 * 20 * 10 + 40, 1, {},
         {20, 20, 10}, 1, 3000},
    };
    for (const PlaceCase& c : cases) {
        const HeaderStatements h{statedNumbers(c.head, 0, c.size, true), {}};
        const std::vector<StatedDims> statements = statedDims(h.numbers);
        const std::vector<StatedPlace> places = placeStatedDims(statements, h.numbers, c.size, c.width, c.start, {});
        ASSERT_FALSE(places.empty()) << c.what;
        EXPECT_EQ(places.front().dims, c.dims) << c.what;
        EXPECT_EQ(places.front().volumes, c.volumes) << c.what;
        EXPECT_EQ(places.front().header, c.header) << c.what;
        for (const StatedPlace& p : places) {
            const std::int64_t data = p.dims[0] * p.dims[1] * p.dims[2] * p.volumes * p.width;
            EXPECT_TRUE(p.header >= 0 && p.header + data <= c.size) << c.what;
            EXPECT_TRUE(p.credence > 0.5 && p.credence <= 1.0) << c.what;
            EXPECT_FALSE(p.header < p.statedEnd && p.header + data > p.statedAt) << c.what << ": data over its statement";
        }
    }
    // An edge seen by the caller makes a pair that ends the file credible.
    const std::vector<std::uint8_t> head = rowsColumns();
    const std::vector<StatedNumber> numbers = statedNumbers(head, 0, 1 << 20, true);
    const std::int64_t size = 2074 + 96 * 128 * 2;
    const auto best = [&](const std::function<bool(std::int64_t)>& edgeAt) {
        const std::vector<StatedPlace> p = placeStatedDims(statedDims(numbers), numbers, size, 2, DataStart{}, edgeAt);
        return p.empty() ? 0.0 : p.front().credence;
    };
    EXPECT_GT(best([](std::int64_t h) { return h == 2074; }), best({}));
    // Data that does not fit is placed nowhere.
    EXPECT_TRUE(placeStatedDims(statedDims(numbers), numbers, 1000, 2, DataStart{}, {}).empty());
}

} // namespace

namespace
{

// A binary statement speaks less for data read in the other byte order;
// text and single bytes have none.
TEST(GuessHeaderNumbers, CredenceFollowsTheHeadersByteOrder)
{
    const struct
    {
        NumberForm form;
        TVoxelDataType type;
        TByteOrder order;
        bool full;
    } cases[] = {
        {NumberForm::U16Little, vdtInt16, boLittleEndian, true}, {NumberForm::U16Little, vdtInt16, boBigEndian, false},
        {NumberForm::U32Big, vdtFloat32, boBigEndian, true},     {NumberForm::U32Big, vdtUInt16, boLittleEndian, false},
        {NumberForm::U32Big, vdtByte, boLittleEndian, true},     {NumberForm::Text, vdtInt16, boBigEndian, true},
    };
    for (const auto& c : cases) {
        StatedPlace p;
        p.form = c.form;
        p.credence = 0.9;
        VolumeLayout l;
        l.dataType = c.type;
        l.byteOrder = c.order;
        const double credence = StatedLayouts::credenceOf(p, l);
        EXPECT_EQ(credence == p.credence, c.full) << static_cast<int>(c.form) << " " << static_cast<int>(c.type);
        EXPECT_GT(credence, HeaderSilent);
    }
}

} // namespace

namespace
{

using namespace GuessDetail;

// Nine equally credible one-byte places must not crowd the two-byte one out
// of eight looks; a more credible place still comes first, and one below
// the credence worth a look is never read.
TEST(GuessHeaderNumbers, EveryWidthsBestPlaceIsLookedAt)
{
    std::vector<StatedPlace> places;
    const auto placeOf = [&](int width, std::int64_t header, double credence) {
        StatedPlace p;
        p.width = width;
        p.header = header;
        p.credence = credence;
        places.push_back(p);
    };
    for (std::int64_t h = 0; h < 9; ++h)
        placeOf(1, 100 + h, 0.95);
    placeOf(2, 500, 0.95);
    placeOf(2, 600, 0.95);
    placeOf(4, 700, 0.99);
    placeOf(8, 800, 0.5);
    const std::vector<const StatedPlace*> looks = statedLooks(places, 8);
    ASSERT_EQ(looks.size(), 8u);
    EXPECT_EQ(looks[0]->header, 700); // the most credible
    EXPECT_EQ(looks[1]->header, 100); // then each width's best ...
    EXPECT_EQ(looks[2]->header, 500);
    EXPECT_EQ(looks[3]->header, 101); // ... before any width's second
    EXPECT_EQ(looks[4]->header, 600);
    EXPECT_EQ(looks[7]->header, 104);
    EXPECT_TRUE(std::none_of(looks.begin(), looks.end(), [](const StatedPlace* p) { return p->width == 8; }));
}

} // namespace
