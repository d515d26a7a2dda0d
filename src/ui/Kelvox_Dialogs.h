#pragma once

#include <QString>
#include <QStringList>

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
// Answers a save dialog: the chosen path (empty = cancelled); may set
// selectedFilter to the file type chosen (one of filters).
using SaveFileHandler = std::function<QString(QWidget* parent, const QString& title, const QString& initialPath,
                                              const QStringList& filters, QString& selectedFilter)>;

// Shows message in a modal error box (or hands it to the installed handler).
void showError(QWidget* parent, const QString& message);

// Asks for an existing file to open; returns its path, or an empty string
// when the user cancels. The dialog opens in the folder of initialPath with
// its name filled in (when given). Its history and view carry over to the
// next dialog of the same run; nothing is written to disk (the toolkit's
// settings file included).
QString askOpenFileName(QWidget* parent, const QString& title, const QString& initialPath = {});

// Asks for a file name to save under, offering the file types in filters
// ("Name (*.ext)", the first preselected; its extension is added to a name
// typed without one). A name that exists is confirmed by the dialog. Returns
// the path, or an empty string when the user cancels; selectedFilter gets
// the file type chosen.
QString askSaveFileName(QWidget* parent, const QString& title, const QString& initialPath,
                        const QStringList& filters, QString& selectedFilter);

// Installs a handler for tests; an empty function restores the real dialog.
void setErrorHandler(ErrorHandler handler);
void setOpenFileHandler(OpenFileHandler handler);
void setSaveFileHandler(SaveFileHandler handler);

// Reports the exception currently being handled (call inside a catch block):
// its message for std::exception, a generic text otherwise.
void reportCurrentException(QWidget* parent);

} // namespace Dialogs
