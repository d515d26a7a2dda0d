// Feeds arbitrary bytes to the version-record reader: once as an ELF image
// that may carry the record's section, once as a record block itself. Every
// accepted block is queried from a heap copy of exactly its own size, so any
// read beyond it is caught by AddressSanitizer.
#include "platform/VersionInfo.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

void queryAll(std::span<const std::uint8_t> candidate, std::span<const std::uint8_t> input)
{
    const std::uint32_t size = versioninfo::validBlockSize(candidate);
    if (size == 0) {
        return;
    }
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    std::memcpy(copy.get(), candidate.data(), size);

    // A few fixed paths, and one made of the input's last bytes.
    std::string tail(reinterpret_cast<const char*>(input.data() + input.size() - std::min<std::size_t>(input.size(), 40)),
                     std::min<std::size_t>(input.size(), 40));
    tail.erase(std::find(tail.begin(), tail.end(), '\0'), tail.end());
    for (const char* path : {"\\", "", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\FileDescription",
                             "\\StringFileInfo\\040904E4\\FileVersion", tail.c_str()}) {
        void* value = nullptr;
        UINT len = 0;
        if (VerQueryValueA(copy.get(), path, &value, &len) != FALSE && len > 0) {
            // Touch every byte the reader says belongs to the value.
            const auto* bytes = static_cast<const volatile std::uint8_t*>(value);
            std::uint8_t sum = 0;
            for (UINT i = 0; i < len; ++i) {
                sum = static_cast<std::uint8_t>(sum + bytes[i]);
            }
            static_cast<void>(sum);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    const std::vector<std::uint8_t> section =
        versioninfo::readElfSection(input, VersionSectionName, MaxVersionBlockSize);
    queryAll(section, input);
    queryAll(input, input);
    return 0;
}
