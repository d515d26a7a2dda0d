#include "layout/GuessSampler.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <sys/mman.h>

namespace GuessDetail
{

double spreadAt(int k)
{
    const double s = 0.318 + 0.6180339887498949 * k;
    return 0.1 + 0.8 * (s - std::floor(s));
}

BlockMemory::BlockMemory(std::size_t size)
{
    constexpr std::size_t Huge = std::size_t{2} << 20;
    const std::size_t rounded = (size + Huge - 1) / Huge * Huge;
    m_mapped = rounded + Huge; // room to start at a huge-page boundary
    void* p = ::mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    m_base = static_cast<std::uint8_t*>(p);
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    m_data = m_base + ((Huge - address % Huge) % Huge);
    // Only a hint: without huge pages the memory works the same.
    ::madvise(m_data, rounded, MADV_HUGEPAGE);
}

BlockMemory::~BlockMemory()
{
    ::munmap(m_base, m_mapped);
}

Sampler::Sampler(const LayoutSource& source) : m_source(source), m_size(std::max<std::int64_t>(source.size(), 0))
{
    const auto alignDown = [](std::int64_t v) { return v - v % 8; };
    if (m_size <= WholeFileLimit) {
        keep(0, m_size);
    } else {
        for (int k = 0; k < 2; ++k)
            keep(alignDown(static_cast<std::int64_t>(spreadAt(k) * static_cast<double>(m_size - BlockBytes))),
                 BlockBytes);
    }
}

std::span<const std::uint8_t> Sampler::bytes(std::int64_t offset, std::int64_t count)
{
    if (offset < 0 || offset >= m_size || count <= 0)
        return {};
    count = std::min(count, m_size - offset);
    for (const Block& b : m_blocks) {
        const auto have = static_cast<std::int64_t>(b.data().size());
        if (offset >= b.offset && offset + count <= b.offset + have)
            return {b.data().data() + (offset - b.offset), static_cast<std::size_t>(count)};
    }
    // Small reads (a row's middle for the volume test) recur for
    // candidates that differ only in type: they are kept.
    constexpr std::int64_t SmallRead = 4096;
    const std::pair<std::int64_t, std::int64_t> key{offset, count};
    // (Where a new read goes: one search of the kept reads, not two.)
    const auto place = count <= SmallRead ? m_small.lower_bound(key) : m_small.end();
    if (place != m_small.end() && place->first == key)
        return place->second;
    count = std::min(count, GuessSampleLimit - m_used);
    if (count <= 0)
        return {};
    if (count <= SmallRead && key.second == count) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(count));
        data.resize(m_source.readAt(offset, data.data(), data.size()));
        m_used += static_cast<std::int64_t>(data.size());
        return m_small.emplace_hint(place, key, std::move(data))->second;
    }
    m_scratch.resize(static_cast<std::size_t>(count));
    const std::size_t got = m_source.readAt(offset, m_scratch.data(), m_scratch.size());
    m_used += static_cast<std::int64_t>(got);
    return {m_scratch.data(), std::min(got, m_scratch.size())};
}

std::span<const std::uint8_t> Sampler::head(std::int64_t count)
{
    return edge(m_head, false, count);
}

std::span<const std::uint8_t> Sampler::tail(std::int64_t count)
{
    return edge(m_tail, true, count);
}

std::span<const std::uint8_t> Sampler::edge(Edge& kept, bool atEnd, std::int64_t count)
{
    count = std::min({count, EdgeBytes, m_size});
    if (count <= 0)
        return {};
    std::span<const std::uint8_t> have;
    if (m_size <= WholeFileLimit && !m_blocks.empty()) {
        have = m_blocks.front().data();
        // A short read of the whole file is its start, not its end.
        if (atEnd && static_cast<std::int64_t>(have.size()) != m_size)
            return {};
    } else {
        if (count > kept.asked) {
            kept.asked = count;
            const std::span<const std::uint8_t> got = bytes(atEnd ? m_size - count : 0, count);
            // Fewer bytes than asked (the budget spent) are the start of the
            // tail, not its end: none then.
            if (atEnd && static_cast<std::int64_t>(got.size()) != count)
                kept.bytes.clear();
            else
                kept.bytes.assign(got.begin(), got.end());
        }
        have = kept.bytes;
    }
    const auto n = static_cast<std::size_t>(count);
    if (!atEnd)
        return have.first(std::min(have.size(), n));
    return have.size() >= n ? have.last(n) : std::span<const std::uint8_t>{};
}

void Sampler::keep(std::int64_t offset, std::int64_t count)
{
    count = std::min({count, m_size - offset, GuessSampleLimit - m_used});
    if (count <= 0)
        return;
    Block b;
    b.offset = offset;
    b.storage = std::make_unique<BlockMemory>(static_cast<std::size_t>(count));
    b.count = m_source.readAt(offset, b.storage->data(), static_cast<std::size_t>(count));
    m_used += static_cast<std::int64_t>(b.count);
    m_blocks.push_back(std::move(b));
}

} // namespace GuessDetail
