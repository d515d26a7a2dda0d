#include "layout/LayoutFile.h"

#include "layout/LayoutFileSupport.h"
#include "layout/MetaImageLayoutFile.h"
#include "layout/NiftiLayoutFile.h"
#include "layout/NrrdLayoutFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using LayoutFileSupport::cannotWrite;

namespace {

// Every layout-file format, one line each, in the order the save dialog and
// the messages list them. No extension of one may end another's (a test
// checks), so the first format whose extension ends the name is the only one.
constexpr auto Formats = std::to_array<const LayoutFileFormat*>({
    &NrrdLayoutFormat,
    &MetaImageLayoutFormat,
    &NiftiLayoutFormat,
});

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

} // namespace

std::span<const LayoutFileFormat* const> layoutFileFormats()
{
    return Formats;
}

std::vector<const LayoutFileFormat*> writableLayoutFileFormats()
{
    std::vector<const LayoutFileFormat*> writable;
    for (const LayoutFileFormat* format : Formats) {
        if (format->writable())
            writable.push_back(format);
    }
    return writable;
}

std::vector<std::string_view> typedLayoutFileExtensions(std::span<const LayoutFileFormat* const> formats)
{
    std::vector<std::string_view> typed;
    for (const LayoutFileFormat* format : formats) {
        for (const std::string_view ext : format->extensions) {
            if (!ext.ends_with(".gz"))
                typed.push_back(ext);
        }
    }
    return typed;
}

std::string layoutFileExtensionList(std::span<const LayoutFileFormat* const> formats, std::string_view separator,
                                    std::string_view lastSeparator)
{
    const std::vector<std::string_view> typed = typedLayoutFileExtensions(formats);
    std::string list;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (i > 0)
            list += i + 1 == typed.size() ? lastSeparator : separator;
        list += typed[i];
    }
    return list;
}

const LayoutFileFormat* layoutFileFormatOf(const std::string& path)
{
    for (const LayoutFileFormat* format : Formats) {
        for (const std::string_view ext : format->extensions) {
            if (lowerExtension(path, ext.size()) == ext)
                return format;
        }
    }
    return nullptr;
}

bool isLayoutFileName(const std::string& path)
{
    return layoutFileFormatOf(path) != nullptr;
}

const LayoutFileFormat* layoutSaveFormatOf(const std::string& path)
{
    const LayoutFileFormat* format = layoutFileFormatOf(path);
    return format && format->writable() ? format : nullptr;
}

LayoutFileReading readLayoutFile(const std::string& path)
{
    LayoutFileReading reading;
    const LayoutFileFormat* format = layoutFileFormatOf(path);
    if (!format) {
        reading.outcome = LayoutFileReading::Outcome::PlainData;
        return reading;
    }
    // Refusals are results here, not errors: the caller shows the text and
    // changes nothing.
    try {
        const std::optional<LayoutFileContents> contents = format->read(path);
        if (!contents) {
            reading.outcome = LayoutFileReading::Outcome::PlainData;
            return reading;
        }
        reading.contents = *contents;
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

void writeLayoutFile(const std::string& path, const LayoutFileFormat& format, const VolumeLayout& layout,
                     const std::string& dataPath, VolumeEncoding encoding, std::int64_t streamStart)
{
    if (!format.writable())
        cannotWrite(path, "Kelvox does not write " + std::string(format.name) + " headers");
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
    writeFileAtomically(path, format.headerText({path, layout, reference, dataPath, encoding, streamStart}));
}
