#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Top-left corner that centres a window of outer size ownOuter over the
// outer rectangle mainFrame; halves truncate toward zero, so a window larger
// than the main window starts left of or above it.
QPoint centredTopLeft(const QRect& mainFrame, const QSize& ownOuter);

// The outer size window will have: its size plus the decoration the main
// window wears (nothing while mainWindow is not shown or has no frame).
QSize expectedOuterSize(const QWidget& window, const QWidget* mainWindow);

// Moves window so that it is centred over mainWindow's outer rectangle.
void centreOver(QWidget& window, const QWidget* mainWindow);
