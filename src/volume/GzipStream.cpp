#include "volume/GzipStream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace
{

// Compressed bytes fed to inflate per read of the source.
constexpr std::size_t InputBytes = std::size_t{256} << 10;
// The index pass reports at least this often in unpacked bytes, so a bomb
// (little input, much output) can be cancelled too.
constexpr std::int64_t ProgressOutputStep = std::int64_t{16} << 20;
constexpr std::size_t CacheChunks = GzipStream::CacheBytes / GzipStream::ChunkBytes;

// zlib's windowBits: 15-bit window, plus 16 for a gzip wrapper; negative for
// raw deflate (restart points inside a member).
constexpr int GzipBits = 15 + 16;
constexpr int ZlibBits = 15;
constexpr int RawBits = -15;
constexpr std::int64_t GzipTrailerBytes = 8;

int wrapperBits(GzipWrapper wrapper)
{
    return wrapper == GzipWrapper::Gzip ? GzipBits : ZlibBits;
}

const char* wrapperName(GzipWrapper wrapper)
{
    return wrapper == GzipWrapper::Gzip ? "gzip" : "zlib";
}

// One z_stream, ended on every way out.
class Inflater
{
public:
    explicit Inflater(int windowBits)
    {
        if (inflateInit2(&m_stream, windowBits) != Z_OK)
            throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&m_stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream& operator*() { return m_stream; }
    z_stream* operator->() { return &m_stream; }

private:
    z_stream m_stream{};
};

// Feeds a z_stream from compressed bytes [position, end) of a source.
class Input
{
public:
    Input(const ByteSource& source, std::int64_t end, z_stream& stream)
        : m_source(source), m_end(end), m_stream(stream), m_buffer(InputBytes)
    {
    }
    // Absolute position of the next byte inflate will take.
    std::int64_t position() const { return m_position - static_cast<std::int64_t>(m_stream.avail_in); }
    void seek(std::int64_t position)
    {
        m_position = position;
        m_stream.avail_in = 0;
    }
    // Refills an empty input; false when nothing more can be had.
    bool refill()
    {
        if (m_stream.avail_in > 0)
            return true;
        if (m_position >= m_end)
            return false;
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(m_end - m_position, InputBytes));
        const std::size_t got = m_source.readAt(m_position, m_buffer.data(), want);
        m_position += static_cast<std::int64_t>(got);
        m_stream.next_in = m_buffer.data();
        m_stream.avail_in = static_cast<uInt>(got);
        return got > 0;
    }

private:
    const ByteSource& m_source;
    std::int64_t m_end;
    z_stream& m_stream;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_position = 0;
};

// Packs restart windows with raw deflate (level 1: 32 KiB of image data
// shrinks to a third or so in well under a millisecond); a window that does
// not shrink is kept as it is.
class WindowPacker
{
public:
    WindowPacker()
    {
        if (deflateInit2(&m_stream, 1, Z_DEFLATED, RawBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
        m_buffer.resize(deflateBound(&m_stream, GzipStream::WindowBytes));
    }
    ~WindowPacker() { deflateEnd(&m_stream); }
    WindowPacker(const WindowPacker&) = delete;
    WindowPacker& operator=(const WindowPacker&) = delete;

    // The window is a's bytes, then b's (the ring's two parts, oldest first).
    void pack(const std::uint8_t* a, std::size_t aCount, const std::uint8_t* b, std::size_t bCount,
              std::vector<std::uint8_t>& window, bool& packed)
    {
        deflateReset(&m_stream);
        m_stream.next_out = m_buffer.data();
        m_stream.avail_out = static_cast<uInt>(m_buffer.size());
        m_stream.next_in = const_cast<std::uint8_t*>(a);
        m_stream.avail_in = static_cast<uInt>(aCount);
        deflate(&m_stream, Z_NO_FLUSH);
        m_stream.next_in = const_cast<std::uint8_t*>(b);
        m_stream.avail_in = static_cast<uInt>(bCount);
        const int ret = deflate(&m_stream, Z_FINISH);
        const std::size_t n = m_buffer.size() - m_stream.avail_out;
        packed = ret == Z_STREAM_END && n < GzipStream::WindowBytes;
        if (packed) {
            window.assign(m_buffer.data(), m_buffer.data() + n);
        } else {
            window.resize(GzipStream::WindowBytes);
            std::memcpy(window.data(), a, aCount);
            std::memcpy(window.data() + aCount, b, bCount);
        }
    }

private:
    z_stream m_stream{};
    std::vector<std::uint8_t> m_buffer;
};

// The 32 KiB a packed window holds; false if it does not unpack to them.
bool unpackWindow(const std::vector<std::uint8_t>& packed, std::uint8_t* window)
{
    Inflater inflater(RawBits);
    z_stream& s = *inflater;
    s.next_in = const_cast<std::uint8_t*>(packed.data());
    s.avail_in = static_cast<uInt>(packed.size());
    s.next_out = window;
    s.avail_out = static_cast<uInt>(GzipStream::WindowBytes);
    return inflate(&s, Z_FINISH) == Z_STREAM_END && s.avail_out == 0;
}

// Whether a gzip member starts at position: magic 1f 8b and method 8.
bool gzipMemberAt(const ByteSource& source, std::int64_t position, std::int64_t end)
{
    std::uint8_t head[3]{};
    return end - position >= 3 && source.readAt(position, head, 3) == 3 && head[0] == 0x1F && head[1] == 0x8B &&
           head[2] == 8;
}

} // namespace

std::size_t MemoryByteSource::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= m_size)
        return 0;
    const std::size_t n = std::min(count, m_size - static_cast<std::size_t>(offset));
    std::memcpy(dest, m_data + offset, n);
    return n;
}

// A place where inflating can start: the start of a gzip member or zlib
// stream (memberStart, no window), or a deflate block boundary inside one,
// with the bits of the byte before `in` that belong to the next block and
// the 32 KiB of unpacked data before `out` (raw deflate when packedWindow).
struct GzipStream::Point
{
    std::int64_t out = 0;
    std::int64_t in = 0;
    int bits = 0;
    bool memberStart = true;
    bool packedWindow = false;
    std::vector<std::uint8_t> window;
};

GzipStream::GzipStream(std::shared_ptr<const ByteSource> source, std::int64_t start, std::int64_t end,
                       GzipWrapper wrapper, const IndexProgress& progress, std::int64_t spacing, double indexShare)
    : m_source(std::move(source)), m_start(start), m_end(std::max(start, end)), m_wrapper(wrapper)
{
    buildIndex(progress, std::max<std::int64_t>(spacing, 65536), indexShare);
    if (m_size == 0 && !m_damage.empty())
        throw std::runtime_error(m_damage);
}

GzipStream::~GzipStream() = default;

std::size_t GzipStream::restartPoints() const
{
    return m_points.size();
}

std::size_t GzipStream::indexBytes() const
{
    std::size_t bytes = m_points.capacity() * sizeof(Point);
    for (const Point& p : m_points)
        bytes += p.window.capacity();
    return bytes;
}

void GzipStream::buildIndex(const IndexProgress& progress, std::int64_t spacing, double indexShare)
{
    const std::string name = wrapperName(m_wrapper);
    Inflater inflater(wrapperBits(m_wrapper));
    z_stream& s = *inflater;
    Input input(*m_source, m_end, s);
    input.seek(m_start);
    // Output goes round a 32 KiB ring: the window of the next restart point.
    std::vector<std::uint8_t> ring(WindowBytes);
    s.next_out = ring.data();
    s.avail_out = static_cast<uInt>(ring.size());
    WindowPacker packer;
    // The output also fills the cache as it goes, so the last 64 MiB (all of
    // a smaller file) need no inflating when the views first ask for them.
    std::vector<std::uint8_t> pending;
    pending.reserve(ChunkBytes);
    std::int64_t pendingChunk = 0;

    m_points.push_back(Point{0, m_start, 0, true, false, {}});
    std::int64_t indexBytes = 0;
    std::int64_t out = 0;
    std::int64_t lastPoint = 0;
    std::int64_t nextReport = 0;
    const std::int64_t total = m_end - m_start;
    // Once the input is used up, inflate may still owe output (the rest of a
    // match the full ring cut off); it is asked until it has nothing more.
    bool inputEnded = false;
    for (;;) {
        if (s.avail_in == 0 && !inputEnded) {
            if (progress && !progress(input.position() - m_start, total))
                throw IndexCancelled();
            inputEnded = !input.refill();
        }
        if (s.avail_out == 0) {
            s.next_out = ring.data();
            s.avail_out = static_cast<uInt>(ring.size());
        }
        const uInt roomBefore = s.avail_out;
        const uInt inBefore = s.avail_in;
        const int ret = inflate(&s, Z_BLOCK);
        const std::size_t produced = roomBefore - s.avail_out;
        out += static_cast<std::int64_t>(produced);
        for (const std::uint8_t* from = s.next_out - produced; from < s.next_out;) {
            const std::size_t n = std::min<std::size_t>(ChunkBytes - pending.size(), static_cast<std::size_t>(s.next_out - from));
            pending.insert(pending.end(), from, from + n);
            from += n;
            if (pending.size() == ChunkBytes) {
                cacheChunk(pendingChunk++, pending.data(), pending.size());
                pending.clear();
            }
        }
        if (ret == Z_MEM_ERROR)
            throw std::bad_alloc();
        const bool stuck = ret == Z_BUF_ERROR && inBefore == s.avail_in && roomBefore == s.avail_out;
        if (ret == Z_DATA_ERROR || ret == Z_NEED_DICT || ret == Z_STREAM_ERROR || (stuck && s.avail_in > 0)) {
            m_damage = "the " + name + " data is damaged: " + (s.msg ? s.msg : "it needs a preset dictionary");
            break;
        }
        if (inputEnded && produced == 0 && ret != Z_STREAM_END) {
            m_damage = "the " + name + " data is cut short";
            break;
        }
        if (out >= nextReport) {
            nextReport = out + ProgressOutputStep;
            if (progress && !progress(input.position() - m_start, total))
                throw IndexCancelled();
        }
        if (ret == Z_STREAM_END) {
            // Only gzip carries further members; anything else after the end
            // (padding, a second file) is not part of the data.
            const std::int64_t next = input.position();
            if (m_wrapper != GzipWrapper::Gzip || !gzipMemberAt(*m_source, next, m_end))
                break;
            if (inflateReset(&s) != Z_OK)
                throw std::bad_alloc();
            if (out - lastPoint >= spacing) {
                m_points.push_back(Point{out, next, 0, true, false, {}});
                lastPoint = out;
            }
            continue;
        }
        // At the end of a block that is not the member's last one, when the
        // index stays within its share even if this window does not pack.
        const bool blockBoundary = (s.data_type & 128) != 0 && (s.data_type & 64) == 0;
        if (blockBoundary && out - lastPoint >= spacing &&
            static_cast<double>(indexBytes + static_cast<std::int64_t>(WindowBytes + sizeof(Point))) <=
                static_cast<double>(out) * indexShare) {
            const std::size_t head = WindowBytes - s.avail_out; // where the next byte goes: the oldest one
            Point p{out, input.position(), s.data_type & 7, false, false, {}};
            packer.pack(ring.data() + head, WindowBytes - head, ring.data(), head, p.window, p.packedWindow);
            indexBytes += static_cast<std::int64_t>(p.window.size() + sizeof(Point));
            m_points.push_back(std::move(p));
            lastPoint = out;
        }
    }
    if (!pending.empty())
        cacheChunk(pendingChunk, pending.data(), pending.size());
    m_lastInflated = out > 0 ? (out - 1) / static_cast<std::int64_t>(ChunkBytes) : -1;
    m_size = out;
    m_points.shrink_to_fit();
}

const GzipStream::Chunk* GzipStream::cachedChunk(std::int64_t index) const
{
    const auto found = std::find_if(m_cache.begin(), m_cache.end(), [index](const Chunk& c) { return c.index == index; });
    if (found == m_cache.end())
        return nullptr;
    m_cache.splice(m_cache.begin(), m_cache, found);
    return &m_cache.front();
}

void GzipStream::cacheChunk(std::int64_t index, const std::uint8_t* bytes, std::size_t count) const
{
    const auto found = std::find_if(m_cache.begin(), m_cache.end(), [index](const Chunk& c) { return c.index == index; });
    if (found != m_cache.end()) {
        m_cache.splice(m_cache.begin(), m_cache, found);
        return;
    }
    // The least recently used chunk's storage is taken over when full.
    if (m_cache.size() >= CacheChunks)
        m_cache.splice(m_cache.begin(), m_cache, std::prev(m_cache.end()));
    else
        m_cache.emplace_front();
    Chunk& c = m_cache.front();
    c.index = index;
    c.bytes.assign(bytes, bytes + count);
}

void GzipStream::inflateChunks(std::int64_t first, std::int64_t last) const
{
    const std::int64_t target = first * static_cast<std::int64_t>(ChunkBytes);
    const auto after = std::upper_bound(m_points.begin(), m_points.end(), target,
                                        [](std::int64_t value, const Point& p) { return value < p.out; });
    const Point& p = *std::prev(after); // the first point is at 0
    bool raw = !p.memberStart;
    Inflater inflater(raw ? RawBits : wrapperBits(m_wrapper));
    z_stream& s = *inflater;
    Input input(*m_source, m_end, s);
    input.seek(p.in);
    if (raw) {
        if (p.bits > 0) {
            std::uint8_t partial = 0;
            if (m_source->readAt(p.in - 1, &partial, 1) != 1)
                return;
            inflatePrime(&s, p.bits, partial >> (8 - p.bits));
        }
        std::vector<std::uint8_t> unpacked;
        const std::uint8_t* window = p.window.data();
        if (p.packedWindow) {
            unpacked.resize(WindowBytes);
            if (!unpackWindow(p.window, unpacked.data()))
                return;
            window = unpacked.data();
        }
        inflateSetDictionary(&s, window, static_cast<uInt>(WindowBytes));
    }

    std::vector<std::uint8_t> buffer(ChunkBytes);
    std::int64_t out = p.out;
    std::int64_t chunk = out / static_cast<std::int64_t>(ChunkBytes);
    std::size_t fill = static_cast<std::size_t>(out % static_cast<std::int64_t>(ChunkBytes));
    bool whole = fill == 0; // a chunk entered in its middle is not cached
    bool ended = false;
    bool inputEnded = false; // as in the index pass: inflate may still owe output
    while (!ended && chunk <= last && out < m_size) {
        s.next_out = buffer.data() + fill;
        s.avail_out = static_cast<uInt>(ChunkBytes - fill);
        while (s.avail_out > 0 && out < m_size) {
            if (s.avail_in == 0 && !inputEnded)
                inputEnded = !input.refill();
            const uInt roomBefore = s.avail_out;
            const uInt inBefore = s.avail_in;
            const int ret = inflate(&s, Z_NO_FLUSH);
            out += roomBefore - s.avail_out;
            const bool stuck = roomBefore == s.avail_out && inBefore == s.avail_in;
            if ((inputEnded || stuck) && roomBefore == s.avail_out && ret != Z_STREAM_END) {
                ended = true;
                break;
            }
            if (ret == Z_STREAM_END) {
                std::int64_t next = input.position() + (raw && m_wrapper == GzipWrapper::Gzip ? GzipTrailerBytes : 0);
                if (m_wrapper != GzipWrapper::Gzip || !gzipMemberAt(*m_source, next, m_end)) {
                    ended = true;
                    break;
                }
                if (inflateReset2(&s, GzipBits) != Z_OK) {
                    ended = true;
                    break;
                }
                raw = false;
                input.seek(next);
                inputEnded = false;
            } else if (ret != Z_OK && ret != Z_BUF_ERROR) {
                ended = true; // damaged: the index pass stopped here too
                break;
            }
        }
        // Bytes beyond the readable size (never expected) are not data.
        const std::int64_t beyond = std::max<std::int64_t>(0, out - m_size);
        fill = ChunkBytes - s.avail_out - static_cast<std::size_t>(beyond);
        const bool complete = fill == ChunkBytes || out >= m_size;
        if (whole && complete) {
            cacheChunk(chunk, buffer.data(), fill);
            m_lastInflated = chunk;
        }
        if (!complete)
            break;
        ++chunk;
        fill = 0;
        whole = true;
    }
}

void GzipStream::clearCache() const
{
    const std::lock_guard lock(m_mutex);
    m_cache.clear();
    m_lastInflated = -1;
}

std::size_t GzipStream::readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const
{
    if (offset < 0 || count == 0 || offset >= m_size)
        return 0;
    count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(std::min<std::uint64_t>(
                                                                 count, std::numeric_limits<std::int64_t>::max())),
                                                             m_size - offset));
    const auto chunkBytes = static_cast<std::int64_t>(ChunkBytes);
    const std::int64_t lastNeeded = (offset + static_cast<std::int64_t>(count) - 1) / chunkBytes;
    const std::lock_guard lock(m_mutex);
    std::size_t done = 0;
    while (done < count) {
        const std::int64_t position = offset + static_cast<std::int64_t>(done);
        const std::int64_t index = position / chunkBytes;
        const Chunk* c = cachedChunk(index);
        if (!c) {
            // A read that goes on from the last chunk inflated (the rows of
            // the cross-slice view, slice after slice) inflates on to the
            // next restart point: those chunks cost little more now and the
            // whole way from the point later. A quarter of the cache at most,
            // so the first of them is still there.
            const auto next = std::upper_bound(m_points.begin(), m_points.end(), position,
                                               [](std::int64_t value, const Point& p) { return value < p.out; });
            const bool onwards = index == m_lastInflated + 1 && next != m_points.end();
            const std::int64_t ahead = onwards ? (next->out - 1) / chunkBytes : lastNeeded;
            inflateChunks(index, std::min(std::max(lastNeeded, ahead), index + static_cast<std::int64_t>(CacheChunks / 4)));
            c = cachedChunk(index);
            if (!c)
                break;
        }
        const auto within = static_cast<std::size_t>(position - index * chunkBytes);
        if (within >= c->bytes.size())
            break;
        const std::size_t n = std::min(count - done, c->bytes.size() - within);
        std::memcpy(dest + done, c->bytes.data() + within, n);
        done += n;
    }
    return done;
}

const char* compressionOf(const std::uint8_t* head, std::size_t count)
{
    const auto has = [&](std::size_t at, std::initializer_list<std::uint8_t> magic) {
        return count >= at + magic.size() && std::equal(magic.begin(), magic.end(), head + at);
    };
    if (has(0, {0x1F, 0x8B, 0x08}))
        return "gzip";
    // "BZh", the block size 1..9, then the magic of a block or of the end.
    if (has(0, {'B', 'Z', 'h'}) && count >= 4 && head[3] >= '1' && head[3] <= '9' &&
        (has(4, {0x31, 0x41, 0x59, 0x26, 0x53, 0x59}) || has(4, {0x17, 0x72, 0x45, 0x38, 0x50, 0x90})))
        return "bzip2";
    if (has(0, {0xFD, '7', 'z', 'X', 'Z', 0x00}))
        return "xz";
    if (has(0, {0x28, 0xB5, 0x2F, 0xFD}))
        return "zstd";
    return nullptr;
}
