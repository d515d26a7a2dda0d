#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

// The raw-data buffer of one view: the view's file bytes row after row.
// It starts at a fixed capacity and only ever grows, so renders of a steady
// geometry allocate nothing. Growth that cannot be had leaves the buffer as
// it was; the caller then uses what fits.
class ViewBuffer
{
public:
    // Zero-filled buffer of initialCapacity bytes. Throws std::bad_alloc if
    // even that cannot be had.
    explicit ViewBuffer(std::size_t initialCapacity);

    std::size_t capacity() const { return m_capacity; }
    // The bytes start on a page: the pixel loops' 64-byte loads then never
    // straddle two cache lines, and a read fills whole pages.
    std::uint8_t* data() { return m_start; }
    const std::uint8_t* data() const { return m_start; }
    std::span<const std::uint8_t> bytes() const { return {m_start, m_capacity}; }

    // Makes the capacity at least wanted bytes (never above MaxCapacity).
    // Returns false, keeping the present memory, when that cannot be had.
    // The contents are not kept across a growth.
    bool reserve(std::size_t wanted);

    // Counts of voxels are signed 32-bit, so no buffer holds more bytes.
    static constexpr std::size_t MaxCapacity = 0x7FFFFFFF;
    static constexpr std::size_t Alignment = 4096;

private:
    struct FreeDeleter
    {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    // Takes a zeroed block of capacity bytes from the page after start, or
    // returns false.
    bool allocate(std::size_t capacity);

    std::unique_ptr<std::uint8_t[], FreeDeleter> m_data;
    std::uint8_t* m_start = nullptr;
    std::size_t m_capacity = 0;
};
