#include "volume/Kelvox_DataMgr.h"

#include "volume/GreyKernels.h"
#include "volume/ReadAhead.h"
#include "volume/RenderViewPainter.h"
#include "volume/ViewImage.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>

TKelvoxDataMgr* DataMgr = nullptr;

std::atomic<FileReadObserver*> TKelvoxDataMgr::s_readObserver{nullptr};

namespace
{

std::uint16_t load16(const std::uint8_t* p, bool bigEndian)
{
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return bigEndian ? __builtin_bswap16(v) : v;
}

std::uint32_t load32(const std::uint8_t* p, bool bigEndian)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return bigEndian ? __builtin_bswap32(v) : v;
}

// A voxel number or byte offset that lies nowhere: beyond the 64-bit range.
constexpr std::int64_t Nowhere = std::numeric_limits<std::int64_t>::min();

// a * b, or the end of the 64-bit range of the product's sign when it does
// not fit.
std::int64_t saturatingProduct(std::int64_t a, std::int64_t b)
{
    std::int64_t p = 0;
    if (!__builtin_mul_overflow(a, b, &p))
        return p;
    return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
}

} // namespace

TKelvoxDataMgr::TKelvoxDataMgr()
    : ViewBuffers{ViewBuffer(ViewBufferSize), ViewBuffer(ViewBufferSize), ViewBuffer(ViewBufferSize),
                  ViewBuffer(ViewBufferSize)}
{
    for (RenderedView& r : m_rendered)
        r.guess = {Dims, DataType, ByteOrder, HeaderBytes};
}

TKelvoxDataMgr::~TKelvoxDataMgr() = default;

void TKelvoxDataMgr::OpenFile(const std::string& fileName)
{
    OpenFile(fileName, VolumeEncoding::Detect, 0, {});
}

bool TKelvoxDataMgr::OpenFile(const std::string& fileName, VolumeEncoding encoding, std::int64_t streamStart,
                              const IndexProgress& progress)
{
    const auto fail = [this](std::string text) {
        CloseFile();
        ErrorText = std::move(text);
        return true;
    };
    struct stat st{};
    if (fileName.empty())
        return fail("File does not exist");
    if (::stat(fileName.c_str(), &st) != 0) {
        // Only a name that leads nowhere does not exist; a folder without
        // search permission, a symlink loop or a name too long for the
        // system names a file that cannot be opened.
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return fail(missing ? "File does not exist" : "Cannot open file " + fileName);
    }
    if (S_ISDIR(st.st_mode))
        return fail("File does not exist");
    // The new file is opened (and a compressed one indexed) before the old
    // one is let go, so a cancelled index pass leaves everything as it was.
    std::unique_ptr<VolumeFile> opened;
    try {
        opened = std::make_unique<VolumeFile>(fileName, encoding, streamStart, progress);
    } catch (const IndexCancelled&) {
        return false;
    } catch (const std::runtime_error& e) {
        // The open failure is the data manager's answer, shown by the caller
        // in place of the file name; nothing propagates.
        return fail(e.what());
    }
    CloseFile();
    ErrorText.clear();
    Stream = std::move(opened);
    FileName = fileName;
    return true;
}

void TKelvoxDataMgr::OpenShared(const TKelvoxDataMgr& other)
{
    CloseFile();
    ErrorText = other.ErrorText;
    if (!other.Stream)
        return;
    Stream = other.Stream->share();
    FileName = other.FileName;
}

void TKelvoxDataMgr::CloseFile()
{
    FileName.clear();
    Stream.reset();
}

TKelvoxDataMgr::RenderSource TKelvoxDataMgr::Source() const
{
    return {FileName, Stream, Dims, DataType, ByteOrder, IntensityMin, IntensityMax, HeaderBytes};
}

void TKelvoxDataMgr::UseSource(const RenderSource& source)
{
    SetParams(source.dims[0], source.dims[1], source.dims[2], source.dataType, source.byteOrder, source.intensityMin,
              source.intensityMax, source.headerBytes);
    FileName = source.fileName;
    Stream = source.stream;
}

void TKelvoxDataMgr::SetReadObserver(FileReadObserver* observer)
{
    s_readObserver.store(observer);
}

void TKelvoxDataMgr::beforeRead(std::int64_t position, std::size_t count) const
{
    if (Superseded && Superseded())
        throw RenderSuperseded();
    if (FileReadObserver* observer = s_readObserver.load())
        observer->beforeRead(position, count);
}

std::size_t TKelvoxDataMgr::readFile(std::int64_t position, std::uint8_t* dest, std::size_t count) const
{
    beforeRead(position, count);
    return Stream->readAt(position, dest, count);
}

std::size_t TKelvoxDataMgr::readSliceInPieces(std::int64_t position, std::uint8_t* data, std::size_t usable,
                                              const std::function<void(std::size_t)>& paint)
{
    const auto at = [position](std::size_t from) {
        return position < 0 ? -1 : position + static_cast<std::int64_t>(from);
    };
    // Read ahead, the reads are checked and observed here before each
    // starts, in order, and each starts only once the one before has come
    // back whole. The reading thread writes only beyond the bytes being
    // painted.
    const bool readAhead = usable >= ReadAheadFrom && ReadAheadPieceBytes < usable;
    const std::size_t pieceBytes = readAhead ? ReadAheadPieceBytes : ReadPieceBytes;
    std::size_t want = std::min(pieceBytes, usable);
    if (readAhead && !m_readAhead)
        m_readAhead = std::make_unique<ReadAhead>();
    std::optional<ReadAhead::Guard> dropOnUnwind;
    const std::shared_ptr<VolumeFile> file = Stream;
    const auto startRead = [&](std::size_t from) {
        beforeRead(at(from), want);
        m_readAhead->start([file, position = at(from), dest = data + from, count = want] {
            return file->readAt(position, dest, count);
        });
    };
    if (readAhead) {
        dropOnUnwind.emplace(*m_readAhead);
        startRead(0);
    }
    std::size_t got = 0;
    for (;;) {
        const std::size_t n = readAhead ? m_readAhead->finish() : readFile(at(got), data + got, want);
        const bool more = n == want && got + n < usable;
        got += n;
        if (more) {
            want = std::min(pieceBytes, usable - got);
            if (readAhead)
                startRead(got);
        }
        paint(got);
        if (!more)
            return got;
    }
}

std::int32_t TKelvoxDataMgr::LastRenderStep(TViewKind view) const
{
    if (view > vkOtherVolume)
        throw std::out_of_range("no such view");
    return m_rendered[view].step;
}

void TKelvoxDataMgr::ExchangeView(TViewKind view, TViewRender& render)
{
    if (view > vkOtherVolume)
        throw std::out_of_range("no such view");
    std::swap(ViewBuffers[view], render.buffer);
    std::swap(ViewCounts[view], render.count);
    std::swap(m_rendered[view], render.record);
    if (view == vkSlice) {
        std::swap(ObservedMin, render.observedMin);
        std::swap(ObservedMax, render.observedMax);
    }
}

void TKelvoxDataMgr::SetParams(std::int32_t voxelsPerRow, std::int32_t rowsPerSlice, std::int32_t slicesPerVolume,
                               TVoxelDataType dataType, TByteOrder byteOrder, double intensityMin,
                               double intensityMax, std::int64_t headerBytes)
{
    Dims = {voxelsPerRow, rowsPerSlice, slicesPerVolume};
    DataType = dataType;
    ByteOrder = byteOrder;
    IntensityMin = intensityMin;
    IntensityMax = intensityMax;
    HeaderBytes = headerBytes;
    Blocks[0] = Dims[0];
    Blocks[1] = saturatingProduct(Blocks[0], Dims[1]);
    Blocks[2] = saturatingProduct(Blocks[1], Dims[2]);
}

std::int32_t TKelvoxDataMgr::DimSize(int dim) const
{
    return dim >= 0 && dim < 3 ? Dims[static_cast<std::size_t>(dim)] : 0;
}

std::int64_t TKelvoxDataMgr::BlockVoxels(int level) const
{
    return level >= 0 && level < 3 ? Blocks[static_cast<std::size_t>(level)] : 0;
}

std::int64_t TKelvoxDataMgr::VoxelOffsetIn(const std::array<std::int32_t, 3>& dims, std::int32_t i0, std::int32_t i1,
                                           std::int32_t i2, std::int32_t i3)
{
    // Exact as long as it fits; dimensions up to 2^31 - 1 make a volume of
    // up to 2^93 voxels, so every step is checked.
    std::int64_t block = 1;
    std::int64_t v = 0;
    const std::array<std::int32_t, 4> index{i0, i1, i2, i3};
    for (std::size_t k = 0; k < index.size(); ++k) {
        std::int64_t term = 0;
        if (__builtin_mul_overflow(static_cast<std::int64_t>(index[k]), block, &term)
            || __builtin_add_overflow(v, term, &v))
            return Nowhere;
        if (k < dims.size() && __builtin_mul_overflow(block, static_cast<std::int64_t>(dims[k]), &block)) {
            // Only a later non-zero index can meet a block this large.
            for (std::size_t j = k + 1; j < index.size(); ++j) {
                if (index[j] != 0)
                    return Nowhere;
            }
            return v;
        }
    }
    return v;
}

std::int64_t TKelvoxDataMgr::ByteOffsetIn(const std::array<std::int32_t, 3>& dims, TVoxelDataType dataType,
                                          std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3)
{
    const std::int64_t voxel = VoxelOffsetIn(dims, i0, i1, i2, i3);
    std::int64_t bytes = 0;
    if (voxel == Nowhere || __builtin_mul_overflow(voxel, bytesPerVoxelOf(dataType), &bytes))
        return Nowhere;
    return bytes;
}

std::int64_t TKelvoxDataMgr::FilePositionIn(std::int64_t headerBytes, std::int64_t byteOffset)
{
    std::int64_t position = 0;
    if (headerBytes < 0 || byteOffset < 0 || __builtin_add_overflow(headerBytes, byteOffset, &position))
        return -1;
    return position;
}

std::int64_t TKelvoxDataMgr::VoxelOffset(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const
{
    return VoxelOffsetIn(Dims, i0, i1, i2, i3);
}

std::int64_t TKelvoxDataMgr::ByteOffset(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const
{
    return ByteOffsetIn(Dims, DataType, i0, i1, i2, i3);
}

std::int64_t TKelvoxDataMgr::FilePosition(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const
{
    return FilePositionIn(HeaderBytes, ByteOffset(i0, i1, i2, i3));
}

const TKelvoxDataMgr::RenderedGuess& TKelvoxDataMgr::LastRenderGuess(TViewKind view) const
{
    if (view > vkOtherVolume)
        throw std::out_of_range("no such view");
    return m_rendered[view].guess;
}

namespace
{

const std::uint8_t* elementBytes(std::int32_t index, std::size_t width, std::span<const std::uint8_t> buffer)
{
    if (index < 0 || (static_cast<std::size_t>(index) + 1) * width > buffer.size())
        throw std::out_of_range("voxel element outside its buffer");
    return buffer.data() + static_cast<std::size_t>(index) * width;
}

} // namespace

std::int16_t TKelvoxDataMgr::DecodeInt16(std::int32_t index, std::span<const std::uint8_t> buffer) const
{
    return static_cast<std::int16_t>(load16(elementBytes(index, 2, buffer), ByteOrder == boBigEndian));
}

std::int32_t TKelvoxDataMgr::DecodeInt32(std::int32_t index, std::span<const std::uint8_t> buffer) const
{
    return static_cast<std::int32_t>(load32(elementBytes(index, 4, buffer), ByteOrder == boBigEndian));
}

float TKelvoxDataMgr::DecodeFloat32(std::int32_t index, std::span<const std::uint8_t> buffer) const
{
    return std::bit_cast<float>(load32(elementBytes(index, 4, buffer), ByteOrder == boBigEndian));
}

bool TKelvoxDataMgr::elementHoldsData(TViewKind view, std::int64_t element) const
{
    if (element < 0)
        return false;
    if (!m_rendered[view].perRow)
        return element < ViewCounts[view];
    const RenderedView& r = m_rendered[view];
    if (r.width <= 0)
        return false;
    const std::int64_t row = element / r.width;
    const std::int64_t column = element % r.width;
    return row < static_cast<std::int64_t>(r.rowCounts.size()) && column < r.rowCounts[static_cast<std::size_t>(row)];
}

double TKelvoxDataMgr::ViewValue(TViewKind view, std::int32_t x, std::int32_t y) const
{
    if (view > vkOtherVolume)
        return 0.0;
    const RenderedView& r = m_rendered[view];
    if (r.step > 1) {
        // Only the voxels on the step's grid were read.
        if (x < 0 || y < 0 || x % r.step != 0 || y % r.step != 0)
            return 0.0;
        x /= r.step;
        y /= r.step;
    }
    const std::int64_t element = static_cast<std::int64_t>(x) + static_cast<std::int64_t>(y) * r.width;
    if (!elementHoldsData(view, element))
        return 0.0;

    const bool big = r.byteOrder == boBigEndian;
    const std::uint8_t* p = ViewBuffers[view].data() + element * bytesPerVoxelOf(r.dataType);
    // A signalling NaN reads as 0; a quiet NaN stays NaN.
    return isSignallingNaN(p, r.dataType, big) ? 0.0 : voxelValue(p, r.dataType, big);
}

namespace
{

// Every step-th voxel of src, count of them, packed into dst.
template <std::size_t Bytes>
void gatherVoxels(const std::uint8_t* src, std::size_t step, std::size_t count, std::uint8_t* dst)
{
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(dst + i * Bytes, src + i * step * Bytes, Bytes);
}

void gatherVoxels(const std::uint8_t* src, std::size_t bytes, std::size_t step, std::size_t count, std::uint8_t* dst)
{
    switch (bytes) {
    case 1: gatherVoxels<1>(src, step, count, dst); break;
    case 2: gatherVoxels<2>(src, step, count, dst); break;
    case 4: gatherVoxels<4>(src, step, count, dst); break;
    default: gatherVoxels<8>(src, step, count, dst); break;
    }
}

} // namespace

void TKelvoxDataMgr::RenderView(std::int32_t volume, std::int32_t sliceOrRow, TViewKind view, ViewImage& image,
                                std::int32_t step)
{
    if (view > vkOtherVolume)
        throw std::out_of_range("no such view");

    RenderedView& r = m_rendered[view];
    ViewBuffer& buffer = ViewBuffers[view];
    const TVoxelDataType type = DataType;
    const bool big = ByteOrder == boBigEndian;
    const std::int64_t bpv = bytesPerVoxelOf(type);
    // The zoom 1:k shows every k-th voxel of every k-th row (cross-slice:
    // slice): the view holds only those.
    const std::int64_t k = std::max<std::int32_t>(step, 1);
    const auto [fullWidth, fullHeight] = viewVoxels(view, Dims);
    const std::int64_t width = (fullWidth + k - 1) / k;
    const std::int64_t height = (fullHeight + k - 1) / k;
    const std::int64_t pixels = width * height;

    // 1. Reset. Nothing of an earlier render of this view stays observable:
    // positions not read now count as holding no data, whatever bytes the
    // buffer still has there.
    const bool observe = view == vkSlice;
    ObservedRange range;
    if (observe) {
        ObservedMin = range.min;
        ObservedMax = range.max;
    }
    ViewCounts[view] = 0;
    r.width = width;
    r.height = height;
    r.dataType = type;
    r.byteOrder = ByteOrder;
    r.guess = {Dims, DataType, ByteOrder, HeaderBytes};
    r.step = static_cast<std::int32_t>(k);
    r.perRow = view == vkCrossSlice || k > 1;
    r.rowCounts.clear();

    // The buffer grows to hold the whole view; if the memory cannot be had,
    // the positions beyond its capacity hold no data.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(pixels * bpv, ViewBuffer::MaxCapacity));
    buffer.reserve(wanted);
    const std::size_t usable = std::min(wanted, buffer.capacity());

    // 2. The bitmap, and the start of each of its rows: the voxels are
    // painted as they are read, while their bytes are still in the cache.
    image.setSize24(static_cast<int>(width), static_cast<int>(height));
    m_rowPointers.resize(static_cast<std::size_t>(height));
    for (std::int64_t y = 0; y < height; ++y)
        m_rowPointers[static_cast<std::size_t>(y)] = image.rowPointer(static_cast<int>(y));
    // Rows that follow one another in memory take a piece as one run.
    bool rowsContiguous = true;
    for (std::int64_t y = 1; y < height && rowsContiguous; ++y)
        rowsContiguous = m_rowPointers[static_cast<std::size_t>(y)]
            == m_rowPointers[static_cast<std::size_t>(y - 1)] + 3 * static_cast<std::size_t>(width);
    const std::unique_ptr<VoxelPainter> painter = VoxelPainter::make(type, big, IntensityMin, IntensityMax, observe);
    std::uint8_t* const data = buffer.data();
    const auto voxelBytes = static_cast<std::size_t>(bpv);
    const auto w = static_cast<std::size_t>(width);

    // 3. Read and paint. A render given up part-way leaves no data to show.
    const GreyKernels::StreamingPixels streaming(static_cast<std::size_t>(pixels) * 3 >= StreamingViewBytes);
    try {
    if (!r.perRow) {
        if (Stream && usable > 0) {
            // In cache-sized pieces, each painted before the next is read,
            // or, in a large slice, while it is read (and so that a newer
            // render can stop a large one). Voxel i of the slice is pixel
            // (i % width, i / width).
            std::size_t painted = 0;
            const std::size_t got = readSliceInPieces(FilePosition(0, 0, sliceOrRow, volume), data, usable,
                                                      [&](std::size_t read) {
                for (const std::size_t whole = read / voxelBytes; painted < whole;) {
                    const std::size_t y = painted / w;
                    const std::size_t x = painted % w;
                    const std::size_t run = rowsContiguous ? whole - painted : std::min(w - x, whole - painted);
                    painter->paint(data + painted * voxelBytes, run, m_rowPointers[y] + 3 * x);
                    painted += run;
                }
            });
            ViewCounts[view] = static_cast<std::int32_t>(got / voxelBytes);
        }
    } else if (width > 0 && usable > 0) {
        // One read per shown row: row sliceOrRow of slice y * k (cross-slice)
        // or row y * k of the slice becomes buffer row y. At 1:k a row is
        // read up to its last shown voxel and every k-th voxel kept.
        const std::size_t rowBytes = static_cast<std::size_t>(width * bpv);
        const std::size_t readBytes = static_cast<std::size_t>(((width - 1) * k + 1) * bpv);
        std::size_t rows = std::min<std::size_t>(static_cast<std::size_t>(height), (usable + rowBytes - 1) / rowBytes);
        try {
            r.rowCounts.assign(rows, 0);
            if (k > 1 && m_rowScratch.size() < readBytes)
                m_rowScratch.resize(readBytes);
        } catch (const std::bad_alloc&) {
            // Rows without a count hold no data, like those beyond the buffer.
            rows = k > 1 ? 0 : std::min(rows, r.rowCounts.capacity());
            r.rowCounts.assign(rows, 0);
        }
        // A slice view shows nothing of a slice whose start lies nowhere,
        // as its one read at 1:1 would not.
        const bool sliceNowhere = view != vkCrossSlice && FilePosition(0, 0, sliceOrRow, volume) < 0;
        std::int64_t total = 0;
        for (std::size_t y = 0; Stream && !sliceNowhere && y < rows; ++y) {
            const std::size_t start = y * rowBytes;
            const auto index = static_cast<std::int32_t>(static_cast<std::int64_t>(y) * k);
            const std::int64_t position = view == vkCrossSlice ? FilePosition(0, sliceOrRow, index, volume)
                                                               : FilePosition(0, index, sliceOrRow, volume);
            const std::size_t room = std::min(rowBytes, usable - start);
            std::size_t voxels = 0;
            if (k == 1) {
                voxels = readFile(position, data + start, room) / voxelBytes;
            } else {
                const std::size_t got = readFile(position, m_rowScratch.data(), readBytes);
                const std::size_t read = got / voxelBytes;
                voxels = std::min((read + static_cast<std::size_t>(k) - 1) / static_cast<std::size_t>(k),
                                  room / voxelBytes);
                gatherVoxels(m_rowScratch.data(), voxelBytes, static_cast<std::size_t>(k), voxels, data + start);
            }
            r.rowCounts[y] = static_cast<std::int32_t>(voxels);
            total += r.rowCounts[y];
            painter->paint(data + start, voxels, m_rowPointers[y]);
        }
        ViewCounts[view] = static_cast<std::int32_t>(std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
    }
    } catch (const RenderSuperseded&) {
        ViewCounts[view] = 0;
        r.perRow = true;
        r.rowCounts.clear();
        throw;
    }

    // Whole voxels of data at the start of each row; the rest of a row is
    // beyond the data read and shows light blue.
    const std::int64_t count = ViewCounts[view];
    const auto dataInRow = [&](std::int64_t y) -> std::size_t {
        if (r.perRow)
            return y < static_cast<std::int64_t>(r.rowCounts.size()) ? static_cast<std::size_t>(r.rowCounts[static_cast<std::size_t>(y)]) : 0;
        return static_cast<std::size_t>(std::clamp<std::int64_t>(count - y * width, 0, width));
    };
    for (std::int64_t y = 0; y < height; ++y) {
        const std::size_t n = dataInRow(y);
        if (n < w)
            paintNoData(m_rowPointers[static_cast<std::size_t>(y)] + 3 * n, w - n);
    }

    // 4. The observed range: that of the data in scan order, then (in the
    // slice views all positions beyond the data come after it) the value 0
    // of the positions beyond the data.
    if (observe) {
        painter->observe(range);
        if (count < pixels)
            range.meet(0.0f);
        ObservedMin = range.min;
        ObservedMax = range.max;
    }

    image.repaintNow();
}
