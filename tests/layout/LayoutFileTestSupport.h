#pragma once

#include "support/Commands.h"
#include "support/TempDir.h"
#include "support/ZlibReference.h"
#include "volume/VolumeFile.h"
#include "volume/VoxelType.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace LayoutFileTest {

using ::TempDir;

using ::readFile;
using ::runCommand;
using ::shellQuote;

// The NRRD command-line tool: Debian installs it as teem-unu, upstream as
// unu. Empty when neither is on the PATH.
inline std::string findUnu()
{
    for (const char* name : {"unu", "teem-unu"}) {
        int status = 0;
        runCommand(std::string("command -v ") + name + " >/dev/null 2>&1", status);
        if (status == 0)
            return name;
    }
    return {};
}

// A Python 3 that can import nibabel (the system's first: per-user Python
// installations usually lack the Debian module). Empty when there is none.
inline std::string findNibabelPython()
{
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        int status = 0;
        runCommand(std::string(python) + " -c 'import nibabel' >/dev/null 2>&1", status);
        if (status == 0)
            return python;
    }
    return {};
}

// n voxels of type in the byte order, with values that every type holds
// exactly and whose text form is exact: small integers around 0 (signed
// types go negative), quarters for floats.
inline double testVoxelValue(TVoxelDataType type, std::size_t i)
{
    const VoxelTypeInfo& info = VoxelTypes[type];
    const double step = static_cast<double>(i % 97);
    if (info.isFloat)
        return step * 0.25 - 7.5;
    if (info.isSigned)
        return step - 40.0;
    return info.bytes == 1 ? step * 2.0 : step * 600.0;
}

inline std::string encodeVoxels(TVoxelDataType type, bool bigEndian, std::size_t count)
{
    const VoxelTypeInfo& info = VoxelTypes[type];
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = testVoxelValue(type, i);
        std::uint64_t bits = 0;
        if (info.isFloat && info.bytes == 4) {
            bits = std::bit_cast<std::uint32_t>(static_cast<float>(v));
        } else if (info.isFloat) {
            bits = std::bit_cast<std::uint64_t>(v);
        } else {
            bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        }
        for (int b = 0; b < info.bytes; ++b) {
            const int shift = 8 * (bigEndian ? info.bytes - 1 - b : b);
            bytes += static_cast<char>((bits >> shift) & 0xFF);
        }
    }
    return bytes;
}

// bytes packed as a gzip or zlib stream (the test links zlib); any other
// encoding leaves them as they are.
inline std::string packedBytes(const std::string& bytes, VolumeEncoding encoding)
{
    if (encoding != VolumeEncoding::Gzip && encoding != VolumeEncoding::Zlib)
        return bytes;
    // windowBits 15 + 16: a gzip wrapper; 15: a zlib one.
    const auto packed = deflateWith({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                                    encoding == VolumeEncoding::Gzip ? 31 : 15, 6, Z_DEFAULT_STRATEGY);
    return {packed.begin(), packed.end()};
}

} // namespace LayoutFileTest
