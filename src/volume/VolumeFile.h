#pragma once

#include "volume/GzipStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// How a volume file holds its bytes.
enum class VolumeEncoding : std::uint8_t
{
    Detect, // gzip when the file starts with the gzip magic and inflates, else raw
    Raw,
    Gzip,
    Zlib,
};

// A volume file opened for reading only. Other programs may keep reading and
// writing the file meanwhile; nothing here ever writes to it. A compressed
// file is read unpacked: offsets count in the unpacked bytes, through an
// in-memory index built on opening (GzipStream); nothing goes to disk.
class VolumeFile
{
public:
    // Opens path without ever blocking: a FIFO, socket or character device is
    // refused at once rather than waited on. Regular files and block devices
    // are accepted. Throws std::runtime_error with the message
    // "Cannot open file <path>" when the file cannot be opened or is refused,
    // followed by ": it is compressed with xz, which Kelvox cannot unpack"
    // (bzip2, zstd) for those packers, or by the reason a stream said to be
    // Gzip or Zlib does not inflate at all. For Gzip and Zlib the compressed
    // stream starts at byte streamStart of the file (Detect looks there too);
    // a Raw file ignores it. progress sees the index pass and may cancel it:
    // IndexCancelled is thrown then.
    explicit VolumeFile(const std::string& path, VolumeEncoding encoding = VolumeEncoding::Detect,
                        std::int64_t streamStart = 0, const IndexProgress& progress = {});
    ~VolumeFile();

    VolumeFile(const VolumeFile&) = delete;
    VolumeFile& operator=(const VolumeFile&) = delete;
    VolumeFile(VolumeFile&&) = delete;
    VolumeFile& operator=(VolumeFile&&) = delete;

    // A second handle on the same open file and index, for another reader
    // (the guess dialog): no second index pass.
    std::unique_ptr<VolumeFile> share() const;

    // Reads up to count bytes starting at byte offset into dest and returns
    // how many were obtained. Reads at or beyond the end of the file give
    // fewer bytes or none; a negative offset lies nowhere in the file and
    // reads nothing; a failing read gives none. Short and interrupted reads
    // are continued until count bytes, the end of the file or a failure.
    // Safe from several threads at once.
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const;

    // Raw, Gzip or Zlib (never Detect).
    VolumeEncoding encoding() const { return m_encoding; }
    // Where the compressed stream starts in the file; 0 for Raw.
    std::int64_t streamStart() const { return m_streamStart; }
    // Bytes readAt can give: the file's size when opened, or the unpacked size.
    std::int64_t size() const;
    // Why a compressed file's readable data ends early; empty otherwise.
    std::string damage() const;
    // The unpacked stream of a compressed file (its index and cache); null
    // for a raw one.
    const GzipStream* unpacked() const { return m_unpacked.get(); }

private:
    VolumeFile() = default;

    std::shared_ptr<const ByteSource> m_file;
    std::shared_ptr<const GzipStream> m_unpacked;
    VolumeEncoding m_encoding = VolumeEncoding::Raw;
    std::int64_t m_streamStart = 0;
    std::int64_t m_fileSize = 0;
};

// A descriptor opened by the rule every reader of volume bytes keeps: never
// blocking (a FIFO, socket or character device is refused at once rather
// than waited on), regular files and block devices accepted and then read as
// usual. fd is -1 when path cannot be opened or is refused; size is the
// file's bytes (a block device's up to its end).
struct OpenedBytes
{
    int fd = -1;
    std::int64_t size = 0;
};
OpenedBytes openVolumeBytes(const std::string& path);

// Up to count bytes of fd from offset on into dest, as VolumeFile::readAt
// reads them: continued over short and interrupted reads, none for a
// negative offset or a failing read.
std::size_t readBytesAt(int fd, std::int64_t offset, std::uint8_t* dest, std::size_t count);

// The note the file-name strip adds for a compressed file: "gzip, shown
// unpacked" (or "zlib, …"), then "; <damage> after N unpacked bytes" when
// the data ends early; empty for a raw file.
std::string unpackedNote(const VolumeFile& file);
