#pragma once

// Window services the drop target needs: hit testing, coordinates, styles,
// scroll messages, drop-target registration, window-lifetime proxies and
// timers. The Qt bridge provides them for real widgets; tests install their
// own WindowServices with SetWindowServices.

#include "platform/WinTypes.h"

#include <functional>

inline constexpr int GWL_STYLE = -16;
inline constexpr LONG WS_HSCROLL = 0x00100000;
inline constexpr LONG WS_VSCROLL = 0x00200000;
inline constexpr int SM_CYHSCROLL = 3;
inline constexpr int SM_CXHSCROLL = 21;
inline constexpr UINT WM_HSCROLL = 0x0114;
inline constexpr UINT WM_VSCROLL = 0x0115;
inline constexpr WPARAM SB_LINEUP = 0;
inline constexpr WPARAM SB_LINELEFT = 0;
inline constexpr WPARAM SB_LINEDOWN = 1;
inline constexpr WPARAM SB_LINERIGHT = 1;

// Told about the native window of the control a proxy watches. Calls arrive
// on the GUI thread; windowCreated also right away when the control already
// has its window. controlDestroyed comes when the control itself goes away;
// the proxy handle is dead after it.
class WindowProxyClient
{
public:
    virtual void windowCreated() = 0;
    virtual void windowDestroyed() = 0;
    virtual void controlDestroyed() = 0;

protected:
    ~WindowProxyClient() = default;
};

using HPROXY = struct HPROXY__*;
using TimerProc = std::function<void()>;

class WindowServices
{
public:
    virtual ~WindowServices() = default;

    virtual HWND windowFromPoint(POINT screen) = 0;
    virtual HWND parentOf(HWND hwnd) = 0;
    virtual bool isWindow(HWND hwnd) = 0;
    virtual bool screenToClient(HWND hwnd, POINT& pt) = 0;
    virtual bool clientToScreen(HWND hwnd, POINT& pt) = 0;
    virtual bool windowRect(HWND hwnd, RECT& rc) = 0;
    virtual bool clientRect(HWND hwnd, RECT& rc) = 0;
    virtual LONG windowLong(HWND hwnd, int index) = 0;
    virtual int systemMetrics(int index) = 0;
    virtual LRESULT sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // A control that handles drops of its own (a rich-text editor).
    virtual bool isRichEdit(HWND hwnd) = 0;

    virtual HRESULT registerDragDrop(HWND hwnd, IDropTarget* target) = 0;
    virtual HRESULT revokeDragDrop(HWND hwnd) = 0;

    virtual HPROXY createWindowProxy(HWND control, WindowProxyClient* client) = 0;
    virtual void destroyWindowProxy(HPROXY proxy) = 0;

    // A repeating timer calling proc every elapseMs milliseconds on the GUI
    // thread until KillTimer; 0 when none can be made.
    virtual UINT_PTR setTimer(UINT elapseMs, TimerProc proc) = 0;
    virtual bool killTimer(UINT_PTR id) = 0;
};

// The services in use: the installed ones, else the Qt bridge's.
WindowServices& CurrentWindowServices();
// Installs services (null restores the bridge's); returns the previous ones.
WindowServices* SetWindowServices(WindowServices* services);

HWND WindowFromPoint(POINT pt);
HWND GetParent(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL ScreenToClient(HWND hwnd, POINT* pt);
BOOL ClientToScreen(HWND hwnd, POINT* pt);
BOOL GetWindowRect(HWND hwnd, RECT* rc);
BOOL GetClientRect(HWND hwnd, RECT* rc);
LONG GetWindowLongA(HWND hwnd, int index);
int GetSystemMetrics(int index);
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Timers without a window: SetTimer returns the timer's id (0 on failure).
UINT_PTR SetTimer(UINT elapseMs, TimerProc proc);
BOOL KillTimer(UINT_PTR id);

HPROXY CreateWindowProxy(HWND control, WindowProxyClient* client);
void DestroyWindowProxy(HPROXY proxy);
