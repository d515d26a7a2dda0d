#pragma once

#include <QColor>
#include <QWidget>

// The outline drawn around a view: a rectangle with a pen of penWidth pixels
// lying inside the widget's bounds, no fill. Mouse events pass through it.
class ViewBorder final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ViewBorder)

public:
    explicit ViewBorder(QWidget* parent = nullptr);
    ~ViewBorder() override;

    QColor penColor() const { return m_penColor; }
    int penWidth() const { return m_penWidth; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_penColor{0, 0, 255};
    int m_penWidth = 2;
};
