#include "layout/NrrdLayoutFile.h"

#include "layout/LayoutFileSupport.h"

#include <teem/nrrd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <memory>
#include <unistd.h>

using namespace LayoutFileSupport;

namespace {

// The NRRD library accepts at most this many axes.
constexpr std::int64_t MaxNrrdDimension = NRRD_DIM_MAX;

struct NrrdDeleter
{
    void operator()(Nrrd* nrrd) const { nrrdNix(nrrd); }
};
struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};
struct NrrdIoDeleter
{
    void operator()(NrrdIoState* nio) const
    {
        if (nio->dataFile)
            std::fclose(nio->dataFile);
        nio->dataFile = nullptr;
        nrrdIoStateNix(nio);
    }
};

// The library's type of each of our voxel types and its name in a header,
// one row per type in TVoxelDataType order; read and write both use it.
struct NrrdTypeCode
{
    TVoxelDataType type;
    int nrrdType;
    std::string_view name;
};
constexpr auto NrrdTypes = std::to_array<NrrdTypeCode>({
    {vdtByte, nrrdTypeUChar, "uchar"},
    {vdtInt16, nrrdTypeShort, "short"},
    {vdtInt32, nrrdTypeInt, "int"},
    {vdtFloat32, nrrdTypeFloat, "float"},
    {vdtUInt16, nrrdTypeUShort, "ushort"},
    {vdtInt8, nrrdTypeChar, "signed char"},
    {vdtUInt32, nrrdTypeUInt, "uint"},
    {vdtFloat64, nrrdTypeDouble, "double"},
});
static_assert(listsEveryVoxelTypeInOrder(NrrdTypes), "NrrdTypes has one row per voxel type, in item order");

// The most specific line of the library's error report, without its
// "[nrrd] function: " prefix.
std::string takeLibraryError()
{
    char* text = biffGetDone(NRRD);
    if (!text)
        return "unknown error";
    std::string all(text);
    std::free(text);
    std::string_view last;
    std::string_view rest(all);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = trim(rest.substr(0, end));
        if (!line.empty())
            last = line;
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    if (last.starts_with("[nrrd] "))
        last.remove_prefix(7);
    const std::size_t colon = last.find(": ");
    if (colon != std::string_view::npos && last.substr(0, colon).find(' ') == std::string_view::npos)
        last.remove_prefix(colon + 2);
    return last.empty() ? std::string("unknown error") : std::string(last);
}

// What an axis kind makes of a voxel when it is not a plain sample, or empty.
std::string_view compositeKind(int kind)
{
    switch (kind) {
    case nrrdKindComplex: return "complex";
    case nrrdKind3Color:
    case nrrdKindRGBColor:
    case nrrdKindHSVColor:
    case nrrdKindXYZColor:
    case nrrdKind4Color:
    case nrrdKindRGBAColor: return "colour (RGB)";
    default: return {};
    }
}

// Bytes of the first lineCount lines of the data file from offset on; the
// lines must end within MaxHeaderBytes, so the library's own line skipping
// stays small too.
std::int64_t lineSkipBytes(const std::string& layoutPath, const std::string& dataPath, std::int64_t offset,
                           std::int64_t lineCount)
{
    const int fd = ::open(dataPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        refuse(displayName(layoutPath) + ": its data file " + dataPath + " cannot be read");
    std::string bytes(MaxHeaderBytes, '\0');
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), offset);
    ::close(fd);
    std::int64_t lines = 0;
    for (ssize_t i = 0; i < got; ++i) {
        if (bytes[static_cast<std::size_t>(i)] == '\n' && ++lines == lineCount)
            return i + 1;
    }
    refuse(displayName(layoutPath) + ": the " + std::to_string(lineCount) +
           " lines it skips were not found in the first MiB of its data");
}

// The lines of the data file before its compressed stream, which must start
// right after a line break within the first MiB (the gzip data of an attached
// NRRD header): NRRD skips lines, not bytes, before gzip data.
std::int64_t linesBeforeStream(const std::string& path, const std::string& dataPath, std::int64_t streamStart)
{
    if (streamStart <= 0)
        return 0;
    if (streamStart > static_cast<std::int64_t>(MaxHeaderBytes))
        cannotWrite(path, "the compressed data starts too far into its file for a NRRD line skip");
    std::string head;
    try {
        head = readPrefix(dataPath, static_cast<std::size_t>(streamStart));
    } catch (const LayoutFileError& e) {
        cannotWrite(path, e.what());
    }
    if (head.size() != static_cast<std::size_t>(streamStart) || head.back() != '\n')
        cannotWrite(path, "the compressed data does not start on a new line, so NRRD cannot skip to it");
    return static_cast<std::int64_t>(std::count(head.begin(), head.end(), '\n'));
}

std::string nrrdHeader(const LayoutHeaderRequest& request)
{
    switch (request.encoding) {
    case VolumeEncoding::Detect:
    case VolumeEncoding::Raw:
        return nrrdHeaderText(request.layout, request.dataFileName);
    case VolumeEncoding::Gzip:
        return nrrdHeaderText(request.layout, request.dataFileName,
                              linesBeforeStream(request.path, request.dataPath, request.streamStart));
    case VolumeEncoding::Zlib:
        break;
    }
    cannotWrite(request.path, "NRRD has no encoding for zlib data; save it as MetaImage");
}

std::optional<LayoutFileContents> readNrrd(const std::string& path)
{
    return readNrrdLayout(path);
}

constexpr std::array<std::string_view, 2> NrrdExtensions{".nhdr", ".nrrd"};

} // namespace

constinit const LayoutFileFormat NrrdLayoutFormat{
    "NRRD", NrrdExtensions, hasNrrdMagic, readNrrd, nrrdHeader, "NRRD header",
};

bool hasNrrdMagic(std::string_view bytes)
{
    return bytes.size() >= 8 && bytes.starts_with("NRRD000") && bytes[7] >= '0' && bytes[7] <= '9';
}

NrrdHeaderScan scanNrrdHeader(std::string_view bytes)
{
    NrrdHeaderScan scan;
    std::size_t pos = 0;
    bool first = true;
    bool listed = false; // after "data file: LIST" the lines are file names
    while (pos < bytes.size()) {
        const std::size_t newline = bytes.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline;
        const std::size_t lineStart = pos;
        std::string_view line = bytes.substr(pos, end - pos);
        pos = newline == std::string_view::npos ? bytes.size() : newline + 1;
        const std::string_view whole = bytes.substr(lineStart, pos - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            first = false;
            scan.withoutSkips += whole;
            continue;
        }
        if (line.empty()) {
            scan.endsWithBlankLine = true;
            scan.withoutSkips += whole;
            break;
        }
        const std::size_t colon = line.find(':');
        if (listed || line.front() == '#' || line.find(":=") != std::string_view::npos ||
            colon == std::string_view::npos) {
            scan.withoutSkips += whole;
            continue;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string value(trim(line.substr(colon + 1)));
        if (name == "dimension")
            scan.dimension = value;
        if (name == "data file" || name == "datafile") {
            scan.dataFile = value;
            listed = value.starts_with("LIST");
        }
        if (name == "byte skip" || name == "byteskip")
            scan.byteSkip = value;
        else if (name == "line skip" || name == "lineskip")
            scan.lineSkip = value;
        else
            scan.withoutSkips += whole;
    }
    scan.headerBytes = pos;
    return scan;
}

LayoutFileContents readNrrdLayout(const std::string& path)
{
    const std::string name = displayName(path);
    const std::string prefix = readPrefix(path, MaxHeaderBytes + 1);
    if (!hasNrrdMagic(prefix))
        refuse(name + " is not a NRRD file (it does not start with NRRD000x)");
    const NrrdHeaderScan scan = scanNrrdHeader(prefix);
    if (!scan.endsWithBlankLine && prefix.size() > MaxHeaderBytes)
        refuse(name + " has a header longer than 1 MiB, which Kelvox does not read");
    // The library reads the header as C text.
    if (scan.withoutSkips.find('\0') != std::string::npos)
        refuse(name + " is not a NRRD header Kelvox can read: its header holds NUL bytes");

    if (scan.dimension) {
        const std::optional<std::int64_t> dimension = parseInt64(*scan.dimension);
        if (dimension && *dimension > MaxNrrdDimension)
            refuse(name + " has " + std::to_string(*dimension) + " dimensions; Kelvox shows at most four");
    }
    std::int64_t byteSkip = 0;
    if (scan.byteSkip) {
        const std::optional<std::int64_t> value = parseInt64(*scan.byteSkip);
        if (!value || *value < -1)
            refuse(name + " gives the byte skip \"" + *scan.byteSkip +
                   "\"; it must be a whole number of at least -1");
        byteSkip = *value;
    }
    std::int64_t lineSkip = 0;
    if (scan.lineSkip) {
        const std::optional<std::int64_t> value = parseInt64(*scan.lineSkip);
        if (!value || *value < 0)
            refuse(name + " gives the line skip \"" + *scan.lineSkip + "\"; it must be a whole number of at least 0");
        lineSkip = *value;
    }

    // The library opens the data file even when it reads only the header,
    // so the data file is checked first, for a clear refusal.
    const bool attached = !scan.dataFile;
    std::string dataPath = path;
    if (!attached) {
        const std::string& stated = *scan.dataFile;
        if (stated.starts_with("LIST") || stated.find('%') != std::string::npos)
            refuse(name + " spreads its data over several files, which Kelvox cannot show");
        if (stated.empty())
            refuse(name + " names no data file");
        dataPath = resolveDataPath(path, stated);
    }
    const std::int64_t dataFileSize = checkDataFile(path, dataPath);
    const std::int64_t dataStart = attached ? static_cast<std::int64_t>(scan.headerBytes) : 0;
    const std::int64_t skippedLineBytes = lineSkip > 0 ? lineSkipBytes(path, dataPath, dataStart, lineSkip) : 0;

    nrrdStateVerboseIO = 0;
    std::unique_ptr<Nrrd, NrrdDeleter> nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, NrrdIoDeleter> nio(nrrdIoStateNew());
    if (!nrrd || !nio)
        throw std::bad_alloc();
    nio->skipData = 1;
    // Relative data file names are found from the header's folder.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    nio->path = airStrdup(folder.empty() ? "." : folder.c_str());
    // The library reads the header from memory through a FILE: its own
    // string reader leaks on some malformed headers.
    std::string headerText = scan.withoutSkips;
    const std::unique_ptr<FILE, FileCloser> headerFile(::fmemopen(headerText.data(), headerText.size(), "rb"));
    if (!headerFile)
        refuse(name + " cannot be read: " + std::strerror(errno));
    if (nrrdRead(nrrd.get(), headerFile.get(), nio.get()) != 0)
        refuse(name + " is not a NRRD header Kelvox can read: " + takeLibraryError());

    if (nio->dataFNFormat || (nio->dataFNArr && nio->dataFNArr->len > 1))
        refuse(name + " spreads its data over several files, which Kelvox cannot show");
    const bool gzip = nio->encoding == nrrdEncodingGzip;
    if (nio->encoding != nrrdEncodingRaw && !gzip) {
        std::string encoding = nio->encoding->name;
        for (char& c : encoding)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
        refuse(name + " uses " + encoding + " encoding, which Kelvox cannot show");
    }

    VolumeLayout layout;
    if (!voxelTypeOfCode(NrrdTypes, &NrrdTypeCode::nrrdType, nrrd->type, layout.dataType)) {
        const bool wide = nrrd->type == nrrdTypeLLong || nrrd->type == nrrdTypeULLong;
        refuse(name + (wide ? " holds 64-bit integer voxels" : " holds voxels of a type without a fixed size") +
               ", which Kelvox cannot show");
    }
    std::array<std::int64_t, NRRD_DIM_MAX> sizes{};
    for (unsigned axis = 0; axis < nrrd->dim && axis < NRRD_DIM_MAX; ++axis) {
        const std::string_view composite = compositeKind(nrrd->axis[axis].kind);
        if (!composite.empty())
            refuse(name + " holds " + std::string(composite) + " voxels, which Kelvox cannot show");
        const std::size_t size = nrrd->axis[axis].size;
        sizes[axis] = size > static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max())
                          ? std::int64_t{-1}
                          : static_cast<std::int64_t>(size);
    }
    setDimensions(path, sizes.data(), nrrd->dim, layout);
    layout.byteOrder = nio->endian == airEndianBig && bytesPerVoxelOf(layout.dataType) > 1 ? boBigEndian
                                                                                            : boLittleEndian;
    if (gzip) {
        // Lines are skipped in the file, before the gzip data; bytes in the
        // unpacked data, as the library itself reads it.
        if (byteSkip == -1)
            refuse(name + " gives the byte skip -1 for gzip data, whose unpacked size only unpacking can tell");
        LayoutFileContents contents{layout, dataPath, VolumeEncoding::Gzip, 0};
        if (__builtin_add_overflow(dataStart, skippedLineBytes, &contents.streamStart))
            refuse(name + " skips more bytes than a file can hold");
        contents.layout.headerBytes = byteSkip;
        return contents;
    }
    if (byteSkip == -1) {
        layout.headerBytes = headerBytesForDataAtEnd(path, dataFileSize, layout);
    } else {
        std::int64_t header = 0;
        if (__builtin_add_overflow(dataStart, skippedLineBytes, &header) ||
            __builtin_add_overflow(header, byteSkip, &header))
            refuse(name + " skips more bytes than a file can hold");
        layout.headerBytes = header;
    }
    return {layout, dataPath, VolumeEncoding::Raw, 0};
}

std::string nrrdHeaderText(const VolumeLayout& layout, const std::string& dataFileName, std::int64_t lineSkip)
{
    std::string text = "NRRD0004\n# Kelvox: the layout of a raw file (the voxels are not copied)\n";
    text += "type: " + std::string(NrrdTypes[layout.dataType < VoxelTypeCount ? layout.dataType : 0].name) + "\n";
    const bool several = layout.volumes > 1;
    text += several ? "dimension: 4\n" : "dimension: 3\n";
    text += "sizes: " + std::to_string(layout.dims[0]) + " " + std::to_string(layout.dims[1]) + " " +
            std::to_string(layout.dims[2]);
    if (several)
        text += " " + std::to_string(layout.volumes);
    text += "\n";
    if (bytesPerVoxelOf(layout.dataType) > 1)
        text += layout.byteOrder == boBigEndian ? "endian: big\n" : "endian: little\n";
    text += lineSkip >= 0 ? "encoding: gzip\n" : "encoding: raw\n";
    if (lineSkip > 0)
        text += "line skip: " + std::to_string(lineSkip) + "\n";
    if (layout.headerBytes > 0)
        text += "byte skip: " + std::to_string(layout.headerBytes) + "\n";
    text += "data file: " + dataFileName + "\n";
    return text;
}
