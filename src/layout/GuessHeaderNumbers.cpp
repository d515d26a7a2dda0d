#include "layout/GuessHeaderNumbers.h"

#include "layout/GuessBinaryNumbers.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <tuple>

namespace GuessDetail
{
namespace
{

// Numbers of one statement lie this close (first byte to first byte): text
// within a card or a line, two binary ones within a small record.
constexpr std::int64_t TextSpan = 96;
constexpr std::int64_t BinaryPairSpan = 16;
constexpr std::int64_t BinaryListSpan = 24; // three or four binary numbers: Int-32s within this of each other (lengths
                                            // between names), Int-16s at one stride up to this (an array of them)
// Text a header writes: a printable run this long, or this long with a
// letter, '=' or ':' in it (a value's short text between binary fields
// only counts as a slice count).
constexpr std::size_t ProseRun = 32;
constexpr std::size_t ShortProseRun = 8;
constexpr std::size_t ShortValueRun = 16;
// Two binary numbers state a slice of at least this many voxels (smaller
// pairs are everywhere in binary headers); binary dimensions are at most
// MaxBinaryDim (no row or slice longer is looked for).
constexpr std::int64_t MinPairVoxels = 64;
constexpr std::int64_t MaxBinaryDim = 16384;
constexpr std::size_t MaxDigits = 10; // text numbers have at most this many digits
// Text padded with this many blanks or more, then fewer than PrintableLead
// printable bytes: the data begins after the blanks.
constexpr std::size_t PadBlanks = 16;
constexpr std::size_t PrintableLead = 64;
// Binary numbers are read this far past where the voxels seem to start,
// and this far into a file whose header is not seen.
constexpr std::int64_t SeenSlack = 64;
constexpr std::int64_t UnseenBinaryBytes = 4096;
// How credible a statement is: one that gives its own count first ("NAXIS
// = 2", a list's length) most, then text values, then two binary numbers
// (rows and columns); three or four binary numbers without their count
// least (tables of small numbers are everywhere in binary headers).
// Of equal credence, the earlier statement first, and of one place, the one
// of more numbers.
// Read reversed (slowest first) a little less than as written.
constexpr double CountedTrust = 1.0;
constexpr double TextTrust = 0.9;
constexpr double BinaryListTrust = 0.6;
constexpr double BinaryPairTrust = 0.65;
constexpr double ReversedTrust = 0.95;
// Numbers each under a key of its own ("NAXIS1 = 62 NAXIS2 = 44", "width:
// 62 height: 44") are written fastest first; a list in one value may be
// either.
constexpr double KeyedReversedTrust = 0.8;
// Labelled numbers (see NumberLabel): trusted like text, in
// both readings (their records, not their order, say which is the row).
constexpr double LabelledTrust = 0.9;
// Labelled numbers state one thing together where their records have one
// shape: the heads before each (StatedNumber::record) differ in at most
// RecordChanges bytes (a tag's number, a name's letter).
constexpr int RecordChanges = 2;

bool printable(std::uint8_t b)
{
    return textByte(b);
}

bool digit(std::uint8_t b)
{
    return b >= '0' && b <= '9';
}

bool wordByte(std::uint8_t b)
{
    return digit(b) || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_' || b == '.';
}

// A digit run at [i, j) of a printable run [runStart, runEnd) is a value:
// not inside a word, a signed number or a fraction, and after a separator
// that introduces values (or another number, or the run's start).
bool isValue(std::span<const std::uint8_t> bytes, std::size_t runStart, std::size_t i, std::size_t j,
             std::size_t runEnd)
{
    if (i > runStart && (wordByte(bytes[i - 1]) || bytes[i - 1] == '-' || bytes[i - 1] == '+'))
        return false;
    if (j < runEnd && (wordByte(bytes[j])))
        return false;
    // A time of day or a ratio ("13:30:45", "4:3") states no dimension.
    if ((j + 1 < runEnd && bytes[j] == ':' && digit(bytes[j + 1])) ||
        (i >= runStart + 2 && bytes[i - 1] == ':' && digit(bytes[i - 2])))
        return false;
    std::size_t k = i;
    while (k > runStart && (bytes[k - 1] == ' ' || bytes[k - 1] == '\t'))
        --k;
    if (k == runStart)
        return true;
    const std::uint8_t before = bytes[k - 1];
    return digit(before) || before == '=' || before == ':' || before == '(' || before == '[' || before == ',' ||
           before == '\n' || before == '\r';
}

// The value at i follows a key's '=' or ':' directly (blanks aside), and a
// key's word or quote that separator.
bool keyedValue(std::span<const std::uint8_t> bytes, std::size_t runStart, std::size_t i)
{
    const auto blanksBefore = [&](std::size_t k) {
        while (k > runStart && (bytes[k - 1] == ' ' || bytes[k - 1] == '\t'))
            --k;
        return k;
    };
    const std::size_t sep = blanksBefore(i);
    if (sep == runStart || (bytes[sep - 1] != '=' && bytes[sep - 1] != ':'))
        return false;
    const std::size_t key = blanksBefore(sep - 1);
    return key > runStart && (wordByte(bytes[key - 1]) || bytes[key - 1] == '\'' || bytes[key - 1] == '"');
}

// Where a text's blank padding (PadBlanks blanks or more, and the line
// ends after them) ends, when fewer than PrintableLead printable bytes
// follow it before the run ends: the data's first bytes, printable by
// chance. Else -1.
std::int64_t paddingEnd(std::span<const std::uint8_t> bytes, std::size_t runStart, std::size_t runEnd)
{
    std::size_t k = runEnd;
    while (k > runStart && runEnd - k < PrintableLead && bytes[k - 1] != ' ')
        --k;
    std::size_t blanks = k;
    while (blanks > runStart && bytes[blanks - 1] == ' ')
        --blanks;
    if (k == runEnd || k - blanks < PadBlanks)
        return -1;
    while (k < runEnd && (bytes[k] == '\n' || bytes[k] == '\r'))
        ++k;
    return k < runEnd ? static_cast<std::int64_t>(k) : -1;
}

void addText(std::span<const std::uint8_t> bytes, std::int64_t at, std::int64_t fileSize,
             std::vector<StatedNumber>& out, std::size_t maxNumbers)
{
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n && out.size() < maxNumbers) {
        // A run of one printable byte holds no value (binary bytes give
        // many): on to the next two printable bytes in a row, the start of a
        // run (the byte before is none, or the search would have stopped
        // there).
        while (i + 1 < n && (TextBytes[bytes[i]] & TextBytes[bytes[i + 1]]) == 0)
            ++i;
        if (i + 1 >= n)
            break;
        const std::size_t runStart = i;
        std::size_t runEnd = i;
        bool prose = false;
        while (runEnd < bytes.size() && printable(bytes[runEnd])) {
            const std::uint8_t b = bytes[runEnd];
            prose = prose || b == '=' || b == ':' || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
            ++runEnd;
        }
        prose = runEnd - runStart >= ProseRun || (prose && runEnd - runStart >= ShortProseRun);
        const std::int64_t padEnd = paddingEnd(bytes, runStart, runEnd);
        // Outside prose only a value that opens a short run (a binary
        // record's text field, "176 "), of two digits or more.
        const std::size_t scanEnd = prose ? runEnd : runStart + std::min<std::size_t>(runEnd - runStart, MaxDigits);
        for (std::size_t k = runStart; k < scanEnd && out.size() < maxNumbers;) {
            if (!digit(bytes[k])) {
                ++k;
                continue;
            }
            std::size_t j = k;
            while (j < runEnd && digit(bytes[j]))
                ++j;
            if (!prose && (k != runStart || j - k < 2 || runEnd - runStart > ShortValueRun))
                break;
            if (j - k <= MaxDigits && isValue(bytes, runStart, k, j, runEnd)) {
                std::int64_t v = 0;
                for (std::size_t d = k; d < j; ++d)
                    v = v * 10 + (bytes[d] - '0');
                // (A run cut by the end of the bytes has no known end.)
                const bool cut = runEnd == bytes.size() && at + static_cast<std::int64_t>(runEnd) < fileSize;
                if (v >= 1 && v <= fileSize)
                    out.push_back({v, at + static_cast<std::int64_t>(k), at + static_cast<std::int64_t>(j),
                                   NumberForm::Text, cut ? -1 : at + static_cast<std::int64_t>(runEnd), prose,
                                   keyedValue(bytes, runStart, k),
                                   padEnd < 0 || cut ? -1 : at + padEnd});
            }
            k = j;
        }
        i = runEnd;
    }
}

bool mulFits(std::int64_t a, std::int64_t b, std::int64_t limit, std::int64_t& out)
{
    return !__builtin_mul_overflow(a, b, &out) && out <= limit;
}

// Collects statements, each set of numbers once per form (the first, with
// how often it repeats).
class Collector
{
public:
    Collector(std::size_t maxStatements) : m_max(maxStatements) {}

    bool full() const { return m_out.size() >= RawPerStatement * m_max; }

    void add(const StatedNumber* const* parts, int count, bool counted, bool labelled = false)
    {
        // A count and the numbers it counts are the shorter statement after it.
        if (parts[0]->value == count - 1 || parts[0]->value == count)
            return;
        std::array<std::int64_t, 4> dims{1, 1, 1, 1};
        for (int k = 0; k < count; ++k)
            dims[static_cast<std::size_t>(k)] = parts[k]->value;
        for (const bool reversed : {false, true}) {
            StatedDims s;
            s.count = count;
            for (int k = 0; k < count; ++k)
                s.dims[static_cast<std::size_t>(k)] = dims[static_cast<std::size_t>(reversed ? count - 1 - k : k)];
            if (reversed && s.dims == dims)
                break; // reads the same both ways
            if (s.dims[0] < 2 || s.dims[1] < 2 || full())
                continue;
            s.offset = parts[0]->offset;
            s.end = parts[count - 1]->end;
            s.textEnd = parts[0]->textEnd;
            s.padEnd = parts[0]->padEnd;
            s.counted = counted;
            s.form = parts[0]->form;
            s.text = s.form == NumberForm::Text;
            s.keyed = std::all_of(parts, parts + count, [](const StatedNumber* n) { return n->keyed; });
            s.labelled = labelled;
            s.trust = labelled ? LabelledTrust
                               : (counted    ? CountedTrust
                                  : s.text   ? TextTrust
                                  : count >= 3 ? BinaryListTrust
                                               : BinaryPairTrust) *
                                     (reversed ? (s.keyed ? KeyedReversedTrust : ReversedTrust) : 1.0);
            m_out.push_back(s);
        }
    }

    // Each set of numbers once per form: the first, with how often it is
    // stated again after it (not overlapping), most trusted of its readings
    // as counted; in order of offsets, at most the maximum.
    std::vector<StatedDims> take()
    {
        // Sorted by a packed key (every number is at most MaxStatedDim,
        // sixteen bits), then by offset.
        std::vector<std::pair<std::tuple<std::uint64_t, std::int64_t, std::int64_t>, std::size_t>> order;
        order.reserve(m_out.size());
        for (std::size_t i = 0; i < m_out.size(); ++i) {
            const StatedDims& s = m_out[i];
            std::uint64_t packed = 0;
            for (const std::int64_t d : s.dims)
                packed = (packed << 16) | static_cast<std::uint64_t>(d & 0xFFFF);
            const std::int64_t kind = static_cast<std::int64_t>(s.count) << 8 | static_cast<std::int64_t>(s.form);
            order.push_back({{packed, kind, s.offset}, i});
        }
        std::sort(order.begin(), order.end());
        std::vector<StatedDims> merged;
        std::int64_t lastEnd = 0;
        std::uint64_t lastKey = 0;
        std::int64_t lastKind = -1;
        for (const auto& [key, index] : order) {
            const StatedDims& s = m_out[index];
            const auto [packed, kind, offset] = key;
            if (!merged.empty() && packed == lastKey && kind == lastKind) {
                StatedDims& first = merged.back();
                if (s.offset >= lastEnd) {
                    ++first.repeats;
                    lastEnd = s.end;
                }
                first.counted = first.counted || s.counted;
                first.labelled = first.labelled || s.labelled;
                first.trust = std::max(first.trust, s.trust);
                continue;
            }
            merged.push_back(s);
            lastEnd = s.end;
            lastKey = packed;
            lastKind = kind;
        }
        const auto byOffset = [](const StatedDims& a, const StatedDims& b) { return a.offset < b.offset; };
        std::stable_sort(merged.begin(), merged.end(), byOffset);
        if (merged.size() > m_max) {
            // Labelled statements are kept before the rest, wherever they lie.
            std::stable_partition(merged.begin(), merged.end(), [](const StatedDims& s) { return s.labelled; });
            merged.resize(m_max);
            std::stable_sort(merged.begin(), merged.end(), byOffset);
        }
        return merged;
    }

private:
    static constexpr std::size_t RawPerStatement = 2; // statements kept before repeats are merged, per statement
                                                      // returned
    std::size_t m_max;
    std::vector<StatedDims> m_out;
};

// Whether the number before list[first] within span is count.
bool countedBy(const std::vector<const StatedNumber*>& list, std::size_t first, int count, std::int64_t span)
{
    for (std::size_t k = first; k-- > 0;) {
        if (list[first]->offset - list[k]->offset > span)
            return false;
        if (list[k]->end <= list[first]->offset)
            return list[k]->value == count;
    }
    return false;
}

void textStatements(const std::vector<const StatedNumber*>& list, Collector& out)
{
    // Where a count ("NAXIS = 3") begins the numbers it counts (and they
    // fill it): fewer of them, those from its second on, and numbers that
    // end with the count are none of its statements.
    std::vector<int> counting(list.size() + 1, 0);
    for (std::size_t i = 0; i < list.size(); ++i)
        for (int count = 2; count <= 4; ++count) {
            const std::size_t k = i + static_cast<std::size_t>(count) - 1;
            if (k < list.size() && list[k]->textEnd == list[i]->textEnd && countedBy(list, i, count, TextSpan))
                counting[i] = count;
        }
    std::size_t counted = 0; // numbers before this one belong to a counted statement
    for (std::size_t i = 0; i < list.size() && !out.full(); ++i) {
        if (i < counted)
            continue;
        counted = i + static_cast<std::size_t>(counting[i]);
        const StatedNumber* parts[4] = {list[i], nullptr, nullptr, nullptr};
        for (int count = 2; count <= 4; ++count) {
            const std::size_t k = i + static_cast<std::size_t>(count) - 1;
            if (k >= list.size() || list[k]->textEnd != list[i]->textEnd ||
                list[k]->offset - list[k - 1]->offset > TextSpan || counting[k + 1] > 0)
                break;
            parts[count - 1] = list[k];
            if (count >= counting[i])
                out.add(parts, count, countedBy(list, i, count, TextSpan));
        }
    }
}

// Three or four numbers only where names label them (a run of tagged
// fields states many small numbers side by side).
bool labelled(const StatedNumber* const* parts, int count)
{
    for (int k = 0; k < count; ++k) {
        if (parts[k]->label == NumberLabel::None || (count > 2 && parts[k]->label != NumberLabel::Name))
            return false;
        if (k == 0)
            continue;
        int changes = 0;
        for (std::uint64_t d = parts[k]->record ^ parts[k - 1]->record; d != 0; d >>= 8)
            changes += (d & 0xFF) != 0 ? 1 : 0;
        if (changes > RecordChanges)
            return false;
    }
    return true;
}

void binaryStatements(const std::vector<const StatedNumber*>& list, bool wide, Collector& out)
{
    std::int64_t product = 0;
    for (std::size_t i = 0; i < list.size() && !out.full(); ++i) {
        const StatedNumber* parts[4] = {list[i], nullptr, nullptr, nullptr};
        for (std::size_t j = i + 1; j < list.size() && list[j]->offset - list[i]->offset <= BinaryPairSpan; ++j) {
            if (list[j]->offset < list[i]->end)
                continue;
            parts[1] = list[j];
            if (list[i]->value >= 2 && list[j]->value >= 2 && list[i]->value * list[j]->value >= MinPairVoxels)
                out.add(parts, 2, false, labelled(parts, 2));
            if (list[j]->offset - list[i]->offset > BinaryListSpan)
                continue;
            const std::int64_t stride = list[j]->offset - list[i]->offset;
            // Three and four: Int-32s at any gaps within the span, Int-16s
            // at one stride.
            for (std::size_t k = j + 1; k < list.size() && list[k]->offset - list[j]->offset <= BinaryListSpan; ++k) {
                if (list[k]->offset < list[j]->end || (!wide && list[k]->offset - list[j]->offset != stride))
                    continue;
                if (!mulFits(list[i]->value, list[j]->value, MaxStatedDim * MaxStatedDim, product))
                    continue;
                parts[2] = list[k];
                out.add(parts, 3, countedBy(list, i, 3, list[i]->end - list[i]->offset), labelled(parts, 3));
                for (std::size_t m = k + 1;
                     m < list.size() && list[m]->offset - list[k]->offset <= BinaryListSpan; ++m) {
                    if (list[m]->offset < list[k]->end || (!wide && list[m]->offset - list[k]->offset != stride))
                        continue;
                    parts[3] = list[m];
                    out.add(parts, 4, countedBy(list, i, 4, list[i]->end - list[i]->offset), labelled(parts, 4));
                }
            }
        }
    }
}

} // namespace

std::vector<StatedNumber> statedNumbers(std::span<const std::uint8_t> bytes, std::int64_t at, std::int64_t fileSize,
                                        bool withBinary, std::size_t maxNumbers)
{
    std::vector<StatedNumber> out;
    if (at < 0 || fileSize < 1)
        return out;
    addText(bytes, at, fileSize, out, maxNumbers);
    const auto texts = static_cast<std::ptrdiff_t>(out.size());
    if (withBinary)
        addBinaryNumbers(bytes, at, fileSize, std::numeric_limits<std::int64_t>::max(), BinaryKeep::All, out.size(),
                         maxNumbers, out);
    // Each kind comes in the order of the bytes (a head of voxels gives
    // thousands of binary numbers): merged, as a stable sort would order them.
    const auto byOffset = [](const StatedNumber& a, const StatedNumber& b) { return a.offset < b.offset; };
    const auto binaryFrom = out.begin() + texts;
    if (std::is_sorted(out.begin(), binaryFrom, byOffset) && std::is_sorted(binaryFrom, out.end(), byOffset))
        std::inplace_merge(out.begin(), binaryFrom, out.end(), byOffset);
    else
        std::stable_sort(out.begin(), out.end(), byOffset);
    return out;
}

std::vector<StatedDims> statedDims(const std::vector<StatedNumber>& numbers, std::size_t maxStatements)
{
    Collector out(maxStatements);
    // Labelled numbers first: many unlabelled ones (a head of voxels read
    // as numbers) must not fill the statements before them.
    for (const NumberForm form : {NumberForm::U16Little, NumberForm::U16Big, NumberForm::U32Little, NumberForm::U32Big}) {
        std::vector<const StatedNumber*> list;
        for (const StatedNumber& n : numbers)
            if (n.form == form && n.value <= MaxBinaryDim && n.label != NumberLabel::None)
                list.push_back(&n);
        binaryStatements(list, form == NumberForm::U32Little || form == NumberForm::U32Big, out);
    }
    for (const NumberForm form :
         {NumberForm::Text, NumberForm::U16Little, NumberForm::U16Big, NumberForm::U32Little, NumberForm::U32Big}) {
        std::vector<const StatedNumber*> list;
        for (const StatedNumber& n : numbers)
            if (n.form == form && n.value <= (form == NumberForm::Text ? MaxStatedDim : MaxBinaryDim) &&
                (form != NumberForm::Text || n.prose) && (n.seen || n.label != NumberLabel::None))
                list.push_back(&n);
        if (form == NumberForm::Text)
            textStatements(list, out);
        else
            binaryStatements(list, form == NumberForm::U32Little || form == NumberForm::U32Big, out);
    }
    return out.take();
}

HeaderStatements readHeaderStatements(Sampler& sampler, const DataStart& start, bool voxelsFromStart)
{
    HeaderStatements out;
    const std::int64_t size = sampler.size();
    const std::int64_t headBytes = std::min(size, StatementBytes);
    const std::span<const std::uint8_t> head = sampler.head(headBytes);
    out.numbers = statedNumbers(head, 0, size, false);
    // Binary numbers up to where the voxels seem to start, when that is
    // seen; else in the first UnseenBinaryBytes (a header of many fields
    // before voxels of one value, which no decoding tells from padding).
    const std::int64_t binaryHead = std::min(start.offset > 0 ? start.offset + start.precision + SeenSlack
                                             : voxelsFromStart ? 0
                                                               : UnseenBinaryBytes,
                                             BinaryStatementBytes);
    // Past that, in the first BinaryStatementBytes, labelled numbers (their
    // records show them to be fields) and Int-32s (a data length or offset
    // is checked against a statement's data before it counts) are kept too.
    // (Unseen Int-32s only where labelled numbers make a statement.)
    const std::size_t binaryBytes = std::min<std::size_t>(head.size(), static_cast<std::size_t>(BinaryStatementBytes));
    // The text numbers of these bytes are the head's above, but count toward
    // the maximum before the binary ones (as in statedNumbers), so that the
    // same binary numbers are found.
    const std::size_t binaryTexts = statedNumbers(head.first(binaryBytes), 0, size, false).size();
    addBinaryNumbers(head.first(binaryBytes), 0, size, binaryHead, BinaryKeep::Seen, binaryTexts, MaxStatedNumbers,
                     out.numbers);
    const std::int64_t tailBytes = std::min(size - headBytes, StatementBytes);
    if (tailBytes > 0) {
        const std::span<const std::uint8_t> tail = sampler.tail(tailBytes);
        const std::int64_t at = size - static_cast<std::int64_t>(tail.size());
        for (const StatedNumber& n : statedNumbers(tail, at, size, false))
            out.numbers.push_back(n);
        // Binary ones only in trailing bytes that are seen.
        const std::int64_t from = start.end - start.precision - SeenSlack;
        const std::size_t binary =
            start.end < size ? std::min<std::size_t>(tail.size(), static_cast<std::size_t>(std::min(size - from, BinaryStatementBytes))) : 0;
        for (const StatedNumber& n : statedNumbers(tail.last(binary), size - static_cast<std::int64_t>(binary), size, true))
            if (n.form != NumberForm::Text)
                out.numbers.push_back(n);
    }
    const auto byOffset = [](const StatedNumber& a, const StatedNumber& b) { return a.offset < b.offset; };
    std::stable_sort(out.numbers.begin(), out.numbers.end(), byOffset);
    out.statements = statedDims(out.numbers);
    if (std::any_of(out.statements.begin(), out.statements.end(), [](const StatedDims& s) { return s.labelled; })) {
        // Read again only here: a head of voxels gives thousands of them.
        std::vector<StatedNumber> unseenWide;
        addBinaryNumbers(sampler.head(headBytes).first(binaryBytes), 0, size, binaryHead, BinaryKeep::UnseenWide,
                         binaryTexts, MaxStatedNumbers, unseenWide);
        const auto middle = static_cast<std::ptrdiff_t>(out.numbers.size());
        out.numbers.insert(out.numbers.end(), unseenWide.begin(), unseenWide.end());
        std::inplace_merge(out.numbers.begin(), out.numbers.begin() + middle, out.numbers.end(), byOffset);
    }
    return out;
}

} // namespace GuessDetail
