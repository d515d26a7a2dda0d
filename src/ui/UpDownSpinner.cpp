#include "ui/UpDownSpinner.h"

#include <QLineEdit>

UpDownSpinner::UpDownSpinner(QWidget* parent)
    : QWidget(parent)
{
}

UpDownSpinner::~UpDownSpinner() = default;

void UpDownSpinner::setAssociate(QLineEdit* edit)
{
    m_associate = edit;
}

QLineEdit* UpDownSpinner::associate() const
{
    return m_associate;
}

int UpDownSpinner::position()
{
    return m_position;
}

void UpDownSpinner::setPosition(int position)
{
    m_position = static_cast<std::int16_t>(qBound<int>(m_minimum, position, m_maximum));
}

void UpDownSpinner::setRange(int min, int max)
{
    m_minimum = static_cast<std::int16_t>(min);
    m_maximum = static_cast<std::int16_t>(max);
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
    return {15, 21};
}

QSize UpDownSpinner::minimumSizeHint() const
{
    return {15, 21};
}

void UpDownSpinner::stepBy(int) {}

bool UpDownSpinner::eventFilter(QObject* watched, QEvent* event)
{
    return QWidget::eventFilter(watched, event);
}

void UpDownSpinner::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
}

void UpDownSpinner::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
}

void UpDownSpinner::followEdit() {}

void UpDownSpinner::placeButtons() {}
