#pragma once

#include "layout/LayoutFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Helpers shared by the layout-file formats (not part of the layer's
// interface).
namespace LayoutFileSupport {

// Header texts longer than this are refused before any parser sees them, so a
// misnamed multi-gigabyte file never becomes one huge "line".
inline constexpr std::size_t MaxHeaderBytes = 1 << 20;

// The file name of path for refusal texts (the path as the user gave it).
std::string displayName(const std::string& path);

// Reads at most maxBytes from the start of path; throws LayoutFileError
// ("<file> cannot be read: ...") when it cannot be opened or is not a regular
// file.
std::string readPrefix(const std::string& path, std::size_t maxBytes);

// The same through a gzip decoder when the file is gzip (its unpacked first
// bytes, as far as they inflate), the plain bytes otherwise.
std::string readUnpackedPrefix(const std::string& path, std::size_t maxBytes);

// Size in bytes of the regular file at path; throws LayoutFileError naming
// layoutPath when the data file is missing, is a folder or is not a regular
// file or block device.
std::int64_t checkDataFile(const std::string& layoutPath, const std::string& dataPath);

// name as given when absolute, else resolved against the folder of
// layoutPath.
std::string resolveDataPath(const std::string& layoutPath, const std::string& name);

// Whether the file starts with the gzip magic bytes 1f 8b (at offset).
bool startsWithGzipMagic(const std::string& path);
bool startsWithGzipMagicAt(const std::string& path, std::int64_t offset);

// The whole decimal integer in text (optional leading '-' or '+'), nothing
// else; nullopt on any other character or on overflow.
std::optional<std::int64_t> parseInt64(std::string_view text);

// text without leading and trailing spaces, tabs and carriage returns.
std::string_view trim(std::string_view text);

// Throws LayoutFileError(text).
[[noreturn]] void refuse(const std::string& text);

// Throws LayoutFileError("Cannot write <path>: <why>"), a header writer's
// failure.
[[noreturn]] void cannotWrite(const std::string& path, const std::string& why);

// Fills dims and volumes from the axis sizes of a file (fastest axis first):
// fewer than three axes are padded with 1, a fourth axis counts whole volumes,
// axes beyond the fourth must have size 1. Refuses empty axes, more than four
// real dimensions and sizes whose bytes do not fit a signed 64-bit number.
void setDimensions(const std::string& layoutPath, const std::int64_t* sizes, std::size_t count,
                   VolumeLayout& layout);

// Header bytes for data at the end of a file of fileSize bytes ("skip -1"):
// fileSize minus the layout's data bytes; refuses when the data file is too
// small.
std::int64_t headerBytesForDataAtEnd(const std::string& layoutPath, std::int64_t fileSize,
                                     const VolumeLayout& layout);

} // namespace LayoutFileSupport
