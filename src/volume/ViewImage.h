#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The picture a view is painted into. The data manager knows nothing of the
// toolkit: the main window implements this over a QImage inside a widget,
// tests and kelvox-render over plain memory.
class ViewImage
{
public:
    // Makes the bitmap width x height pixels, 24 bits per pixel (red, green,
    // blue, one byte each, in that order). The previous contents need not
    // survive. Width or height may be 0. Throws (std::bad_alloc or
    // std::runtime_error) when the bitmap cannot be had; the renderer lets
    // that reach its caller.
    virtual void setSize24(int width, int height) = 0;

    // Start of row y (0 at the top), 3 * width bytes, valid until the next
    // setSize24. y is in 0 .. height - 1.
    virtual std::uint8_t* rowPointer(int y) = 0;

    // Shows the bitmap on screen now, not at some later repaint.
    virtual void repaintNow() = 0;

protected:
    ~ViewImage() = default;
};

// A view's bitmap in plain memory, for renders whose pixels nobody shows (a
// slice rendered for its value range, benchmarks).
class MemoryViewImage final : public ViewImage
{
public:
    void setSize24(int width, int height) override
    {
        m_width = static_cast<std::size_t>(width);
        m_pixels.resize(m_width * static_cast<std::size_t>(height) * 3);
    }
    std::uint8_t* rowPointer(int y) override { return m_pixels.data() + static_cast<std::size_t>(y) * m_width * 3; }
    void repaintNow() override {}

private:
    std::size_t m_width = 0;
    std::vector<std::uint8_t> m_pixels;
};
