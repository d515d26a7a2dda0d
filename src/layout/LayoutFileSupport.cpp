#include "layout/LayoutFileSupport.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace LayoutFileSupport {

namespace {

// Closes a POSIX descriptor at scope exit.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

std::string displayName(const std::string& path)
{
    return path;
}

void refuse(const std::string& text)
{
    throw LayoutFileError(text);
}

void cannotWrite(const std::string& path, const std::string& why)
{
    throw LayoutFileError("Cannot write " + path + ": " + why);
}

std::string readPrefix(const std::string& path, std::size_t maxBytes)
{
    // O_NONBLOCK: a FIFO named like a header must not hang the caller.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        refuse(displayName(path) + " cannot be read: " + std::strerror(errno));
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        refuse(displayName(path) + " cannot be read: it is not a regular file");
    std::string bytes(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            refuse(displayName(path) + " cannot be read: " + std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

std::string readUnpackedPrefix(const std::string& path, std::size_t maxBytes)
{
    if (!startsWithGzipMagic(path))
        return readPrefix(path, maxBytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        refuse(displayName(path) + " cannot be read: " + std::strerror(errno));
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        refuse(displayName(path) + " cannot be read: it is not a regular file");
    }
    // gzdopen takes the descriptor over (gzclose closes it).
    gzFile file = ::gzdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        throw std::bad_alloc();
    }
    std::string bytes(maxBytes, '\0');
    std::size_t got = 0;
    // In small steps: a step that meets damage gives nothing, the steps
    // before it stay.
    constexpr std::size_t Step = 4096;
    while (got < maxBytes) {
        const auto want = static_cast<unsigned>(std::min(Step, maxBytes - got));
        const int n = ::gzread(file, bytes.data() + got, want);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::gzclose(file);
    bytes.resize(got);
    return bytes;
}

std::int64_t checkDataFile(const std::string& layoutPath, const std::string& dataPath)
{
    struct stat st{};
    if (::stat(dataPath.c_str(), &st) != 0)
        refuse(displayName(layoutPath) + ": its data file " + dataPath + " does not exist");
    if (S_ISDIR(st.st_mode))
        refuse(displayName(layoutPath) + ": its data file " + dataPath + " is a folder, not a file");
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        refuse(displayName(layoutPath) + ": its data file " + dataPath + " is not a regular file");
    if (S_ISBLK(st.st_mode)) {
        Fd fd(::open(dataPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        const off_t end = fd.get() >= 0 ? ::lseek(fd.get(), 0, SEEK_END) : -1;
        return end > 0 ? static_cast<std::int64_t>(end) : 0;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::string resolveDataPath(const std::string& layoutPath, const std::string& name)
{
    const std::filesystem::path given(name);
    if (given.is_absolute())
        return given.lexically_normal().string();
    const std::filesystem::path folder = std::filesystem::path(layoutPath).parent_path();
    return (folder / given).lexically_normal().string();
}

bool startsWithGzipMagic(const std::string& path)
{
    return startsWithGzipMagicAt(path, 0);
}

bool startsWithGzipMagicAt(const std::string& path, std::int64_t offset)
{
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    unsigned char magic[2]{};
    return fd.get() >= 0 && offset >= 0 && ::pread(fd.get(), magic, 2, static_cast<off_t>(offset)) == 2 &&
           magic[0] == 0x1F && magic[1] == 0x8B;
}

std::optional<std::int64_t> parseInt64(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view trim(std::string_view text)
{
    constexpr std::string_view Blank = " \t\r\f\v";
    const std::size_t first = text.find_first_not_of(Blank);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(Blank);
    return text.substr(first, last - first + 1);
}

void setDimensions(const std::string& layoutPath, const std::int64_t* sizes, std::size_t count,
                   VolumeLayout& layout)
{
    std::size_t real = count;
    while (real > 4 && sizes[real - 1] == 1)
        --real;
    if (real > 4)
        refuse(displayName(layoutPath) + " has " + std::to_string(count) +
               " dimensions; Kelvox shows at most four");
    for (std::size_t i = 0; i < count; ++i) {
        if (sizes[i] < 1)
            refuse(displayName(layoutPath) + " gives axis " + std::to_string(i + 1) + " the size " +
                   std::to_string(sizes[i]) + "; every size must be at least 1");
    }
    layout.dims = {1, 1, 1};
    layout.volumes = 1;
    for (std::size_t i = 0; i < real && i < 3; ++i)
        layout.dims[i] = sizes[i];
    if (real == 4)
        layout.volumes = sizes[3];
    if (layoutDataBytes(layout) < 0)
        refuse(displayName(layoutPath) + " states sizes whose bytes exceed what a file can hold");
}

std::int64_t headerBytesForDataAtEnd(const std::string& layoutPath, std::int64_t fileSize,
                                     const VolumeLayout& layout)
{
    const std::int64_t dataBytes = layoutDataBytes(layout);
    if (dataBytes < 0 || dataBytes > fileSize)
        refuse(displayName(layoutPath) + ": its data file is smaller than the voxels it states");
    return fileSize - dataBytes;
}

} // namespace LayoutFileSupport
