#include "volume/Kelvox_DataMgr.h"

#include "volume/GreyKernels.h"
#include "volume/ViewImage.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

TKelvoxDataMgr* DataMgr = nullptr;

std::atomic<FileReadObserver*> TKelvoxDataMgr::s_readObserver{nullptr};

namespace
{

// Pixels computed per batch before they are stored into the bitmap row.
constexpr std::size_t ChunkPixels = 1024;

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

// The intensity window reduced once per render to what the pixel rule
// needs: lo and scale exactly as 32-bit floats.
GreyKernels::Window greyWindow(double intensityMin, double intensityMax)
{
    // The difference of two integer ends is exact in double (the full 32-bit
    // window spans 2^32 - 1), so integer windows give the span as before.
    float span = static_cast<float>(intensityMax - intensityMin);
    if (span == 0.0f)
        span = 1.0f;
    // Single-precision division: 255 / span rounded to a float.
    return {static_cast<float>(intensityMin), static_cast<double>(255.0f / span)};
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

std::size_t TKelvoxDataMgr::readFile(std::int64_t position, std::uint8_t* dest, std::size_t count) const
{
    if (Superseded && Superseded())
        throw RenderSuperseded();
    if (FileReadObserver* observer = s_readObserver.load())
        observer->beforeRead(position, count);
    return Stream->readAt(position, dest, count);
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
    if (view == vkSlice) {
        ObservedMin = 2147483648.0f;
        ObservedMax = -2147483648.0f;
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

    // 2./3. Read. A render given up part-way leaves no data to show.
    try {
    if (!r.perRow) {
        if (Stream && usable > 0) {
            // In pieces, so that a newer render can stop a large one.
            constexpr std::size_t Piece = std::size_t{16} << 20;
            const std::int64_t position = FilePosition(0, 0, sliceOrRow, volume);
            std::size_t got = 0;
            while (got < usable) {
                const std::size_t want = std::min(Piece, usable - got);
                const std::size_t n =
                    readFile(position < 0 ? -1 : position + static_cast<std::int64_t>(got), buffer.data() + got, want);
                got += n;
                if (n < want)
                    break;
            }
            ViewCounts[view] = static_cast<std::int32_t>(got / static_cast<std::size_t>(bpv));
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
                voxels = readFile(position, buffer.data() + start, room) / static_cast<std::size_t>(bpv);
            } else {
                const std::size_t got = readFile(position, m_rowScratch.data(), readBytes);
                const std::size_t read = got / static_cast<std::size_t>(bpv);
                voxels = std::min((read + static_cast<std::size_t>(k) - 1) / static_cast<std::size_t>(k),
                                  room / static_cast<std::size_t>(bpv));
                gatherVoxels(m_rowScratch.data(), static_cast<std::size_t>(bpv), static_cast<std::size_t>(k), voxels,
                             buffer.data() + start);
            }
            r.rowCounts[y] = static_cast<std::int32_t>(voxels);
            total += r.rowCounts[y];
        }
        ViewCounts[view] = static_cast<std::int32_t>(std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
    }
    } catch (const RenderSuperseded&) {
        ViewCounts[view] = 0;
        r.perRow = true;
        r.rowCounts.clear();
        throw;
    }

    // 4. Intensity constants.
    const GreyKernels::Window window = greyWindow(IntensityMin, IntensityMax);

    // 5. Bitmap, and the start of each of its rows.
    image.setSize24(static_cast<int>(width), static_cast<int>(height));
    m_rowPointers.resize(static_cast<std::size_t>(height));
    for (std::int64_t y = 0; y < height; ++y)
        m_rowPointers[static_cast<std::size_t>(y)] = image.rowPointer(static_cast<int>(y));

    // Whole voxels of data at the start of each row; the rest of a row is
    // beyond the data read.
    const std::int64_t count = ViewCounts[view];
    const auto dataInRow = [&](std::int64_t y) -> std::size_t {
        if (r.perRow)
            return y < static_cast<std::int64_t>(r.rowCounts.size()) ? static_cast<std::size_t>(r.rowCounts[static_cast<std::size_t>(y)]) : 0;
        return static_cast<std::size_t>(std::clamp<std::int64_t>(count - y * width, 0, width));
    };

    const std::uint8_t* data = buffer.data();
    const auto rowStart = [&](std::int64_t y) { return data + static_cast<std::size_t>(y * width * bpv); };

    // Runs every data run of the view, in scan order, through fn(src, n).
    const auto forEachDataRun = [&](auto&& fn) {
        for (std::int64_t y = 0; y < height; ++y) {
            const std::size_t n = dataInRow(y);
            if (n == 0 && !r.perRow)
                break; // slice views at 1:1 hold their data as one prefix
            if (n > 0)
                fn(rowStart(y), n);
        }
    };

    // 6. Pixels, row by row; writePixels(src, n, dst) paints the n voxels of data
    // at the start of a row, light blue fills the rest.
    const auto paintRows = [&](auto&& writePixels) {
        static const std::array<std::uint8_t, 3 * ChunkPixels> lightBlue = [] {
            std::array<std::uint8_t, 3 * ChunkPixels> a{};
            for (std::size_t i = 0; i < ChunkPixels; ++i) {
                a[3 * i + 1] = 255;
                a[3 * i + 2] = 255;
            }
            return a;
        }();
        const auto w = static_cast<std::size_t>(width);
        for (std::int64_t y = 0; y < height; ++y) {
            std::uint8_t* dst = m_rowPointers[static_cast<std::size_t>(y)];
            const std::size_t n = dataInRow(y);
            if (n > 0)
                writePixels(rowStart(y), n, dst);
            for (std::size_t x = n; x < w;) {
                const std::size_t c = std::min(ChunkPixels, w - x);
                std::memcpy(dst + 3 * x, lightBlue.data(), 3 * c);
                x += c;
            }
        }
    };

    // The same through grey levels in batches: fill(src, n, grey, red) turns
    // n voxels into grey levels and returns whether it marked any red.
    const auto paint = [&](auto&& fill) {
        paintRows([&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
            std::uint8_t grey[ChunkPixels];
            std::uint8_t red[ChunkPixels];
            for (std::size_t x = 0; x < n;) {
                const std::size_t c = std::min(ChunkPixels, n - x);
                const bool anyRed = fill(src + x * static_cast<std::size_t>(bpv), c, grey, red);
                GreyKernels::expandGrey(grey, c, dst + 3 * x);
                for (std::size_t i = 0; anyRed && i < c; ++i) {
                    if (red[i]) {
                        dst[3 * (x + i)] = 255;
                        dst[3 * (x + i) + 1] = 0;
                        dst[3 * (x + i) + 2] = 0;
                    }
                }
                x += c;
            }
        });
    };

    // The observed range meets the data in scan order, then (in the slice
    // views all positions beyond the data come after it) the value 0 of the
    // positions beyond the data.
    const bool observe = view == vkSlice;
    const auto observe32 = [&](float v) {
        if (v < ObservedMin)
            ObservedMin = v;
        if (v > ObservedMax)
            ObservedMax = v;
    };

    // Float kernels meet the values lane by lane; only the sign of a zero
    // extreme can differ from a scan in order: it is that of the first zero
    // met.
    const auto observeFloats = [&](float lo, float hi) {
        if (lo == 0.0f || hi == 0.0f) {
            bool found = false;
            float firstZero = 0.0f;
            forEachDataRun([&](const std::uint8_t* src, std::size_t n) {
                for (std::size_t i = 0; i < n && !found; ++i) {
                    const double v = voxelValue(src + static_cast<std::size_t>(bpv) * i, type, big);
                    if (v == 0.0) {
                        firstZero = static_cast<float>(v); // keeps the sign
                        found = true;
                    }
                }
            });
            if (lo == 0.0f)
                lo = firstZero;
            if (hi == 0.0f)
                hi = firstZero;
        }
        ObservedMin = lo;
        ObservedMax = hi;
    };

    // Integer voxels straight to pixels through kernel(src, n, dst, mn, mx),
    // their range (from mn and mx, in the voxels' own type) met on the way.
    const auto paintDirect = [&]<typename T>(T mn, T mx, auto&& kernel) {
        bool any = false;
        paintRows([&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
            kernel(src, n, dst, observe ? &mn : nullptr, observe ? &mx : nullptr);
            any = true;
        });
        if (observe && any) {
            // Integer to float is monotonic: the floats of the range are the
            // range of the floats.
            observe32(static_cast<float>(mn));
            observe32(static_cast<float>(mx));
        }
    };

    // Any type through the loops of its description, the range met on the way
    // (the slice views' data is one prefix in scan order).
    // The range of these types is that of the values met, not folded into
    // the start pair: UInt-32 and Float-64 values lie beyond its +-2^31. The
    // start pair stays only where no value was met.
    constexpr float NoneMet = std::numeric_limits<float>::infinity();
    const auto observeMet = [&](float lo, float hi) {
        if (observe && lo <= hi)
            observeFloats(lo, hi);
    };
    const auto paintByRule = [&] {
        float lo = NoneMet, hi = -NoneMet;
        paint([&](const std::uint8_t* src, std::size_t n, std::uint8_t* grey, std::uint8_t* red) {
            return GreyKernels::fromVoxels(type, src, n, big, window, grey, red, observe ? &lo : nullptr,
                                           observe ? &hi : nullptr);
        });
        observeMet(lo, hi);
    };

    if (!voxelTypeInfo(type)) {
        // An unknown type decodes every voxel as 0. Every known type has its
        // own case below, with no default: a type without one does not compile.
        if (observe && count > 0)
            observe32(0.0f);
        std::uint8_t zero = 0;
        const std::uint8_t zeroBytes[1] = {0};
        GreyKernels::fromUInt8(zeroBytes, 1, window, &zero);
        paint([&](const std::uint8_t*, std::size_t n, std::uint8_t* grey, std::uint8_t*) {
            std::fill_n(grey, n, zero);
            return false;
        });
    } else switch (type) {
    case vdtByte: {
        if (GreyKernels::directUInt8(window)) {
            paintDirect(std::uint8_t{255}, std::uint8_t{0}, [&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst,
                                                              std::uint8_t* mn, std::uint8_t* mx) {
                GreyKernels::pixelsFromUInt8(src, n, window, dst, mn, mx);
            });
            break;
        }
        if (observe) {
            std::uint8_t mn = 255, mx = 0;
            bool any = false;
            forEachDataRun([&](const std::uint8_t* src, std::size_t n) {
                GreyKernels::rangeUInt8(src, n, mn, mx);
                any = true;
            });
            if (any) {
                observe32(mn);
                observe32(mx);
            }
        }
        std::array<std::uint8_t, 256> table;
        GreyKernels::greyOfIntegers(0, table.size(), window, table.data());
        paint([&](const std::uint8_t* src, std::size_t n, std::uint8_t* grey, std::uint8_t*) {
            GreyKernels::fromTable8(src, n, table.data(), grey);
            return false;
        });
        break;
    }
    case vdtInt16: {
        if (GreyKernels::directInt16(window)) {
            paintDirect(std::numeric_limits<std::int16_t>::max(), std::numeric_limits<std::int16_t>::min(),
                        [&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst, std::int16_t* mn,
                            std::int16_t* mx) { GreyKernels::pixelsFromInt16(src, n, big, window, dst, mn, mx); });
            break;
        }
        // Otherwise the values met map through a table built over their range.
        std::int16_t mn = std::numeric_limits<std::int16_t>::max();
        std::int16_t mx = std::numeric_limits<std::int16_t>::min();
        bool any = false;
        forEachDataRun([&](const std::uint8_t* src, std::size_t n) {
            GreyKernels::rangeInt16(src, n, big, mn, mx);
            any = true;
        });
        if (observe && any) {
            observe32(mn);
            observe32(mx);
        }
        if (!any)
            mn = mx = 0;
        std::uint8_t* table = m_greyTable.data();
        GreyKernels::greyOfIntegers(mn, static_cast<std::size_t>(mx - mn + 1), window, table);
        paint([&](const std::uint8_t* src, std::size_t n, std::uint8_t* grey, std::uint8_t*) {
            GreyKernels::fromTable16(src, n, big, table, mn, grey);
            return false;
        });
        break;
    }
    case vdtInt32: {
        if (GreyKernels::directSingle(window)) {
            paintDirect(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(),
                        [&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst, std::int32_t* mn,
                            std::int32_t* mx) { GreyKernels::pixelsFromInt32(src, n, big, window, dst, mn, mx); });
            break;
        }
        if (observe) {
            std::int32_t mn = std::numeric_limits<std::int32_t>::max();
            std::int32_t mx = std::numeric_limits<std::int32_t>::min();
            bool any = false;
            forEachDataRun([&](const std::uint8_t* src, std::size_t n) {
                GreyKernels::rangeInt32(src, n, big, mn, mx);
                any = true;
            });
            if (any) {
                // int32 -> float is monotonic, so the range of the floats
                // is the floats of the range.
                observe32(static_cast<float>(mn));
                observe32(static_cast<float>(mx));
            }
        }
        paint([&](const std::uint8_t* src, std::size_t n, std::uint8_t* grey, std::uint8_t*) {
            GreyKernels::fromInt32(src, n, big, window, grey);
            return false;
        });
        break;
    }
    case vdtFloat32: {
        if (GreyKernels::directSingle(window)) {
            float lo = ObservedMin, hi = ObservedMax;
            paintRows([&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
                GreyKernels::pixelsFromFloat32(src, n, big, window, dst, observe ? &lo : nullptr,
                                               observe ? &hi : nullptr);
            });
            if (observe)
                observeFloats(lo, hi);
            break;
        }
        if (observe) {
            float lo = ObservedMin, hi = ObservedMax;
            forEachDataRun([&](const std::uint8_t* src, std::size_t n) {
                GreyKernels::rangeFloat32(src, n, big, lo, hi);
            });
            observeFloats(lo, hi);
        }
        paint([&](const std::uint8_t* src, std::size_t n, std::uint8_t* grey, std::uint8_t* red) {
            return GreyKernels::fromFloat32(src, n, big, window, grey, red);
        });
        break;
    }
    case vdtUInt16:
        if (GreyKernels::directUInt16(window)) {
            paintDirect(std::numeric_limits<std::uint16_t>::max(), std::uint16_t{0},
                        [&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst, std::uint16_t* mn,
                            std::uint16_t* mx) { GreyKernels::pixelsFromUInt16(src, n, big, window, dst, mn, mx); });
            break;
        }
        paintByRule();
        break;
    case vdtFloat64: {
        float lo = NoneMet, hi = -NoneMet;
        paintRows([&](const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
            GreyKernels::pixelsFromFloat64(src, n, big, window, dst, observe ? &lo : nullptr, observe ? &hi : nullptr);
        });
        observeMet(lo, hi);
        break;
    }
    case vdtInt8:
    case vdtUInt32:
        paintByRule();
        break;
    }
    if (observe && count < pixels)
        observe32(0.0f);

    image.repaintNow();
}
