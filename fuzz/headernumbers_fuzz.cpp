// Fuzzes the reading of the numbers and the type a header states: arbitrary
// bytes as a file's head at an arbitrary offset of a file of an arbitrary
// size. It must never fault, every place must fit in the file without
// covering its statement, with a credence in 0.5 .. 1, and every stated type
// must lie in the bytes and state a voxel width, with factors in (0, 1]. The
// same bytes as a whole file of one repeated value must read as a square-ish
// slice that fills it.

#include "layout/GuessHeaderNumbers.h"
#include "layout/GuessStatedLayouts.h"
#include "layout/GuessStatedType.h"
#include "layout/GuessUniform.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace GuessDetail;
    if (size < 8)
        return 0;
    // The first eight bytes: the file's size (scaled) and the head's offset.
    std::uint32_t sizeBits = 0;
    std::uint32_t atBits = 0;
    std::memcpy(&sizeBits, data, 4);
    std::memcpy(&atBits, data + 4, 4);
    const std::span<const std::uint8_t> bytes(data + 8, size - 8);
    const std::int64_t at = atBits % 4096;
    const std::int64_t fileSize = at + static_cast<std::int64_t>(bytes.size()) + static_cast<std::int64_t>(sizeBits);
    const std::vector<StatedNumber> numbers = statedNumbers(bytes, at, fileSize, true, 4096);
    for (const StatedNumber& n : numbers)
        if (n.value < 1 || n.value > fileSize || n.offset < at || n.end > at + static_cast<std::int64_t>(bytes.size()))
            std::abort();
    const std::vector<StatedType> types = statedTypes(bytes, at, 64);
    for (const StatedType& t : types) {
        if (t.offset < at || t.offset >= at + static_cast<std::int64_t>(bytes.size()) ||
            (t.width != 0 && t.width != 1 && t.width != 2 && t.width != 4 && t.width != 8))
            std::abort();
        for (const VoxelTypeInfo& info : VoxelTypes) {
            VolumeLayout l;
            l.dataType = info.type;
            l.headerBytes = t.offset;
            const double f = statedTypeFactor(types, l);
            if (!(f > 0.0 && f <= 1.0))
                std::abort();
        }
    }
    const std::vector<StatedDims> statements = statedDims(numbers, 512);
    DataStart start;
    start.offset = start.afterPadding = static_cast<std::int64_t>(sizeBits % 8192);
    start.precision = 8;
    start.end = start.endBeforePadding = fileSize;
    for (const int width : {1, 2, 4, 8}) {
        const auto edgeAt = [&](std::int64_t h) { return h % 512 == 0; };
        for (const StatedPlace& p : placeStatedDims(statements, numbers, fileSize, width, start, edgeAt, 16)) {
            std::int64_t data = 0;
            if (p.header < 0 || p.volumes < 1 || p.dims[0] < 2 || p.dims[1] < 2 || p.dims[2] < 1 ||
                __builtin_mul_overflow(p.dims[0] * p.dims[1], p.dims[2] * p.volumes * width, &data) ||
                p.header + data > fileSize || (p.header < p.statedEnd && p.header + data > p.statedAt) ||
                !(p.credence > 0.5 && p.credence <= 1.0))
                std::abort();
        }
    }
    // A file of the bytes repeated (uniform when they repeat a short pattern).
    std::vector<std::uint8_t> file;
    for (int k = 0; k < 64 && file.size() < (1U << 16); ++k)
        file.insert(file.end(), bytes.begin(), bytes.end());
    const MemoryLayoutSource source(file.data(), file.size());
    Sampler sampler(source);
    for (const UniformReading& r : uniformReadings(sampler, 4))
        if (r.slice[0] < r.slice[1] || r.slice[1] < 2 ||
            r.slice[0] * r.slice[1] * r.decoding.width != static_cast<std::int64_t>(file.size()))
            std::abort();
    return 0;
}
