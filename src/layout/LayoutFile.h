#pragma once

#include "layout/VolumeLayout.h"
#include "volume/VolumeFile.h"

#include <stdexcept>
#include <string>

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

enum class LayoutFileFormat
{
    Nrrd, // .nhdr (detached) or .nrrd (detached or attached)
    MetaImage, // .mhd (detached) or .mha (attached)
    Nifti, // .nii, .nii.gz, or the .hdr/.img pair (NIfTI-1 or Analyze 7.5)
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

// Whether the name's extension (case-insensitive) is one of the layout-file
// extensions: .nhdr .nrrd .mhd .mha .nii .nii.gz .hdr .img .img.gz.
bool isLayoutFileName(const std::string& path);

// The format an extension names, for reading; false for any other name.
bool layoutFileFormatOf(const std::string& path, LayoutFileFormat& format);

// Reads the layout file at path (the format chosen by its extension). Never
// throws for anything in the file: unreadable, hostile or unsupported content
// comes back as a refusal. Checks that the data file exists and is a file.
LayoutFileReading readLayoutFile(const std::string& path);

// Whole volumes a file of fileSize bytes holds under layout (its volumes
// field is ignored): the bytes after the header divided by one volume's
// bytes, at least 1 (a header describes one volume even of a short file).
std::int64_t wholeVolumesIn(const VolumeLayout& layout, std::int64_t fileSize);

// Formats the save dialog offers; both are detached headers.
enum class LayoutSaveFormat
{
    Nrrd, // .nhdr
    MetaImage, // .mhd
};

// The save format a name's extension asks for (.nhdr/.nrrd -> Nrrd,
// .mhd/.mha -> MetaImage); false for any other name.
bool layoutSaveFormatOf(const std::string& path, LayoutSaveFormat& format);

// Writes a detached header at path that describes dataPath under layout. The
// data file is named relative to the header's folder when it lies in or below
// that folder, else by its absolute path. The text goes to a temporary file in
// the same folder that is renamed over path once complete, so a failed write
// leaves no partial file. Throws LayoutFileError saying why on failure
// (including a layout that is not usable, a data path a header line cannot
// hold, and a path that is the data file itself under any name, which is left
// as it is). Compressed data keeps its encoding: NRRD "encoding: gzip" (with a
// line skip for a stream after an attached header; zlib data has no NRRD
// encoding and is refused), MetaImage "CompressedData = True" (the stream's
// start as HeaderSize; header bytes inside the unpacked data cannot be said
// and are refused).
void writeLayoutFile(const std::string& path, LayoutSaveFormat format, const VolumeLayout& layout,
                     const std::string& dataPath, VolumeEncoding encoding = VolumeEncoding::Raw,
                     std::int64_t streamStart = 0);
