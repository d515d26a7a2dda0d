#include "layout/GuessStatedType.h"

#include "layout/GuessHeaderNumbers.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace GuessDetail
{
namespace
{

constexpr std::size_t MinRun = 8; // text a header writes: printable runs at least this long
constexpr std::size_t MaxKeyWords = 3; // a key: the word before '=' or ':' and up to two more joined to it by
                                       // single spaces ("data type")
constexpr std::size_t MaxValueWords = 3; // a value: its first few words ("MET_SHORT", "unsigned short")
constexpr std::size_t MaxValueSpan = 32; // a maximum value follows the dimensions within this many bytes of the
                                         // first of them
constexpr std::int64_t PrintableDataBytes = 64; // data may begin with this many printable bytes
constexpr std::int64_t OneHeader = 1024; // statements within this many bytes of the first are one header's
// A candidate whose type or order differs from the header's statement
// scores less by these factors: its width most (every voxel is read from
// the wrong bytes), then floats against integers, then the byte order; the
// sign least (many values read the same either way).
constexpr double WidthDiffers = 0.6;
constexpr double KindDiffers = 0.75;
constexpr double OrderDiffers = 0.8;
constexpr double SignDiffers = 0.97;

bool alnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Ends a value (or a key): a line, a list item, a comment.
bool terminator(char c)
{
    return c == '\n' || c == '\r' || c == ',' || c == ';' || c == '/' || c == '}' || c == ')' || c == '#';
}

bool contains(std::string_view text, std::string_view word)
{
    return text.find(word) != std::string_view::npos;
}

struct TypeWord
{
    std::string_view word;
    int width;
    StatedKind kind;
};

// Words that name a voxel type. "long" and "char"'s sign differ between
// machines, so "long" is none and "char" an integer of either sign.
constexpr TypeWord TypeWords[] = {
    {"char", 1, StatedKind::Integer},    {"byte", 1, StatedKind::Integer},     {"uchar", 1, StatedKind::Unsigned},
    {"ubyte", 1, StatedKind::Unsigned},  {"int8", 1, StatedKind::Signed},      {"uint8", 1, StatedKind::Unsigned},
    {"i8", 1, StatedKind::Signed},       {"u8", 1, StatedKind::Unsigned},      {"short", 2, StatedKind::Signed},
    {"ushort", 2, StatedKind::Unsigned}, {"int16", 2, StatedKind::Signed},     {"uint16", 2, StatedKind::Unsigned},
    {"i16", 2, StatedKind::Signed},      {"u16", 2, StatedKind::Unsigned},     {"int", 4, StatedKind::Signed},
    {"uint", 4, StatedKind::Unsigned},   {"int32", 4, StatedKind::Signed},     {"uint32", 4, StatedKind::Unsigned},
    {"i32", 4, StatedKind::Signed},      {"u32", 4, StatedKind::Unsigned},     {"int64", 8, StatedKind::Signed},
    {"uint64", 8, StatedKind::Unsigned}, {"integer", 0, StatedKind::Integer},  {"float", 4, StatedKind::Float},
    {"float32", 4, StatedKind::Float},   {"f32", 4, StatedKind::Float},        {"single", 4, StatedKind::Float},
    {"real", 0, StatedKind::Float},      {"real32", 4, StatedKind::Float},     {"double", 8, StatedKind::Float},
    {"float64", 8, StatedKind::Float},   {"f64", 8, StatedKind::Float},        {"real64", 8, StatedKind::Float},
};

// Words a value may open with before its type word ("MET_SHORT",
// "IEEE_REAL", "unsigned short"); the sign words state the sign.
constexpr std::string_view LeadWords[] = {"met", "ieee", "msb", "lsb", "pc", "signed", "unsigned"};

StatedOrder orderWord(std::string_view w, bool orderKey)
{
    if (w == "msb" || w == "bigendian" || w == "msbfirst" || (orderKey && w == "big"))
        return StatedOrder::Big;
    if (w == "lsb" || w == "littleendian" || w == "lsbfirst" || (orderKey && w == "little"))
        return StatedOrder::Little;
    return StatedOrder::Any;
}

// A type code: an optional order mark ('<' little, '>' big, '|' or '='
// none said), then 'i', 'u' or 'f' and the bytes. Returns its length, 0
// when text at i is none.
std::size_t typeCode(std::string_view text, std::size_t i, StatedType& out)
{
    std::size_t k = i;
    StatedOrder order = StatedOrder::Any;
    const bool marked = k < text.size() && (text[k] == '<' || text[k] == '>' || text[k] == '|' || text[k] == '=');
    if (marked) {
        order = text[k] == '<' ? StatedOrder::Little : text[k] == '>' ? StatedOrder::Big : StatedOrder::Any;
        ++k;
    }
    if (k + 2 > text.size() || (k + 2 < text.size() && alnum(text[k + 2])))
        return 0;
    const char c = text[k];
    const char w = text[k + 1];
    if ((c != 'i' && c != 'u' && c != 'f') || (w != '1' && w != '2' && w != '4' && w != '8') || (c == 'f' && w < '4'))
        return 0;
    if (!marked && i > 0 && alnum(text[i - 1]))
        return 0;
    out.width = w - '0';
    out.kind = c == 'f' ? StatedKind::Float : c == 'u' ? StatedKind::Unsigned : StatedKind::Signed;
    out.order = out.width > 1 ? order : StatedOrder::Any;
    return k + 2 - i;
}

// The lower-case words of text[from, to) (letters and digits), at most max.
std::vector<std::string> wordsIn(std::string_view text, std::size_t from, std::size_t to, std::size_t max)
{
    std::vector<std::string> words;
    std::size_t i = from;
    while (i < to && words.size() < max) {
        if (!alnum(text[i])) {
            if (terminator(text[i]) && !words.empty())
                break;
            ++i;
            continue;
        }
        std::string w;
        while (i < to && alnum(text[i]))
            w += lower(text[i++]);
        words.push_back(std::move(w));
    }
    return words;
}

// The key before a separator at sep: its last word and up to two more
// joined by single spaces, lower case, joined by '_'.
std::string keyBefore(std::string_view text, std::size_t runStart, std::size_t sep)
{
    std::size_t i = sep;
    while (i > runStart && (text[i - 1] == ' ' || text[i - 1] == '\t' || text[i - 1] == '\'' || text[i - 1] == '"'))
        --i;
    std::string key;
    for (std::size_t words = 0; words < MaxKeyWords && i > runStart && (alnum(text[i - 1]) || text[i - 1] == '_');
         ++words) {
        std::size_t j = i;
        while (j > runStart && (alnum(text[j - 1]) || text[j - 1] == '_' || text[j - 1] == '-'))
            --j;
        std::string word;
        for (std::size_t k = j; k < i; ++k)
            word += lower(text[k]);
        key = key.empty() ? word : word + "_" + key;
        if (j < runStart + 2 || text[j - 1] != ' ' || !alnum(text[j - 2]))
            break;
        i = j - 1;
    }
    return key;
}

bool orderKey(std::string_view key)
{
    return contains(key, "endian") || contains(key, "order") || contains(key, "byte");
}

// Whether a part of key (between '_', '-') passes test: "SAMPLE_BITS",
// "ByteOrderMSB", not "pixelsBINAXIS" or "ORBIT".
template<typename Test>
bool anyPart(std::string_view key, Test test)
{
    std::size_t from = 0;
    while (from <= key.size()) {
        std::size_t to = key.find_first_of("_-", from);
        if (to == std::string_view::npos)
            to = key.size();
        if (test(key.substr(from, to - from)))
            return true;
        from = to + 1;
    }
    return false;
}

bool bitKey(std::string_view key)
{
    return anyPart(key, [](std::string_view part) { return part.starts_with("bit") || contains(part, "bits"); });
}

// A key whose truth states the order: "ByteOrderMSB", "big_endian".
bool bigKey(std::string_view key)
{
    return contains(key, "bigendian") ||
           anyPart(key, [](std::string_view part) { return part.ends_with("msb") || part == "big"; });
}

bool littleKey(std::string_view key)
{
    return contains(key, "littleendian") ||
           anyPart(key, [](std::string_view part) { return part.ends_with("lsb") || part == "little"; });
}

// What the value at text[from, to) states under key; false when nothing.
bool readValue(std::string_view text, std::size_t from, std::size_t to, std::string_view key, StatedType& out)
{
    std::size_t i = from;
    while (i < to && (text[i] == ' ' || text[i] == '\t' || text[i] == '\'' || text[i] == '"'))
        ++i;
    if (i >= to)
        return false;
    if (typeCode(text.substr(0, to), i, out) > 0)
        return true;
    // A bit count: 8 to 64 bits of integers, negative counts floats.
    if (bitKey(key) && (digit(text[i]) || text[i] == '-' || text[i] == '+')) {
        const bool negative = text[i] == '-';
        std::size_t j = text[i] == '-' || text[i] == '+' ? i + 1 : i;
        int bits = 0;
        while (j < to && digit(text[j]) && bits < 1000)
            bits = bits * 10 + (text[j++] - '0');
        if (j < to && (alnum(text[j]) || text[j] == '.'))
            return false;
        if (negative && (bits == 32 || bits == 64)) {
            out.width = bits / 8;
            out.kind = StatedKind::Float;
            return true;
        }
        if (!negative && (bits == 8 || bits == 16 || bits == 32 || bits == 64)) {
            out.width = bits / 8;
            return true;
        }
        return false;
    }
    const std::vector<std::string> words = wordsIn(text, i, to, MaxValueWords);
    if (words.empty())
        return false;
    // "ByteOrderMSB = True", "little_endian: false".
    const bool big = bigKey(key);
    if (big != littleKey(key)) {
        const bool yes = words[0] == "true" || words[0] == "yes" || words[0] == "1";
        const bool no = words[0] == "false" || words[0] == "no" || words[0] == "0";
        if (yes || no) {
            out.order = yes == big ? StatedOrder::Big : StatedOrder::Little;
            return true;
        }
    }
    bool found = false;
    for (const std::string& w : words) {
        const StatedOrder order = orderWord(w, orderKey(key));
        if (order != StatedOrder::Any) {
            out.order = order;
            found = true;
        }
        if (w == "signed" || w == "unsigned") {
            out.kind = w == "signed" ? StatedKind::Signed : StatedKind::Unsigned;
            continue;
        }
        const auto type = std::find_if(std::begin(TypeWords), std::end(TypeWords),
                                       [&](const TypeWord& t) { return t.word == w; });
        if (type != std::end(TypeWords)) {
            out.width = type->width;
            // "unsigned short": the sign word decides.
            if (out.kind == StatedKind::Any || type->kind == StatedKind::Float)
                out.kind = type->kind;
            return true;
        }
        // Only lead words before the type word.
        if (std::find(std::begin(LeadWords), std::end(LeadWords), w) == std::end(LeadWords) &&
            order == StatedOrder::Any && w != "endian")
            break;
    }
    return found;
}

// A maximum value of 2^k - 1 right after two or more numbers on their own
// ("256 256\n65535"): voxels of the fewest whole bytes that hold it.
bool maximumAfterDims(std::string_view text, std::size_t i, std::size_t j, std::size_t runStart, StatedType& out)
{
    std::uint64_t v = 0;
    for (std::size_t k = i; k < j; ++k)
        v = v * 10 + static_cast<std::uint64_t>(text[k] - '0');
    int bits = 0;
    while (bits < 33 && (std::uint64_t{1} << bits) - 1 < v)
        ++bits;
    if (bits < 8 || bits > 32 || (std::uint64_t{1} << bits) - 1 != v)
        return false;
    // Two numbers before it, separated only by blanks.
    std::size_t k = i;
    for (int numbers = 0; numbers < 2; ++numbers) {
        std::size_t blank = k;
        while (blank > runStart && (text[blank - 1] == ' ' || text[blank - 1] == '\t' || text[blank - 1] == '\n' ||
                                    text[blank - 1] == '\r'))
            --blank;
        if (blank == k || blank == runStart || !digit(text[blank - 1]))
            return false;
        k = blank;
        while (k > runStart && digit(text[k - 1]))
            --k;
        if (k > runStart && (alnum(text[k - 1]) || text[k - 1] == '.' || text[k - 1] == '-'))
            return false;
    }
    if (i - k > MaxValueSpan)
        return false;
    out.width = bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
    out.kind = bits == 8 || bits == 16 || bits == 32 ? StatedKind::Unsigned : StatedKind::Integer;
    return true;
}

void readRun(std::string_view text, std::size_t runStart, std::size_t runEnd, std::int64_t at,
             std::vector<StatedType>& out, std::size_t maxStatements)
{
    const std::int64_t textEnd = runEnd < text.size() ? at + static_cast<std::int64_t>(runEnd) : -1;
    const auto add = [&](StatedType s, std::size_t offset) {
        if (out.size() < maxStatements) {
            s.offset = at + static_cast<std::int64_t>(offset);
            s.textEnd = textEnd;
            out.push_back(s);
        }
    };
    for (std::size_t i = runStart; i < runEnd && out.size() < maxStatements; ++i) {
        const char c = text[i];
        StatedType s;
        if (c == '=' || c == ':') {
            const std::string key = keyBefore(text, runStart, i);
            if (!key.empty() && readValue(text.substr(0, runEnd), i + 1, runEnd, key, s))
                add(s, i);
        } else if ((c == '<' || c == '>' || c == '|') && (i == runStart || !alnum(text[i - 1]))) {
            const std::size_t length = typeCode(text.substr(0, runEnd), i, s);
            if (length > 0) {
                add(s, i);
                i += length - 1;
            }
        } else if (alnum(c) && (i == runStart || !alnum(text[i - 1]))) {
            std::size_t j = i;
            while (j < runEnd && alnum(text[j]))
                ++j;
            const std::string_view word = text.substr(i, j - i);
            if (std::all_of(word.begin(), word.end(), digit)) {
                if (maximumAfterDims(text, i, j, runStart, s))
                    add(s, i);
            } else {
                std::string key;
                for (const char k : word)
                    key += lower(k);
                std::size_t v = j;
                while (v < runEnd && (text[v] == ' ' || text[v] == '\t' || text[v] == '-' || text[v] == '_'))
                    ++v;
                const std::vector<std::string> next = wordsIn(text.substr(0, runEnd), v, runEnd, 1);
                if ((key == "big" || key == "little") && v > j && !next.empty() && next[0] == "endian") {
                    // "little endian", "big-endian" anywhere.
                    s.order = key == "big" ? StatedOrder::Big : StatedOrder::Little;
                    add(s, i);
                } else if (v > j && v < runEnd && text[v] != '=' && text[v] != ':' &&
                           (bitKey(key) || contains(key, "type") || contains(key, "endian")) &&
                           readValue(text.substr(0, runEnd), v, runEnd, key, s)) {
                    // "bits 16", "endian big": a key and its value after blanks.
                    add(s, i);
                }
            }
            i = j - 1;
        }
    }
}

// The statement of one part (states) that speaks for data after header
// bytes: of the last header's statements before it (those within OneHeader
// before the last statement there), the last; when none lies before, the
// first of those near the file's first statement.
const StatedType* chosen(const std::vector<StatedType>& statements, std::int64_t header,
                         bool (*states)(const StatedType&))
{
    if (statements.empty())
        return nullptr;
    if (statements.front().offset >= header) {
        for (const StatedType& s : statements) {
            if (s.offset - statements.front().offset > OneHeader)
                break;
            if (states(s))
                return &s;
        }
        return nullptr;
    }
    std::size_t last = 0;
    while (last + 1 < statements.size() && statements[last + 1].offset < header)
        ++last;
    for (std::size_t i = last + 1; i-- > 0 && statements[last].offset - statements[i].offset <= OneHeader;)
        if (states(statements[i]))
            return &statements[i];
    return nullptr;
}

bool statesWidth(const StatedType& s)
{
    return s.width > 0;
}

bool statesKind(const StatedType& s)
{
    return s.kind != StatedKind::Any;
}

bool statesOrder(const StatedType& s)
{
    return s.order != StatedOrder::Any;
}

} // namespace

std::vector<StatedType> statedTypes(std::span<const std::uint8_t> bytes, std::int64_t at, std::size_t maxStatements)
{
    std::vector<StatedType> out;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Each run of text bytes at least MinRun long. (Binary data mixes text
    // and other bytes at random: one pass without a branch on either kind.)
    static const std::array<bool, 256> isText = [] {
        std::array<bool, 256> t{};
        for (std::size_t b = 0; b < t.size(); ++b)
            t[b] = textByte(static_cast<std::uint8_t>(b));
        return t;
    }();
    std::size_t run = 0; // text bytes just before k
    for (std::size_t k = 0; k <= bytes.size(); ++k) {
        const std::size_t inRun = k < bytes.size() ? isText[bytes[k]] : 0;
        if ((run >= MinRun) & (inRun == 0)) {
            readRun(text, k - run, k, at, out, maxStatements);
            if (out.size() >= maxStatements)
                break;
        }
        run = (run + 1) & (0 - inRun); // 0 after any other byte
    }
    return out;
}

bool readsStatedType(const std::vector<StatedType>& statements, const VolumeLayout& l)
{
    const std::int64_t end = l.headerBytes + layoutDataBytes(l);
    return std::any_of(statements.begin(), statements.end(), [&](const StatedType& t) {
        return (t.offset >= l.headerBytes && t.offset < end) ||
               (t.offset < l.headerBytes && t.textEnd - l.headerBytes > PrintableDataBytes);
    });
}

int statedWidth(const std::vector<StatedType>& statements, std::int64_t header)
{
    const StatedType* s = chosen(statements, header, statesWidth);
    return s ? s->width : 0;
}

double statedTypeFactor(const std::vector<StatedType>& statements, const VolumeLayout& l, bool signAlike)
{
    const VoxelTypeInfo* info = voxelTypeInfo(l.dataType);
    if (!info || statements.empty())
        return 1.0;
    double factor = 1.0;
    const int width = statedWidth(statements, l.headerBytes);
    if (width > 0 && width != info->bytes)
        factor *= WidthDiffers;
    if (const StatedType* k = chosen(statements, l.headerBytes, statesKind)) {
        if ((k->kind == StatedKind::Float) != info->isFloat)
            factor *= KindDiffers;
        else if (!signAlike && ((k->kind == StatedKind::Signed && !info->isSigned) ||
                                (k->kind == StatedKind::Unsigned && info->isSigned)))
            factor *= SignDiffers;
    }
    if (const StatedType* o = chosen(statements, l.headerBytes, statesOrder); o && info->bytes > 1)
        if ((o->order == StatedOrder::Big) != (l.byteOrder == boBigEndian))
            factor *= OrderDiffers;
    return factor;
}

} // namespace GuessDetail
