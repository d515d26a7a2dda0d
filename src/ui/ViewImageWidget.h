#pragma once

#include "volume/ViewImage.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <vector>

class QPainter;
class QRect;

// One view on screen: owns the 24-bit bitmap the data manager paints into
// and shows it at the widget's top-left corner, each bitmap pixel as a block
// of magnification x magnification screen pixels (never smoothed). The widget's own size is set by the window's layout; a bitmap
// larger than the widget is clipped, a smaller one leaves the rest unpainted.
// Mouse moves over the bitmap are reported in bitmap pixels.
class ViewImageWidget final : public QWidget, public ViewImage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ViewImageWidget)

public:
    explicit ViewImageWidget(QWidget* parent = nullptr);
    ~ViewImageWidget() override;

    // ViewImage. setSize24 throws std::bad_alloc when the bitmap cannot be had.
    void setSize24(int width, int height) override;
    std::uint8_t* rowPointer(int y) override;
    void repaintNow() override;

    // The bitmap as last painted (null before the first render or for an
    // empty view).
    const QImage& image() const { return m_image; }

    // Replaces the bitmap (a render made elsewhere) and repaints.
    void setImage(const QImage& image);

    // Screen pixels per bitmap pixel along each axis (1 and up); repaints.
    void setMagnification(int magnification);
    int magnification() const { return m_magnification; }

    // While a new picture is being read: a "Loading..." mark over the
    // present one and the busy pointer over the view.
    void setLoading(bool loading);
    bool loading() const { return m_loading; }

signals:
    // The pointer moved into column x, row y of the widget (0-based; the
    // pixel the position lies in, also for fractional positions). Only
    // positions inside the widget are reported, also while a button is held
    // and the pointer has left it.
    void mouseMoved(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool paintIntoBackingStore(QPainter& painter, const QRect& area);

    QImage m_image;
    // Start of the bitmap's pixels for the render in progress.
    std::uint8_t* m_rows = nullptr;
    // Screen-format pixels of one band of the bitmap, reused by every paint.
    std::vector<std::uint32_t> m_band;
    int m_magnification = 1;
    bool m_loading = false;
    // One magnified row of the bitmap, reused by every paint.
    std::vector<std::uint8_t> m_magnifiedRow;
    // The 24-bit pixels of screen row y from column left on, count of them.
    const std::uint8_t* shownRow(int y, int left, int count);
};
