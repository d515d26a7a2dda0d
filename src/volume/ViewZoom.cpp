#include "volume/ViewZoom.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace
{

// How near a zoom shows: pixels per voxel as a fraction in / out, compared
// without dividing.
bool nearer(TViewZoom a, TViewZoom b)
{
    return static_cast<std::int64_t>(a.in) * b.out > static_cast<std::int64_t>(b.in) * a.out;
}

std::optional<std::int32_t> wholeNumber(std::string_view text)
{
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || value < 1 || value > 1000000)
        return std::nullopt;
    return value;
}

} // namespace

TViewZoom zoomedIn(TViewZoom zoom)
{
    for (const TViewZoom step : ZoomSteps) {
        if (nearer(step, zoom))
            return step;
    }
    return zoom;
}

TViewZoom zoomedOut(TViewZoom zoom)
{
    for (auto it = ZoomSteps.rbegin(); it != ZoomSteps.rend(); ++it) {
        if (nearer(zoom, *it))
            return *it;
    }
    return zoom;
}

std::optional<TViewZoom> parseZoom(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto n = wholeNumber(text.substr(0, colon));
    const auto k = wholeNumber(text.substr(colon + 1));
    if (!n || !k || (*n > 1 && *k > 1))
        return std::nullopt;
    return TViewZoom{*n, *k};
}

std::string zoomText(TViewZoom zoom)
{
    return std::to_string(zoom.in) + ":" + std::to_string(zoom.out);
}

void magnifyRow24(const std::uint8_t* src, std::int32_t in, std::int64_t x0, std::size_t count, std::uint8_t* dst)
{
    const std::int64_t n = in > 1 ? in : 1;
    std::int64_t x = x0;
    const std::int64_t end = x0 + static_cast<std::int64_t>(count);
    while (x < end) {
        // The run of target pixels that repeat one source pixel.
        const std::int64_t voxel = x / n;
        const std::int64_t runEnd = std::min(end, (voxel + 1) * n);
        const std::uint8_t* p = src + 3 * voxel;
        for (; x < runEnd; ++x, dst += 3) {
            dst[0] = p[0];
            dst[1] = p[1];
            dst[2] = p[2];
        }
    }
}
