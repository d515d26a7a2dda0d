#pragma once

// The bridge between the toolkit's widgets and the platform layer. A window
// handle (HWND) of the platform layer is a QWidget*; these two conversions
// are the only place that says so.

#include "platform/WinTypes.h"

class QWidget;

inline HWND HwndFromWidget(QWidget* widget)
{
    return reinterpret_cast<HWND>(widget);
}

inline QWidget* WidgetFromHwnd(HWND hwnd)
{
    return reinterpret_cast<QWidget*>(hwnd);
}
