#include "ui/ViewImageWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <new>

namespace {

constexpr int MaxBandPixels = 65535;

} // namespace

ViewImageWidget::ViewImageWidget(QWidget* parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    // The widget paints every one of its pixels itself, so an immediate
    // repaint does not first repaint the panel behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

ViewImageWidget::~ViewImageWidget() = default;

void ViewImageWidget::setSize24(int width, int height)
{
    if (width <= 0 || height <= 0) {
        m_image = QImage();
        return;
    }
    if (m_image.width() == width && m_image.height() == height
        && m_image.format() == QImage::Format_RGB888) {
        // Every pixel is written by the renderer; keeping the allocation
        // spares a large free and malloc per render.
        return;
    }
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull()) {
        throw std::bad_alloc();
    }
    m_image = std::move(image);
}

std::uint8_t* ViewImageWidget::rowPointer(int y)
{
    return m_image.scanLine(y);
}

void ViewImageWidget::repaintNow()
{
    repaint();
}

void ViewImageWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect bitmap(QPoint(0, 0), m_image.size());
    const QRect area = event->rect() & bitmap;
    if (!area.isEmpty()) {
        // Only the exposed part is turned into the screen's 32-bit format, in
        // bands below 65536 pixels: the toolkit converts a band with its
        // vectorised routine on this thread, whereas handing it the whole
        // bitmap would wake worker threads for every repaint.
        const int rowsPerBand = std::max(1, MaxBandPixels / area.width());
        for (int top = area.top(); top <= area.bottom(); top += rowsPerBand) {
            const int rows = std::min(rowsPerBand, area.bottom() + 1 - top);
            const QImage band(m_image.constScanLine(top) + 3 * area.left(), area.width(), rows,
                              m_image.bytesPerLine(), QImage::Format_RGB888);
            painter.drawImage(QPoint(area.left(), top), band.convertToFormat(QImage::Format_RGB32));
        }
    }
    // Where the bitmap does not reach (before the first render, or while the
    // layout is larger) the panel's colour shows.
    const QRegion uncovered = QRegion(event->rect()) - bitmap;
    for (const QRect& rect : uncovered) {
        painter.fillRect(rect, palette().window());
    }
}

void ViewImageWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (rect().contains(pos)) {
        emit mouseMoved(pos.x(), pos.y());
    }
    QWidget::mouseMoveEvent(event);
}
