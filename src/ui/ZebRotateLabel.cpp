#include "ui/ZebRotateLabel.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <array>

namespace {

// Escapement (tenths of a degree) of each angle, in TAngleChoice order.
constexpr std::array<int, 8> Escapements{0, 450, 900, 1350, 1800, 2250, 2700, 3150};

} // namespace

TZebRotateLabel::TZebRotateLabel(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, 90, 90);
    // Opaque by default: the label fills its whole rectangle itself.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    m_color = palette().color(QPalette::Base);
    QFont captionFont(QStringLiteral("Arial"));
    captionFont.setStyleHint(QFont::SansSerif);
    captionFont.setPointSize(10);
    captionFont.setBold(true);
    setFont(captionFont);
    setFontColor(QColor(255, 0, 0));
}

TZebRotateLabel::~TZebRotateLabel() = default;

void TZebRotateLabel::setTransparent(bool transparent)
{
    if (transparent == m_transparent) {
        return;
    }
    m_transparent = transparent;
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent);
    update();
}

void TZebRotateLabel::setAngle(TAngleChoice angle)
{
    if (angle == Angle || static_cast<std::size_t>(angle) >= Escapements.size()) {
        return;
    }
    Angle = angle;
    Escapement = escapementOf(angle);
    update();
}

void TZebRotateLabel::setCaption(const QString& caption)
{
    if (caption == m_caption) {
        return;
    }
    m_caption = caption;
    update();
}

QColor TZebRotateLabel::color() const
{
    if (m_parentColor && parentWidget() != nullptr) {
        return parentWidget()->palette().color(parentWidget()->backgroundRole());
    }
    return m_color;
}

void TZebRotateLabel::setColor(const QColor& color)
{
    const bool changed = m_parentColor || color != m_color;
    m_color = color;
    m_parentColor = false;
    if (changed) {
        update();
    }
}

void TZebRotateLabel::setParentColor(bool parentColor)
{
    if (parentColor == m_parentColor) {
        return;
    }
    m_parentColor = parentColor;
    update();
}

QColor TZebRotateLabel::fontColor() const
{
    return palette().color(QPalette::WindowText);
}

void TZebRotateLabel::setFontColor(const QColor& color)
{
    if (color == fontColor()) {
        return;
    }
    QPalette changed = palette();
    changed.setColor(QPalette::WindowText, color);
    setPalette(changed); // the palette change repaints
}

int TZebRotateLabel::escapementOf(TAngleChoice angle)
{
    const auto index = static_cast<std::size_t>(angle);
    return index < Escapements.size() ? Escapements[index] : 0;
}

QPoint TZebRotateLabel::captionAnchor(TAngleChoice angle, int w, int h, int tw, int th)
{
    // C++ integer division truncates toward zero, as the placement rules ask.
    switch (angle) {
    case ag0:
        return {(w - tw) / 2, (h - th) / 2};
    case ag45:
        return {th / 3, h - th};
    case ag90:
        return {(w - th) / 2, h - (h - tw) / 2};
    case ag135:
        return {w - th, h - th / 3};
    case ag180:
        return {w - (w - tw) / 2, th + (h - th) / 2};
    case ag225:
        return {w - th / 3, th};
    case ag270:
        return {th + (w - th) / 2, (h - tw) / 2};
    case ag315:
        return {th, th / 3};
    }
    return {};
}

void TZebRotateLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    paintBackground(painter);
    paintCaption(painter);
}

void TZebRotateLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::EnabledChange:
    case QEvent::StyleChange:
        update();
        break;
    default:
        break;
    }
}

void TZebRotateLabel::paintBackground(QPainter& painter)
{
    if (m_transparent) {
        return;
    }
    painter.fillRect(rect(), color());
}

void TZebRotateLabel::paintCaption(QPainter& painter)
{
    if (m_caption.isEmpty()) {
        return;
    }
    const QFontMetrics metrics(font());
    const int tw = metrics.horizontalAdvance(m_caption);
    const int th = metrics.height();
    const QPoint anchor = captionAnchor(Angle, width(), height(), tw, th);

    // The text turns counter-clockwise about the top-left corner of its cell;
    // Qt's y axis points down, so the painter turns by the negative angle.
    const auto drawRun = [&](QPoint at, const QColor& colour) {
        painter.save();
        painter.setPen(colour);
        painter.setFont(font());
        painter.translate(at);
        painter.rotate(-Escapement / 10.0);
        // A plain run: no mnemonic handling, no wrapping, no eliding.
        painter.drawText(QPointF(0, metrics.ascent()), m_caption);
        painter.restore();
    };

    if (!isEnabled()) {
        drawRun(anchor + QPoint(1, 1), palette().color(QPalette::Light));
        drawRun(anchor, palette().color(QPalette::Dark));
        return;
    }
    drawRun(anchor, fontColor());
}
