#pragma once

#include <cstdint>

// Signed 32-bit arithmetic that wraps modulo 2^32. Voxel numbers and byte
// offsets of a volume file are 32-bit quantities that wrap on overflow, so a
// position far beyond 2 GiB lands on a negative offset (nowhere in the file)
// or, all the way round, on a small positive one. Signed overflow is undefined
// in C++, so the arithmetic runs in std::uint32_t and the bits are taken as
// two's complement (a well-defined conversion since C++20).
namespace Wrap32
{

constexpr std::int32_t fromBits(std::uint32_t bits)
{
    return static_cast<std::int32_t>(bits);
}

constexpr std::int32_t add(std::int32_t a, std::int32_t b)
{
    return fromBits(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::int32_t mul(std::int32_t a, std::int32_t b)
{
    return fromBits(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

} // namespace Wrap32
