#pragma once

#include "layout/VolumeLayout.h"
#include "volume/VolumeFile.h"

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Layout files: small headers that state how another file holds its voxels
// (detached or attached NRRD, MetaImage, NIfTI-1 and Analyze 7.5). Reading one
// never reads the voxels themselves; the data file may be tens of gigabytes.
// Compressed data (gzip NRRD, .nii.gz, .img.gz, zlib MetaImage) is described
// in its unpacked bytes, with where the compressed stream starts.

// A layout file the program could not write (or a refusal raised inside a
// reader, turned into LayoutFileReading::refusal before it leaves this layer).
// what() is the text shown to the user.
class LayoutFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What a layout file states: the layout and the file holding the voxels.
struct LayoutFileContents
{
    VolumeLayout layout;
    // The data file: the layout file's own path for attached data, otherwise
    // the stated name resolved against the layout file's folder.
    std::string dataPath;
    // How the data file holds the bytes: Raw, or Gzip / Zlib with the
    // compressed stream starting at byte streamStart of the file (after an
    // attached header); layout.headerBytes then counts in the unpacked bytes.
    VolumeEncoding encoding = VolumeEncoding::Raw;
    std::int64_t streamStart = 0;

    friend bool operator==(const LayoutFileContents&, const LayoutFileContents&) = default;
};

// The result of readLayoutFile.
struct LayoutFileReading
{
    enum class Outcome
    {
        Layout, // contents holds a layout that can be shown
        Refusal, // refusal says, for the user, why the file cannot be shown
        PlainData, // not a layout file after all (an .img without an Analyze or NIfTI-1 header): open it as bytes
    };
    Outcome outcome = Outcome::Refusal;
    LayoutFileContents contents;
    std::string refusal;
};

// What a header writer is given: the layout, the data file and how it holds
// the bytes, with the checks every format shares already passed.
struct LayoutHeaderRequest
{
    std::string path; // the header being written, for refusal texts
    VolumeLayout layout; // usable: every size at least 1, its bytes countable
    std::string dataFileName; // as the header names the data file (one line, no %)
    std::string dataPath; // the data file itself
    VolumeEncoding encoding = VolumeEncoding::Raw;
    std::int64_t streamStart = 0;
};

// One layout-file format: everything the dispatcher, the save dialog, the
// command line's messages and the tests need of it. Each format's unit
// defines one, and layoutFileFormats() lists them all; a new format is its
// unit and one line in that list.
struct LayoutFileFormat
{
    // The format's name in messages ("NRRD", "MetaImage").
    std::string_view name;
    // The extensions that name a file of this format, lower case with their
    // dot; ".gz" forms are the compressed files. A saved header takes the
    // first.
    std::span<const std::string_view> extensions;
    // Whether the first bytes of a file (unpacked, for a compressed one) look
    // like this format's header.
    bool (*contentLooksLike)(std::string_view head);
    // Reads the layout the file at path states, header only. nullopt: not a
    // layout file after all (plain data). Throws LayoutFileError with the
    // refusal text.
    std::optional<LayoutFileContents> (*read)(const std::string& path);
    // The text of a detached header, or nullptr for a format the program
    // does not write. Throws LayoutFileError ("Cannot write <path>: why").
    std::string (*headerText)(const LayoutHeaderRequest& request);
    // The save dialog's words for the file type ("NRRD header"), shown with
    // the first extension; empty for a format the program does not write.
    std::string_view saveFilterName;

    bool writable() const { return headerText != nullptr; }
};

// Every layout-file format, in the order the save dialog and messages list
// them.
std::span<const LayoutFileFormat* const> layoutFileFormats();

// The formats the program writes (those with a header writer), in the same
// order.
std::vector<const LayoutFileFormat*> writableLayoutFileFormats();

// The extensions of formats as a user types them, the ".gz" forms of
// compressed files left out: .nhdr .nrrd .mhd .mha .nii .hdr .img.
std::vector<std::string_view> typedLayoutFileExtensions(std::span<const LayoutFileFormat* const> formats);

// The same joined by separator, the last two by lastSeparator: ".nhdr,
// .nrrd, .mhd or .mha".
std::string layoutFileExtensionList(std::span<const LayoutFileFormat* const> formats, std::string_view separator,
                                    std::string_view lastSeparator);

// Whether the name's extension (case-insensitive) is one of the layout-file
// extensions: .nhdr .nrrd .mhd .mha .nii .nii.gz .hdr .img .img.gz.
bool isLayoutFileName(const std::string& path);

// The format an extension (case-insensitive) names, for reading; nullptr for
// any other name.
const LayoutFileFormat* layoutFileFormatOf(const std::string& path);

// Reads the layout file at path (the format chosen by its extension). Never
// throws for anything in the file: unreadable, hostile or unsupported content
// comes back as a refusal. Checks that the data file exists and is a file.
LayoutFileReading readLayoutFile(const std::string& path);

// Whole volumes a file of fileSize bytes holds under layout (its volumes
// field is ignored): the bytes after the header divided by one volume's
// bytes, at least 1 (a header describes one volume even of a short file).
std::int64_t wholeVolumesIn(const VolumeLayout& layout, std::int64_t fileSize);

// The format a name's extension asks for when it is saved (.nhdr/.nrrd ->
// NRRD, .mhd/.mha -> MetaImage); nullptr for a name of a format the program
// does not write, or of none.
const LayoutFileFormat* layoutSaveFormatOf(const std::string& path);

// Writes a detached header at path that describes dataPath under layout. The
// data file is named relative to the header's folder when it lies in or below
// that folder, else by its absolute path. The text goes to a temporary file in
// the same folder that is renamed over path once complete, so a failed write
// leaves no partial file. Throws LayoutFileError saying why on failure
// (including a format the program does not write, a layout that is not
// usable, a data path a header line cannot hold, and a path that is the data
// file itself under any name, which is left as it is). Compressed data keeps its encoding: NRRD "encoding: gzip" (with a
// line skip for a stream after an attached header; zlib data has no NRRD
// encoding and is refused), MetaImage "CompressedData = True" (the stream's
// start as HeaderSize; header bytes inside the unpacked data cannot be said
// and are refused).
void writeLayoutFile(const std::string& path, const LayoutFileFormat& format, const VolumeLayout& layout,
                     const std::string& dataPath, VolumeEncoding encoding = VolumeEncoding::Raw,
                     std::int64_t streamStart = 0);
