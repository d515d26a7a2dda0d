// "Shell IDList Array" blocks: counts, offsets and item lists outside the
// block are refused without reading beyond it; every accepted item turns
// into a path (or an empty string) without overruns.

#include "dragdrop/DragDropPIDL.h"

#include <cstdint>
#include <limits>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return 0;
    }
    const std::vector<std::uint8_t> block(data, data + size);
    TPIDLClipboardFormat format;
    if (format.ReadData(block.data(), static_cast<int>(block.size()))) {
        for (int i = 0; i < format.Paths.Count(); ++i) {
            static_cast<void>(format.Paths[i]);
        }
        for (const TItemIdList& list : format.ItemLists) {
            if (ItemListSize(list.data()) != list.size()) {
                __builtin_trap();
            }
        }
    }
    static_cast<void>(ItemListSize(block.data(), block.size()));
    return 0;
}
