// The toolkit's side of the platform's window services: drop-target
// registration as an event filter on the widget, window-lifetime proxies,
// hit testing, coordinates, scroll bars and timers.

#include "platform/Windowing.h"

#include "platform/ComPtr.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtDataObject.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>

namespace {

DWORD keyStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    DWORD keys = 0;
    if (modifiers & Qt::ShiftModifier) {
        keys |= MK_SHIFT;
    }
    if (modifiers & Qt::ControlModifier) {
        keys |= MK_CONTROL;
    }
    if (modifiers & Qt::AltModifier) {
        keys |= MK_ALT;
    }
    if (buttons & Qt::LeftButton) {
        keys |= MK_LBUTTON;
    }
    if (buttons & Qt::RightButton) {
        keys |= MK_RBUTTON;
    }
    if (buttons & Qt::MiddleButton) {
        keys |= MK_MBUTTON;
    }
    return keys;
}

DWORD effectsOf(Qt::DropActions actions)
{
    DWORD effects = DROPEFFECT_NONE;
    if (actions & Qt::CopyAction) {
        effects |= DROPEFFECT_COPY;
    }
    if (actions & Qt::MoveAction) {
        effects |= DROPEFFECT_MOVE;
    }
    if (actions & Qt::LinkAction) {
        effects |= DROPEFFECT_LINK;
    }
    return effects;
}

Qt::DropAction actionOf(DWORD effect)
{
    if (effect & DROPEFFECT_COPY) {
        return Qt::CopyAction;
    }
    if (effect & DROPEFFECT_MOVE) {
        return Qt::MoveAction;
    }
    if (effect & DROPEFFECT_LINK) {
        return Qt::LinkAction;
    }
    return Qt::IgnoreAction;
}

POINTL screenPointOf(const QWidget* widget, QPointF position)
{
    const QPoint global = widget->mapToGlobal(position.toPoint());
    return POINTL{global.x(), global.y()};
}

// Hands the target's answer back to the toolkit: an accepted event with the
// action, or a refused one.
void answer(QDropEvent* event, HRESULT hr, DWORD effect)
{
    const Qt::DropAction action = SUCCEEDED(hr) ? actionOf(effect) : Qt::IgnoreAction;
    if (action != Qt::IgnoreAction && (event->possibleActions() & action)) {
        event->setDropAction(action);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

class QtWindowServices;

// The drag event being answered: its receiver and screen point. While a
// target answers, hit tests at that point find the receiver, whatever lies
// on top there (the drag icon, another program's window).
struct DragHit
{
    QPointer<QWidget> receiver;
    QPoint screenPoint;
};

DragHit& currentDragHit()
{
    static DragHit hit;
    return hit;
}

class DragHitScope
{
public:
    DragHitScope(QWidget* receiver, const QEvent* event) : m_saved(currentDragHit())
    {
        const auto* drag = dynamic_cast<const QDropEvent*>(event); // enter, move and drop
        if (drag != nullptr) {
            const POINTL point = screenPointOf(receiver, drag->position());
            currentDragHit() = DragHit{receiver, QPoint(point.x, point.y)};
        }
    }
    ~DragHitScope() { currentDragHit() = m_saved; }
    DragHitScope(const DragHitScope&) = delete;
    DragHitScope& operator=(const DragHitScope&) = delete;

private:
    DragHit m_saved;
};

// Turns the drag events of one registered widget into IDropTarget calls.
class DropEventFilter final : public QObject
{
public:
    DropEventFilter(QWidget* widget, IDropTarget* target, QtWindowServices& services)
        : QObject(widget), m_widget(widget), m_target(target), m_services(services)
    {
        widget->installEventFilter(this);
    }

    ~DropEventFilter() override;

    // Ends the registration; safe also from inside one of our own calls.
    void revoke()
    {
        // The registration's reference goes now: the target may be gone
        // before this object is.
        m_revoked = true;
        m_target.reset();
        m_dataObject.reset();
        if (m_widget != nullptr) {
            m_widget->removeEventFilter(this);
        }
        // Possibly inside one of our own calls: the object goes once the
        // event loop is back (or with its widget).
        deleteLater();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_widget || m_revoked) {
            return false;
        }
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop: {
            // Keep the target alive across the call: a handler may revoke the
            // registration.
            const ComPtr<IDropTarget> target = m_target;
            const DragHitScope hit(m_widget, event);
            handle(target.get(), event);
            return true;
        }
        default:
            return false;
        }
    }

private:
    void handle(IDropTarget* target, QEvent* event)
    {
        switch (event->type()) {
        case QEvent::DragEnter: {
            auto* e = static_cast<QDragEnterEvent*>(event);
            m_dataObject = CreateQtDataObject(e->mimeData());
            DWORD effect = effectsOf(e->possibleActions());
            const HRESULT hr = target->DragEnter(m_dataObject.get(), keyStateOf(e->modifiers(), e->buttons()),
                                                 screenPointOf(m_widget, e->position()), &effect);
            answer(e, hr, effect);
            break;
        }
        case QEvent::DragMove: {
            auto* e = static_cast<QDragMoveEvent*>(event);
            DWORD effect = effectsOf(e->possibleActions());
            const HRESULT hr = target->DragOver(keyStateOf(e->modifiers(), e->buttons()),
                                                screenPointOf(m_widget, e->position()), &effect);
            answer(e, hr, effect);
            break;
        }
        case QEvent::DragLeave:
            target->DragLeave();
            m_dataObject.reset();
            break;
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            ComPtr<IDataObject> dataObject = m_dataObject ? m_dataObject : CreateQtDataObject(e->mimeData());
            m_dataObject.reset();
            DWORD effect = effectsOf(e->possibleActions());
            const HRESULT hr = target->Drop(dataObject.get(), keyStateOf(e->modifiers(), e->buttons()),
                                            screenPointOf(m_widget, e->position()), &effect);
            DROPEFFECT performed = DROPEFFECT_NONE;
            if (SUCCEEDED(hr) && effect != DROPEFFECT_NONE && PerformedEffectOf(dataObject.get(), performed)
                && performed != DROPEFFECT_NONE) {
                effect = performed;
            }
            answer(e, hr, effect);
            break;
        }
        default:
            break;
        }
    }

    QWidget* m_widget;
    ComPtr<IDropTarget> m_target;
    QtWindowServices& m_services;
    ComPtr<IDataObject> m_dataObject;
    bool m_revoked = false;
};

// Follows the native window of a control for a WindowProxyClient: the
// control's top-level widget getting or losing its window, or the control
// moving to another top-level.
class WindowProxy final : public QObject
{
public:
    WindowProxy(QWidget* control, WindowProxyClient* client) : QObject(control), m_control(control), m_client(client)
    {
        setObjectName(QStringLiteral("TWinControlProxy"));
        control->installEventFilter(this);
        watchTopLevel();
        sync();
    }

    ~WindowProxy() override
    {
        // Destroyed with the control (not through destroyWindowProxy).
        if (!m_dead && m_client != nullptr) {
            m_client->controlDestroyed();
        }
    }

    void destroyByClient()
    {
        m_dead = true;
        m_client = nullptr;
        if (m_control != nullptr) {
            m_control->removeEventFilter(this);
        }
        if (m_topLevel != nullptr) {
            m_topLevel->removeEventFilter(this);
        }
        deleteLater();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_dead) {
            return false;
        }
        if (watched == m_control && event->type() == QEvent::ParentChange) {
            const QWidget* oldTopLevel = m_topLevel;
            watchTopLevel();
            if (m_topLevel != oldTopLevel && m_hasWindow) {
                // Another native window now holds the control.
                notify(false);
            }
            sync();
        } else if (watched == m_topLevel && event->type() == QEvent::WinIdChange) {
            sync();
        }
        return false;
    }

private:
    void watchTopLevel()
    {
        if (m_topLevel != nullptr && m_topLevel != m_control) {
            m_topLevel->removeEventFilter(this);
        }
        m_topLevel = m_control->window();
        if (m_topLevel != m_control) {
            m_topLevel->installEventFilter(this);
        }
    }

    void sync()
    {
        const bool hasWindow = m_topLevel != nullptr && m_topLevel->internalWinId() != 0;
        if (hasWindow != m_hasWindow) {
            notify(hasWindow);
        }
    }

    void notify(bool created)
    {
        m_hasWindow = created;
        if (created) {
            m_client->windowCreated();
        } else {
            m_client->windowDestroyed();
        }
    }

    QWidget* m_control;
    QPointer<QWidget> m_topLevel;
    WindowProxyClient* m_client;
    bool m_hasWindow = false;
    bool m_dead = false;
};

QWidget* widgetOf(HWND hwnd)
{
    return WidgetFromHwnd(hwnd);
}

QAbstractScrollArea* scrollAreaOf(HWND hwnd)
{
    return qobject_cast<QAbstractScrollArea*>(widgetOf(hwnd));
}

class QtWindowServices final : public WindowServices
{
public:
    HWND windowFromPoint(POINT screen) override
    {
        if (qApp == nullptr) {
            return nullptr;
        }
        const QPoint point(screen.x, screen.y);
        // During a drag event the pointer is over the event's receiver, down
        // to its child at that point.
        const DragHit& hit = currentDragHit();
        if (QWidget* receiver = hit.receiver; receiver != nullptr && point == hit.screenPoint) {
            QWidget* child = receiver->childAt(receiver->mapFromGlobal(point));
            return HwndFromWidget(child != nullptr ? child : receiver);
        }
        return HwndFromWidget(QApplication::widgetAt(point));
    }

    HWND parentOf(HWND hwnd) override { return HwndFromWidget(widgetOf(hwnd)->parentWidget()); }

    bool isWindow(HWND hwnd) override
    {
        return qApp != nullptr && QApplication::allWidgets().contains(widgetOf(hwnd));
    }

    bool screenToClient(HWND hwnd, POINT& pt) override
    {
        const QPoint p = widgetOf(hwnd)->mapFromGlobal(QPoint(pt.x, pt.y));
        pt = POINT{p.x(), p.y()};
        return true;
    }

    bool clientToScreen(HWND hwnd, POINT& pt) override
    {
        const QPoint p = widgetOf(hwnd)->mapToGlobal(QPoint(pt.x, pt.y));
        pt = POINT{p.x(), p.y()};
        return true;
    }

    bool windowRect(HWND hwnd, RECT& rc) override
    {
        const QWidget* w = widgetOf(hwnd);
        const QRect r = w->isWindow() ? w->frameGeometry() : QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
        rc = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
        return true;
    }

    bool clientRect(HWND hwnd, RECT& rc) override
    {
        const QWidget* w = widgetOf(hwnd);
        rc = RECT{0, 0, w->width(), w->height()};
        return true;
    }

    LONG windowLong(HWND hwnd, int index) override
    {
        LONG style = 0;
        const QAbstractScrollArea* area = scrollAreaOf(hwnd);
        if (index == GWL_STYLE && area != nullptr) {
            if (area->horizontalScrollBar()->isVisible()) {
                style |= WS_HSCROLL;
            }
            if (area->verticalScrollBar()->isVisible()) {
                style |= WS_VSCROLL;
            }
        }
        return style;
    }

    int systemMetrics(int index) override
    {
        if ((index == SM_CXHSCROLL || index == SM_CYHSCROLL) && qApp != nullptr) {
            return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        }
        return 0;
    }

    LRESULT sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) override
    {
        QAbstractScrollArea* area = scrollAreaOf(hwnd);
        if (area == nullptr || (msg != WM_VSCROLL && msg != WM_HSCROLL)) {
            return 0;
        }
        QScrollBar* bar = msg == WM_VSCROLL ? area->verticalScrollBar() : area->horizontalScrollBar();
        bar->triggerAction(wParam == SB_LINEUP ? QAbstractSlider::SliderSingleStepSub
                                               : QAbstractSlider::SliderSingleStepAdd);
        return 0;
    }

    bool isRichEdit(HWND hwnd) override
    {
        const auto* edit = qobject_cast<QTextEdit*>(widgetOf(hwnd));
        return edit != nullptr && edit->acceptRichText();
    }

    HRESULT registerDragDrop(HWND hwnd, IDropTarget* target) override
    {
        QWidget* widget = widgetOf(hwnd);
        if (!isWindow(hwnd)) {
            return DRAGDROP_E_INVALIDHWND;
        }
        if (m_registrations.count(widget) != 0) {
            return DRAGDROP_E_ALREADYREGISTERED;
        }
        Registration& r = m_registrations[widget];
        r.acceptedDrops = widget->acceptDrops();
        r.filter = new DropEventFilter(widget, target, *this);
        widget->setAcceptDrops(true);
        return S_OK;
    }

    HRESULT revokeDragDrop(HWND hwnd) override
    {
        QWidget* widget = widgetOf(hwnd);
        auto it = m_registrations.find(widget);
        if (it == m_registrations.end()) {
            return DRAGDROP_E_NOTREGISTERED;
        }
        const Registration r = it->second;
        m_registrations.erase(it);
        widget->setAcceptDrops(r.acceptedDrops);
        if (r.filter != nullptr) {
            r.filter->revoke();
        }
        return S_OK;
    }

    // A filter going away with its widget ends the registration.
    void forget(QWidget* widget, const DropEventFilter* filter)
    {
        auto it = m_registrations.find(widget);
        if (it != m_registrations.end() && it->second.filter == filter) {
            m_registrations.erase(it);
        }
    }

    HPROXY createWindowProxy(HWND control, WindowProxyClient* client) override
    {
        if (!isWindow(control)) {
            return nullptr;
        }
        return reinterpret_cast<HPROXY>(new WindowProxy(widgetOf(control), client));
    }

    void destroyWindowProxy(HPROXY proxy) override { reinterpret_cast<WindowProxy*>(proxy)->destroyByClient(); }

    UINT_PTR setTimer(UINT elapseMs, TimerProc proc) override
    {
        if (qApp == nullptr) {
            return 0;
        }
        const UINT_PTR id = ++m_lastTimerId;
        auto* timer = new QTimer(qApp);
        timer->setInterval(static_cast<int>(elapseMs));
        QObject::connect(timer, &QTimer::timeout, timer, [proc = std::move(proc)] { proc(); });
        m_timers[id] = timer;
        timer->start();
        return id;
    }

    bool killTimer(UINT_PTR id) override
    {
        auto it = m_timers.find(id);
        if (it == m_timers.end()) {
            return false;
        }
        QPointer<QTimer> timer = it->second;
        m_timers.erase(it);
        if (timer != nullptr) {
            // Killing may happen inside the timer's own tick.
            timer->stop();
            timer->deleteLater();
        }
        return true;
    }

private:
    struct Registration
    {
        DropEventFilter* filter = nullptr;
        bool acceptedDrops = false;
    };

    std::map<QWidget*, Registration> m_registrations;
    std::map<UINT_PTR, QPointer<QTimer>> m_timers;
    UINT_PTR m_lastTimerId = 0;
};

DropEventFilter::~DropEventFilter()
{
    m_services.forget(m_widget, this);
}

} // namespace

WindowServices& QtWindowServicesInstance()
{
    static QtWindowServices services;
    return services;
}
