#include "ui/ViewImageWidget.h"

#include "volume/GreyKernels.h"
#include "volume/ViewZoom.h"

#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Pixels converted per band: 64 KiB of 32-bit pixels.
constexpr int BandPixels = 16384;

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
    m_rows = nullptr;
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
    // The first row of a render detaches the bitmap (and so gives it a new
    // cache key); the rows after it need no further check while nobody
    // shares it.
    if (m_rows == nullptr || !m_image.isDetached()) {
        m_rows = m_image.bits();
    }
    return m_rows + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_image.bytesPerLine());
}

void ViewImageWidget::repaintNow()
{
    repaint();
}

void ViewImageWidget::setImage(const QImage& image)
{
    m_rows = nullptr;
    m_image = image;
    update();
}

void ViewImageWidget::setMagnification(int magnification)
{
    magnification = std::max(1, magnification);
    if (magnification == m_magnification) {
        return;
    }
    m_magnification = magnification;
    update();
}

void ViewImageWidget::setLoading(bool loading)
{
    if (loading == m_loading) {
        return;
    }
    m_loading = loading;
    if (loading) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
    update();
}

const std::uint8_t* ViewImageWidget::shownRow(int y, int left, int count)
{
    const int n = m_magnification;
    const uchar* source = m_image.constScanLine(y / n);
    if (n == 1) {
        return source + 3 * static_cast<std::size_t>(left);
    }
    m_magnifiedRow.resize(3 * static_cast<std::size_t>(count));
    magnifyRow24(source, n, left, static_cast<std::size_t>(count), m_magnifiedRow.data());
    return m_magnifiedRow.data();
}

bool ViewImageWidget::paintIntoBackingStore(QPainter& painter, const QRect& area)
{
    // Where the painter draws straight into a 32-bit raster image (the
    // window's backing store) at a whole-pixel offset, the bitmap's pixels
    // are widened right into it, inside the painter's system clip: one pass
    // instead of a conversion and a copy.
    QPaintEngine* engine = painter.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster) {
        return false;
    }
    auto* target = dynamic_cast<QImage*>(engine->paintDevice());
    if (target == nullptr || target->devicePixelRatio() != 1.0
        || (target->format() != QImage::Format_RGB32 && target->format() != QImage::Format_ARGB32_Premultiplied
            && target->format() != QImage::Format_ARGB32)) {
        return false;
    }
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxTranslate || transform.dx() != std::floor(transform.dx())
        || transform.dy() != std::floor(transform.dy()) || painter.hasClipping()) {
        return false;
    }
    const QPoint offset(static_cast<int>(transform.dx()), static_cast<int>(transform.dy()));
    QRegion region(area.translated(offset));
    const QRegion systemClip = engine->systemClip();
    if (!systemClip.isEmpty()) {
        region &= systemClip;
    }
    region &= target->rect();
    uchar* const screen = target->bits();
    const auto screenLine = static_cast<std::size_t>(target->bytesPerLine());
    for (const QRect& rect : region) {
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            GreyKernels::widenPixels(
                shownRow(y - offset.y(), rect.left() - offset.x(), rect.width()),
                static_cast<std::size_t>(rect.width()),
                reinterpret_cast<std::uint32_t*>(screen + static_cast<std::size_t>(y) * screenLine) + rect.left());
        }
    }
    return true;
}

void ViewImageWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect bitmap(QPoint(0, 0), m_image.size() * m_magnification);
    const QRect area = event->rect() & bitmap;
    if (!area.isEmpty() && !paintIntoBackingStore(painter, area)) {
        // Elsewhere (a grab into a pixmap, a scaled screen) the exposed part
        // goes to the screen's 32-bit format in bands through one small
        // buffer that stays in the cache: no allocation and no worker
        // threads per repaint, and the toolkit copies each band as it is.
        const int rowsPerBand = std::max(1, BandPixels / area.width());
        const auto bandSize = static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(rowsPerBand);
        if (m_band.size() < bandSize) {
            m_band.resize(bandSize);
        }
        for (int top = area.top(); top <= area.bottom(); top += rowsPerBand) {
            const int rows = std::min(rowsPerBand, area.bottom() + 1 - top);
            for (int y = top; y < top + rows; ++y) {
                GreyKernels::widenPixels(shownRow(y, area.left(), area.width()),
                                         static_cast<std::size_t>(area.width()),
                                         m_band.data() + static_cast<std::size_t>(y - top) * area.width());
            }
            const QImage band(reinterpret_cast<const uchar*>(m_band.data()), area.width(), rows,
                              area.width() * 4, QImage::Format_RGB32);
            painter.drawImage(QPoint(area.left(), top), band);
        }
    }
    // Where the bitmap does not reach (before the first render, or while the
    // layout is larger) the panel's colour shows.
    const QRegion uncovered = QRegion(event->rect()) - bitmap;
    for (const QRect& rect : uncovered) {
        painter.fillRect(rect, palette().window());
    }
    if (m_loading) {
        const QString text = QStringLiteral("Loading\u2026");
        const QRect mark = painter.fontMetrics().boundingRect(text).adjusted(-3, -1, 3, 1).translated(
            3 - painter.fontMetrics().boundingRect(text).left(), 3 + painter.fontMetrics().ascent());
        painter.fillRect(mark, QColor(255, 255, 225));
        painter.setPen(Qt::black);
        painter.drawText(mark, Qt::AlignCenter, text);
    }
}

void ViewImageWidget::mouseMoveEvent(QMouseEvent* event)
{
    // The voxel under the pointer is the one the position lies in: with
    // fractional positions (scale factors such as 1.5) rounding would give
    // the right half of each voxel to the next one.
    const QPointF exact = event->position();
    const QPoint pos(static_cast<int>(std::floor(exact.x())), static_cast<int>(std::floor(exact.y())));
    if (rect().contains(pos)) {
        emit mouseMoved(pos.x(), pos.y());
    }
    QWidget::mouseMoveEvent(event);
}
