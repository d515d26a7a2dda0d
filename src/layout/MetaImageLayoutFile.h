#pragma once

#include "layout/LayoutFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The MetaImage format (.mhd detached, .mha attached; raw, zlib or gzip
// data), as layoutFileFormats() lists it.
extern const LayoutFileFormat MetaImageLayoutFormat;

// A MetaImage header (.mhd, or the text before the voxels of an .mha) as far
// as a layout needs it.
struct MetaImageHeader
{
    std::vector<std::int64_t> dimSize; // NDims sizes, fastest axis first
    TVoxelDataType dataType = vdtByte;
    bool bigEndian = false; // ElementByteOrderMSB / BinaryDataByteOrderMSB
    std::int64_t headerSize = 0; // HeaderSize: bytes skipped in the data file, -1 = data at its end
    std::string dataFile; // ElementDataFile, "LOCAL" for data after the header
    std::size_t textBytes = 0; // bytes of the header text, through the ElementDataFile line
    bool compressed = false; // CompressedData: a zlib (or gzip) stream after HeaderSize bytes
};

// Parses the header at the start of text (which may run on into voxels: the
// header ends with the ElementDataFile line). Throws LayoutFileError naming
// fileName for anything that is missing, malformed or cannot be shown
// (text data, several channels or files, types without a voxel
// type here, more than four dimensions).
MetaImageHeader parseMetaImageHeader(std::string_view text, const std::string& fileName);

// Reads the layout stated by the MetaImage file at path. Throws
// LayoutFileError with the refusal text.
LayoutFileContents readMetaImageLayout(const std::string& path);

// The text of a detached MetaImage header for layout whose data file is
// named dataFileName (relative to the header's folder, or absolute). With
// compressedBytes >= 0 the data is a compressed stream of that many bytes
// after layout.headerBytes bytes of the file ("CompressedData = True").
std::string metaImageHeaderText(const VolumeLayout& layout, const std::string& dataFileName,
                                std::int64_t compressedBytes = -1);
