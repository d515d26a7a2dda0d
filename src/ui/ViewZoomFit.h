#pragma once

#include "volume/ViewZoom.h"

#include <array>
#include <cstdint>

// Where the main window places a view's image in its panel, and the smallest
// image width and border height a panel is sized for.
inline constexpr int ImageLeft = 23;
inline constexpr int ImageTop = 57;
inline constexpr int MinImageWidthForPanel = 185;
inline constexpr int MinBorderHeightForPanel = 160;
// A panel is kept while its width lies within g + 31 .. g + 39 (g: the image
// width, at least 185) and is made g + 35 otherwise.
inline constexpr int PanelWidthBandLow = 31;
inline constexpr int PanelWidthBandHigh = 39;
inline constexpr int PanelWidthFresh = 35;
inline constexpr int PanelBottomMargin = 24;
// The panels' top inside the scrolling area.
inline constexpr int ViewPanelTop = 0;

// Width and height of the four view panels side by side, panels placed at
// panelTop, for the dimensions dims at zoom: each panel as wide as the band
// allows at most, as high as the layout makes the tallest.
std::array<std::int64_t, 2> viewsExtent(const std::array<std::int32_t, 3>& dims, TViewZoom zoom, int panelTop);

// Fit: the largest zoom in (n:1, one of the zoom steps) or else the smallest
// zoom out (1:k, any whole k) at which the four views fit an area of
// areaWidth x areaHeight side by side. When none fits, the farthest zoom out
// that still makes the views smaller (beyond it the panels keep their least
// size).
TViewZoom fitZoom(const std::array<std::int32_t, 3>& dims, int areaWidth, int areaHeight, int panelTop);
