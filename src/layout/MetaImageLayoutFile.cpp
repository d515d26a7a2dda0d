#include "layout/MetaImageLayoutFile.h"

#include "layout/LayoutFileSupport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <optional>

using namespace LayoutFileSupport;

namespace {

// A larger NDims is refused before any DimSize is read.
constexpr std::int64_t MaxMetaDims = 16;

// ElementType of each of our voxel types, one row per type in TVoxelDataType
// order; read and write both use it.
struct MetaTypeCode
{
    TVoxelDataType type;
    std::string_view elementType;
};
constexpr auto MetaTypes = std::to_array<MetaTypeCode>({
    {vdtByte, "MET_UCHAR"},
    {vdtInt16, "MET_SHORT"},
    {vdtInt32, "MET_INT"},
    {vdtFloat32, "MET_FLOAT"},
    {vdtUInt16, "MET_USHORT"},
    {vdtInt8, "MET_CHAR"},
    {vdtUInt32, "MET_UINT"},
    {vdtFloat64, "MET_DOUBLE"},
});
static_assert(listsEveryVoxelTypeInOrder(MetaTypes), "MetaTypes has one row per voxel type, in item order");

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<bool> parseBool(std::string_view value)
{
    if (equalsNoCase(value, "True") || value == "1")
        return true;
    if (equalsNoCase(value, "False") || value == "0")
        return false;
    return std::nullopt;
}

std::int64_t parseField(std::string_view key, std::string_view value, const std::string& fileName)
{
    const std::optional<std::int64_t> number = parseInt64(value);
    if (!number)
        refuse(fileName + " gives " + std::string(key) + " = " + std::string(value) + ", which is not a whole number");
    return *number;
}

// The first line of a MetaImage header names ObjectType (writers put it
// first) or NDims.
bool looksLikeMetaImage(std::string_view head)
{
    const std::string_view line = head.substr(0, head.find('\n'));
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    const std::string_view key = trim(line.substr(0, equals));
    return equalsNoCase(key, "ObjectType") || equalsNoCase(key, "NDims");
}

std::optional<LayoutFileContents> readMetaImage(const std::string& path)
{
    return readMetaImageLayout(path);
}

// Compressed data keeps CompressedData, with the stream's start as
// HeaderSize; header bytes inside the unpacked data cannot be said.
std::string metaImageHeader(const LayoutHeaderRequest& request)
{
    if (request.encoding != VolumeEncoding::Gzip && request.encoding != VolumeEncoding::Zlib)
        return metaImageHeaderText(request.layout, request.dataFileName);
    if (request.layout.headerBytes != 0)
        cannotWrite(request.path, "MetaImage cannot skip header bytes inside compressed data; save it as NRRD");
    std::error_code ec;
    const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(request.dataPath, ec));
    if (ec || fileSize < request.streamStart)
        cannotWrite(request.path, "its data file " + request.dataPath + " cannot be read");
    VolumeLayout skipped = request.layout;
    skipped.headerBytes = request.streamStart;
    return metaImageHeaderText(skipped, request.dataFileName, fileSize - request.streamStart);
}

constexpr std::array<std::string_view, 2> MetaImageExtensions{".mhd", ".mha"};

} // namespace

constinit const LayoutFileFormat MetaImageLayoutFormat{
    "MetaImage", MetaImageExtensions, looksLikeMetaImage, readMetaImage, metaImageHeader, "MetaImage header",
};

MetaImageHeader parseMetaImageHeader(std::string_view text, const std::string& fileName)
{
    MetaImageHeader header;
    std::optional<std::int64_t> nDims;
    std::string_view dimSize;
    std::string_view elementType;
    std::int64_t channels = 1;
    bool haveDataFile = false;
    std::size_t pos = 0;
    while (pos < text.size() && !haveDataFile) {
        const std::size_t newline = text.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        const std::string_view line = text.substr(pos, end - pos);
        pos = newline == std::string_view::npos ? text.size() : newline + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (equalsNoCase(key, "ObjectType")) {
            if (!equalsNoCase(value, "Image"))
                refuse(fileName + " describes a " + std::string(value) + ", not an image");
        } else if (equalsNoCase(key, "NDims")) {
            nDims = parseField(key, value, fileName);
        } else if (equalsNoCase(key, "DimSize")) {
            dimSize = value;
        } else if (equalsNoCase(key, "ElementType")) {
            elementType = value;
        } else if (equalsNoCase(key, "ElementNumberOfChannels")) {
            channels = parseField(key, value, fileName);
        } else if (equalsNoCase(key, "ElementByteOrderMSB") || equalsNoCase(key, "BinaryDataByteOrderMSB") ||
                   equalsNoCase(key, "ByteOrderMSB")) {
            const std::optional<bool> msb = parseBool(value);
            if (!msb)
                refuse(fileName + " gives " + std::string(key) + " = " + std::string(value) +
                       ", which is neither True nor False");
            header.bigEndian = *msb;
        } else if (equalsNoCase(key, "HeaderSize")) {
            header.headerSize = parseField(key, value, fileName);
            if (header.headerSize < -1)
                refuse(fileName + " gives HeaderSize = " + std::string(value) + "; it must be -1 or more");
        } else if (equalsNoCase(key, "CompressedData")) {
            const std::optional<bool> compressed = parseBool(value);
            if (!compressed)
                refuse(fileName + " gives CompressedData = " + std::string(value) + ", which is neither True nor False");
            header.compressed = *compressed;
        } else if (equalsNoCase(key, "BinaryData")) {
            if (!parseBool(value).value_or(false))
                refuse(fileName + " stores its voxels as text, which Kelvox cannot show");
        } else if (equalsNoCase(key, "ElementDataFile")) {
            header.dataFile = std::string(value);
            haveDataFile = true;
        }
    }
    if (!haveDataFile)
        refuse(fileName + " is not a MetaImage header Kelvox can read: it has no ElementDataFile line");
    header.textBytes = pos;
    if (!nDims)
        refuse(fileName + " is not a MetaImage header Kelvox can read: it has no NDims line");
    if (*nDims < 1)
        refuse(fileName + " gives NDims = " + std::to_string(*nDims) + "; it must be at least 1");
    if (*nDims > MaxMetaDims)
        refuse(fileName + " has " + std::to_string(*nDims) + " dimensions; Kelvox shows at most four");
    std::string_view sizes = dimSize;
    while (!sizes.empty()) {
        const std::size_t gap = sizes.find_first_of(" \t");
        const std::string_view token = sizes.substr(0, gap);
        if (static_cast<std::int64_t>(header.dimSize.size()) == *nDims)
            refuse(fileName + " gives more DimSize values than its " + std::to_string(*nDims) + " dimensions");
        header.dimSize.push_back(parseField("DimSize", token, fileName));
        sizes = gap == std::string_view::npos ? std::string_view{} : trim(sizes.substr(gap));
    }
    if (static_cast<std::int64_t>(header.dimSize.size()) != *nDims)
        refuse(fileName + " gives " + std::to_string(header.dimSize.size()) + " DimSize values for its " +
               std::to_string(*nDims) + " dimensions");
    if (channels != 1)
        refuse(fileName + " holds " + std::to_string(channels) +
               " channels per voxel (e.g. RGB), which Kelvox cannot show");
    if (elementType.empty())
        refuse(fileName + " is not a MetaImage header Kelvox can read: it has no ElementType line");
    if (!voxelTypeOfCode(MetaTypes, &MetaTypeCode::elementType, elementType, header.dataType)) {
        const bool wide = elementType == "MET_LONG_LONG" || elementType == "MET_ULONG_LONG";
        refuse(fileName + (wide ? " holds 64-bit integer voxels" : " holds voxels of type " + std::string(elementType)) +
               ", which Kelvox cannot show");
    }
    const std::string_view dataFile = header.dataFile;
    if (dataFile.empty())
        refuse(fileName + " names no data file");
    if (dataFile.starts_with("LIST") || dataFile.find('%') != std::string_view::npos)
        refuse(fileName + " spreads its data over several files, which Kelvox cannot show");
    return header;
}

LayoutFileContents readMetaImageLayout(const std::string& path)
{
    const std::string name = displayName(path);
    const std::string prefix = readPrefix(path, MaxHeaderBytes);
    const MetaImageHeader header = parseMetaImageHeader(prefix, name);
    const bool local = header.dataFile == "LOCAL";
    const std::string dataPath = local ? path : resolveDataPath(path, header.dataFile);
    const std::int64_t dataFileSize = checkDataFile(path, dataPath);

    VolumeLayout layout;
    layout.dataType = header.dataType;
    setDimensions(path, header.dimSize.data(), header.dimSize.size(), layout);
    layout.byteOrder = header.bigEndian && bytesPerVoxelOf(layout.dataType) > 1 ? boBigEndian : boLittleEndian;
    if (header.compressed) {
        // HeaderSize bytes of the file come before the compressed stream;
        // the unpacked bytes are all voxels. Writers use zlib, some gzip.
        if (header.headerSize == -1)
            refuse(name + " gives HeaderSize = -1 for compressed data, whose unpacked size only unpacking can tell");
        LayoutFileContents contents{layout, dataPath, VolumeEncoding::Zlib, 0};
        const std::int64_t start = local ? static_cast<std::int64_t>(header.textBytes) : 0;
        if (__builtin_add_overflow(start, header.headerSize, &contents.streamStart))
            refuse(name + " skips more bytes than a file can hold");
        if (startsWithGzipMagicAt(dataPath, contents.streamStart))
            contents.encoding = VolumeEncoding::Gzip;
        return contents;
    }
    if (header.headerSize == -1) {
        layout.headerBytes = headerBytesForDataAtEnd(path, dataFileSize, layout);
    } else {
        // In an attached file the skipped bytes follow the header text.
        const std::int64_t start = local ? static_cast<std::int64_t>(header.textBytes) : 0;
        if (__builtin_add_overflow(start, header.headerSize, &layout.headerBytes))
            refuse(name + " skips more bytes than a file can hold");
    }
    return {layout, dataPath, VolumeEncoding::Raw, 0};
}

std::string metaImageHeaderText(const VolumeLayout& layout, const std::string& dataFileName,
                                std::int64_t compressedBytes)
{
    const bool several = layout.volumes > 1;
    std::string text = "ObjectType = Image\n";
    text += several ? "NDims = 4\n" : "NDims = 3\n";
    text += "DimSize = " + std::to_string(layout.dims[0]) + " " + std::to_string(layout.dims[1]) + " " +
            std::to_string(layout.dims[2]);
    if (several)
        text += " " + std::to_string(layout.volumes);
    text += "\n";
    text += "ElementType = " + std::string(MetaTypes[layout.dataType < VoxelTypeCount ? layout.dataType : 0].elementType) +
            "\n";
    text += "BinaryData = True\n";
    if (compressedBytes >= 0) {
        text += "CompressedData = True\n";
        text += "CompressedDataSize = " + std::to_string(compressedBytes) + "\n";
    }
    text += layout.byteOrder == boBigEndian ? "ElementByteOrderMSB = True\n" : "ElementByteOrderMSB = False\n";
    text += "HeaderSize = " + std::to_string(layout.headerBytes) + "\n";
    text += "ElementDataFile = " + dataFileName + "\n";
    return text;
}
