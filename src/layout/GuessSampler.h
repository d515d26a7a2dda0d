#pragma once

#include "layout/LayoutGuess.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace GuessDetail
{

// Files up to this size are kept whole; of larger ones two blocks of
// BlockBytes are kept and the rest is read in small pieces where wanted.
inline constexpr std::int64_t WholeFileLimit = std::int64_t{8} << 20;
inline constexpr std::int64_t BlockBytes = std::int64_t{2} << 20;
// Headers and trailing bytes are looked for this far into either end.
inline constexpr std::int64_t EdgeBytes = std::int64_t{1} << 20;

// The k-th of a set of places spread over 10 % .. 90 % of a stretch, as a
// fraction of it. Steps of the golden ratio never fall on round fractions:
// a third, a fifth or a tenth of a file land on slice starts whenever the
// slice count is a round number, and the first rows of every slice are
// background (noise alone, in which neither rows nor a decoding show).
double spreadAt(int k);

// Memory for a kept block, in huge pages where the system gives them: a
// fresh page costs a fault each, which on a virtual machine took longer than
// reading the bytes; a 2 MiB page costs one.
class BlockMemory
{
public:
    // Throws std::bad_alloc when the memory cannot be mapped.
    explicit BlockMemory(std::size_t size);
    ~BlockMemory();
    BlockMemory(const BlockMemory&) = delete;
    BlockMemory& operator=(const BlockMemory&) = delete;

    std::uint8_t* data() const { return m_data; }

private:
    std::uint8_t* m_base = nullptr;
    std::uint8_t* m_data = nullptr;
    std::size_t m_mapped = 0;
};

struct Block
{
    std::int64_t offset = 0;
    std::unique_ptr<BlockMemory> storage;
    std::size_t count = 0;

    std::span<const std::uint8_t> data() const { return {storage->data(), count}; }
};

// The sampled bytes of the file: one or two large blocks kept in memory plus
// small reads elsewhere, never more than GuessSampleLimit bytes in all.
class Sampler
{
public:
    explicit Sampler(const LayoutSource& source);

    std::int64_t size() const { return m_size; }
    const std::vector<Block>& blocks() const { return m_blocks; }

    // The bytes [offset, offset + count), clipped to the file, from a kept
    // block or read now; fewer once the budget is spent. Valid until the
    // next call.
    std::span<const std::uint8_t> bytes(std::int64_t offset, std::int64_t count);

    // The first and the last count bytes of the file, at most EdgeBytes
    // (fewer of the first, none of the last once the budget is spent), kept
    // once read: headers and trailing bytes are looked for there by every
    // decoding. Valid until a call for more.
    std::span<const std::uint8_t> head(std::int64_t count);
    std::span<const std::uint8_t> tail(std::int64_t count);

private:
    // The bytes kept of one end of the file, and how many were asked for.
    struct Edge
    {
        std::vector<std::uint8_t> bytes;
        std::int64_t asked = 0;
    };

    void keep(std::int64_t offset, std::int64_t count);
    // head (atEnd false) or tail (atEnd true).
    std::span<const std::uint8_t> edge(Edge& kept, bool atEnd, std::int64_t count);

    const LayoutSource& m_source;
    std::int64_t m_size;
    std::int64_t m_used = 0;
    std::vector<Block> m_blocks;
    std::vector<std::uint8_t> m_scratch;
    Edge m_head;
    Edge m_tail;
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::uint8_t>> m_small;
};

} // namespace GuessDetail
