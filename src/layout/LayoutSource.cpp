#include "layout/LayoutGuess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

FileLayoutSource::FileLayoutSource(const std::string& path)
{
    const std::runtime_error refused("Cannot open file " + path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw refused;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        ::close(fd);
        throw refused;
    }
    m_fd = fd;
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        m_size = end > 0 ? static_cast<std::int64_t>(end) : 0;
    } else {
        m_size = static_cast<std::int64_t>(st.st_size);
    }
}

FileLayoutSource::~FileLayoutSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileLayoutSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0)
        return 0;
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(m_fd, dest + got, count - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

std::size_t MemoryLayoutSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= m_size)
        return 0;
    const std::size_t n = std::min(count, m_size - static_cast<std::size_t>(offset));
    std::memcpy(dest, m_data + offset, n);
    return n;
}
