#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <stdexcept>

class QWidget;

// The program's own exception type: its what() is the message shown to the
// user by the top-level error handler.
class KelvoxError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The one seam for modal boxes. The real program shows Qt dialogs; tests
// install handlers first so that no test can ever block on a box.
namespace Dialogs {

using ErrorHandler = std::function<void(const QString& message)>;
using OpenFileHandler =
    std::function<QString(QWidget* parent, const QString& title, const QString& initialPath)>;

// Shows message in a modal error box (or hands it to the installed handler).
void showError(QWidget* parent, const QString& message);

// Asks for an existing file to open; returns its path, or an empty string
// when the user cancels. The dialog opens in the folder of initialPath with
// its name filled in (when given). Its history and view carry over to the
// next dialog of the same run; nothing is written to disk (the toolkit's
// settings file included).
QString askOpenFileName(QWidget* parent, const QString& title, const QString& initialPath = {});

// Installs a handler for tests; an empty function restores the real dialog.
void setErrorHandler(ErrorHandler handler);
void setOpenFileHandler(OpenFileHandler handler);

// Reports the exception currently being handled (call inside a catch block):
// its message for std::exception, a generic text otherwise.
void reportCurrentException(QWidget* parent);

} // namespace Dialogs
