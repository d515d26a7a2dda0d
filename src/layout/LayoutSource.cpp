#include "layout/LayoutGuess.h"
#include "volume/ByteSource.h"
#include "volume/VolumeFile.h"

#include <stdexcept>
#include <unistd.h>

FileLayoutSource::FileLayoutSource(const std::string& path)
{
    const OpenedBytes opened = openVolumeBytes(path);
    if (opened.fd < 0)
        throw std::runtime_error("Cannot open file " + path);
    m_fd = opened.fd;
    m_size = opened.size;
}

FileLayoutSource::~FileLayoutSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileLayoutSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    return readBytesAt(m_fd, offset, dest, count);
}

std::size_t MemoryLayoutSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    return MemoryByteSource(m_data, m_size).readAt(offset, dest, count);
}
