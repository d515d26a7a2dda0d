// kelvox-render: renders one view of a volume file to a PNG, with the same
// data manager and the same arguments as the main window's refresh.
//
//   kelvox-render FILE --dims D0xD1xD2 --type u8|i16|i32|f32|u16|i8|u32|f64
//                 --order little|big --window MIN:MAX [--header N]
//                 --view slice|next|cross|other [--slice N] [--row N]
//                 [--volume N] [--readout X,Y] --out OUT.png
//
// --readout X,Y prints, after rendering, the three status-bar texts the main
// window shows for the pointer at column X, row Y of the rendered view, one
// line each (panel 0, panel 1, panel 2), from the window's own code.
// --header N skips N bytes before the first voxel (default 0).
// --zoom 1:k|n:1|fit:WxH renders the view as the window shows it at that
// zoom (fit: the window's Fit for a scrolling area of W x H pixels);
// --readout X,Y then names a pixel of the PNG.
//
//   kelvox-render RAW --dims D0xD1xD2 --type T --order O [--header N]
//                 --save-layout OUT.nhdr|OUT.mhd [view options --out OUT.png]
//
// --save-layout writes a detached NRRD or MetaImage header (by OUT's
// extension) describing RAW under the layout, with as many volumes as RAW
// holds whole; it renders only when --out is given too.
//
//   kelvox-render LAYOUTFILE [view options] --out OUT.png
//
// A layout file (.nhdr .nrrd .mhd .mha .nii .hdr .img) gives the data file
// and its layout; --dims, --type, --order and --header given as well override
// it. --view defaults to slice and --window to the rendered slice's own value
// range, as the window takes it when it opens a layout file. A layout file
// that cannot be shown exits 1 with the reason.
//
//   kelvox-render FILE --guess [--top N]
//
// --guess prints the best N (default 5) layouts the guesser proposes for
// FILE, best first, one a line: "<d0>x<d1>x<d2> <type> <order> header=<bytes>
// volumes=<n> score=<s.sss>"; no PNG is written and no view options are
// needed. For a layout file it prints the layout the file states, score
// 1.000. Exit status 0 (also when nothing fits: no lines), 1 when FILE
// cannot be opened or is a layout file that cannot be shown, 2 for bad
// arguments.
//
// --help or -h prints the usage and exits 0; no arguments at all print it to
// standard error and exit 2.
//
// Options take their value as the next argument or after "=". Exit status:
// 0 rendered, 1 the file could not be opened (the view is still written, all
// light blue) or OUT could not be written, 2 bad arguments. Nothing but OUT
// and the --save-layout header is ever written.

#include "layout/DataMgrLayout.h"
#include "layout/LayoutFile.h"
#include "layout/LayoutGuess.h"
#include "layout/VolumeFileSource.h"
#include "volume/Kelvox_DataMgr.h"
#include "ui/IntText.h"
#include "ui/NumberFormat.h"
#include "ui/QImageViewImage.h"
#include "ui/SliceWindow.h"
#include "ui/ViewZoomFit.h"
#include "volume/ViewZoom.h"

#include <QImage>
#include <QLocale>
#include <QString>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// The usage, the layout-file formats' names and extensions taken from their
// table.
// The short names of the voxel types in their order, sep between them.
std::string voxelTypeNames(const char* sep)
{
    std::string names;
    for (const VoxelTypeInfo& info : VoxelTypes)
        names += (names.empty() ? "" : sep) + std::string(info.shortName);
    return names;
}

std::string usageText()
{
    const std::vector<const LayoutFileFormat*> writable = writableLayoutFileFormats();
    std::string saved;
    for (const LayoutFileFormat* format : writable) {
        if (!saved.empty())
            saved += " or ";
        saved += std::string(format->name) + " (" + layoutFileExtensionList({&format, 1}, " ", " ") + ")";
    }
    return
    "Usage: kelvox-render FILE [options] --out OUT.png     render one view of FILE\n"
    "       kelvox-render FILE --guess [--top N]           list the likeliest layouts of FILE\n"
    "       kelvox-render FILE [layout] --save-layout OUT" + layoutFileExtensionList(writable, "|", "|") + "\n"
    "FILE is a raw file, or a layout file (" + layoutFileExtensionList(layoutFileFormats(), " ", " ") +
    ") that states its layout.\n"
    "  --dims D0xD1xD2         voxels per row, rows per slice, slices per volume (1 to " +
    std::to_string(MaxShownDim) + " each)\n"
    "  --type T                " + voxelTypeNames(" ") + "\n"
    "  --order little|big      byte order of multi-byte voxels\n"
    "  --header N              bytes before the first voxel (default 0)\n"
    "  --window MIN:MAX        black and white values: integers or decimals (u32: up to 4294967295)\n"
    "  --view V                slice, next, cross or other: the view to render (a layout file: slice)\n"
    "  --slice N               the slice shown (default 0)\n"
    "  --row N                 the row of every slice the cross-slice view shows (default 0)\n"
    "  --volume N              the volume of the other-volume view (default 0)\n"
    "  --readout X,Y           also print the status-bar texts for the voxel at column X, row Y\n"
    "  --out OUT.png           the PNG to write\n"
    "  --guess                 print the likeliest layouts, best first, one a line (a layout file: its own)\n"
    "  --top N                 with --guess: how many layouts (default 5)\n"
    "  --save-layout OUT       write a detached " + saved + " header for FILE\n"
    "  -h, --help              print this text\n"
    "Options take their value as the next argument or after \"=\".\n"
    "Exit status: 0 done, 1 FILE could not be opened or shown or OUT not written, 2 bad arguments.\n";
}

// --help or -h: print the usage and exit 0.
struct HelpRequested
{
};

// A bad command line; the message names the argument.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct RenderOptions
{
    std::string file;
    std::optional<std::array<std::int32_t, 3>> dims;
    std::optional<TVoxelDataType> type;
    std::optional<TByteOrder> order;
    // --window's text; its ends are read once the data type is known.
    std::optional<std::string> window;
    std::optional<std::pair<double, double>> windowEnds;
    std::optional<std::int64_t> header;
    std::optional<TViewKind> view;
    std::int32_t slice = 0;
    std::int32_t row = 0;
    std::int32_t volume = 0;
    std::optional<std::pair<std::int32_t, std::int32_t>> readout;
    std::string out;
    std::string saveLayout;
    // The layout came from a layout file (FILE is then its data file).
    bool fromLayoutFile = false;
    // How FILE holds its bytes, as its layout file says (else by its magic).
    VolumeEncoding encoding = VolumeEncoding::Detect;
    std::int64_t streamStart = 0;
    bool guess = false; // --guess: list layouts instead of rendering
    std::optional<std::int32_t> top;
    // --zoom 1:k|n:1|fit:WxH (WxH: the window's scrolling area); 1:1 when absent.
    std::optional<TViewZoom> zoom;
    std::optional<std::pair<std::int32_t, std::int32_t>> fitArea;
};

// --zoom: "1:k", "n:1" or "fit:WxH".
void parseZoomOption(RenderOptions& o, std::string_view text)
{
    if (text.substr(0, 4) == "fit:") {
        const std::string_view area = text.substr(4);
        const std::size_t x = area.find('x');
        if (x != std::string_view::npos) {
            std::int32_t w = 0, h = 0;
            const auto [pw, ew] = std::from_chars(area.data(), area.data() + x, w);
            const auto [ph, eh] = std::from_chars(area.data() + x + 1, area.data() + area.size(), h);
            if (ew == std::errc() && eh == std::errc() && pw == area.data() + x && ph == area.data() + area.size()
                && w > 0 && h > 0) {
                o.fitArea = std::pair{w, h};
                return;
            }
        }
    } else if (const std::optional<TViewZoom> zoom = parseZoom(text)) {
        o.zoom = *zoom;
        return;
    }
    throw UsageError("--zoom: expected 1:k, n:1 or fit:WxH, got \"" + std::string(text) + "\"");
}

// A layout file that cannot be shown, or a layout that cannot be saved:
// exit status 1, the message on standard error.
class LayoutFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::int32_t parseInt32(std::string_view text, const std::string& option)
{
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end)
        throw UsageError(option + ": not a 32-bit integer: \"" + std::string(text) + "\"");
    return value;
}

std::int64_t parseHeader(std::string_view text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || value < 0)
        throw UsageError("--header: expected 0 to 9223372036854775807 bytes, got \"" + std::string(text) + "\"");
    return value;
}

TVoxelDataType parseType(std::string_view text)
{
    TVoxelDataType type = vdtByte;
    if (voxelTypeFromShortName(text, type))
        return type;
    throw UsageError("--type: expected " + voxelTypeNames("|") + ", got \"" + std::string(text) + "\"");
}

std::array<std::int32_t, 3> parseDims(std::string_view whole)
{
    std::array<std::int32_t, 3> dims{};
    std::string_view text = whole;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t x = i < 2 ? text.find('x') : text.size();
        if (x == std::string_view::npos || (i == 2 && text.find('x') != std::string_view::npos))
            throw UsageError("--dims: expected D0xD1xD2, got \"" + std::string(whole) + "\"");
        dims[i] = parseInt32(text.substr(0, x), "--dims");
        // As the window's edits take them; a PNG needs at least one pixel each way.
        if (dims[i] < 1 || dims[i] > MaxShownDim)
            throw UsageError("--dims: each size must be 1 to " + std::to_string(MaxShownDim));
        text.remove_prefix(i < 2 ? x + 1 : x);
    }
    return dims;
}

// The ends of --window MIN:MAX as the intensity edits read them under type:
// integers, decimals ("." or the system locale's separator, exponent form),
// and for UInt-32 whole numbers up to 4294967295.
std::pair<double, double> parseWindow(std::string_view text, TVoxelDataType type)
{
    // The first ':' after a possible leading sign separates the two ends.
    const std::size_t colon = text.find(':', 1);
    if (text.empty() || colon == std::string_view::npos)
        throw UsageError("--window: expected MIN:MAX, got \"" + std::string(text) + "\"");
    const auto end = [&](std::string_view part) {
        const std::optional<double> value =
            parseIntensityText(QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size())), type,
                               QLocale::system());
        if (!value)
            throw UsageError("--window: not a number for " + std::string(VoxelTypes[type].shortName) + ": \""
                             + std::string(part) + "\"");
        return *value;
    };
    return {end(text.substr(0, colon)), end(text.substr(colon + 1))};
}

std::pair<std::int32_t, std::int32_t> parseReadout(std::string_view text)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        throw UsageError("--readout: expected X,Y, got \"" + std::string(text) + "\"");
    return {parseInt32(text.substr(0, comma), "--readout"), parseInt32(text.substr(comma + 1), "--readout")};
}

template <typename T>
T parseChoice(std::string_view text, const std::string& option,
              std::initializer_list<std::pair<std::string_view, T>> choices)
{
    std::string names;
    for (const auto& [name, value] : choices) {
        if (text == name)
            return value;
        names += (names.empty() ? "" : "|") + std::string(name);
    }
    throw UsageError(option + ": expected " + names + ", got \"" + std::string(text) + "\"");
}

// Each option with the handler of its value. A new option is one entry.
using OptionHandler = std::function<void(RenderOptions&, std::string_view)>;

const std::vector<std::pair<std::string, OptionHandler>>& optionTable()
{
    static const std::vector<std::pair<std::string, OptionHandler>> table{
        {"--dims", [](RenderOptions& o, std::string_view v) { o.dims = parseDims(v); }},
        {"--type", [](RenderOptions& o, std::string_view v) { o.type = parseType(v); }},
        {"--header", [](RenderOptions& o, std::string_view v) { o.header = parseHeader(v); }},
        {"--order",
         [](RenderOptions& o, std::string_view v) {
             o.order = parseChoice<TByteOrder>(v, "--order", {{"little", boLittleEndian}, {"big", boBigEndian}});
         }},
        {"--window", [](RenderOptions& o, std::string_view v) { o.window = std::string(v); }},
        {"--view",
         [](RenderOptions& o, std::string_view v) {
             o.view = parseChoice<TViewKind>(
                 v, "--view",
                 {{"slice", vkSlice}, {"next", vkNextSlice}, {"cross", vkCrossSlice}, {"other", vkOtherVolume}});
         }},
        {"--slice", [](RenderOptions& o, std::string_view v) { o.slice = parseInt32(v, "--slice"); }},
        {"--row", [](RenderOptions& o, std::string_view v) { o.row = parseInt32(v, "--row"); }},
        {"--volume", [](RenderOptions& o, std::string_view v) { o.volume = parseInt32(v, "--volume"); }},
        {"--readout", [](RenderOptions& o, std::string_view v) { o.readout = parseReadout(v); }},
        {"--zoom", parseZoomOption},
        {"--top",
         [](RenderOptions& o, std::string_view v) {
             o.top = parseInt32(v, "--top");
             if (*o.top < 1)
                 throw UsageError("--top: expected at least 1, got \"" + std::string(v) + "\"");
         }},
        {"--out",
         [](RenderOptions& o, std::string_view v) {
             if (v.empty())
                 throw UsageError("--out: empty file name");
             o.out = std::string(v);
         }},
        {"--save-layout",
         [](RenderOptions& o, std::string_view v) {
             if (!layoutSaveFormatOf(std::string(v)))
                 throw UsageError("--save-layout: expected a name ending in "
                                  + layoutFileExtensionList(writableLayoutFileFormats(), ", ", " or ") + ", got \""
                                  + std::string(v) + "\"");
             o.saveLayout = std::string(v);
         }},
    };
    return table;
}

RenderOptions parseArguments(int argc, char** argv)
{
    RenderOptions options;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h")
            throw HelpRequested{};
        if (arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (haveFile)
                throw UsageError("unexpected argument \"" + std::string(arg) + "\" (one FILE only)");
            if (arg.empty())
                throw UsageError("FILE: empty file name");
            options.file = std::string(arg);
            haveFile = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name(arg.substr(0, eq));
        if (name == "--guess") {
            if (eq != std::string_view::npos)
                throw UsageError("--guess: takes no value");
            options.guess = true;
            continue;
        }
        const OptionHandler* handler = nullptr;
        for (const auto& [optionName, optionHandler] : optionTable())
            if (optionName == name)
                handler = &optionHandler;
        if (!handler)
            throw UsageError("unknown option \"" + name + "\"");
        std::string_view value;
        if (eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
        } else {
            if (i + 1 >= argc)
                throw UsageError(name + ": missing value");
            value = argv[++i];
        }
        (*handler)(options, value);
    }
    if (!haveFile)
        throw UsageError("FILE: missing");
    if (options.top && !options.guess)
        throw UsageError("--top: only with --guess");
    if (options.guess && !options.saveLayout.empty())
        throw UsageError("--save-layout: not with --guess");
    return options;
}

// When FILE is a layout file: its data file becomes FILE and its layout fills
// every layout option not given on the command line. Throws LayoutFailure
// with the reason when the layout file cannot be shown.
void takeLayoutFile(RenderOptions& options)
{
    const LayoutFileReading reading = readLayoutFile(options.file);
    if (reading.outcome == LayoutFileReading::Outcome::PlainData)
        return;
    if (reading.outcome == LayoutFileReading::Outcome::Refusal)
        throw LayoutFailure(reading.refusal);
    const VolumeLayout& layout = reading.contents.layout;
    if (!options.dims) {
        const std::string reason = unshowableLayoutReason(layout);
        if (!reason.empty())
            throw LayoutFailure(options.file + " states " + reason);
        options.dims = std::array<std::int32_t, 3>{static_cast<std::int32_t>(layout.dims[0]),
                                                   static_cast<std::int32_t>(layout.dims[1]),
                                                   static_cast<std::int32_t>(layout.dims[2])};
    }
    options.type = options.type.value_or(layout.dataType);
    options.order = options.order.value_or(layout.byteOrder);
    options.header = options.header.value_or(layout.headerBytes);
    options.file = reading.contents.dataPath;
    options.encoding = reading.contents.encoding;
    options.streamStart = reading.contents.streamStart;
    options.fromLayoutFile = true;
}

// The options every run needs, once a layout file has filled its part.
void checkOptions(RenderOptions& options)
{
    if (!options.dims)
        throw UsageError("--dims: missing");
    if (!options.type)
        throw UsageError("--type: missing");
    if (!options.order)
        throw UsageError("--order: missing");
    if (options.saveLayout.empty() || !options.out.empty()) {
        if (!options.window && !options.fromLayoutFile)
            throw UsageError("--window: missing");
        if (!options.view && !options.fromLayoutFile)
            throw UsageError("--view: missing");
        if (options.out.empty())
            throw UsageError("--out: missing");
    }
    if (options.window)
        options.windowEnds = parseWindow(*options.window, *options.type);
    if (!options.view)
        options.view = vkSlice;
    if (options.readout) {
        // The window reads out only positions inside an image.
        const auto [width, height] = viewVoxels(*options.view, *options.dims);
        const auto [x, y] = *options.readout;
        if (x < 0 || x >= width || y < 0 || y >= height)
            throw UsageError("--readout: " + std::to_string(x) + "," + std::to_string(y) + " lies outside the "
                             + std::to_string(width) + "x" + std::to_string(height) + " view");
    }
}

// The layout the options state (one volume).
VolumeLayout layoutOf(const RenderOptions& o)
{
    VolumeLayout layout;
    layout.dims = {(*o.dims)[0], (*o.dims)[1], (*o.dims)[2]};
    layout.dataType = *o.type;
    layout.byteOrder = *o.order;
    layout.headerBytes = o.header.value_or(0);
    return layout;
}

// Writes the --save-layout header for the file dataMgr has open, under its
// guess, with the whole volumes the file holds (as the window saves it).
void saveLayout(const RenderOptions& o, const TKelvoxDataMgr& dataMgr)
{
    if (dataMgr.FileName.empty())
        throw LayoutFailure("Cannot write " + o.saveLayout + ": " + dataMgr.ErrorText);
    // The name was checked when the options were read.
    writeLayoutFile(o.saveLayout, *layoutSaveFormatOf(o.saveLayout), layoutOf(dataMgr), dataMgr.FileName, dataMgr.Stream->encoding(),
                    dataMgr.Stream->streamStart());
}

int run(const RenderOptions& o)
{
    TKelvoxDataMgr dataMgr;
    dataMgr.OpenFile(o.file, o.encoding, o.streamStart, {});
    const VolumeLayout layout = layoutOf(o);
    setLayout(dataMgr, layout, 0, 0);
    if (!o.saveLayout.empty()) {
        saveLayout(o, dataMgr);
        if (o.out.empty())
            return 0;
    }
    int status = 0;
    if (dataMgr.FileName.empty()) {
        std::fprintf(stderr, "kelvox-render: %s\n", dataMgr.ErrorText.c_str());
        status = 1;
    }
    // Without --window, the slice's own range, as the window takes it for an
    // opened layout file.
    const auto [low, high] = o.windowEnds ? *o.windowEnds : sliceOwnWindow(dataMgr, o.slice);
    setLayout(dataMgr, layout, low, high);

    // The zoom as the window shows it: 1:k rendered by the data manager,
    // n:1 each pixel repeated n x n as the view widget paints it.
    const TViewZoom zoom = o.fitArea ? fitZoom(*o.dims, o.fitArea->first, o.fitArea->second, ViewPanelTop)
                                     : o.zoom.value_or(TViewZoom{});
    QImageViewImage rendered;
    const ShownPosition shown{o.slice, o.row, o.volume};
    dataMgr.RenderView(*o.view, shown, rendered, zoom.out);
    QImageViewImage image;
    image.setSize24(rendered.image().width() * zoom.in, rendered.image().height() * zoom.in);
    for (int y = 0; y < image.image().height(); ++y)
        magnifyRow24(rendered.image().constScanLine(y / zoom.in), zoom.in, 0,
                     static_cast<std::size_t>(image.image().width()), image.rowPointer(y));
    // Numbers in the system locale's format, as the window shows them.
    const QLocale locale = QLocale::system();
    if (*o.view == vkSlice)
        std::printf("%s\n", intensityLabelText(dataMgr.ObservedMin, dataMgr.ObservedMax, locale).toStdString().c_str());
    if (o.readout) {
        // --readout names a pixel of the PNG: the voxel whose pixel it is.
        const ReadoutTexts texts = voxelReadout(dataMgr, *o.view, static_cast<std::int32_t>(zoom.voxelAt(o.readout->first)),
                                                static_cast<std::int32_t>(zoom.voxelAt(o.readout->second)), shown, locale);
        for (const QString* text : {&texts.panel0, &texts.panel1, &texts.panel2})
            std::printf("%s\n", text->toStdString().c_str());
    }

    if (!image.image().save(QString::fromStdString(o.out), "PNG")) {
        std::fprintf(stderr, "kelvox-render: cannot write %s\n", o.out.c_str());
        return 1;
    }
    return status;
}

// --guess: the ranked layouts, one line each.
int runGuess(const RenderOptions& o)
{
    constexpr std::int32_t DefaultTop = 5;
    // A layout file states its layout: that is the one answer.
    const LayoutFileReading reading = readLayoutFile(o.file);
    if (reading.outcome == LayoutFileReading::Outcome::Refusal) {
        std::fprintf(stderr, "kelvox-render: %s\n", reading.refusal.c_str());
        return 1;
    }
    if (reading.outcome == LayoutFileReading::Outcome::Layout) {
        const std::string reason = unshowableLayoutReason(reading.contents.layout);
        if (!reason.empty()) {
            std::fprintf(stderr, "kelvox-render: %s states %s\n", o.file.c_str(), reason.c_str());
            return 1;
        }
        std::printf("%s\n", guessLine({reading.contents.layout, 1.0, "stated by the file"}).c_str());
        return 0;
    }
    // Opened as a render opens it (the same words when it cannot be), and
    // read through the same access as the views: a compressed file unpacked.
    TKelvoxDataMgr opened;
    opened.OpenFile(o.file);
    if (opened.FileName.empty()) {
        std::fprintf(stderr, "kelvox-render: %s\n", opened.ErrorText.c_str());
        return 1;
    }
    std::vector<LayoutCandidate> guesses;
    try {
        guesses = guessLayoutOfVolume(*opened.Stream, o.file, static_cast<std::size_t>(o.top.value_or(DefaultTop)));
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "kelvox-render: %s\n", e.what());
        return 1;
    }
    for (const LayoutCandidate& c : guesses)
        std::printf("%s\n", guessLine(c).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    RenderOptions options;
    if (argc < 2) {
        std::fputs(usageText().c_str(), stderr);
        return 2;
    }
    try {
        options = parseArguments(argc, argv);
        // --guess looks at FILE's bytes as they are and needs nothing else.
        if (!options.guess) {
            takeLayoutFile(options);
            checkOptions(options);
        }
    } catch (const HelpRequested&) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kelvox-render: %s\n", e.what());
        return 2;
    } catch (const LayoutFailure& e) {
        std::fprintf(stderr, "kelvox-render: %s\n", e.what());
        return 1;
    }
    try {
        return options.guess ? runGuess(options) : run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvox-render: %s\n", e.what());
        return 1;
    }
}
