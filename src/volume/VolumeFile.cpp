#include "volume/VolumeFile.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The file's own bytes through pread; closes the descriptor when the last
// handle goes.
class PlainFile final : public ByteSource
{
public:
    explicit PlainFile(int fd) : m_fd(fd) {}
    ~PlainFile() override { ::close(m_fd); }
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;

    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override
    {
        return readBytesAt(m_fd, offset, dest, count);
    }

private:
    int m_fd;
};

// Bytes to read before the index pass to recognise a packer.
constexpr std::size_t MagicBytes = 10;

} // namespace

OpenedBytes openVolumeBytes(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. What the descriptor turns out to be is checked with fstat, not
    // with an earlier stat of the path, which another program may replace.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st{};
    const bool accepted = ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
    // Regular files and block devices read as usual once open.
    const int flags = accepted ? ::fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        ::close(fd);
        return {};
    }
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        return {fd, end > 0 ? static_cast<std::int64_t>(end) : 0};
    }
    return {fd, static_cast<std::int64_t>(st.st_size)};
}

std::size_t readBytesAt(int fd, std::int64_t offset, std::uint8_t* dest, std::size_t count)
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
        const ssize_t n =
            ::pread(fd, dest + obtained, count - obtained, static_cast<off_t>(offset) + static_cast<off_t>(obtained));
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

VolumeFile::VolumeFile(const std::string& path, VolumeEncoding encoding, std::int64_t streamStart,
                       const IndexProgress& progress)
{
    const std::string refusal = "Cannot open file " + path;
    const OpenedBytes opened = openVolumeBytes(path);
    if (opened.fd < 0)
        throw std::runtime_error(refusal);
    m_file = std::make_shared<PlainFile>(opened.fd);
    m_fileSize = opened.size;
    if (encoding == VolumeEncoding::Raw)
        return;
    streamStart = std::max<std::int64_t>(streamStart, 0);

    std::uint8_t head[MagicBytes]{};
    const std::size_t got = m_file->readAt(streamStart, head, sizeof head);
    if (encoding == VolumeEncoding::Detect) {
        const char* packer = compressionOf(head, got);
        if (!packer)
            return;
        if (std::string_view(packer) != "gzip")
            throw std::runtime_error(refusal + ": it is compressed with " + packer + ", which Kelvox cannot unpack");
    }
    const GzipWrapper wrapper = encoding == VolumeEncoding::Zlib ? GzipWrapper::Zlib : GzipWrapper::Gzip;
    try {
        m_unpacked = std::make_shared<GzipStream>(m_file, streamStart, m_fileSize, wrapper, progress);
    } catch (const IndexCancelled&) {
        throw;
    } catch (const std::runtime_error& notPacked) {
        // A raw file whose first bytes happen to match the gzip magic.
        if (encoding == VolumeEncoding::Detect)
            return;
        throw std::runtime_error(refusal + ": " + notPacked.what());
    }
    m_encoding = wrapper == GzipWrapper::Zlib ? VolumeEncoding::Zlib : VolumeEncoding::Gzip;
    m_streamStart = streamStart;
}

VolumeFile::~VolumeFile() = default;

std::unique_ptr<VolumeFile> VolumeFile::share() const
{
    std::unique_ptr<VolumeFile> other(new VolumeFile);
    other->m_file = m_file;
    other->m_unpacked = m_unpacked;
    other->m_encoding = m_encoding;
    other->m_streamStart = m_streamStart;
    other->m_fileSize = m_fileSize;
    return other;
}

std::size_t VolumeFile::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    return m_unpacked ? m_unpacked->readAt(offset, dest, count) : m_file->readAt(offset, dest, count);
}

std::int64_t VolumeFile::size() const
{
    return m_unpacked ? m_unpacked->size() : m_fileSize;
}

std::string VolumeFile::damage() const
{
    return m_unpacked ? m_unpacked->damage() : std::string();
}

std::string unpackedNote(const VolumeFile& file)
{
    if (file.encoding() == VolumeEncoding::Raw)
        return {};
    std::string note = file.encoding() == VolumeEncoding::Zlib ? "zlib, shown unpacked" : "gzip, shown unpacked";
    const std::string damage = file.damage();
    if (!damage.empty())
        note += "; " + damage + " after " + std::to_string(file.size()) + " unpacked bytes";
    return note;
}
