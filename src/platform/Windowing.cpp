#include "platform/Windowing.h"

// The bridge's services, defined in qt/QtWindowServices.cpp.
WindowServices& QtWindowServicesInstance();

namespace {

WindowServices* installedServices = nullptr;

} // namespace

WindowServices& CurrentWindowServices()
{
    return installedServices != nullptr ? *installedServices : QtWindowServicesInstance();
}

WindowServices* SetWindowServices(WindowServices* services)
{
    WindowServices* previous = installedServices;
    installedServices = services;
    return previous;
}

HWND WindowFromPoint(POINT pt) { return CurrentWindowServices().windowFromPoint(pt); }
HWND GetParent(HWND hwnd) { return hwnd == nullptr ? nullptr : CurrentWindowServices().parentOf(hwnd); }
BOOL IsWindow(HWND hwnd) { return hwnd != nullptr && CurrentWindowServices().isWindow(hwnd) ? TRUE : FALSE; }

BOOL ScreenToClient(HWND hwnd, POINT* pt)
{
    return hwnd != nullptr && pt != nullptr && CurrentWindowServices().screenToClient(hwnd, *pt) ? TRUE : FALSE;
}

BOOL ClientToScreen(HWND hwnd, POINT* pt)
{
    return hwnd != nullptr && pt != nullptr && CurrentWindowServices().clientToScreen(hwnd, *pt) ? TRUE : FALSE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rc)
{
    return hwnd != nullptr && rc != nullptr && CurrentWindowServices().windowRect(hwnd, *rc) ? TRUE : FALSE;
}

BOOL GetClientRect(HWND hwnd, RECT* rc)
{
    return hwnd != nullptr && rc != nullptr && CurrentWindowServices().clientRect(hwnd, *rc) ? TRUE : FALSE;
}

LONG GetWindowLongA(HWND hwnd, int index) { return hwnd == nullptr ? 0 : CurrentWindowServices().windowLong(hwnd, index); }
int GetSystemMetrics(int index) { return CurrentWindowServices().systemMetrics(index); }

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return hwnd == nullptr ? 0 : CurrentWindowServices().sendMessage(hwnd, msg, wParam, lParam);
}

UINT_PTR SetTimer(UINT elapseMs, TimerProc proc) { return CurrentWindowServices().setTimer(elapseMs, std::move(proc)); }
BOOL KillTimer(UINT_PTR id) { return id != 0 && CurrentWindowServices().killTimer(id) ? TRUE : FALSE; }

HPROXY CreateWindowProxy(HWND control, WindowProxyClient* client)
{
    return control == nullptr || client == nullptr ? nullptr : CurrentWindowServices().createWindowProxy(control, client);
}

void DestroyWindowProxy(HPROXY proxy)
{
    if (proxy != nullptr) {
        CurrentWindowServices().destroyWindowProxy(proxy);
    }
}
