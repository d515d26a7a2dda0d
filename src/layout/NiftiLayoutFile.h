#pragma once

#include "layout/LayoutFile.h"

#include <optional>
#include <string>
#include <string_view>

// NIfTI-1 and Analyze 7.5 (.nii, .nii.gz, .hdr/.img pairs, .img.gz), as
// layoutFileFormats() lists it; read only.
extern const LayoutFileFormat NiftiLayoutFormat;

// Checks of the first 348 bytes of a NIfTI-1 or Analyze 7.5 header that
// guard the NIfTI library against hostile values (its own reader converts
// the data offset to int and sizes allocations from it).
struct NiftiHeaderCheck
{
    bool swapped = false; // the header's byte order is not this machine's
    bool singleFile = false; // magic "n+1": data in the same file
    double voxOffset = 0; // vox_offset, checked finite, whole and >= 0
};

// Whether bytes hold a NIfTI-1 or Analyze 7.5 header (sizeof_hdr 348 in
// either byte order).
bool looksLikeNiftiHeader(std::string_view bytes);

// Validates the header in bytes (at least 348 bytes, else a refusal); throws
// LayoutFileError naming fileName for a NIfTI-2 file, dim[0] outside 1..7 or
// a vox_offset that is negative, not whole, not finite or beyond 2^31 - 1.
NiftiHeaderCheck checkNiftiHeader(std::string_view bytes, const std::string& fileName);

// Reads the layout stated by a .nii, .hdr or .img file through the NIfTI
// library (header only). An .img whose .hdr is missing or holds no NIfTI-1
// or Analyze header gives nullopt: it is plain data. Throws LayoutFileError
// with the refusal text.
std::optional<LayoutFileContents> readNiftiLayout(const std::string& path);
