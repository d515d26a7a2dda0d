// The gzip/zlib index and its random reads: any stream, whole, damaged or
// hostile, gives through readAt exactly the bytes a sequential inflate gives,
// never more, never a read outside a buffer, never a hang.
//
// Input: a mode byte, then the payload. Mode bit 0: zlib wrapper (else
// gzip). Bit 1: the payload is data to pack here (several gzip members, level
// from bits 2-3) and then damage at the position the next two bytes give;
// otherwise the payload is the compressed stream itself. Restart points come
// every 64 KiB of unpacked data (the smallest spacing) so short inputs have
// several.

#include "volume/GzipStream.h"

#include "support/ZlibReference.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const bool zlib = (data[0] & 1) != 0;
    const bool packHere = (data[0] & 2) != 0;
    Bytes packed;
    if (packHere) {
        const std::size_t damageAt = static_cast<std::size_t>(data[1]) << 8 | data[2];
        const std::uint8_t* payload = data + 3;
        const std::size_t payloadSize = size - 3;
        // Unpacked data large enough for several restart points: the payload
        // repeated with a counter.
        Bytes plain;
        for (std::size_t i = 0; i < 200000 && payloadSize > 0; ++i)
            plain.push_back(static_cast<std::uint8_t>(payload[i % payloadSize] + i / 4096));
        const int level = (data[0] >> 2) & 3;
        const std::size_t members = zlib ? 1 : 1 + ((data[0] >> 4) & 3);
        const std::size_t step = plain.size() / members + 1;
        for (std::size_t at = 0; at < plain.size(); at += step) {
            const Bytes part = deflateWith({plain.data() + at, std::min(step, plain.size() - at)}, zlib ? 15 : 31,
                                           level * 3, Z_DEFAULT_STRATEGY);
            packed.insert(packed.end(), part.begin(), part.end());
        }
        if (damageAt < packed.size() && (data[0] & 64))
            packed.resize(damageAt);
        else if (damageAt < packed.size())
            packed[damageAt] ^= 0x55;
    } else {
        packed.assign(data + 1, data + size);
    }
    const GzipWrapper wrapper = zlib ? GzipWrapper::Zlib : GzipWrapper::Gzip;
    const Bytes expected = sequentialInflate(packed, wrapper, std::size_t{64} << 20);
    if (expected.size() >= (std::size_t{64} << 20))
        return 0; // the reference stopped counting
    auto source = std::make_shared<MemoryByteSource>(packed.data(), packed.size());
    try {
        const GzipStream stream(source, 0, static_cast<std::int64_t>(packed.size()),
                                wrapper, {}, 65536, 1.0);
        if (stream.size() != static_cast<std::int64_t>(expected.size()))
            __builtin_trap();
        // Reads at positions spread over the data, the end and beyond.
        Bytes got(70000);
        const std::int64_t end = stream.size();
        for (std::int64_t at : {end / 3, end - 5, std::int64_t{0}, end / 2 + 7, end + 3, std::int64_t{-2}}) {
            if (at % 2 == 0)
                stream.clearCache();
            const std::size_t n = stream.readAt(at, got.data(), got.size());
            const std::size_t want =
                at < 0 || at >= end ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(70000, end - at));
            if (n != want || (n > 0 && std::memcmp(got.data(), expected.data() + at, n) != 0))
                __builtin_trap();
        }
    } catch (const std::runtime_error&) {
        if (!expected.empty())
            __builtin_trap(); // refused although something inflates
    }
    return 0;
}
