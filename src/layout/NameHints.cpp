#include "layout/NameHints.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace
{

constexpr std::int64_t MaxNameNumber = 1000000000;

struct TypeWord
{
    std::string_view word;
    TVoxelDataType type;
};

constexpr std::array<TypeWord, 24> TypeWords{{
    {"u8", vdtByte},       {"uint8", vdtByte},     {"uchar", vdtByte},     {"byte", vdtByte},
    {"i8", vdtInt8},       {"int8", vdtInt8},      {"i16", vdtInt16},      {"int16", vdtInt16},
    {"short", vdtInt16},   {"u16", vdtUInt16},     {"uint16", vdtUInt16},  {"ushort", vdtUInt16},
    {"i32", vdtInt32},     {"int32", vdtInt32},    {"int", vdtInt32},      {"u32", vdtUInt32},
    {"uint32", vdtUInt32}, {"f32", vdtFloat32},    {"float", vdtFloat32},  {"float32", vdtFloat32},
    {"real", vdtFloat32},  {"f64", vdtFloat64},    {"double", vdtFloat64}, {"float64", vdtFloat64},
}};

struct OrderWord
{
    std::string_view word;
    TByteOrder order;
};

constexpr std::array<OrderWord, 6> OrderWords{{
    {"le", boLittleEndian},
    {"little", boLittleEndian},
    {"lsb", boLittleEndian},
    {"be", boBigEndian},
    {"big", boBigEndian},
    {"msb", boBigEndian},
}};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isAlnum(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z');
}

// The numbers of a token "256" or "256x256x108"; false when the token is
// anything else.
bool numbersOf(std::string_view token, std::vector<std::int64_t>& numbers)
{
    numbers.clear();
    std::size_t pos = 0;
    while (true) {
        if (pos >= token.size() || !isDigit(token[pos]))
            return false;
        std::int64_t value = 0;
        while (pos < token.size() && isDigit(token[pos])) {
            // Saturates just above the limit so the value stays bounded.
            value = std::min(value * 10 + (token[pos] - '0'), MaxNameNumber + 1);
            ++pos;
        }
        numbers.push_back(value);
        if (pos == token.size())
            return true;
        if (token[pos] != 'x')
            return false;
        ++pos;
    }
}

// Turns one run of numbers into dimension hints.
void addRun(const std::vector<std::int64_t>& run, NameHints& hints)
{
    const std::size_t n = run.size();
    if (n == 2) {
        hints.pairs.push_back({run[0], run[1]});
    } else if (n == 3) {
        hints.triples.push_back({{run[0], run[1], run[2]}, 1});
    } else if (n == 4) {
        // "64x64x32x2": three dimensions and volumes, unless the first
        // number belongs to something else ("1_256x256x108").
        hints.triples.push_back({{run[0], run[1], run[2]}, run[3]});
        hints.triples.push_back({{run[1], run[2], run[3]}, 1});
    } else if (n > 4) {
        for (std::size_t i = 0; i + 3 <= n; ++i)
            hints.triples.push_back({{run[i], run[i + 1], run[i + 2]}, 1});
    }
}

} // namespace

NameHints parseNameHints(std::string_view fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    std::string name(fileName);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });

    NameHints hints;
    std::vector<TVoxelDataType> types;
    std::vector<TByteOrder> orders;
    std::vector<std::int64_t> run;
    const auto endRun = [&] {
        addRun(run, hints);
        run.clear();
    };

    std::vector<std::int64_t> numbers;
    std::size_t pos = 0;
    while (pos < name.size()) {
        if (!isAlnum(name[pos])) {
            // '_', '-', '.', blanks and any other character separate words
            // and numbers without ending a run of numbers.
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < name.size() && isAlnum(name[end]))
            ++end;
        const std::string_view token(name.data() + pos, end - pos);
        pos = end;

        if (token == "x")
            continue; // "256 x 256"
        if (numbersOf(token, numbers)) {
            for (const std::int64_t n : numbers) {
                if (n < 1 || n > MaxNameNumber)
                    endRun();
                else
                    run.push_back(n);
            }
            continue;
        }
        endRun();
        for (const TypeWord& w : TypeWords)
            if (token == w.word)
                types.push_back(w.type);
        for (const OrderWord& w : OrderWords)
            if (token == w.word)
                orders.push_back(w.order);
        // A type word with an order word glued on: "i16le", "float32be".
        for (const TypeWord& t : TypeWords)
            for (const OrderWord& o : OrderWords)
                if (token.size() == t.word.size() + o.word.size() && token.starts_with(t.word) &&
                    token.ends_with(o.word)) {
                    types.push_back(t.type);
                    orders.push_back(o.order);
                }
    }
    endRun();

    if (!types.empty()) {
        if (std::all_of(types.begin(), types.end(), [&](TVoxelDataType t) { return t == types.front(); }))
            hints.dataType = types.front();
        else
            hints.typeConflict = true;
    }
    if (!orders.empty()) {
        if (std::all_of(orders.begin(), orders.end(), [&](TByteOrder o) { return o == orders.front(); }))
            hints.byteOrder = orders.front();
        else
            hints.orderConflict = true;
    }
    return hints;
}
