#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>

class QAbstractButton;
class QLineEdit;

// An up-down control attached to a line edit: two stacked arrow buttons that
// step a position by 1 within a range (no wrap-around) and write it into the
// edit as plain decimal digits, which raises the edit's textChanged like
// typing. The Up and Down keys in the edit step it as well, and a held arrow
// repeats. The position follows the edit: whenever the edit holds a plain
// decimal number (optional "-", digits, nothing else) within the range, that
// number is the position; otherwise the position stays what it last was.
// Positions are 16-bit signed values, widened to int.
class UpDownSpinner : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpDownSpinner)

public:
    explicit UpDownSpinner(QWidget* parent = nullptr);
    ~UpDownSpinner() override;

    // Attaches the spinner to edit (nullptr detaches it). The edit is not
    // owned and may be destroyed first.
    void setAssociate(QLineEdit* edit);
    QLineEdit* associate() const;

    // The number in the edit if it holds a plain decimal within the range,
    // otherwise the position the spinner last had.
    int position();
    // Clamps to the range; does not touch the edit.
    void setPosition(int position);

    // Default 0 .. 10000. Both ends are limited to the 16-bit signed range;
    // min above max is taken as an empty range collapsed to min. The position
    // is clamped into the new range.
    void setRange(int min, int max);
    int minimum() const;
    int maximum() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Moves the position by delta steps within the range and, when that
    // changes the edit's text, writes it there. Used by the arrows and keys.
    void stepBy(int delta);

signals:
    // A step (arrow or key) moved the position.
    void positionChanged(int position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Takes over the edit's number when it is a plain decimal in range.
    void followEdit();
    void placeButtons();

    QPointer<QLineEdit> m_associate;
    QAbstractButton* m_upButton = nullptr;
    QAbstractButton* m_downButton = nullptr;
    std::int16_t m_position = 0;
    std::int16_t m_minimum = 0;
    std::int16_t m_maximum = 10000;
};
