#include "ui/ViewImageWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>

#include <new>

ViewImageWidget::ViewImageWidget(QWidget* parent)
    : QWidget(parent)
{
    setMouseTracking(true);
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
    if (m_image.isNull()) {
        return;
    }
    QPainter painter(this);
    const QRect area = event->rect() & QRect(QPoint(0, 0), m_image.size());
    if (!area.isEmpty()) {
        painter.drawImage(area.topLeft(), m_image, area);
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
