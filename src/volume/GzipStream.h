#pragma once

#include "volume/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// How the compressed bytes are wrapped: gzip (RFC 1952, one member or several
// concatenated, as parallel compressors write them) or zlib (RFC 1950, one
// stream).
enum class GzipWrapper : std::uint8_t
{
    Gzip,
    Zlib,
};

// Called now and then by the index pass with the compressed bytes consumed
// so far and their total; returning false cancels the pass.
using IndexProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// The index pass was cancelled through its progress callback.
class IndexCancelled : public std::runtime_error
{
public:
    IndexCancelled() : std::runtime_error("cancelled") {}
};

// The unpacked bytes of a gzip or zlib stream, read at any position without
// unpacking the whole.
//
// Construction makes one pass over the compressed bytes and keeps an index of
// restart points: at deflate block boundaries at least MinimumSpacing bytes of
// unpacked data apart, the compressed bit position and the 32 KiB of unpacked
// data before it (packed with deflate where that shrinks it), plus the start
// of each gzip member. A point is only taken while the index stays within
// IndexShare (1 %) of the unpacked bytes so far even if its window does not
// pack: points come every 3.2 MiB for data whose windows do not pack, down to
// every 1 MiB for data whose windows pack to a third. A read inflates from the
// nearest restart point at or before it, in chunks of ChunkBytes; the most
// recently used chunks (CacheBytes in all, the last ones of the pass to begin
// with) are kept, so rows of neighbouring slices and repeated renders inflate
// nothing again.
//
// Damaged input never fails the construction once some data came out: a
// truncated stream, a corrupt block or a wrong checksum end the readable data
// where the pass stopped (size()), and damage() says why. The size comes only
// from the actual inflate, never from a size field, so a bomb costs the time
// of its inflate and nothing more. Reads are safe from several threads.
class GzipStream final : public ByteSource
{
public:
    static constexpr std::int64_t MinimumSpacing = std::int64_t{1} << 20;
    static constexpr double IndexShare = 0.01;
    static constexpr std::size_t WindowBytes = 32768;
    static constexpr std::size_t ChunkBytes = std::size_t{1} << 20;
    static constexpr std::size_t CacheBytes = std::size_t{64} << 20;

    // Indexes compressed bytes [start, end) of source. Throws
    // std::runtime_error with the reason when not a single byte inflates (not
    // a gzip or zlib stream at all) and IndexCancelled when progress asks to
    // stop. spacing (>= 64 KiB) and share override MinimumSpacing and
    // IndexShare, for tests.
    GzipStream(std::shared_ptr<const ByteSource> source, std::int64_t start, std::int64_t end, GzipWrapper wrapper,
               const IndexProgress& progress = {}, std::int64_t spacing = MinimumSpacing,
               double share = IndexShare);
    ~GzipStream() override;

    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override;
    // Forgets every inflated chunk: the next reads inflate from the restart
    // points (tests force that way with it).
    void clearCache() const;

    // Unpacked bytes that can be read.
    std::int64_t size() const { return m_size; }
    // Why the readable data ends before the stream's proper end (empty when
    // it ends properly): "the gzip data is cut short", "the zlib data is
    // damaged: invalid block type".
    const std::string& damage() const { return m_damage; }
    GzipWrapper wrapper() const { return m_wrapper; }
    // Restart points and the bytes they hold, for tests and the report.
    std::size_t restartPoints() const;
    std::size_t indexBytes() const;

private:
    struct Point;
    struct Chunk
    {
        std::int64_t index = 0;
        std::vector<std::uint8_t> bytes;
    };

    void buildIndex(const IndexProgress& progress, std::int64_t spacing, double indexShare);
    // Inflates from the restart point before chunk `first` until chunk `last`
    // is cached (or the data ends); every whole chunk on the way is cached.
    void inflateChunks(std::int64_t first, std::int64_t last) const;
    const Chunk* cachedChunk(std::int64_t index) const;
    void cacheChunk(std::int64_t index, const std::uint8_t* bytes, std::size_t count) const;

    std::shared_ptr<const ByteSource> m_source;
    std::int64_t m_start;
    std::int64_t m_end;
    GzipWrapper m_wrapper;
    std::vector<Point> m_points;
    std::int64_t m_size = 0;
    std::string m_damage;

    mutable std::mutex m_mutex;
    // Most recently used first.
    mutable std::list<Chunk> m_cache;
    // The last chunk inflated, to tell reads that go on from it.
    mutable std::int64_t m_lastInflated = -1;
};

// What the first bytes of a file (head, count of them; 10 are enough) say
// about its compression by their magic: "gzip", one of the packers Kelvox
// cannot unpack ("bzip2", "xz", "zstd"), or nullptr for none of these. A zlib
// stream has no magic worth the name; only a layout file can say it is one.
const char* compressionOf(const std::uint8_t* head, std::size_t count);
