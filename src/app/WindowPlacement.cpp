#include "app/WindowPlacement.h"

#include <QWidget>

QPoint centredTopLeft(const QRect& mainFrame, const QSize& ownOuter)
{
    return {mainFrame.left() + (mainFrame.width() - ownOuter.width()) / 2,
            mainFrame.top() + (mainFrame.height() - ownOuter.height()) / 2};
}

QSize expectedOuterSize(const QWidget& window, const QWidget* mainWindow)
{
    if (window.isVisible()) {
        return window.frameGeometry().size();
    }
    QSize decoration(0, 0);
    if (mainWindow != nullptr && mainWindow->isVisible()) {
        decoration = mainWindow->frameGeometry().size() - mainWindow->size();
    }
    return window.size() + decoration;
}

void centreOver(QWidget& window, const QWidget* mainWindow)
{
    if (mainWindow == nullptr) {
        return;
    }
    // QWidget::move() places a top-level window by its outer (frame) corner.
    window.move(centredTopLeft(mainWindow->frameGeometry(), expectedOuterSize(window, mainWindow)));
}
