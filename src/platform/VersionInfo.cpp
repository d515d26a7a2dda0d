#include "platform/VersionInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace versioninfo {
namespace {

constexpr std::array<std::uint8_t, 8> Magic{'K', 'V', 'X', 'V', 'I', 'N', 'F', '1'};
constexpr std::size_t HeaderSize = 16;
constexpr std::size_t EntryHeaderSize = 8;
constexpr std::size_t MaxPathLength = 255;
constexpr std::uint16_t KindBinary = 0;
constexpr std::uint16_t KindText = 1;

// Limits on what an ELF file may make us read for its section headers and
// section-name table; real executables stay far below them.
constexpr std::uint64_t MaxSectionHeaderBytes = 16u * 1024 * 1024;
constexpr std::uint64_t MaxNameTableBytes = 1024u * 1024;
constexpr std::uint32_t SectionTypeNoBits = 8;
constexpr std::uint16_t SectionIndexExtended = 0xFFFF;

std::uint16_t readLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void appendLe16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
    }
}

void putLe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
    }
}

constexpr std::uint64_t alignUp4(std::uint64_t v)
{
    return (v + 3) & ~std::uint64_t{3};
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool samePath(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// One entry located inside a block; offsets are relative to the block start.
struct EntryView
{
    std::size_t pathOffset = 0;
    std::size_t pathLength = 0;
    std::size_t valueOffset = 0;
    std::uint32_t valueLength = 0;
    bool text = false;
};

// Walks the entries of bytes[0, size); calls visit for each entry and stops
// early when it returns true. Returns false as soon as anything lies outside
// the block or breaks the format.
template <typename Visit>
bool walkEntries(std::span<const std::uint8_t> bytes, std::uint32_t size, Visit visit)
{
    const std::uint32_t count = readLe32(bytes.data() + 12);
    std::uint64_t at = HeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + EntryHeaderSize > size) {
            return false;
        }
        const std::uint8_t* head = bytes.data() + at;
        EntryView entry;
        entry.pathLength = readLe16(head);
        const std::uint16_t kind = readLe16(head + 2);
        entry.valueLength = readLe32(head + 4);
        if (entry.pathLength == 0 || entry.pathLength > MaxPathLength || (kind != KindBinary && kind != KindText)) {
            return false;
        }
        entry.text = kind == KindText;
        entry.pathOffset = static_cast<std::size_t>(at + EntryHeaderSize);
        const std::uint64_t valueOffset = at + EntryHeaderSize + entry.pathLength;
        const std::uint64_t valueEnd = valueOffset + entry.valueLength;
        if (valueEnd > size || alignUp4(valueEnd) > size) {
            return false;
        }
        entry.valueOffset = static_cast<std::size_t>(valueOffset);
        if (entry.text && (entry.valueLength == 0 || bytes[static_cast<std::size_t>(valueEnd - 1)] != 0)) {
            return false;
        }
        if (visit(entry)) {
            return true;
        }
        at = alignUp4(valueEnd);
    }
    return true;
}

// Reads a header field of an ELF image in the image's own byte order.
class ElfFields
{
public:
    explicit ElfFields(bool bigEndian)
        : m_bigEndian(bigEndian)
    {
    }

    std::uint64_t get(const std::uint8_t* p, std::size_t width) const
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t index = m_bigEndian ? i : width - 1 - i;
            v = (v << 8) | p[index];
        }
        return v;
    }

private:
    bool m_bigEndian;
};

// Where the fields of the ELF header and section headers sit, per class.
struct ElfLayout
{
    std::size_t headerSize;
    std::size_t shoffAt, shoffWidth;
    std::size_t shentsizeAt, shnumAt, shstrndxAt;
    std::size_t minShentsize;
    std::size_t nameAt, typeAt, offsetAt, sizeAt, linkAt, wordWidth;
};

constexpr ElfLayout Elf32{52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 0, 4, 16, 20, 24, 4};
constexpr ElfLayout Elf64{64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 0, 4, 24, 32, 40, 8};

bool readChecked(ReadAt readAt, void* context, std::uint64_t fileSize, std::uint64_t offset, std::uint64_t size,
                 std::vector<std::uint8_t>& out)
{
    if (offset > fileSize || size > fileSize - offset) {
        return false;
    }
    out.resize(static_cast<std::size_t>(size));
    return size == 0 || readAt(context, offset, static_cast<std::size_t>(size), out.data());
}

struct MemoryImage
{
    std::span<const std::uint8_t> bytes;
};

bool readFromMemory(void* context, std::uint64_t offset, std::size_t size, void* destination)
{
    const auto* image = static_cast<const MemoryImage*>(context);
    if (offset > image->bytes.size() || size > image->bytes.size() - offset) {
        return false;
    }
    std::memcpy(destination, image->bytes.data() + offset, size);
    return true;
}

struct OpenFile
{
    int fd = -1;
    ~OpenFile()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

bool readFromFile(void* context, std::uint64_t offset, std::size_t size, void* destination)
{
    const int fd = static_cast<const OpenFile*>(context)->fd;
    auto* out = static_cast<std::uint8_t*>(destination);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// The validated version block of the file at path, empty when there is none.
std::vector<std::uint8_t> readBlockOfFile(const char* path)
{
    if (path == nullptr) {
        return {};
    }
    // Never block on a FIFO or device: open without waiting, accept regular files only.
    OpenFile file;
    file.fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info{};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return {};
    }
    std::vector<std::uint8_t> section = readElfSection(&readFromFile, &file, static_cast<std::uint64_t>(info.st_size),
                                                       VersionSectionName, MaxVersionBlockSize);
    const std::uint32_t size = validBlockSize(section);
    section.resize(size);
    return section;
}

} // namespace

Entry textEntry(std::string path, std::string_view text)
{
    Entry entry{std::move(path), std::vector<std::uint8_t>(text.begin(), text.end()), true};
    entry.value.push_back(0);
    return entry;
}

Entry fixedInfoEntry(const VsFixedFileInfo& info)
{
    Entry entry{"\\", {}, false};
    for (const std::uint32_t field :
         {info.dwSignature, info.dwStrucVersion, info.dwFileVersionMS, info.dwFileVersionLS, info.dwProductVersionMS,
          info.dwProductVersionLS, info.dwFileFlagsMask, info.dwFileFlags, info.dwFileOS, info.dwFileType,
          info.dwFileSubtype, info.dwFileDateMS, info.dwFileDateLS}) {
        appendLe32(entry.value, field);
    }
    return entry;
}

Entry translationEntry(std::uint16_t language, std::uint16_t codePage)
{
    Entry entry{"\\VarFileInfo\\Translation", {}, false};
    appendLe16(entry.value, language);
    appendLe16(entry.value, codePage);
    return entry;
}

std::vector<std::uint8_t> buildBlock(const std::vector<Entry>& entries)
{
    std::vector<std::uint8_t> out(Magic.begin(), Magic.end());
    appendLe32(out, 0); // size, patched below
    appendLe32(out, static_cast<std::uint32_t>(entries.size()));
    for (const Entry& entry : entries) {
        if (entry.path.empty() || entry.path.size() > MaxPathLength) {
            throw std::invalid_argument("version entry path must have 1 to 255 characters");
        }
        if (entry.text && (entry.value.empty() || entry.value.back() != 0)) {
            throw std::invalid_argument("version text must end with a zero byte");
        }
        if (entry.value.size() > MaxVersionBlockSize) {
            throw std::invalid_argument("version block too large");
        }
        appendLe16(out, static_cast<std::uint16_t>(entry.path.size()));
        appendLe16(out, entry.text ? KindText : KindBinary);
        appendLe32(out, static_cast<std::uint32_t>(entry.value.size()));
        out.insert(out.end(), entry.path.begin(), entry.path.end());
        out.insert(out.end(), entry.value.begin(), entry.value.end());
        out.resize(static_cast<std::size_t>(alignUp4(out.size())), 0);
        if (out.size() > MaxVersionBlockSize) {
            throw std::invalid_argument("version block too large");
        }
    }
    putLe32(out, 8, static_cast<std::uint32_t>(out.size()));
    return out;
}

std::uint32_t validBlockSize(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < HeaderSize || !std::equal(Magic.begin(), Magic.end(), bytes.begin())) {
        return 0;
    }
    const std::uint32_t size = readLe32(bytes.data() + 8);
    if (size < HeaderSize || size > MaxVersionBlockSize || size > bytes.size()) {
        return 0;
    }
    return walkEntries(bytes, size, [](const EntryView&) { return false; }) ? size : 0;
}

bool queryBlock(std::span<const std::uint8_t> bytes, std::string_view subBlock, std::size_t& valueOffset,
                std::uint32_t& valueLen, bool& text)
{
    const std::uint32_t size = validBlockSize(bytes);
    if (size == 0) {
        return false;
    }
    std::string wanted(subBlock);
    if (wanted.empty() || wanted.front() != '\\') {
        wanted.insert(wanted.begin(), '\\');
    }
    bool found = false;
    walkEntries(bytes, size, [&](const EntryView& entry) {
        const std::string_view path(reinterpret_cast<const char*>(bytes.data() + entry.pathOffset), entry.pathLength);
        if (!samePath(path, wanted)) {
            return false;
        }
        valueOffset = entry.valueOffset;
        valueLen = entry.valueLength;
        text = entry.text;
        found = true;
        return true;
    });
    return found;
}

std::vector<std::uint8_t> readElfSection(ReadAt readAt, void* context, std::uint64_t fileSize, std::string_view name,
                                         std::uint32_t maxSize)
{
    std::vector<std::uint8_t> ident;
    if (!readChecked(readAt, context, fileSize, 0, 16, ident) || ident[0] != 0x7F || ident[1] != 'E'
        || ident[2] != 'L' || ident[3] != 'F' || (ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2)) {
        return {};
    }
    const ElfLayout& layout = ident[4] == 1 ? Elf32 : Elf64;
    const ElfFields field(ident[5] == 2);

    std::vector<std::uint8_t> header;
    if (!readChecked(readAt, context, fileSize, 0, layout.headerSize, header)) {
        return {};
    }
    const std::uint64_t shoff = field.get(&header[layout.shoffAt], layout.shoffWidth);
    const std::uint64_t shentsize = field.get(&header[layout.shentsizeAt], 2);
    std::uint64_t shnum = field.get(&header[layout.shnumAt], 2);
    std::uint64_t shstrndx = field.get(&header[layout.shstrndxAt], 2);
    if (shoff == 0 || shentsize < layout.minShentsize) {
        return {};
    }

    // Section 0 carries the real count and name-table index when they overflow 16 bits.
    std::vector<std::uint8_t> first;
    if (!readChecked(readAt, context, fileSize, shoff, shentsize, first)) {
        return {};
    }
    if (shnum == 0) {
        shnum = field.get(&first[layout.sizeAt], layout.wordWidth);
    }
    if (shstrndx == SectionIndexExtended) {
        shstrndx = field.get(&first[layout.linkAt], 4);
    }
    if (shnum == 0 || shstrndx >= shnum || shnum > MaxSectionHeaderBytes / shentsize) {
        return {};
    }
    std::vector<std::uint8_t> table;
    if (!readChecked(readAt, context, fileSize, shoff, shnum * shentsize, table)) {
        return {};
    }
    const auto sectionField = [&](std::uint64_t index, std::size_t at, std::size_t width) {
        return field.get(&table[static_cast<std::size_t>(index * shentsize + at)], width);
    };

    const std::uint64_t namesOffset = sectionField(shstrndx, layout.offsetAt, layout.wordWidth);
    const std::uint64_t namesSize = sectionField(shstrndx, layout.sizeAt, layout.wordWidth);
    std::vector<std::uint8_t> names;
    if (sectionField(shstrndx, layout.typeAt, 4) == SectionTypeNoBits || namesSize > MaxNameTableBytes
        || !readChecked(readAt, context, fileSize, namesOffset, namesSize, names)) {
        return {};
    }

    for (std::uint64_t index = 1; index < shnum; ++index) {
        const std::uint64_t nameAt = sectionField(index, layout.nameAt, 4);
        if (nameAt >= names.size() || names.size() - nameAt <= name.size()) {
            continue;
        }
        const auto* candidate = names.data() + nameAt;
        if (std::memcmp(candidate, name.data(), name.size()) != 0 || candidate[name.size()] != 0) {
            continue;
        }
        const std::uint64_t offset = sectionField(index, layout.offsetAt, layout.wordWidth);
        const std::uint64_t size = sectionField(index, layout.sizeAt, layout.wordWidth);
        std::vector<std::uint8_t> content;
        if (sectionField(index, layout.typeAt, 4) == SectionTypeNoBits || size > maxSize
            || !readChecked(readAt, context, fileSize, offset, size, content)) {
            return {};
        }
        return content;
    }
    return {};
}

std::vector<std::uint8_t> readElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                         std::uint32_t maxSize)
{
    MemoryImage memory{image};
    return readElfSection(&readFromMemory, &memory, image.size(), name, maxSize);
}

} // namespace versioninfo

DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle)
{
    if (handle != nullptr) {
        *handle = 0;
    }
    return static_cast<DWORD>(versioninfo::readBlockOfFile(path).size());
}

BOOL GetFileVersionInfoA(const char* path, DWORD /*handle*/, DWORD len, void* data)
{
    const std::vector<std::uint8_t> block = versioninfo::readBlockOfFile(path);
    // A partial copy would leave a size field that promises more than the buffer holds.
    if (block.empty() || data == nullptr || len < block.size()) {
        return FALSE;
    }
    std::memcpy(data, block.data(), block.size());
    return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** value, UINT* len)
{
    if (value != nullptr) {
        *value = nullptr;
    }
    if (len != nullptr) {
        *len = 0;
    }
    if (block == nullptr || subBlock == nullptr || value == nullptr || len == nullptr) {
        return FALSE;
    }
    // The block describes its own length; read the header alone first.
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    if (!std::equal(versioninfo::Magic.begin(), versioninfo::Magic.end(), bytes)) {
        return FALSE;
    }
    const std::uint32_t size = versioninfo::readLe32(bytes + 8);
    if (size < versioninfo::HeaderSize || size > MaxVersionBlockSize) {
        return FALSE;
    }
    std::size_t offset = 0;
    std::uint32_t valueLen = 0;
    bool text = false;
    if (!versioninfo::queryBlock(std::span<const std::uint8_t>(bytes, size), subBlock, offset, valueLen, text)) {
        return FALSE;
    }
    // The platform hands out a writable pointer into the caller's block.
    *value = const_cast<std::uint8_t*>(bytes + offset);
    *len = text ? (valueLen > 1 ? valueLen : 0) : valueLen;
    return TRUE;
}
