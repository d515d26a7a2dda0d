#pragma once

#include "layout/VolumeLayout.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The bytes the layout guesser may look at. Implementations must tolerate
// any offset and count: a read beyond the end gives fewer bytes or none.
class LayoutSource
{
public:
    virtual ~LayoutSource() = default;
    // Size of the whole file in bytes (>= 0).
    virtual std::int64_t size() const = 0;
    // Reads up to count bytes at offset into dest; returns how many were read.
    virtual std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const = 0;
};

// A file opened read-only without blocking; only regular files and block
// devices are accepted.
class FileLayoutSource final : public LayoutSource
{
public:
    // Throws std::runtime_error "Cannot open file <path>" when the file cannot
    // be opened or is no regular file or block device.
    explicit FileLayoutSource(const std::string& path);
    ~FileLayoutSource() override;
    FileLayoutSource(const FileLayoutSource&) = delete;
    FileLayoutSource& operator=(const FileLayoutSource&) = delete;

    std::int64_t size() const override { return m_size; }
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override;

private:
    int m_fd = -1;
    std::int64_t m_size = 0;
};

// Bytes in memory (not owned; they must outlive the source).
class MemoryLayoutSource final : public LayoutSource
{
public:
    MemoryLayoutSource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::int64_t size() const override { return static_cast<std::int64_t>(m_size); }
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// One proposed layout, with how much the evidence supports it (0 .. 1) and a
// short reason in words ("rows repeat every 512 bytes; smooth as i16 little").
struct LayoutCandidate
{
    VolumeLayout layout;
    double score = 0.0;
    std::string reason;
};

// The guesser never reads more than this many bytes of a file.
inline constexpr std::int64_t GuessSampleLimit = std::int64_t{32} << 20;

// Ranked layouts (best first, at most maxCandidates, none with an equal
// layout twice) for the bytes of source, with fileName's hints (parseNameHints).
// Every candidate fits in the file: header + voxels x bytes per voxel <= size,
// dims and volumes >= 1. Reads at most GuessSampleLimit bytes spread over the
// file, never the whole of a larger file. Files without evidence (empty, all
// equal bytes, random bytes) give few or no candidates with low scores.
std::vector<LayoutCandidate> guessLayout(const LayoutSource& source, std::string_view fileName,
                                         std::size_t maxCandidates = 8);

// The same for the file at path (its name gives the hints). Throws
// std::runtime_error "Cannot open file <path>" when it cannot be opened.
std::vector<LayoutCandidate> guessLayoutOfFile(const std::string& path, std::size_t maxCandidates = 8);

// One line of kelvox-render --guess:
// "256x256x108 i16 little header=0 volumes=1 score=0.934" (1-byte types
// always "little"; the score with three decimals).
std::string guessLine(const LayoutCandidate& candidate);
