#pragma once

#include "volume/ViewImage.h"

#include <QImage>

#include <new>
#include <utility>

// A view's bitmap over a QImage (RGB888: red, green, blue, one byte each),
// for renders made off screen: the view renderer's results, thumbnails and
// kelvox-render's pictures. An empty view is a null image.
class QImageViewImage final : public ViewImage
{
public:
    // Throws std::bad_alloc when the bitmap cannot be had.
    void setSize24(int width, int height) override
    {
        m_image = QImage();
        if (width <= 0 || height <= 0)
            return;
        m_image = QImage(width, height, QImage::Format_RGB888);
        if (m_image.isNull())
            throw std::bad_alloc();
    }
    std::uint8_t* rowPointer(int y) override { return m_image.scanLine(y); }
    void repaintNow() override {}

    const QImage& image() const { return m_image; }
    // Hands the bitmap over; this image is null afterwards.
    QImage take() { return std::exchange(m_image, QImage()); }

private:
    QImage m_image;
};
