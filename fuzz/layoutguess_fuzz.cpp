// Fuzzes the layout guesser on small arbitrary files: the first byte picks a
// name (so the name's hints meet the bytes too), the rest is the file. It
// must never fault, and every candidate must fit in the file with a score in
// 0..1, best first.

#include "layout/LayoutGuess.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::array<const char*, 6> Names{"volume.raw",       "head_16x16x4_i16_be.raw", "img_8x8_f32.raw",
                                                      "a_4x4x2x2_u8.raw", "b_4x4x2_u32.raw",         "c_3x3x1_f64_be.raw"};
    const char* name = Names[size > 0 ? data[0] % Names.size() : 0];
    const std::uint8_t* bytes = size > 0 ? data + 1 : data;
    const std::size_t count = size > 0 ? size - 1 : 0;
    const MemoryLayoutSource source(bytes, count);
    const std::vector<LayoutCandidate> guesses = guessLayout(source, name);
    double previous = 1.0;
    for (const LayoutCandidate& c : guesses) {
        const std::int64_t dataBytes = layoutDataBytes(c.layout);
        if (dataBytes <= 0 || c.layout.headerBytes < 0 ||
            c.layout.headerBytes > static_cast<std::int64_t>(count) - dataBytes)
            std::abort();
        if (!(c.score >= 0.0 && c.score <= previous))
            std::abort();
        previous = c.score;
    }
    return 0;
}
