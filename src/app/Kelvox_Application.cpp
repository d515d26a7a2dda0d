#include "app/Kelvox_Application.h"

#include "ui/Kelvox_Dialogs.h"

TKelvoxApplication::TKelvoxApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

TKelvoxApplication::~TKelvoxApplication() = default;

bool TKelvoxApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The failed event counts as not handled; the box runs its own loop.
        Dialogs::reportCurrentException(activeWindow());
        return false;
    }
}
