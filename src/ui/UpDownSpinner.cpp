#include "ui/UpDownSpinner.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// The first repeat must come before the window's 300 ms refresh timer runs
// out, so that holding an arrow costs one refresh after the last step, not
// an extra one after the first.
constexpr int RepeatDelayMs = 250;
constexpr int RepeatIntervalMs = 50;
constexpr int PositionLowest = std::numeric_limits<std::int16_t>::min();
constexpr int PositionHighest = std::numeric_limits<std::int16_t>::max();
// The designed size of a spinner next to an edit 21 pixels high.
constexpr QSize DesignSize{15, 21};

// One arrow half of the spinner: a bevelled button with a spin-box arrow,
// drawn by the current style so that it looks like a native spin box's.
class SpinArrowButton final : public QAbstractButton
{
public:
    SpinArrowButton(QStyle::PrimitiveElement arrow, QWidget* parent)
        : QAbstractButton(parent)
        , m_arrow(arrow)
    {
        setFocusPolicy(Qt::NoFocus);
        setAutoRepeat(true);
        setAutoRepeatDelay(RepeatDelayMs);
        setAutoRepeatInterval(RepeatIntervalMs);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QStyleOptionButton panel;
        panel.initFrom(this);
        panel.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &panel, &painter, this);

        QStyleOptionSpinBox arrow;
        arrow.initFrom(this);
        arrow.rect = rect().adjusted(1, 1, -1, -1);
        arrow.frame = false;
        if (isDown())
            arrow.state |= QStyle::State_Sunken;
        style()->drawPrimitive(m_arrow, &arrow, &painter, this);
    }

private:
    QStyle::PrimitiveElement m_arrow;
};

// A plain decimal: an optional "-" and one or more ASCII digits, nothing
// else. Values far outside the 16-bit range give nothing.
std::optional<int> plainDecimal(const QString& text)
{
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == u'-';
    if (negative)
        ++i;
    if (i == text.size())
        return std::nullopt;
    int magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > PositionHighest + 1)
            return std::nullopt;
    }
    return negative ? -magnitude : magnitude;
}

} // namespace

UpDownSpinner::UpDownSpinner(QWidget* parent)
    : QWidget(parent)
    , m_upButton(new SpinArrowButton(QStyle::PE_IndicatorSpinUp, this))
    , m_downButton(new SpinArrowButton(QStyle::PE_IndicatorSpinDown, this))
{
    m_upButton->setObjectName(QStringLiteral("upArrow"));
    m_downButton->setObjectName(QStringLiteral("downArrow"));
    // pressed() comes at once on the press and again at every auto-repeat,
    // so a click is one step and a held arrow keeps stepping.
    connect(m_upButton, &QAbstractButton::pressed, this, [this] { stepBy(1); });
    connect(m_downButton, &QAbstractButton::pressed, this, [this] { stepBy(-1); });
    resize(DesignSize);
    placeButtons();
}

// Qt drops this object's event filter and connections on the edit by itself.
UpDownSpinner::~UpDownSpinner() = default;

void UpDownSpinner::setAssociate(QLineEdit* edit)
{
    if (m_associate == edit)
        return;
    if (m_associate) {
        m_associate->removeEventFilter(this);
        disconnect(m_associate, nullptr, this, nullptr);
    }
    m_associate = edit;
    if (m_associate) {
        m_associate->installEventFilter(this);
        connect(m_associate, &QLineEdit::textChanged, this, &UpDownSpinner::followEdit);
        followEdit();
    }
}

QLineEdit* UpDownSpinner::associate() const
{
    return m_associate;
}

int UpDownSpinner::position()
{
    followEdit();
    return m_position;
}

void UpDownSpinner::setPosition(int position)
{
    m_position = static_cast<std::int16_t>(std::clamp<int>(position, m_minimum, m_maximum));
}

void UpDownSpinner::setRange(int min, int max)
{
    m_minimum = static_cast<std::int16_t>(std::clamp(min, PositionLowest, PositionHighest));
    m_maximum = static_cast<std::int16_t>(std::clamp<int>(max, m_minimum, PositionHighest));
    setPosition(m_position);
}

int UpDownSpinner::minimum() const
{
    return m_minimum;
}

int UpDownSpinner::maximum() const
{
    return m_maximum;
}

QSize UpDownSpinner::sizeHint() const
{
    return DesignSize;
}

QSize UpDownSpinner::minimumSizeHint() const
{
    return DesignSize;
}

void UpDownSpinner::stepBy(int delta)
{
    const int current = position();
    // current is within 16 bits, so only delta needs bounding before adding.
    const int bounded = std::clamp(delta, -(PositionHighest - PositionLowest),
                                   PositionHighest - PositionLowest);
    setPosition(current + bounded);
    if (m_associate) {
        // Also rewrites junk in the edit when the position stays at a bound.
        const QString text = QString::number(m_position);
        if (m_associate->text() != text)
            m_associate->setText(text);
    }
    if (m_position != current)
        emit positionChanged(m_position);
}

bool UpDownSpinner::eventFilter(QObject* watched, QEvent* event)
{
    // The event type is checked first: the edit's own destructor sends events
    // through this filter, when it no longer is a QLineEdit to compare with.
    if (event->type() == QEvent::KeyPress && watched == m_associate) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (key->key() == Qt::Key_Up) {
                stepBy(1);
                return true;
            }
            if (key->key() == Qt::Key_Down) {
                stepBy(-1);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDownSpinner::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeButtons();
}

void UpDownSpinner::followEdit()
{
    if (!m_associate)
        return;
    const std::optional<int> value = plainDecimal(m_associate->text());
    if (value && *value >= m_minimum && *value <= m_maximum)
        m_position = static_cast<std::int16_t>(*value);
}

void UpDownSpinner::placeButtons()
{
    // Up above down; an odd pixel goes to the lower arrow.
    const int upHeight = height() / 2;
    m_upButton->setGeometry(0, 0, width(), upHeight);
    m_downButton->setGeometry(0, upHeight, width(), height() - upHeight);
}
