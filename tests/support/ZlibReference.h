#pragma once

#include "volume/GzipStream.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <vector>

// zlib's own deflate and its sequential inflate: the reference the unpacked
// streams are checked against (by the tests and the fuzz target alike). The
// target that includes this links zlib.

// data packed by deflate in one go: windowBits 15 gives a zlib wrapper, 31 a
// gzip one (see deflateInit2). Throws std::runtime_error when zlib refuses
// the settings or does not finish.
inline std::vector<std::uint8_t> deflateWith(std::span<const std::uint8_t> data, int windowBits, int level,
                                             int strategy)
{
    z_stream s{};
    if (deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2 refused the settings");
    std::vector<std::uint8_t> out(deflateBound(&s, static_cast<uLong>(data.size())) + 64);
    s.next_in = const_cast<std::uint8_t*>(data.data());
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int done = deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    if (done != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

// What zlib gives reading the stream start to end: every gzip member in
// turn, up to the first damage. Stops once more than limit bytes came out.
inline std::vector<std::uint8_t> sequentialInflate(std::span<const std::uint8_t> packed, GzipWrapper wrapper,
                                                   std::size_t limit = std::numeric_limits<std::size_t>::max())
{
    const bool gzip = wrapper == GzipWrapper::Gzip;
    std::vector<std::uint8_t> out;
    z_stream s{};
    if (inflateInit2(&s, gzip ? 31 : 15) != Z_OK)
        throw std::runtime_error("inflateInit2 failed");
    s.next_in = const_cast<std::uint8_t*>(packed.data());
    s.avail_in = static_cast<uInt>(packed.size());
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        s.next_out = buffer.data();
        s.avail_out = static_cast<uInt>(buffer.size());
        const int ret = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - s.avail_out));
        if (ret == Z_STREAM_END && gzip && s.avail_in >= 3 && s.next_in[0] == 0x1F && s.next_in[1] == 0x8B &&
            s.next_in[2] == 8) {
            inflateReset(&s);
            continue;
        }
        if (ret != Z_OK || out.size() > limit)
            break;
    }
    inflateEnd(&s);
    return out;
}
