#pragma once

#include "volume/ViewBuffer.h"
#include "volume/ViewPlace.h"
#include "volume/ViewZoom.h"
#include "volume/VoxelType.h"
#include "volume/VolumeFile.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class ReadAhead;
class ViewImage;

// Starting capacity of each view buffer: 4 MiB, 1,048,576 32-bit words.
inline constexpr std::int32_t ViewBufferSize = 4194304;

// A slice view at 1:1 is read in pieces of this many bytes (the last one
// shorter), each painted right after its read, while its bytes and pixels
// are still in the core's own cache, and so that a newer render can stop a
// large one. Measured with render_bench: on a Xeon a 1024 x 1024 slice
// renders up to a fifth faster than in pieces of 2 MiB (there the copy from
// the page cache seems to leave the bytes in the core's own cache); on an
// EPYC the size made no difference.
inline constexpr std::size_t ReadPieceBytes = std::size_t{512} << 10;

// Pieces read on the second thread (see below) are larger: each one is
// handed between the threads, and in pieces of 512 KiB a 2048 x 2048
// Float-32 slice took twice as long as in these.
inline constexpr std::size_t ReadAheadPieceBytes = std::size_t{2048} << 10;

// Slices of at least this many bytes, which the caches cannot hold with
// their pixels, are read on a second thread piece by piece, each piece while
// the one before is painted. Smaller ones are read on the rendering thread:
// their bytes would otherwise reach it through another core's cache, which
// costs more than the overlap gains.
inline constexpr std::size_t ReadAheadSliceBytes = std::size_t{16} << 20;

// Views whose pixels take at least this many bytes (half of a common
// last-level cache) are painted past the caches: their first pixels would
// leave the cache before the last are painted.
inline constexpr std::size_t StreamingViewBytes = std::size_t{16} << 20;

// Sees every read a render makes of the volume file, before it happens (a
// test or a benchmark counts them or slows them down). Called on the thread
// that renders.
class FileReadObserver
{
public:
    virtual void beforeRead(std::int64_t position, std::size_t bytes) = 0;

protected:
    ~FileReadObserver() = default;
};

// A render given up because a newer one superseded it (see
// TKelvoxDataMgr::Superseded); nothing of it is to be shown.
class RenderSuperseded
{
};

// The program's only access to the volume file: the open file, the guess of
// its layout (geometry, data type, byte order), the intensity window, the
// offset arithmetic, voxel decoding and the four views' buffers.
//
// One data manager is used by one thread at a time: the window's own on the
// GUI thread, the view renderer's on its thread (which renders from a
// RenderSource snapshot and hands each finished view over with ExchangeView;
// the open file is shared and read with pread only). Voxel numbers and byte offsets are
// exact signed 64-bit values; every read happens at HeaderBytes + the byte
// offset. No index is checked against its dimension.
class TKelvoxDataMgr
{
public:
    // Fields, in the established order. The main window reads FileName,
    // ErrorText, DataType, ObservedMin and ObservedMax; everything else
    // changes only through the operations below.

    // Path of the open file; empty exactly when no file is open.
    std::string FileName;
    // The open file, present exactly while FileName is non-empty. A render
    // running elsewhere (ShareFileAndGuess) keeps it open until it ends.
    std::shared_ptr<VolumeFile> Stream;
    // Why the last OpenFile left no file open ("File does not exist",
    // "Cannot open file <path>"); empty after a successful open.
    std::string ErrorText;
    // Voxels per row, rows per slice, slices per volume.
    std::array<std::int32_t, 3> Dims{256, 256, 256};
    // Voxels per row, per slice, per volume (exact 64-bit products; a
    // product beyond the 64-bit range holds that range's end of its sign);
    // 0, 0, 0 until the first SetParams.
    std::array<std::int64_t, 3> Blocks{0, 0, 0};
    TVoxelDataType DataType = vdtByte;
    TByteOrder ByteOrder = boLittleEndian;
    // Value shown black and value shown white; Max below Min inverts. Whole
    // numbers or decimals; the pixel rule takes the low end and the span
    // (Max - Min, 1 where it is 0) as 32-bit floats.
    double IntensityMin = 0.0;
    double IntensityMax = 0.0;
    // Bytes before the first voxel of the file (0 .. 2^63 - 1): every read
    // is at HeaderBytes + ByteOffset.
    std::int64_t HeaderBytes = 0;
    // Smallest and largest value met by the last vkSlice render.
    float ObservedMin = 0.0f;
    float ObservedMax = 0.0f;
    // One raw-data buffer per TViewKind: the view's file bytes row after row,
    // each row Dims[0] voxels wide. Each starts at ViewBufferSize bytes and
    // grows when a view needs more.
    std::array<ViewBuffer, 4> ViewBuffers;
    // Whole voxels the last render of each view read into its buffer.
    std::array<std::int32_t, 4> ViewCounts{0, 0, 0, 0};

    // Geometry 256 x 256 x 256, bytes, little-endian, window 0..0, no file.
    TKelvoxDataMgr();
    ~TKelvoxDataMgr();

    TKelvoxDataMgr(const TKelvoxDataMgr&) = delete;
    TKelvoxDataMgr& operator=(const TKelvoxDataMgr&) = delete;
    TKelvoxDataMgr(TKelvoxDataMgr&&) = delete;
    TKelvoxDataMgr& operator=(TKelvoxDataMgr&&) = delete;

    // Closes any open file, then opens fileName for reading (shared with
    // other readers and writers, never blocking). Never throws for a file
    // that cannot be had: a missing path (ENOENT, ENOTDIR) or a directory
    // gives ErrorText "File does not exist", any other failure (FIFO, socket,
    // character device, no permission, a folder without search permission,
    // a symlink loop, a name too long) "Cannot open file <path>"; no file is
    // then open.
    void OpenFile(const std::string& fileName);
    // The same for a file whose encoding (and, compressed, the start of its
    // stream) a layout file states, or Detect; progress sees a compressed
    // file's index pass. When progress cancels the pass, nothing changes
    // (the open file, if any, stays) and false is returned; true otherwise.
    bool OpenFile(const std::string& fileName, VolumeEncoding encoding, std::int64_t streamStart,
                  const IndexProgress& progress);
    // Opens a second handle on other's open file under the same name (no
    // second index pass); closes any open file first.
    void OpenShared(const TKelvoxDataMgr& other);

    // Empties FileName and releases the file; ErrorText stays. Harmless
    // without an open file.
    void CloseFile();

    // Stores the guess as given (nothing is validated; zero dimensions give
    // empty views, IntensityMax below IntensityMin an inverted grey scale, a
    // negative header reads nothing) and derives Blocks. Touches neither the
    // file nor the buffers.
    void SetParams(std::int32_t voxelsPerRow, std::int32_t rowsPerSlice, std::int32_t slicesPerVolume,
                   TVoxelDataType dataType, TByteOrder byteOrder, double intensityMin, double intensityMax,
                   std::int64_t headerBytes = 0);

    // Dims[dim] for dim in 0..2; 0 for any other dim.
    std::int32_t DimSize(int dim) const;
    // Blocks[level] for level in 0..2; 0 for any other level.
    std::int64_t BlockVoxels(int level) const;

    // Voxel number of (i0, i1, i2, i3): i0 + i1*Dim0 + i2*Dim0*Dim1 +
    // i3*Dim0*Dim1*Dim2, exact in signed 64 bits (indices and dimensions of
    // the window, 0..10000, never come near its end). A result that would
    // not fit gives the most negative 64-bit number: nowhere in the file.
    std::int64_t VoxelOffset(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const;
    // VoxelOffset times the bytes per voxel of DataType, exact as above; the
    // offset from the first voxel, HeaderBytes not included. A negative
    // result lies nowhere in the file.
    std::int64_t ByteOffset(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const;
    // Where in the file the voxel's bytes lie: HeaderBytes + ByteOffset, or
    // -1 when that is nowhere (a negative offset or header, or a sum beyond
    // the 64-bit range).
    std::int64_t FilePosition(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const;

    // Element index of buffer, decoded under the present ByteOrder. Throws
    // std::out_of_range when the element does not lie wholly inside buffer.
    std::int16_t DecodeInt16(std::int32_t index, std::span<const std::uint8_t> buffer) const;
    std::int32_t DecodeInt32(std::int32_t index, std::span<const std::uint8_t> buffer) const;
    float DecodeFloat32(std::int32_t index, std::span<const std::uint8_t> buffer) const;

    // Value of the voxel at column x, row y (for vkCrossSlice, y is the
    // slice) of a view as last rendered, from its buffer, never the file:
    // element x + y * Dim0 of the render, decoded as that render decoded it.
    // A render at 1:k holds only the voxels whose column and row are
    // multiples of k; any other voxel (and a negative x or y) gives 0.
    // Integers widen exactly, floats are the value they hold. 0 for a
    // position that holds no data read from the file (outside the view,
    // beyond the file, beyond a buffer that could not grow), for a data type
    // outside 0..7 and for a float with a signalling-NaN pattern; a quiet NaN
    // is returned as NaN.
    double ViewValue(TViewKind view, std::int32_t x, std::int32_t y) const;

    // Reads one view from the file into ViewBuffers[view] and paints it into
    // image: Dim0 x Dim1 pixels (Dim0 x Dim2 for vkCrossSlice), row 0 at the
    // top. With step k above 1 (the zoom 1:k) only the voxels whose column
    // and row (cross-slice: slice) are multiples of k are read and shown:
    // ceil(Dim0 / k) x ceil(Dim1 / k) pixels, each the pixel the full render
    // has for that voxel; a slice view reads each shown row in one read, the
    // cross-slice view the chosen row of every k-th slice. Slice views read slice sliceOrRow of volume `volume`; the
    // cross-slice view reads row sliceOrRow of every slice of that volume.
    // Grey under the intensity window, light blue (0, 255, 255) where no data
    // was read, red (255, 0, 0) for a NaN or a value whose scaled form
    // overflows. Integers count as the nearest 32-bit float; a Float-64 is
    // scaled as the double it is. vkSlice also records ObservedMin and ObservedMax. Errors of
    // image->setSize24 reach the caller; nothing else is reported. Negative
    // dimensions give an empty view. When Superseded answers true before a
    // read, the render stops there and throws RenderSuperseded; the view's
    // buffer and record then hold nothing to show.
    void RenderView(std::int32_t volume, std::int32_t sliceOrRow, TViewKind view, ViewImage& image,
                    std::int32_t step = 1);
    // The same for the view as the window shows it at position at (what it
    // reads: viewSource).
    void RenderView(TViewKind view, const ShownPosition& at, ViewImage& image, std::int32_t step = 1)
    {
        const ViewSource source = viewSource(view, at);
        RenderView(source.volume, source.sliceOrRow, view, image, step);
    }

    // The open file and the guess (geometry, type, byte order, intensity
    // window, header bytes) as they stand: what a render made elsewhere
    // needs to render what this data manager would.
    struct RenderSource
    {
        std::string fileName;
        std::shared_ptr<VolumeFile> stream;
        std::array<std::int32_t, 3> dims{0, 0, 0};
        TVoxelDataType dataType = vdtByte;
        TByteOrder byteOrder = boLittleEndian;
        decltype(IntensityMin) intensityMin{};
        decltype(IntensityMax) intensityMax{};
        std::int64_t headerBytes = 0;
    };
    RenderSource Source() const;
    // Takes source's file (shared: it stays open while either holds it) and
    // guess; the buffers stay this data manager's own.
    void UseSource(const RenderSource& source);

    // Asked before every read of a render; null: never superseded.
    std::function<bool()> Superseded;

    // Slices of at least this many bytes are read ahead on a second thread
    // (see ReadAheadSliceBytes); tests force either way.
    std::size_t ReadAheadFrom = ReadAheadSliceBytes;

    // The step (k of 1:k) of a view's last render; 1 before any.
    std::int32_t LastRenderStep(TViewKind view) const;

    // Everything a view's render leaves: buffer, count, record and, for
    // vkSlice, the observed range.
    struct TViewRender;
    // Exchanges view's render with render: a render made by another data
    // manager becomes this one's, and this one's goes with render.
    void ExchangeView(TViewKind view, TViewRender& render);

    // Sees every read of every data manager (null: none). Process-wide.
    static void SetReadObserver(FileReadObserver* observer);

    // The guess under which a view was last rendered (before any render:
    // the start-up guess, nothing read). The readout describes the pictures
    // on screen with it while a newer guess waits for its refresh.
    struct RenderedGuess
    {
        std::array<std::int32_t, 3> dims{0, 0, 0};
        TVoxelDataType dataType = vdtByte;
        TByteOrder byteOrder = boLittleEndian;
        std::int64_t headerBytes = 0;
    };
    const RenderedGuess& LastRenderGuess(TViewKind view) const;

    // The offset arithmetic of a guess: the voxel number of (i0, i1, i2, i3)
    // under dims, as VoxelOffset; the byte offset under dims and dataType, as
    // ByteOffset; the position in the file with header bytes, as
    // FilePosition.
    static std::int64_t VoxelOffsetIn(const std::array<std::int32_t, 3>& dims, std::int32_t i0, std::int32_t i1,
                                      std::int32_t i2, std::int32_t i3);
    static std::int64_t ByteOffsetIn(const std::array<std::int32_t, 3>& dims, TVoxelDataType dataType,
                                     std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3);
    static std::int64_t FilePositionIn(std::int64_t headerBytes, std::int64_t byteOffset);

private:
    // What the last render of each view laid into its buffer, so that
    // ViewValue serves the pixels on screen even after SetParams changed the
    // guess and before the next render.
    struct RenderedView
    {
        std::int64_t width = 0;
        std::int64_t height = 0;
        TVoxelDataType dataType = vdtByte;
        TByteOrder byteOrder = boLittleEndian;
        RenderedGuess guess;
        // 1:k between the voxels read (1 for every voxel).
        std::int32_t step = 1;
        // The cross-slice view and views at 1:k: whole voxels read into
        // each buffer row. Rows are read one by one at their own offsets, so
        // a row may hold data after one that holds none.
        bool perRow = false;
        std::vector<std::int32_t> rowCounts;
    };

public:
    struct TViewRender
    {
        ViewBuffer buffer{1};
        std::int32_t count = 0;
        RenderedView record;
        float observedMin = 0.0f;
        float observedMax = 0.0f;
    };

private:
    // Stream->readAt, seen by the read observer first.
    std::size_t readFile(std::int64_t position, std::uint8_t* dest, std::size_t count) const;
    // What comes before every read of a render, on the rendering thread:
    // throws RenderSuperseded if a newer render has taken over, then shows
    // the read to the observer.
    void beforeRead(std::int64_t position, std::size_t count) const;
    // Reads a slice at 1:1 in pieces, painting each with paint(bytes read so
    // far) while the next one is read; gives the bytes read.
    std::size_t readSliceInPieces(std::int64_t position, std::uint8_t* data, std::size_t usable,
                                  const std::function<void(std::size_t)>& paint);

    bool elementHoldsData(TViewKind view, std::int64_t element) const;

    std::array<RenderedView, 4> m_rendered;
    // Row starts of the image being painted; grows only.
    std::vector<std::uint8_t*> m_rowPointers;
    // One whole row of the file for a render at 1:k; grows only.
    std::vector<std::uint8_t> m_rowScratch;
    // Reads the next piece of a slice while the last one is painted; made
    // by the first slice of more than one piece.
    std::unique_ptr<ReadAhead> m_readAhead;
    static std::atomic<FileReadObserver*> s_readObserver;
};

// The process-wide instance. Null until the program's start-up creates it,
// before any window; never destroyed explicitly. Tests make their own.
extern TKelvoxDataMgr* DataMgr;
