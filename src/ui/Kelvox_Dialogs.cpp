#include "ui/Kelvox_Dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

namespace Dialogs {
namespace {

ErrorHandler& errorHandler()
{
    static ErrorHandler handler;
    return handler;
}

OpenFileHandler& openFileHandler()
{
    static OpenFileHandler handler;
    return handler;
}

// The open dialog's history, folder and view (QFileDialog::saveState) for
// the rest of the run; empty before the first dialog.
QByteArray& openDialogState()
{
    static QByteArray state;
    return state;
}

// The toolkit's file dialog loads and stores its history and view in the
// user's settings file ("QtProject"); the program stores nothing between
// runs. The user-scope settings of this process are therefore read from and
// written to a folder that cannot exist (below a character device), so
// every read finds nothing and every write fails before touching the disk.
// The program itself keeps no other settings.
void keepSettingsOffTheDisk()
{
    static const bool done = [] {
        const QString nowhere = QStringLiteral("/dev/null/kelvox-stores-no-settings");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    (void)done;
}

SaveFileHandler& saveFileHandler()
{
    static SaveFileHandler handler;
    return handler;
}

// The extension a filter such as "NRRD header (*.nhdr)" names, without the dot.
QString filterSuffix(const QString& filter)
{
    const qsizetype star = filter.indexOf(QStringLiteral("(*."));
    const qsizetype close = filter.indexOf(QLatin1Char(')'), star);
    return star < 0 || close < 0 ? QString() : filter.mid(star + 3, close - star - 3);
}

} // namespace

void showError(QWidget* parent, const QString& message)
{
    if (errorHandler()) {
        errorHandler()(message);
        return;
    }
    QMessageBox::critical(parent, QString(), message);
}

QString askOpenFileName(QWidget* parent, const QString& title, const QString& initialPath)
{
    if (openFileHandler()) {
        return openFileHandler()(parent, title, initialPath);
    }
    // No filter, default extension or start folder; the path and the file
    // must exist; resizable; no places side bar; nothing is added to any list
    // of recent documents (the toolkit's own dialog keeps no such list).
    keepSettingsOffTheDisk();
    QFileDialog dialog(parent, title);
    // What the last dialog of this run left: its history, folder and view.
    if (!openDialogState().isEmpty()) {
        dialog.restoreState(openDialogState());
    }
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    dialog.setSidebarUrls({});
    if (!initialPath.isEmpty()) {
        const QFileInfo info(initialPath);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    const int answer = dialog.exec();
    openDialogState() = dialog.saveState();
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString askSaveFileName(QWidget* parent, const QString& title, const QString& initialPath,
                        const QStringList& filters, QString& selectedFilter)
{
    selectedFilter = filters.value(0);
    if (saveFileHandler()) {
        return saveFileHandler()(parent, title, initialPath, filters, selectedFilter);
    }
    // Like the open dialog, plus the file types; the default suffix follows
    // the type chosen, so the dialog's own confirmation of an existing name
    // sees the name that will be written.
    keepSettingsOffTheDisk();
    QFileDialog dialog(parent, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setSizeGripEnabled(true);
    dialog.setSidebarUrls({});
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(filterSuffix(selectedFilter));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) { dialog.setDefaultSuffix(filterSuffix(filter)); });
    if (!initialPath.isEmpty()) {
        const QFileInfo info(initialPath);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().constFirst();
}

void setErrorHandler(ErrorHandler handler)
{
    errorHandler() = std::move(handler);
}

void setOpenFileHandler(OpenFileHandler handler)
{
    openFileHandler() = std::move(handler);
}

void setSaveFileHandler(SaveFileHandler handler)
{
    saveFileHandler() = std::move(handler);
}

void reportCurrentException(QWidget* parent)
{
    try {
        throw;
    } catch (const std::exception& e) {
        showError(parent, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showError(parent, QStringLiteral("Unknown error"));
    }
}

} // namespace Dialogs
