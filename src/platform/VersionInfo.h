#pragma once

// Version records of executables: the three version-library operations the
// version reader calls, over a record kept in an ELF section of the file.
//
// The record ("version block") lives in the section named VersionSectionName.
// All integers are little-endian; every record starts on a 4-byte boundary
// relative to the start of the block:
//
//   offset 0   8 bytes  magic "KVXVINF1"
//   offset 8   u32      block size in bytes, header included (16 .. MaxVersionBlockSize)
//   offset 12  u32      number of entries
//   offset 16  entries, each:
//                u16    path length in bytes (1 .. 255, no terminator stored)
//                u16    kind: 0 binary, 1 text
//                u32    value length in bytes (text: includes its terminating zero)
//                path   ASCII sub-block path, e.g. "\StringFileInfo\040904E4\FileVersion"
//                value  the bytes; text ends with exactly one zero byte at its end
//                padding zero bytes up to the next multiple of 4
//
// The root path "\" holds a VsFixedFileInfo, "\VarFileInfo\Translation" the
// (language, code page) pairs as u16 pairs, "\StringFileInfo\<LLLLCCCC>\<key>"
// the strings. Paths compare ASCII case-insensitively.

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char VersionSectionName[] = ".kelvox.version";
inline constexpr std::uint32_t MaxVersionBlockSize = 64 * 1024;

// The fixed part of a version record, served under "\".
struct VsFixedFileInfo
{
    std::uint32_t dwSignature = 0xFEEF04BD;
    std::uint32_t dwStrucVersion = 0x00010000;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
    std::uint32_t dwFileFlagsMask = 0x3F;
    std::uint32_t dwFileFlags = 0;
    std::uint32_t dwFileOS = 4;  // 32-bit Windows
    std::uint32_t dwFileType = 1; // application
    std::uint32_t dwFileSubtype = 0;
    std::uint32_t dwFileDateMS = 0;
    std::uint32_t dwFileDateLS = 0;
};
static_assert(sizeof(VsFixedFileInfo) == 52);

// Size in bytes of the version record in the ELF file at path, 0 when the file cannot
// be read, is not ELF, has no such section or the block in it is malformed.
// *handle (when given) is set to 0.
DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle);

// Copies the record of the file at path into data (len bytes). Non-zero on
// success; 0 when the record cannot be read or is longer than len.
BOOL GetFileVersionInfoA(const char* path, DWORD handle, DWORD len, void* data);

// Looks subBlock up in a block filled by GetFileVersionInfoA. On success
// returns non-zero, sets *value to the value inside the block and *len to its
// length: characters including the terminator for text (0 for an empty
// text), bytes otherwise. On failure returns 0 and sets *value to nullptr and
// *len to 0. The block's own size field bounds every read.
BOOL VerQueryValueA(const void* block, const char* subBlock, void** value, UINT* len);

namespace versioninfo {

// One entry of a block to be written.
struct Entry
{
    std::string path;
    std::vector<std::uint8_t> value;
    bool text = false;
};

Entry textEntry(std::string path, std::string_view text);
Entry fixedInfoEntry(const VsFixedFileInfo& info);
Entry translationEntry(std::uint16_t language, std::uint16_t codePage);

// Serialises entries into a block; throws std::invalid_argument when a path
// or the whole block exceeds the format's limits.
std::vector<std::uint8_t> buildBlock(const std::vector<Entry>& entries);

// Length of the block at the start of bytes (its size field) when its header
// and every entry lie inside bytes and inside that size; 0 otherwise.
std::uint32_t validBlockSize(std::span<const std::uint8_t> bytes);

// Finds subBlock in the validated block bytes; returns false when absent.
bool queryBlock(std::span<const std::uint8_t> bytes, std::string_view subBlock, std::size_t& valueOffset,
                std::uint32_t& valueLen, bool& text);

// Content of the section called name in an ELF image (32/64-bit, either byte
// order) read through readAt(offset, size, destination) -> bool from a file
// of fileSize bytes. Empty when any header is out of bounds, the section is
// absent, of type NOBITS or longer than maxSize.
using ReadAt = bool (*)(void* context, std::uint64_t offset, std::size_t size, void* destination);
std::vector<std::uint8_t> readElfSection(ReadAt readAt, void* context, std::uint64_t fileSize,
                                         std::string_view name, std::uint32_t maxSize);

// Same over an image in memory (used by tests and the fuzzer).
std::vector<std::uint8_t> readElfSection(std::span<const std::uint8_t> image, std::string_view name,
                                         std::uint32_t maxSize);

} // namespace versioninfo
