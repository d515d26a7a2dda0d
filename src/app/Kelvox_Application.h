#pragma once

#include <QApplication>

// The application object. Its notify() is the top-level error handler: an
// exception that escapes any event handler is shown in a message box (through
// Dialogs::reportCurrentException) and the program runs on.
class TKelvoxApplication : public QApplication
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKelvoxApplication)

public:
    TKelvoxApplication(int& argc, char** argv);
    ~TKelvoxApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;
};
