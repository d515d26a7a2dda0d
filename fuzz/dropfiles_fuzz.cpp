// CF_HDROP blocks: the DROPFILES reader never reads outside the block.

#include "dragdrop/DragDropFile.h"

#include <cstdint>
#include <limits>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return 0;
    }
    // An exact-size copy, so any read past the block is an overflow.
    const std::vector<std::uint8_t> block(data, data + size);
    TFileClipboardFormat format;
    if (format.ReadData(block.data(), static_cast<int>(block.size())) && format.Names.empty()) {
        __builtin_trap();  // accepted without names
    }
    return 0;
}
