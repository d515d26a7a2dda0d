#include "layout/GuessBinaryNumbers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace GuessDetail
{
namespace
{

// Bytes of text (a run of this many printable bytes) are no binary numbers.
constexpr std::size_t TextRun = 4;
constexpr std::size_t MinLabelLetters = 4; // a name labelling a number has this many letters at least
constexpr std::size_t MaxLabelPadding = 3; // zero bytes between a name and its number
// A number's record head: the bytes just before it (StatedNumber::record).
constexpr std::size_t RecordHead = 8;
// A binary number lies in voxels of one value where the bytes repeat with
// the period of its width or twice it this far on either side.
constexpr std::size_t RepeatSpan = 16;
constexpr std::array<std::size_t, 3> RepeatPeriods{2, 4, 8};

bool letter(std::uint8_t b)
{
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_';
}

std::uint32_t readWord(std::span<const std::uint8_t> bytes, std::size_t i, int width, bool big)
{
    std::uint32_t v = 0;
    for (int k = 0; k < width; ++k)
        v |= static_cast<std::uint32_t>(bytes[i + static_cast<std::size_t>(k)])
             << (8 * (big ? width - 1 - k : k));
    return v;
}

// How the number of width bytes at i is labelled by its record: a length
// of two or four bytes stating its width just before it, or a name of
// letters ending at most MaxLabelPadding zero bytes before it. A number
// whose bytes are all printable is rather text.
NumberLabel labelAt(std::span<const std::uint8_t> bytes, std::size_t i, int width, bool big)
{
    // Either label ends with a zero, a width's byte or a letter: most
    // numbers among voxels are told unlabelled by their last byte before.
    if (i == 0 || (bytes[i - 1] != 0 && bytes[i - 1] != static_cast<std::uint8_t>(width) && !letter(bytes[i - 1])))
        return NumberLabel::None;
    if (std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.begin() + static_cast<std::ptrdiff_t>(i) + width,
                    [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; }))
        return NumberLabel::None;
    for (const int lengthWidth : {2, 4})
        if (i >= static_cast<std::size_t>(lengthWidth) &&
            readWord(bytes, i - static_cast<std::size_t>(lengthWidth), lengthWidth, big) ==
                static_cast<std::uint32_t>(width))
            return NumberLabel::Length;
    std::size_t k = i;
    while (k > 0 && i - k < MaxLabelPadding && bytes[k - 1] == 0)
        --k;
    std::size_t letters = 0;
    while (k > 0 && letter(bytes[k - 1]) && letters < MinLabelLetters) {
        --k;
        ++letters;
    }
    return letters >= MinLabelLetters ? NumberLabel::Name : NumberLabel::None;
}

std::uint64_t recordBefore(std::span<const std::uint8_t> bytes, std::size_t i)
{
    std::uint64_t v = 0;
    for (std::size_t k = i >= RecordHead ? i - RecordHead : 0; k < i; ++k)
        v = (v << 8) | bytes[k];
    return v;
}

// The bytes around [i, i + width) repeat every width or twice width bytes
// for RepeatSpan bytes on either side (clipped to the bytes): voxels of one
// value, no field. Compared where asked: a mismatch shows within a few
// bytes almost everywhere.
bool repeatsAround(std::span<const std::uint8_t> bytes, std::size_t i, std::size_t width)
{
    const std::size_t from = i >= RepeatSpan ? i - RepeatSpan : 0;
    const std::size_t to = std::min(i + width + RepeatSpan, bytes.size());
    for (const std::size_t period : RepeatPeriods) {
        if ((period != width && period != 2 * width) || to - from < width + 2 * period)
            continue;
        if (std::memcmp(bytes.data() + from + period, bytes.data() + from, to - from - period) == 0)
            return true;
    }
    return false;
}

} // namespace

void addBinaryNumbers(std::span<const std::uint8_t> bytes, std::int64_t at, std::int64_t fileSize,
                      std::int64_t seenEnd, BinaryKeep keep, std::size_t foundBefore, std::size_t maxNumbers,
                      std::vector<StatedNumber>& out)
{
    const std::size_t n = bytes.size();
    // Bytes in a run of TextRun printable bytes or more: found from the
    // first TextRun of the run (the byte before is none, or the search
    // would have stopped there).
    const auto text = std::make_unique_for_overwrite<bool[]>(n);
    std::fill_n(text.get(), n, false);
    for (std::size_t i = 0; i + TextRun <= n;) {
        unsigned run = 1;
        for (std::size_t k = 0; k < TextRun; ++k)
            run &= TextBytes[bytes[i + k]];
        if (run == 0) {
            ++i;
            continue;
        }
        std::size_t j = i + TextRun;
        while (j < n && TextBytes[bytes[j]] != 0)
            ++j;
        std::fill(text.get() + i, text.get() + j, true);
        i = j + 1;
    }
    // At most two Int-16s at each even offset and two Int-32s at each
    // fourth: where even that many cannot reach the maximum, none is
    // counted, and the numbers not kept are dropped by their cheapest test.
    const bool counting = foundBefore + n + n / 2 + 4 + 4 > maxNumbers;
    std::size_t found = foundBefore;
    for (std::size_t i = 0; i + 1 < n && (!counting || found + 4 <= maxNumbers); ++i) {
        const std::int64_t p = at + static_cast<std::int64_t>(i);
        if (p % 2 != 0 || text[i] || text[i + 1])
            continue;
        const std::uint32_t b0 = bytes[i], b1 = bytes[i + 1];
        const auto add = [&](std::int64_t v, int width, NumberForm form) {
            if (v < 1 || v > fileSize)
                return;
            const bool seen = p + width <= seenEnd;
            const bool wide = width == 4;
            const bool big = form == NumberForm::U16Big || form == NumberForm::U32Big;
            // Kept by its label (All and seen ones in Seen: whatever it is).
            const auto keeps = [&](NumberLabel label) {
                switch (keep) {
                case BinaryKeep::All:
                    return true;
                case BinaryKeep::Seen:
                    return seen || label != NumberLabel::None;
                case BinaryKeep::UnseenWide:
                    return !seen && wide && label == NumberLabel::None;
                }
                return false;
            };
            NumberLabel label = NumberLabel::None;
            bool labelRead = false;
            if (!counting) {
                if (keep == BinaryKeep::UnseenWide && (seen || !wide))
                    return;
                if (keep != BinaryKeep::All && !(keep == BinaryKeep::Seen && seen)) {
                    label = labelAt(bytes, i, width, big);
                    labelRead = true;
                    if (!keeps(label))
                        return;
                }
            }
            if (repeatsAround(bytes, i, static_cast<std::size_t>(width)))
                return;
            ++found;
            if (!labelRead)
                label = labelAt(bytes, i, width, big);
            if (keeps(label))
                out.push_back({v, p, p + width, form, -1, false, false, -1, label, recordBefore(bytes, i), seen});
        };
        add(b0 | (b1 << 8), 2, NumberForm::U16Little);
        add((b0 << 8) | b1, 2, NumberForm::U16Big);
        if (p % 4 != 0 || i + 3 >= n || text[i + 2] || text[i + 3])
            continue;
        const std::uint32_t b2 = bytes[i + 2], b3 = bytes[i + 3];
        add(static_cast<std::int64_t>(b0 | (b1 << 8) | (b2 << 16) | (b3 << 24)), 4, NumberForm::U32Little);
        add(static_cast<std::int64_t>((b0 << 24) | (b1 << 16) | (b2 << 8) | b3), 4, NumberForm::U32Big);
    }
}

} // namespace GuessDetail
