#include "volume/VolumeFile.h"

#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

VolumeFile::VolumeFile(const std::string& path)
{
    const std::runtime_error refused("Cannot open file " + path);

    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. What the descriptor turns out to be is checked with fstat, not
    // with an earlier stat of the path, which another program may replace.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw refused;

    struct stat st{};
    const bool accepted = ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
    if (!accepted) {
        ::close(fd);
        throw refused;
    }
    // Regular files and block devices read as usual once open.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        ::close(fd);
        throw refused;
    }
    m_fd = fd;
}

VolumeFile::~VolumeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t VolumeFile::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0 || count == 0)
        return 0;
    // No file reaches the end of the 64-bit range; the positions summed
    // below must not pass it either.
    const auto room = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - offset);
    if (count > room)
        count = static_cast<std::size_t>(room);
    std::size_t obtained = 0;
    while (obtained < count) {
        const ssize_t n = ::pread(m_fd, dest + obtained, count - obtained,
                                  static_cast<off_t>(offset) + static_cast<off_t>(obtained));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return 0; // a read that fails gives no bytes
        }
        if (n == 0)
            break; // end of file
        obtained += static_cast<std::size_t>(n);
    }
    return obtained;
}
