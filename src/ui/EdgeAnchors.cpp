#include "ui/EdgeAnchors.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

#include <algorithm>

EdgeAnchors::EdgeAnchors(QObject* parent)
    : QObject(parent)
{
}

EdgeAnchors::~EdgeAnchors() = default;

Qt::Edges EdgeAnchors::parseEdges(const QString& text)
{
    Qt::Edges edges;
    const auto words = text.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString& raw : words) {
        const QString word = raw.trimmed().toLower();
        if (word == QLatin1String("left")) {
            edges |= Qt::LeftEdge;
        } else if (word == QLatin1String("top")) {
            edges |= Qt::TopEdge;
        } else if (word == QLatin1String("right")) {
            edges |= Qt::RightEdge;
        } else if (word == QLatin1String("bottom")) {
            edges |= Qt::BottomEdge;
        }
    }
    return edges;
}

void EdgeAnchors::addFromProperties(QWidget* root)
{
    const auto controls = root->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        const QVariant anchors = control->property("anchors");
        if (anchors.isValid()) {
            setAnchors(control, parseEdges(anchors.toString()));
        }
    }
}

void EdgeAnchors::setAnchors(QWidget* control, Qt::Edges edges)
{
    QWidget* parent = control->parentWidget();
    if (parent == nullptr) {
        return;
    }
    const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                    [control](const Entry& e) { return e.control == control; });
    Entry entry{control, edges, parent->width() - control->geometry().right() - 1,
                parent->height() - control->geometry().bottom() - 1};
    if (found != m_entries.end()) {
        *found = entry;
    } else {
        m_entries.push_back(entry);
    }
    parent->removeEventFilter(this);
    parent->installEventFilter(this);
}

void EdgeAnchors::apply(const QWidget* container)
{
    for (const Entry& entry : m_entries) {
        QWidget* control = entry.control;
        if (control == nullptr || control->parentWidget() != container) {
            continue;
        }
        QRect g = control->geometry();
        const int right = container->width() - entry.rightGap; // one past the right edge
        const int bottom = container->height() - entry.bottomGap;
        if (entry.edges & Qt::RightEdge) {
            if (entry.edges & Qt::LeftEdge) {
                g.setWidth(std::max(0, right - g.left()));
            } else {
                g.moveLeft(right - g.width());
            }
        }
        if (entry.edges & Qt::BottomEdge) {
            if (entry.edges & Qt::TopEdge) {
                g.setHeight(std::max(0, bottom - g.top()));
            } else {
                g.moveTop(bottom - g.height());
            }
        }
        if (g != control->geometry()) {
            control->setGeometry(g);
        }
    }
}

bool EdgeAnchors::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && watched->isWidgetType()) {
        apply(static_cast<QWidget*>(watched));
    }
    return QObject::eventFilter(watched, event);
}
