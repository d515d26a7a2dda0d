#include "ui/ViewZoomFit.h"

#include <algorithm>

std::array<std::int64_t, 2> viewsExtent(const std::array<std::int32_t, 3>& dims, TViewZoom zoom, int panelTop)
{
    const std::int64_t width = zoom.pixelsFor(dims[0]);
    const std::int64_t height = std::max(zoom.pixelsFor(dims[1]), zoom.pixelsFor(dims[2]));
    const std::int64_t panelWidth = std::max<std::int64_t>(width, MinImageWidthForPanel) + PanelWidthBandHigh;
    const std::int64_t borderHeight = height + 4;
    const std::int64_t panelHeight =
        std::max<std::int64_t>(borderHeight, MinBorderHeightForPanel) + (ImageTop - 2) + PanelBottomMargin;
    return {4 * panelWidth, panelTop + panelHeight};
}

TViewZoom fitZoom(const std::array<std::int32_t, 3>& dims, int areaWidth, int areaHeight, int panelTop)
{
    const auto fits = [&](TViewZoom zoom) {
        const auto [w, h] = viewsExtent(dims, zoom, panelTop);
        return w <= areaWidth && h <= areaHeight;
    };
    for (auto it = ZoomSteps.rbegin(); it != ZoomSteps.rend() && it->in > 1; ++it) {
        if (fits(*it))
            return *it;
    }
    // Zooming out further than the longest axis shows one pixel per view.
    const std::int32_t farthest = std::max({dims[0], dims[1], dims[2], 1});
    const auto farthestExtent = viewsExtent(dims, {1, farthest}, panelTop);
    for (std::int32_t k = 1; k < farthest; ++k) {
        const TViewZoom zoom{1, k};
        if (fits(zoom) || viewsExtent(dims, zoom, panelTop) == farthestExtent)
            return zoom;
    }
    return {1, farthest};
}
