// Renders all four views of arbitrary file bytes under an arbitrary guess
// and zoom 1:k and checks that every pixel gets one of the three kinds of colour, and
// that nothing reads or writes outside a buffer (the sanitizers watch).

#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewImage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace
{

class FuzzImage final : public ViewImage
{
public:
    void setSize24(int width, int height) override
    {
        m_width = width;
        m_height = height;
        m_pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 7);
    }
    std::uint8_t* rowPointer(int y) override
    {
        if (y < 0 || y >= m_height)
            std::abort();
        return m_pixels.data() + static_cast<std::size_t>(y) * m_width * 3;
    }
    void repaintNow() override {}

    void check() const
    {
        for (std::size_t i = 0; i < m_pixels.size(); i += 3) {
            const std::uint8_t r = m_pixels[i], g = m_pixels[i + 1], b = m_pixels[i + 2];
            const bool grey = r == g && g == b;
            const bool red = r == 255 && g == 0 && b == 0;
            const bool lightBlue = r == 0 && g == 255 && b == 255;
            if (!grey && !red && !lightBlue)
                std::abort();
        }
    }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint8_t> m_pixels;
};

template <typename T>
T take(const std::uint8_t*& data, std::size_t& size)
{
    T v{};
    const std::size_t n = size < sizeof v ? size : sizeof v;
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The file lives in memory and is opened by path like any other.
    static const int fd = ::memfd_create("kelvox-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    static TKelvoxDataMgr mgr;

    // Mostly small views, to keep each run quick; one run in sixteen a view
    // larger than a view buffer's first capacity, over a file that fills it.
    const bool large = take<std::uint8_t>(data, size) % 16 == 0;
    auto d0 = static_cast<std::int32_t>(take<std::uint8_t>(data, size) % 80);
    auto d1 = static_cast<std::int32_t>(take<std::uint8_t>(data, size) % 80);
    auto d2 = static_cast<std::int32_t>(take<std::uint8_t>(data, size) % 80);
    if (large) {
        d0 = 1024 + d0 * 7;
        d1 = 1024 + d1 * 11;
        d2 = 1 + d2 % 3;
    }
    // The eight types and one beyond them.
    const auto type = static_cast<TVoxelDataType>(take<std::uint8_t>(data, size) % (VoxelTypeCount + 1));
    const auto order = static_cast<TByteOrder>(take<std::uint8_t>(data, size) % 3);
    // Free windows, and often one of the far, inverted or empty ones that
    // take no type's direct path.
    constexpr std::int32_t Far = 2147483647;
    constexpr std::pair<std::int32_t, std::int32_t> Windows[] = {
        {-Far - 1, Far}, {Far, -Far - 1}, {0, 0}, {-1, 1}, {65535, 0}, {-Far - 1, 0}, {0, Far}};
    const auto windowChoice = take<std::uint8_t>(data, size);
    auto intensityMin = take<std::int32_t>(data, size);
    auto intensityMax = take<std::int32_t>(data, size);
    if (windowChoice < std::size(Windows))
        std::tie(intensityMin, intensityMax) = Windows[windowChoice];
    const auto volume = take<std::int32_t>(data, size);
    const auto sliceOrRow = take<std::int32_t>(data, size);
    // Mostly headers within the file's bytes, sometimes any 64-bit count
    // (negative and beyond the file included).
    const auto headerChoice = take<std::uint8_t>(data, size);
    const auto headerBits = take<std::int64_t>(data, size);
    const std::int64_t header = headerChoice < 200 ? headerChoice % 40 : headerBits;
    // The zoom 1:k: mostly 1, else 2 to 9.
    const auto stepChoice = take<std::uint8_t>(data, size);
    const std::int32_t step = stepChoice < 128 ? 1 : 2 + stepChoice % 8;

    if (::ftruncate(fd, 0) != 0 || (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)))
        return 0;
    if (large && size > 0) {
        // The input repeated to 32 MiB: every view of the large guess holds data
        // to its end, past the first capacity of its buffer.
        std::vector<std::uint8_t> tiled(std::size_t{32} << 20);
        for (std::size_t i = 0; i < tiled.size(); i += size)
            std::memcpy(tiled.data() + i, data, std::min(size, tiled.size() - i));
        if (::pwrite(fd, tiled.data(), tiled.size(), 0) != static_cast<ssize_t>(tiled.size()))
            return 0;
    }
    mgr.OpenFile(path);
    mgr.SetParams(d0, d1, d2, type, order, intensityMin, intensityMax, header);
    for (TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume}) {
        FuzzImage image;
        mgr.RenderView(volume, sliceOrRow, view, image, step);
        image.check();
        for (std::int32_t y = -1; y <= d1 && y <= 3; ++y)
            for (std::int32_t x = -1; x <= d0 && x <= 3; ++x)
                (void)mgr.ViewValue(view, x, y);
    }
    return 0;
}
