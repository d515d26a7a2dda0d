#pragma once

#include <QColor>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <cstdint>

class QPainter;

// A label without a native window that paints its one-line caption turned
// counter-clockwise by a multiple of 45 degrees. It never derives its size
// from the text: the bounds set by the owner (or the 90x90 default) stay.
//
// Designer use (promoted QWidget, header "ui/ZebRotateLabel.h"): the
// properties below have setters named set<Property>, so uic calls them
// directly, e.g. <property name="Angle"><enum>TZebRotateLabel::ag90</enum>.
// The caption's colour is FontColor, kept as the palette's WindowText role (a
// QFont carries no colour), so a .ui may set either; Color is the background
// used while the label is opaque and ParentColor is false.
class TZebRotateLabel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool Transparent READ transparent WRITE setTransparent)
    Q_PROPERTY(TAngleChoice Angle READ angle WRITE setAngle)
    Q_PROPERTY(int Escapement READ escapement)
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor Color READ color WRITE setColor)
    Q_PROPERTY(bool ParentColor READ parentColor WRITE setParentColor)
    Q_PROPERTY(QColor FontColor READ fontColor WRITE setFontColor)

public:
    // Angles run counter-clockwise on the screen: ag90 reads bottom to top,
    // ag270 top to bottom, ag180 upside down. Unscoped so that Designer's
    // "TZebRotateLabel::ag90" names a value.
    enum TAngleChoice : std::uint8_t { ag0, ag45, ag90, ag135, ag180, ag225, ag270, ag315 };
    Q_ENUM(TAngleChoice)

    explicit TZebRotateLabel(QWidget* parent = nullptr);
    ~TZebRotateLabel() override;

    bool transparent() const { return m_transparent; }
    void setTransparent(bool transparent);

    TAngleChoice angle() const { return Angle; }
    void setAngle(TAngleChoice angle);
    int escapement() const { return Escapement; }

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);

    // The background colour actually used: the parent's while ParentColor.
    QColor color() const;
    // Setting a colour ends ParentColor, as choosing a colour of one's own does.
    void setColor(const QColor& color);
    bool parentColor() const { return m_parentColor; }
    void setParentColor(bool parentColor);

    QColor fontColor() const;
    void setFontColor(const QColor& color);

    // Escapement in tenths of a degree for an angle (0, 450, ..., 3150).
    static int escapementOf(TAngleChoice angle);

    // Reference point of the caption (top-left corner of its unturned cell)
    // inside a w x h control for a text of width tw and height th, both
    // measured along the text; divisions truncate toward zero.
    static QPoint captionAnchor(TAngleChoice angle, int w, int h, int tw, int th);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Q_DISABLE_COPY_MOVE(TZebRotateLabel)

    void paintBackground(QPainter& painter);
    void paintCaption(QPainter& painter);

    TAngleChoice Angle = ag45;
    int Escapement = 450;
    bool m_transparent = false;
    bool m_parentColor = true;
    QString m_caption;
    QColor m_color;
};

using TAngleChoice = TZebRotateLabel::TAngleChoice;
