// Fuzzes the file-name hint parser: any name, any bytes, must parse without
// a fault, and every hint it gives must be within its stated bounds.

#include "layout/NameHints.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const NameHints hints = parseNameHints(name);
    for (const NameHints::Dims& t : hints.triples) {
        for (const std::int64_t d : t.dims)
            if (d < 1 || d > 1000000000)
                std::abort();
        if (t.volumes < 1 || t.volumes > 1000000000)
            std::abort();
    }
    for (const auto& p : hints.pairs)
        for (const std::int64_t d : p)
            if (d < 1 || d > 1000000000)
                std::abort();
    if (hints.dataType && (hints.typeConflict || *hints.dataType >= VoxelTypeCount))
        std::abort();
    if (hints.byteOrder && hints.orderConflict)
        std::abort();
    return 0;
}
