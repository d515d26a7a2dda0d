#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class QWidget;

// Keeps controls at a fixed distance from the right and/or bottom edge of
// their parent while the parent is resized, for children placed without a
// layout. A control anchored left and right stretches with its parent, one
// anchored right only moves with the right edge; likewise for top and
// bottom. Controls anchored left and top need no entry.
//
// In a .ui file the anchors are the dynamic string property "anchors" of a
// control, e.g. "left|bottom"; the distances are taken from the positions at
// the time the control is registered.
class EdgeAnchors final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EdgeAnchors)

public:
    explicit EdgeAnchors(QObject* parent = nullptr);
    ~EdgeAnchors() override;

    // Registers every descendant of root that carries the "anchors" property.
    void addFromProperties(QWidget* root);

    // (Re)anchors control to edges of its parent, measuring the distances
    // from its present geometry.
    void setAnchors(QWidget* control, Qt::Edges edges);

    // Re-places the anchored children of container for its present size.
    // Resize events do this by themselves; this serves containers resized
    // while hidden, which receive their resize event only when shown.
    void apply(const QWidget* container);

    // "left|top|right|bottom" in any order and case; unknown words are ignored.
    static Qt::Edges parseEdges(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry
    {
        QPointer<QWidget> control;
        Qt::Edges edges;
        int rightGap = 0;  // parent width - control's right edge
        int bottomGap = 0; // parent height - control's bottom edge
    };

    std::vector<Entry> m_entries;
};
