#pragma once

#include "layout/GuessDataStart.h"
#include "layout/GuessSampler.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The numbers a header states. Real headers write the voxels' dimensions
// into the bytes before the data (or after it): as text ("NAXIS1  =  62",
// "256 256", "(256, 256)", "sizes: 58 58 24") or as binary integers (a run
// of Int-16 dims, rows and columns a few bytes apart, big-endian Int-32
// lengths). A person reading a hex dump finds the layout there; so does this
// step. Nothing here knows a named format: only numbers, their places and
// whether their product fits the file.

namespace GuessDetail
{

enum class NumberForm : std::uint8_t
{
    Text,
    U16Little,
    U16Big,
    U32Little,
    U32Big,
};

// How a binary number's record labels it: a length stating the number's
// own width just before it (tag, length, value), or a name of letters
// ending at most a few padding bytes before it.
enum class NumberLabel : std::uint8_t
{
    None,
    Length,
    Name,
};

struct StatedNumber
{
    std::int64_t value = 0;
    std::int64_t offset = 0; // in the file
    std::int64_t end = 0; // one past its last byte
    NumberForm form = NumberForm::Text;
    std::int64_t textEnd = -1; // text: the end of its printable run
    bool prose = false; // text: in a run a header writes (see statedNumbers); else a slice count only
    bool keyed = false; // text: the value of a key of its own ("NAXIS1 = 62", "width: 62")
    std::int64_t padEnd = -1; // text: where the run's blank padding ends when a few printable bytes follow it
                              // (data whose first bytes are printable), else -1
    // Binary: its record labels it, so that it reads as a field wherever it
    // lies (see NumberLabel).
    NumberLabel label = NumberLabel::None;
    std::uint64_t record = 0; // binary: the eight bytes before it (its record's head), for records of one shape
    // Binary: where the header is seen (readHeaderStatements); else only a
    // data length or offset stated for a statement's data, or a labelled one.
    bool seen = true;
};

// A byte of text: printable ASCII, a tab or a line end.
constexpr bool textByte(std::uint8_t b)
{
    return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r';
}

// textByte of each byte value: scans over binary bytes test a few bytes at
// once without a branch on each (whose kind is a coin toss in voxels).
// (1 or 0, to be combined with '&'.)
inline constexpr std::array<std::uint8_t, 256> TextBytes = [] {
    std::array<std::uint8_t, 256> t{};
    for (std::size_t b = 0; b < t.size(); ++b)
        t[b] = textByte(static_cast<std::uint8_t>(b)) ? 1 : 0;
    return t;
}();

// Binary numbers up to this are read as dimensions; larger ones only as
// offsets.
inline constexpr std::int64_t MaxStatedDim = 65535;

// The most numbers statedNumbers finds in one stretch of bytes.
inline constexpr std::size_t MaxStatedNumbers = 65536;

// The numbers in bytes lying at file offset `at`: decimal integers written
// as values in printable runs (after '=', ':', '(', ',', a line start or
// another number; not part of a word, a sign or a fraction), and unsigned
// 16-bit (at even offsets) and 32-bit (at offsets of four) integers in both
// byte orders, from 1 to the file's size, except within a run of one
// repeated pattern (voxels of one value). withBinary false: text only. At
// most maxNumbers, in order of their offsets.
std::vector<StatedNumber> statedNumbers(std::span<const std::uint8_t> bytes, std::int64_t at, std::int64_t fileSize,
                                        bool withBinary, std::size_t maxNumbers = MaxStatedNumbers);

// Two to four numbers of one form stated near each other (text: within a
// card of 96 bytes each; binary: within 16 bytes for two, 24 for more),
// read fastest first. Labelled binary numbers also make statements of
// their own, trusted like text in both readings: their records say which
// is which, in words no reader of numbers knows.
struct StatedDims
{
    std::array<std::int64_t, 4> dims{1, 1, 1, 1}; // row, rows per slice, slices, volumes
    int count = 0; // numbers stated (2 .. 4)
    std::int64_t offset = 0; // the statement's first byte
    std::int64_t end = 0; // one past its last
    std::int64_t textEnd = -1; // text: the end of its printable run
    std::int64_t padEnd = -1; // text: see StatedNumber
    bool counted = false; // the number just before it is its count ("NAXIS = 2")
    bool keyed = false; // text: each number the value of a key of its own, so read as written fastest first
    bool text = false;
    NumberForm form = NumberForm::Text;
    int repeats = 1; // times the same numbers are stated in the same form (one per slice)
    bool labelled = false; // binary: every number labelled by its record (StatedNumber::label)
    double trust = 0.0; // 0 .. 1: how credible the statement is by its form
};

// Every statement of numbers (at most maxStatements), in both readings: as
// written and reversed (slowest first, as C order writes); a reading whose
// row or rows per slice is 1 is none.
std::vector<StatedDims> statedDims(const std::vector<StatedNumber>& numbers, std::size_t maxStatements = 4096);

// Numbers are looked for within this many bytes of either end of the file,
// binary ones within the first BinaryStatementBytes of those.
inline constexpr std::int64_t StatementBytes = 65536;
inline constexpr std::int64_t BinaryStatementBytes = 16384;

struct HeaderStatements
{
    std::vector<StatedNumber> numbers;
    std::vector<StatedDims> statements;
};

// The numbers and statements of a file's head and tail, read through the
// sampler's kept head and tail: text in either, binary numbers only before
// where start sees the voxels begin (when it sees no header, in the first
// few KiB unless voxelsFromStart: the bytes decode smoothly from the first)
// and in the trailing bytes it sees. Further into the head (up to
// BinaryStatementBytes) binary numbers are kept unseen: labelled ones make
// statements, Int-32s may state a statement's data length and offset.
HeaderStatements readHeaderStatements(Sampler& sampler, const DataStart& start, bool voxelsFromStart);

} // namespace GuessDetail
