// Fuzzes the MetaImage header parser: any bytes either give a header whose
// fields hold what the layout needs or a refusal, never a crash or a read
// beyond the text.

#include "layout/MetaImageLayoutFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The text lives in its own allocation of exactly size bytes, so the
    // sanitizer sees any read past its end.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const MetaImageHeader header = parseMetaImageHeader(text, "fuzz.mhd");
        if (header.dimSize.empty() || header.dimSize.size() > 16 || header.textBytes > size ||
            header.dataType >= VoxelTypeCount || header.headerSize < -1 || header.dataFile.empty())
            std::abort();
    } catch (const LayoutFileError&) {
        // A refusal is a valid outcome.
    }
    return 0;
}
