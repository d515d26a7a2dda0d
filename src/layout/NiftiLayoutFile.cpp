#include "layout/NiftiLayoutFile.h"

#include "layout/LayoutFileSupport.h"

#include <nifti1_io.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <sys/stat.h>

using namespace LayoutFileSupport;

namespace {

constexpr std::size_t NiftiHeaderBytes = 348;
constexpr std::int32_t Nifti2HeaderBytes = 540;
constexpr std::size_t DimOffset = 40; // short dim[8]
constexpr std::size_t DatatypeOffset = 70; // short datatype
constexpr std::size_t VoxOffsetOffset = 108; // float vox_offset
constexpr std::size_t MagicOffset = 344; // char magic[4]
constexpr double MaxVoxOffset = 2147483647.0;
// nifti_image::byteorder of a big-endian file (the library keeps its name private).
constexpr int NiftiMsbFirst = 2;

struct NiftiDeleter
{
    void operator()(nifti_image* image) const { nifti_image_free(image); }
};

std::uint32_t loadU32(std::string_view bytes, std::size_t offset, bool swapped)
{
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return swapped ? __builtin_bswap32(v) : v;
}

std::int16_t loadI16(std::string_view bytes, std::size_t offset, bool swapped)
{
    std::uint16_t v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return static_cast<std::int16_t>(swapped ? __builtin_bswap16(v) : v);
}

bool endsWithNoCase(const std::string& text, std::string_view suffix)
{
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = text[text.size() - suffix.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != suffix[i])
            return false;
    }
    return true;
}

// The .hdr next to an .img (or .img.gz): the same name with the extension in
// the .img's letter case first, then the other case.
std::string headerOfImage(const std::string& imagePath)
{
    const std::size_t gz = endsWithNoCase(imagePath, ".img.gz") ? 3 : 0;
    const std::string stem = imagePath.substr(0, imagePath.size() - 4 - gz);
    const bool upper = imagePath.substr(imagePath.size() - 3 - gz, 3) == "IMG";
    for (const char* ext : upper ? std::array{".HDR", ".hdr"} : std::array{".hdr", ".HDR"}) {
        struct stat st{};
        if (::stat((stem + ext).c_str(), &st) == 0)
            return stem + ext;
    }
    return stem + ".hdr";
}

// The datatype code of each of our voxel types, one row per type in
// TVoxelDataType order.
struct NiftiTypeCode
{
    TVoxelDataType type;
    int datatype;
};
constexpr auto NiftiTypes = std::to_array<NiftiTypeCode>({
    {vdtByte, DT_UINT8},
    {vdtInt16, DT_INT16},
    {vdtInt32, DT_INT32},
    {vdtFloat32, DT_FLOAT32},
    {vdtUInt16, DT_UINT16},
    {vdtInt8, DT_INT8},
    {vdtUInt32, DT_UINT32},
    {vdtFloat64, DT_FLOAT64},
});
static_assert(listsEveryVoxelTypeInOrder(NiftiTypes), "NiftiTypes has one row per voxel type, in item order");

bool mapNiftiType(int datatype, TVoxelDataType& type)
{
    return voxelTypeOfCode(NiftiTypes, &NiftiTypeCode::datatype, datatype, type);
}

std::string unsupportedTypeText(int datatype)
{
    switch (datatype) {
    case DT_RGB24:
    case DT_RGBA32: return "colour (RGB) voxels";
    case DT_COMPLEX64:
    case DT_COMPLEX128:
    case DT_COMPLEX256: return "complex voxels";
    case DT_INT64:
    case DT_UINT64: return "64-bit integer voxels";
    case DT_FLOAT128: return "128-bit float voxels";
    case DT_BINARY: return "1-bit voxels";
    default: return "voxels of the unknown type " + std::to_string(datatype);
    }
}

// .nii single files (and .nii.gz), .hdr/.img pairs (an .img or .img.gz is
// read through its .hdr).
constexpr std::array<std::string_view, 5> NiftiExtensions{".nii", ".hdr", ".img", ".nii.gz", ".img.gz"};

} // namespace

// Kelvox reads NIfTI-1 and Analyze 7.5 but does not write them: no header
// writer.
constinit const LayoutFileFormat NiftiLayoutFormat{
    "NIfTI-1", NiftiExtensions, looksLikeNiftiHeader, readNiftiLayout, nullptr, {},
};

bool looksLikeNiftiHeader(std::string_view bytes)
{
    if (bytes.size() < NiftiHeaderBytes)
        return false;
    const std::uint32_t size = loadU32(bytes, 0, false);
    return size == NiftiHeaderBytes || __builtin_bswap32(size) == NiftiHeaderBytes;
}

NiftiHeaderCheck checkNiftiHeader(std::string_view bytes, const std::string& fileName)
{
    if (bytes.size() >= 4) {
        const std::uint32_t size = loadU32(bytes, 0, false);
        if (size == Nifti2HeaderBytes || __builtin_bswap32(size) == Nifti2HeaderBytes)
            refuse(fileName + " is a NIfTI-2 file, which Kelvox cannot read");
    }
    if (bytes.size() < NiftiHeaderBytes)
        refuse(fileName + " is too short for a NIfTI-1 or Analyze 7.5 header");
    if (!looksLikeNiftiHeader(bytes))
        refuse(fileName + " is not a NIfTI-1 or Analyze 7.5 header");
    NiftiHeaderCheck check;
    check.swapped = loadU32(bytes, 0, false) != NiftiHeaderBytes;
    const std::int16_t rank = loadI16(bytes, DimOffset, check.swapped);
    if (rank < 1 || rank > 7)
        refuse(fileName + " is not a NIfTI-1 or Analyze 7.5 header Kelvox can read: it gives " +
               std::to_string(rank) + " dimensions");
    // The library quietly turns sizes below 1 into 1; a header that says so
    // is refused instead.
    for (int axis = 1; axis <= rank; ++axis) {
        const std::int16_t size = loadI16(bytes, DimOffset + 2 * static_cast<std::size_t>(axis), check.swapped);
        if (size < 1)
            refuse(fileName + " gives axis " + std::to_string(axis) + " the size " + std::to_string(size) +
                   "; every size must be at least 1");
    }
    // Types are checked here too: the library reports an unknown one on
    // standard error.
    const std::int16_t datatype = loadI16(bytes, DatatypeOffset, check.swapped);
    TVoxelDataType type;
    if (!mapNiftiType(datatype, type))
        refuse(fileName + " holds " + unsupportedTypeText(datatype) + ", which Kelvox cannot show");
    const float voxOffset = std::bit_cast<float>(loadU32(bytes, VoxOffsetOffset, check.swapped));
    if (!std::isfinite(voxOffset) || voxOffset < 0 || voxOffset != std::floor(voxOffset) ||
        voxOffset > MaxVoxOffset)
        refuse(fileName + " gives the data offset (vox_offset) " + std::to_string(voxOffset) +
               "; it must be a whole number from 0 to 2^31 - 1");
    check.voxOffset = voxOffset;
    check.singleFile = std::memcmp(bytes.data() + MagicOffset, "n+1", 4) == 0;
    return check;
}

std::optional<LayoutFileContents> readNiftiLayout(const std::string& path)
{
    const std::string name = displayName(path);
    const bool image = endsWithNoCase(path, ".img") || endsWithNoCase(path, ".img.gz");
    const std::string headerPath = image ? headerOfImage(path) : path;
    std::string bytes;
    const bool packed = startsWithGzipMagic(headerPath);
    try {
        bytes = readUnpackedPrefix(headerPath, NiftiHeaderBytes);
    } catch (const LayoutFileError&) {
        if (image)
            return std::nullopt;
        throw;
    }
    if (image && !looksLikeNiftiHeader(bytes))
        return std::nullopt;
    const NiftiHeaderCheck check = checkNiftiHeader(bytes, name);
    // The library reads extensions up to the data offset of a single file;
    // of a gzip one only the unpacked bytes can tell, so the offset is held
    // to what a header may take.
    struct stat st{};
    if (check.singleFile && packed) {
        if (check.voxOffset > static_cast<double>(MaxHeaderBytes))
            refuse(name + " gives the data offset " + std::to_string(static_cast<std::int64_t>(check.voxOffset)) +
                   "; Kelvox reads at most 1 MiB of a compressed header");
        const auto offset = static_cast<std::size_t>(check.voxOffset);
        if (readUnpackedPrefix(headerPath, offset).size() < offset)
            refuse(name + " ends before its data offset " + std::to_string(offset));
    } else if (check.singleFile && ::stat(headerPath.c_str(), &st) == 0 &&
               check.voxOffset > static_cast<double>(st.st_size)) {
        refuse(name + " ends before its data offset " + std::to_string(static_cast<std::int64_t>(check.voxOffset)));
    }

    nifti_set_debug_level(0);
    std::unique_ptr<nifti_image, NiftiDeleter> nim(nifti_image_read(headerPath.c_str(), 0));
    if (!nim)
        refuse(name + " is not a NIfTI-1 or Analyze 7.5 header Kelvox can read");
    VolumeLayout layout;
    if (!mapNiftiType(nim->datatype, layout.dataType))
        refuse(name + " holds " + unsupportedTypeText(nim->datatype) + ", which Kelvox cannot show");
    std::array<std::int64_t, 7> sizes{};
    const int rank = nim->ndim < 1 ? 1 : (nim->ndim > 7 ? 7 : nim->ndim);
    for (int i = 0; i < rank; ++i)
        sizes[static_cast<std::size_t>(i)] = nim->dim[i + 1];
    setDimensions(path, sizes.data(), static_cast<std::size_t>(rank), layout);
    layout.byteOrder = nim->byteorder == NiftiMsbFirst && bytesPerVoxelOf(layout.dataType) > 1 ? boBigEndian
                                                                                           : boLittleEndian;
    std::string dataPath = nim->iname ? std::string(nim->iname) : std::string();
    if (dataPath.empty())
        refuse(name + " names no data file");
    // The library names the .img of a pair even when only its gzip copy,
    // .img.gz, is there.
    struct stat data{};
    if (!check.singleFile && ::stat(dataPath.c_str(), &data) != 0 && ::stat((dataPath + ".gz").c_str(), &data) == 0)
        dataPath += ".gz";
    checkDataFile(path, dataPath);
    layout.headerBytes = nim->iname_offset < 0 ? static_cast<std::int64_t>(check.voxOffset) : nim->iname_offset;
    // .nii.gz and .img.gz: the offset counts in the unpacked bytes.
    const VolumeEncoding encoding = startsWithGzipMagic(dataPath) ? VolumeEncoding::Gzip : VolumeEncoding::Raw;
    return LayoutFileContents{layout, dataPath, encoding, 0};
}
