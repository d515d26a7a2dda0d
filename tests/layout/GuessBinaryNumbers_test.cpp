// Binary numbers of a head: where runs of one pattern hide them, and which
// of them the head's reading keeps past where the header is seen.

#include "layout/GuessHeaderNumbers.h"
#include "layout/GuessSampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace
{

using namespace GuessDetail;

void putU16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (std::size_t k = 0; k < 4; ++k)
        b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// A record naming its Int-32 value: a length, a name of six letters and padding.
void putNamed(std::vector<std::uint8_t>& b, std::size_t at, char first, std::uint32_t value)
{
    putU32(b, at, 6);
    std::memcpy(&b[at + 4], "xspace\0\0", 8);
    b[at + 4] = static_cast<std::uint8_t>(first);
    putU32(b, at + 12, value);
}

std::set<std::int64_t> offsetsOf(const std::vector<StatedNumber>& numbers, NumberForm form)
{
    std::set<std::int64_t> out;
    for (const StatedNumber& n : numbers)
        if (n.form == form)
            out.insert(n.offset);
    return out;
}

std::set<std::int64_t> evenFrom(std::int64_t from, std::int64_t to, std::int64_t step)
{
    std::set<std::int64_t> out;
    for (std::int64_t k = from; k <= to; k += step)
        out.insert(k);
    return out;
}

// Bytes repeating every four hold no number, except within RepeatSpan (16)
// bytes of a byte that breaks the pattern: it breaks the pairs it is part
// of, a period before and after it. An Int-16 at i looks at the bytes
// [i - 16, i + 18), an Int-32 at [i - 16, i + 20).
TEST(GuessBinaryNumbers, OnlyBytesNearABreakInARepeatedPatternHoldNumbers)
{
    const struct
    {
        std::size_t broken; // the byte that differs
        std::int64_t firstShort, lastShort; // the Int-16 offsets found (every even one between)
        std::int64_t firstLong, lastLong; // the Int-32 offsets found (every fourth)
    } cases[] = {
        {128, 112, 144, 112, 144}, // the pairs (124, 128) and (128, 132) break
        {129, 112, 144, 112, 144},
        {131, 114, 146, 112, 144},
        {2, 0, 18, 0, 16}, // the windows clipped by the start
        {253, 236, 254, 236, 252}, // and by the end
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> b(256);
        for (std::size_t k = 0; k < b.size(); ++k)
            b[k] = static_cast<std::uint8_t>(0x81 + 0x11 * (k % 4));
        b[c.broken] = 0x99;
        const std::vector<StatedNumber> n = statedNumbers(b, 0, std::int64_t{1} << 33, true);
        const std::string what = "break at " + std::to_string(c.broken);
        EXPECT_EQ(offsetsOf(n, NumberForm::U16Little), evenFrom(c.firstShort, c.lastShort, 2)) << what;
        EXPECT_EQ(offsetsOf(n, NumberForm::U16Big), evenFrom(c.firstShort, c.lastShort, 2)) << what;
        EXPECT_EQ(offsetsOf(n, NumberForm::U32Little), evenFrom(c.firstLong, c.lastLong, 4)) << what;
        EXPECT_EQ(offsetsOf(n, NumberForm::U32Big), evenFrom(c.firstLong, c.lastLong, 4)) << what;
    }
}

// The head's reading as every binary number of it, then kept: as numbers
// those where the header is seen and labelled ones, and unlabelled Int-32s
// past it only where a labelled statement is made. The file is at most
// StatementBytes long (no tail).
HeaderStatements keptOfAll(std::span<const std::uint8_t> file, std::int64_t binaryHead)
{
    const auto size = static_cast<std::int64_t>(file.size());
    HeaderStatements out;
    out.numbers = statedNumbers(file, 0, size, false);
    std::vector<StatedNumber> unseenWide;
    const std::size_t binaryBytes = std::min<std::size_t>(file.size(), BinaryStatementBytes);
    for (StatedNumber& n : statedNumbers(file.first(binaryBytes), 0, size, true)) {
        n.seen = n.end <= binaryHead;
        const bool wide = n.form == NumberForm::U32Little || n.form == NumberForm::U32Big;
        if (n.form != NumberForm::Text && (n.seen || n.label != NumberLabel::None))
            out.numbers.push_back(n);
        else if (wide)
            unseenWide.push_back(n);
    }
    const auto byOffset = [](const StatedNumber& a, const StatedNumber& b) { return a.offset < b.offset; };
    std::stable_sort(out.numbers.begin(), out.numbers.end(), byOffset);
    out.statements = statedDims(out.numbers);
    if (std::any_of(out.statements.begin(), out.statements.end(), [](const StatedDims& s) { return s.labelled; })) {
        out.numbers.insert(out.numbers.end(), unseenWide.begin(), unseenWide.end());
        std::stable_sort(out.numbers.begin(), out.numbers.end(), byOffset);
    }
    return out;
}

std::string describe(const StatedNumber& n)
{
    return std::to_string(n.value) + " at " + std::to_string(n.offset) + ".." + std::to_string(n.end) + " form " +
           std::to_string(static_cast<int>(n.form)) + " text end " + std::to_string(n.textEnd) +
           (n.prose ? " prose" : "") + (n.keyed ? " keyed" : "") + " pad " + std::to_string(n.padEnd) + " label " +
           std::to_string(static_cast<int>(n.label)) + " record " + std::to_string(n.record) +
           (n.seen ? " seen" : " unseen");
}

std::string describe(const StatedDims& s)
{
    std::string out;
    for (const std::int64_t d : s.dims)
        out += std::to_string(d) + " ";
    return out + "count " + std::to_string(s.count) + " at " + std::to_string(s.offset) + ".." +
           std::to_string(s.end) + " form " + std::to_string(static_cast<int>(s.form)) + " repeats " +
           std::to_string(s.repeats) + (s.counted ? " counted" : "") + (s.keyed ? " keyed" : "") +
           (s.labelled ? " labelled" : "") + " trust " + std::to_string(s.trust);
}

// A header of text, bare and named dims before Int-32 voxels of noise,
// named dims again among the voxels; read with the header seen at several
// places, or not seen.
TEST(GuessBinaryNumbers, HeadReadingKeepsWhatAllNumbersFilteredKeep)
{
    const struct
    {
        const char* what;
        bool named; // named records (a labelled statement) in the header and among the voxels
        DataStart start;
        bool voxelsFromStart;
        std::int64_t binaryHead; // where binary numbers are seen up to
        bool unseen; // numbers unseen are kept (many, of the voxels)
    } cases[] = {
        {"seen header", true, {.offset = 512, .precision = 2}, false, 512 + 2 + 64, true},
        {"seen header, nothing named", false, {.offset = 512, .precision = 2}, false, 512 + 2 + 64, false},
        {"unseen header", true, {}, false, 4096, true},
        {"unseen, voxels from the start", true, {}, true, 0, true},
        {"header seen past the binary bytes", true, {.offset = 20000}, false, BinaryStatementBytes, false},
    };
    std::vector<std::uint8_t> file(40000);
    std::uint32_t state = 12345;
    for (std::size_t k = 0; k < file.size(); k += 4) {
        state = state * 1103515245U + 12345U;
        putU32(file, k, 1000 + (state >> 16) % 20000);
    }
    const std::string text = "dims: 256 256 40\nkind: short\n";
    std::memcpy(file.data(), text.data(), text.size());
    std::fill(file.begin() + 64, file.begin() + 512, 0);
    putU16(file, 100, 96);
    putU16(file, 104, 128);
    for (const auto& c : cases) {
        std::vector<std::uint8_t> b = file;
        if (c.named) {
            putNamed(b, 200, 'x', 20);
            putNamed(b, 216, 'y', 30);
            putNamed(b, 9000, 'x', 40);
            putNamed(b, 9016, 'y', 50);
        }
        const MemoryLayoutSource source(b.data(), b.size());
        Sampler sampler(source);
        const HeaderStatements got = readHeaderStatements(sampler, c.start, c.voxelsFromStart);
        const HeaderStatements want = keptOfAll(b, c.binaryHead);
        const auto unseen =
            std::count_if(want.numbers.begin(), want.numbers.end(), [](const StatedNumber& n) { return !n.seen; });
        EXPECT_EQ(unseen > 100, c.unseen) << c.what;
        EXPECT_EQ(unseen == 0, !c.unseen) << c.what;
        ASSERT_EQ(got.numbers.size(), want.numbers.size()) << c.what;
        for (std::size_t k = 0; k < got.numbers.size(); ++k)
            ASSERT_EQ(describe(got.numbers[k]), describe(want.numbers[k])) << c.what << ", number " << k;
        ASSERT_EQ(got.statements.size(), want.statements.size()) << c.what;
        for (std::size_t k = 0; k < got.statements.size(); ++k)
            ASSERT_EQ(describe(got.statements[k]), describe(want.statements[k])) << c.what << ", statement " << k;
        EXPECT_EQ(std::any_of(got.statements.begin(), got.statements.end(), [](const StatedDims& s) {
                      return s.labelled;
                  }),
                  c.named)
            << c.what;
    }
}

// Capped, the binary numbers found are the first of those found uncapped,
// text and binary numbers counted together: the search stops where four
// more could exceed the cap.
TEST(GuessBinaryNumbers, ACapKeepsTheFirstNumbersFound)
{
    std::vector<std::uint8_t> b(4096);
    std::uint32_t state = 99;
    for (std::size_t k = 0; k < b.size(); ++k) {
        state = state * 1103515245U + 12345U;
        b[k] = static_cast<std::uint8_t>(state >> 24);
    }
    const std::string text = "width: 640 height: 480 depth: 12\n";
    std::memcpy(b.data() + 1000, text.data(), text.size());
    const auto binaryOf = [](const std::vector<StatedNumber>& numbers) {
        std::vector<std::string> out;
        for (const StatedNumber& n : numbers)
            if (n.form != NumberForm::Text)
                out.push_back(describe(n));
        return out;
    };
    const std::size_t texts = statedNumbers(b, 0, 1 << 20, false).size();
    ASSERT_GE(texts, 3U); // (and a few the random bytes write)
    const std::vector<std::string> all = binaryOf(statedNumbers(b, 0, 1 << 20, true));
    for (const std::size_t cap : {std::size_t{8}, std::size_t{101}, std::size_t{1000}, all.size() + texts - 2}) {
        const std::vector<StatedNumber> capped = statedNumbers(b, 0, 1 << 20, true, cap);
        const std::vector<std::string> binary = binaryOf(capped);
        EXPECT_LE(capped.size(), cap) << cap;
        EXPECT_GE(capped.size() + 3, cap) << cap;
        ASSERT_LE(binary.size(), all.size()) << cap;
        EXPECT_TRUE(std::equal(binary.begin(), binary.end(), all.begin())) << cap;
    }
}

} // namespace
