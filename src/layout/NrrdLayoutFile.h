#pragma once

#include "layout/LayoutFile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The fields of a NRRD header that are checked before the NRRD library parses
// it: where the header ends (the data of an attached file starts there) and
// the values that decide which files and how many bytes the library would
// touch.
struct NrrdHeaderScan
{
    // Bytes of the header: through its blank line when it has one, else all
    // of the text given.
    std::size_t headerBytes = 0;
    bool endsWithBlankLine = false;
    // Field values, trimmed, when the field is present.
    std::optional<std::string> dimension;
    std::optional<std::string> dataFile;
    std::optional<std::string> byteSkip;
    std::optional<std::string> lineSkip;
    // The header through its blank line, without its byte-skip and line-skip
    // lines: the skips are applied here, so the library never seeks or reads
    // lines in a data file that may be huge or short.
    std::string withoutSkips;
};

// The NRRD format (.nhdr detached, .nrrd detached or attached; raw or gzip
// data), as layoutFileFormats() lists it.
extern const LayoutFileFormat NrrdLayoutFormat;

// Whether bytes start with a NRRD magic line ("NRRD000" and a digit).
bool hasNrrdMagic(std::string_view bytes);

// Scans the header at the start of bytes (the magic line first); reads
// nothing beyond bytes and accepts any content.
NrrdHeaderScan scanNrrdHeader(std::string_view bytes);

// Reads the layout stated by the NRRD file at path (detached header or
// attached data), header only, through the NRRD library. Throws
// LayoutFileError with the refusal text.
LayoutFileContents readNrrdLayout(const std::string& path);

// The text of a detached NRRD header for layout whose data file is named
// dataFileName (relative to the header's folder, or absolute). lineSkip -1
// says raw data; 0 or more gzip data after that many lines of the file
// (layout.headerBytes is then skipped in the unpacked data).
std::string nrrdHeaderText(const VolumeLayout& layout, const std::string& dataFileName, std::int64_t lineSkip = -1);
