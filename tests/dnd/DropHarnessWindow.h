#pragma once

// A stand-in for the main window's drop wiring: a window with a file-name
// strip pa_FileName registered through a TDropFileTarget with the program's
// settings; a drop opens the first name (here: checks that it is a readable
// file) and shows its path in the strip.

#include "dragdrop/DragDropFile.h"

#include <QLabel>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class DropHarnessWindow : public QWidget
{
public:
    DropHarnessWindow();
    ~DropHarnessWindow() override;
    Q_DISABLE_COPY_MOVE(DropHarnessWindow)

    QLabel* pa_FileName = nullptr;
    std::unique_ptr<TDropFileTarget> DropFileTarget1;

    // Called with the dropped names and the effect, after the strip shows
    // the first one.
    std::function<void(const QStringList& names)> onOpened;

    // The toolkit destroys and creates the window's native window again.
    void destroyNativeWindow() { destroy(); }
    void createNativeWindow() { create(); }

private:
    void DropFileTarget1Drop(const QStringList& names);
};
