#include "ui/ViewBorder.h"

#include <QPainter>

ViewBorder::ViewBorder(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

ViewBorder::~ViewBorder() = default;

void ViewBorder::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    const int p = m_penWidth;
    // Four bands instead of a stroked path: the outline stays exactly p
    // pixels wide on every edge, whatever the painter's pen geometry rules.
    painter.fillRect(0, 0, w, qMin(p, h), m_penColor);
    painter.fillRect(0, qMax(0, h - p), w, qMin(p, h), m_penColor);
    painter.fillRect(0, 0, qMin(p, w), h, m_penColor);
    painter.fillRect(qMax(0, w - p), 0, qMin(p, w), h, m_penColor);
}
