#pragma once

#include "volume/ViewImage.h"

#include <array>
#include <cstdint>
#include <vector>

// A view bitmap over plain memory, rows of exactly 3 * width bytes, that a
// test reads pixel by pixel.
class VectorImage final : public ViewImage
{
public:
    using Rgb = std::array<std::uint8_t, 3>;

    void setSize24(int w, int h) override
    {
        width = w;
        height = h;
        // Poisoned, so a pixel the renderer forgets shows up as (1, 2, 3).
        pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 0);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(1 + i % 3);
    }
    std::uint8_t* rowPointer(int y) override { return pixels.data() + static_cast<std::size_t>(y) * width * 3; }
    void repaintNow() override { ++repaints; }

    Rgb at(int x, int y) const
    {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }

    int width = -1;
    int height = -1;
    int repaints = 0;
    std::vector<std::uint8_t> pixels;
};

inline constexpr VectorImage::Rgb LightBlue{0, 255, 255};
inline constexpr VectorImage::Rgb Red{255, 0, 0};
inline constexpr VectorImage::Rgb grey(int n)
{
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n)};
}
