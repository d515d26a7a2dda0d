#pragma once

#include <cstddef>
#include <cstdint>

// Bytes that can be read at any position: a plain file, an unpacked stream,
// bytes in memory. Reads may come from several threads at once.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads up to count bytes starting at offset into dest and returns how
    // many were obtained: fewer or none at or beyond the end, none for a
    // negative offset or a failing read.
    virtual std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const = 0;

protected:
    ByteSource() = default;
    ByteSource(const ByteSource&) = default;
    ByteSource& operator=(const ByteSource&) = default;
};

// Bytes in memory (not owned; they must outlive the source).
class MemoryByteSource final : public ByteSource
{
public:
    MemoryByteSource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};
