#pragma once

#include "volume/VoxelType.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// What a file name says about the layout of its voxels. Names such as
// "head_256x256x108_i16_le.raw" or "scan.320x200x16.u8" carry the dimensions,
// the voxel type and the byte order; nothing in a name is trusted on its own,
// the guesser weighs it against the size and the bytes.
struct NameHints
{
    // Three numbers in a row ("256x256x108", "256_256_108"), in name order:
    // voxels per row, rows per slice, slices; volumes is the fourth number
    // of "64x64x32x2", else 1.
    struct Dims
    {
        std::array<std::int64_t, 3> dims{0, 0, 0};
        std::int64_t volumes = 1;
        friend bool operator==(const Dims&, const Dims&) = default;
    };
    std::vector<Dims> triples;
    // Two numbers in a row ("256-256"): voxels per row and rows per slice.
    std::vector<std::array<std::int64_t, 2>> pairs;
    // Set when the name's type words all name the same type; a name that
    // names two different types states none.
    std::optional<TVoxelDataType> dataType;
    // Likewise for the byte-order words.
    std::optional<TByteOrder> byteOrder;
    bool typeConflict = false;
    bool orderConflict = false;
};

// The hints in the last path component of fileName ('/' separates
// components). Words are matched case-insensitively and only as whole words:
// "int" in "intensity" is no type word; a type word may carry an order word
// ("i16le", "float32be"). Numbers are 1 .. 10^9; a zero, a
// larger number or a number glued to a word ("t1", "v2") breaks a run of
// numbers. Never fails: a name without hints gives an empty result.
NameHints parseNameHints(std::string_view fileName);
