#include "volume/VolumeFile.h"

#include <stdexcept>

VolumeFile::VolumeFile(const std::string& path)
{
    // TODO(vol): skeleton until the file layer lands in the next commit.
    throw std::runtime_error("Cannot open file " + path);
}

VolumeFile::~VolumeFile() = default;

std::size_t VolumeFile::readAt(std::int32_t, std::uint8_t*, std::size_t) const
{
    return 0;
}
