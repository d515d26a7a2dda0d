#pragma once

#include "volume/VoxelType.h"

#include <array>
#include <string_view>

// The data-type list's items, one per TVoxelDataType in item order, as the
// main window's combo shows them (with the two blanks of "Int-16  (signed)").
// The guess dialog takes its words for types from here too.
struct VoxelTypeCaption
{
    TVoxelDataType type;
    std::string_view text;
};

inline constexpr auto VoxelTypeCaptions = std::to_array<VoxelTypeCaption>({
    {vdtByte, "Byte (unsigned)"},
    {vdtInt16, "Int-16  (signed)"},
    {vdtInt32, "Int-32 (signed)"},
    {vdtFloat32, "Float-32"},
    {vdtUInt16, "UInt-16 (unsigned)"},
    {vdtInt8, "Int-8 (signed)"},
    {vdtUInt32, "UInt-32 (unsigned)"},
    {vdtFloat64, "Float-64"},
});
static_assert(listsEveryVoxelTypeInOrder(VoxelTypeCaptions), "one caption per voxel type, in item order");
