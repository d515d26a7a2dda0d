#include "layout/GuessDecode.h"

#include <algorithm>
#include <limits>

namespace GuessDetail
{
namespace
{

// The loop for one type and order, both template arguments, so that
// voxelValue's choice of decoding is made once per run.
template<TVoxelDataType Type, bool BigEndian>
__attribute__((flatten)) void decodeLoop(const std::uint8_t* p, const std::int64_t* offsets, std::size_t n, double* out)
{
    constexpr std::size_t Width = static_cast<std::size_t>(VoxelTypes[Type].bytes);
    const auto sane = [](double v) {
        // Integers (at most 32 bits) are always within the bounds.
        if constexpr (!VoxelTypes[Type].isFloat)
            return v;
        const double a = v < 0.0 ? -v : v;
        return (a <= MaxSaneMagnitude && (a == 0.0 || a >= MinSaneMagnitude)) ? v : std::numeric_limits<double>::quiet_NaN();
    };
    if (offsets) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = sane(voxelValue(p + offsets[i], Type, BigEndian));
    } else {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = sane(voxelValue(p + i * Width, Type, BigEndian));
    }
}

} // namespace

void decodeAt(const std::uint8_t* p, const std::int64_t* offsets, std::size_t n, const Decoding& d, double* out)
{
    withVoxelType(
        d.type,
        [&](auto type) {
            if (d.bigEndian())
                decodeLoop<decltype(type)::value, true>(p, offsets, n, out);
            else
                decodeLoop<decltype(type)::value, false>(p, offsets, n, out);
        },
        [&] { std::fill(out, out + n, 0.0); });
}

std::vector<double> decodeRun(std::span<const std::uint8_t> bytes, std::int64_t at, const Decoding& d,
                              std::size_t limit)
{
    const std::int64_t skip = d.skipFrom(at);
    std::vector<double> values;
    if (static_cast<std::int64_t>(bytes.size()) <= skip)
        return values;
    const std::size_t n =
        std::min(limit, (bytes.size() - static_cast<std::size_t>(skip)) / static_cast<std::size_t>(d.width));
    values.resize(n);
    decodeInto(bytes.data() + skip, n, d, values.data());
    return values;
}

} // namespace GuessDetail

namespace GuessDetail
{

bool Decoding::signTwinOf(const Decoding& o) const
{
    const VoxelTypeInfo* a = voxelTypeInfo(type);
    const VoxelTypeInfo* b = voxelTypeInfo(o.type);
    return a && b && !a->isFloat && !b->isFloat && a->isSigned != b->isSigned && width == o.width &&
           (width == 1 || order == o.order) && phase == o.phase;
}

std::string decodingWords(const Decoding& d)
{
    std::string s(voxelTypeInfo(d.type)->shortName);
    if (d.width > 1)
        s += d.order == boBigEndian ? " big-endian" : " little-endian";
    return s;
}

std::string signTwinWords(const Decoding& d)
{
    for (const VoxelTypeInfo& info : VoxelTypes)
        if (!info.isFloat && info.bytes == d.width && info.isSigned != voxelTypeInfo(d.type)->isSigned)
            return std::string(info.shortName);
    return {};
}

} // namespace GuessDetail
