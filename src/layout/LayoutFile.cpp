#include "layout/LayoutFile.h"

#include "layout/LayoutFileSupport.h"
#include "layout/MetaImageLayoutFile.h"
#include "layout/NiftiLayoutFile.h"
#include "layout/NrrdLayoutFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string lowerExtension(const std::string& path, std::size_t length)
{
    if (path.size() < length)
        return {};
    std::string ext = path.substr(path.size() - length);
    for (char& c : ext)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    return ext;
}

// The name a header writes for its data file: relative to the header's
// folder when the data lies in or below it, else absolute. Both paths are
// made absolute and free of symbolic-link detours first, so "../" never
// appears in a relative name.
std::string dataFileReference(const std::string& headerPath, const std::string& dataPath)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(fs::absolute(fs::path(headerPath)).parent_path(), ec);
    const fs::path data = fs::weakly_canonical(fs::absolute(fs::path(dataPath)), ec);
    const fs::path relative = data.lexically_relative(folder);
    if (!ec && !relative.empty() && *relative.begin() != "..")
        return relative.string();
    return data.string();
}

[[noreturn]] void cannotWrite(const std::string& path, const std::string& why)
{
    throw LayoutFileError("Cannot write " + path + ": " + why);
}

// Writes text to a temporary file beside path and renames it over path.
void writeFileAtomically(const std::string& path, const std::string& text)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        cannotWrite(path, std::strerror(errno));
    // mkstemp creates the file for the owner only; a header is as readable
    // as any file the user creates.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error) {
        ::unlink(temp.c_str());
        cannotWrite(path, std::strerror(error));
    }
}

// The lines of the data file before its compressed stream, which must start
// right after a line break within the first MiB (the gzip data of an attached
// NRRD header): NRRD skips lines, not bytes, before gzip data.
std::int64_t linesBeforeStream(const std::string& path, const std::string& dataPath, std::int64_t streamStart)
{
    if (streamStart <= 0)
        return 0;
    if (streamStart > static_cast<std::int64_t>(LayoutFileSupport::MaxHeaderBytes))
        cannotWrite(path, "the compressed data starts too far into its file for a NRRD line skip");
    std::string head;
    try {
        head = LayoutFileSupport::readPrefix(dataPath, static_cast<std::size_t>(streamStart));
    } catch (const LayoutFileError& e) {
        cannotWrite(path, e.what());
    }
    if (head.size() != static_cast<std::size_t>(streamStart) || head.back() != '\n')
        cannotWrite(path, "the compressed data does not start on a new line, so NRRD cannot skip to it");
    return static_cast<std::int64_t>(std::count(head.begin(), head.end(), '\n'));
}

} // namespace

bool layoutFileFormatOf(const std::string& path, LayoutFileFormat& format)
{
    const std::string ext4 = lowerExtension(path, 4);
    const std::string ext5 = lowerExtension(path, 5);
    if (ext5 == ".nhdr" || ext5 == ".nrrd") {
        format = LayoutFileFormat::Nrrd;
        return true;
    }
    if (ext4 == ".mhd" || ext4 == ".mha") {
        format = LayoutFileFormat::MetaImage;
        return true;
    }
    const std::string ext7 = lowerExtension(path, 7);
    if (ext4 == ".nii" || ext4 == ".hdr" || ext4 == ".img" || ext7 == ".nii.gz" || ext7 == ".img.gz") {
        format = LayoutFileFormat::Nifti;
        return true;
    }
    return false;
}

bool isLayoutFileName(const std::string& path)
{
    LayoutFileFormat format;
    return layoutFileFormatOf(path, format);
}

bool layoutSaveFormatOf(const std::string& path, LayoutSaveFormat& format)
{
    LayoutFileFormat read;
    if (!layoutFileFormatOf(path, read) || read == LayoutFileFormat::Nifti)
        return false;
    format = read == LayoutFileFormat::Nrrd ? LayoutSaveFormat::Nrrd : LayoutSaveFormat::MetaImage;
    return true;
}

LayoutFileReading readLayoutFile(const std::string& path)
{
    LayoutFileReading reading;
    LayoutFileFormat format;
    if (!layoutFileFormatOf(path, format)) {
        reading.outcome = LayoutFileReading::Outcome::PlainData;
        return reading;
    }
    // Refusals are results here, not errors: the caller shows the text and
    // changes nothing.
    try {
        switch (format) {
        case LayoutFileFormat::Nrrd:
            reading.contents = readNrrdLayout(path);
            break;
        case LayoutFileFormat::MetaImage:
            reading.contents = readMetaImageLayout(path);
            break;
        case LayoutFileFormat::Nifti: {
            const std::optional<LayoutFileContents> contents = readNiftiLayout(path);
            if (!contents) {
                reading.outcome = LayoutFileReading::Outcome::PlainData;
                return reading;
            }
            reading.contents = *contents;
            break;
        }
        }
        reading.outcome = LayoutFileReading::Outcome::Layout;
    } catch (const LayoutFileError& refusal) {
        reading.outcome = LayoutFileReading::Outcome::Refusal;
        reading.refusal = refusal.what();
    }
    return reading;
}

std::int64_t wholeVolumesIn(const VolumeLayout& layout, std::int64_t fileSize)
{
    VolumeLayout one = layout;
    one.volumes = 1;
    const std::int64_t volumeBytes = layoutDataBytes(one);
    if (volumeBytes <= 0 || layout.headerBytes < 0 || fileSize - layout.headerBytes < volumeBytes)
        return 1;
    return (fileSize - layout.headerBytes) / volumeBytes;
}

void writeLayoutFile(const std::string& path, LayoutSaveFormat format, const VolumeLayout& layout,
                     const std::string& dataPath, VolumeEncoding encoding, std::int64_t streamStart)
{
    if (layout.dataType >= VoxelTypeCount || layoutDataBytes(layout) < 0 || layout.headerBytes < 0)
        cannotWrite(path, "the layout is incomplete (every size must be at least 1)");
    // The header would replace the file that holds the voxels (the same file
    // under any name: a link, or an attached header's own data).
    struct stat target{}, data{};
    if (::stat(path.c_str(), &target) == 0 && ::stat(dataPath.c_str(), &data) == 0 && target.st_dev == data.st_dev
        && target.st_ino == data.st_ino)
        cannotWrite(path, "it is the file that holds the voxels; choose another name");
    const std::string reference = dataFileReference(path, dataPath);
    if (reference.find_first_of("\r\n") != std::string::npos)
        cannotWrite(path, "the data file's name contains a line break, which a header line cannot hold");
    if (reference.find('%') != std::string::npos)
        cannotWrite(path, "the data file's name contains %, which headers read as a numbered series of files");
    const bool packed = encoding == VolumeEncoding::Gzip || encoding == VolumeEncoding::Zlib;
    std::string text;
    if (!packed) {
        text = format == LayoutSaveFormat::Nrrd ? nrrdHeaderText(layout, reference)
                                                : metaImageHeaderText(layout, reference);
    } else if (format == LayoutSaveFormat::Nrrd) {
        if (encoding == VolumeEncoding::Zlib)
            cannotWrite(path, "NRRD has no encoding for zlib data; save it as MetaImage");
        text = nrrdHeaderText(layout, reference, linesBeforeStream(path, dataPath, streamStart));
    } else {
        if (layout.headerBytes != 0)
            cannotWrite(path, "MetaImage cannot skip header bytes inside compressed data; save it as NRRD");
        std::error_code ec;
        const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(dataPath, ec));
        if (ec || fileSize < streamStart)
            cannotWrite(path, "its data file " + dataPath + " cannot be read");
        VolumeLayout skipped = layout;
        skipped.headerBytes = streamStart;
        text = metaImageHeaderText(skipped, reference, fileSize - streamStart);
    }
    writeFileAtomically(path, text);
}
