#pragma once

#include "volume/VoxelType.h"
#include "layout/VolumeLayout.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The voxel type and byte order a header states in its text. Headers name
// them in words ("type: short", "ElementType = MET_FLOAT", "data = real"),
// in type codes ('<f4', '>i2', '|u1'), as a bit count after a key with "bit"
// in it ("BITPIX = -32": negative counts are floats; "bits 16"), as a
// maximum value after the dimensions ("256 256 65535": two bytes a voxel),
// and as endian words ("endian: big", "MSB_INTEGER", "ByteOrderMSB = True").
// Nothing here knows a named format: only words in the places a header
// writes values.

namespace GuessDetail
{

enum class StatedKind : std::uint8_t
{
    Any, // not stated
    Signed, // signed integers
    Unsigned, // unsigned integers
    Integer, // integers of either sign
    Float,
};

enum class StatedOrder : std::uint8_t
{
    Any,
    Little,
    Big,
};

// One statement: what it states of the type (any part may be unstated).
struct StatedType
{
    int width = 0; // bytes per voxel, 0 when not stated
    StatedKind kind = StatedKind::Any;
    StatedOrder order = StatedOrder::Any;
    std::int64_t offset = 0; // in the file
    std::int64_t textEnd = -1; // the end of its printable run (the header's text), -1 where the bytes cut it
};

// The statements in bytes lying at file offset `at`, in order of offsets, at
// most maxStatements.
std::vector<StatedType> statedTypes(std::span<const std::uint8_t> bytes, std::int64_t at,
                                    std::size_t maxStatements = 256);

// How a candidate's type and order agree with what the header states:
// agreeing or silent 1, else a factor below 1 per part that differs.
// The last statement before its data speaks (a file of several headers
// describes the data after the last), else the file's first.
// signAlike: the data reads the same with either sign, so the sign is no
// difference.
double statedTypeFactor(const std::vector<StatedType>& statements, const VolumeLayout& l, bool signAlike = false);

// Whether l's voxels cover a statement or begin well inside the text of
// one (more than a few printable bytes before the text ends): it reads a
// header as voxels.
bool readsStatedType(const std::vector<StatedType>& statements, const VolumeLayout& l);

// The width the header states for data after header bytes (0 when none is
// stated), by the same choice as statedTypeFactor.
int statedWidth(const std::vector<StatedType>& statements, std::int64_t header);

} // namespace GuessDetail
