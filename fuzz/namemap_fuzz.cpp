// Name-map blocks ("FileNameMap", "FileNameMapW") and the name-list parser.

#include "dragdrop/DragDropFile.h"

#include <cstdint>
#include <limits>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return 0;
    }
    const std::vector<std::uint8_t> block(data, data + size);
    TFilenameMapClipboardFormat narrow;
    narrow.ReadData(block.data(), static_cast<int>(block.size()));
    TFilenameMapWClipboardFormat wide;
    wide.ReadData(block.data(), static_cast<int>(block.size()));
    std::vector<std::string> names;
    ParseNameList(block.data(), block.size(), size % 2 == 0, names);
    return 0;
}
