// The real open dialog: it keeps its history within a run and writes nothing
// to disk (the toolkit would store it in the user's "QtProject" settings).

#include "ui/Kelvox_Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs act on the file dialog as soon as it is shown modally.
void whenDialogShows(std::function<void(QFileDialog*)> act)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act = std::move(act)] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        act(dialog);
    });
    poll->start(10);
}

// Every file below dir, as paths relative to it.
QStringList filesBelow(const QString& dir)
{
    QStringList found;
    QDir root(dir);
    for (const QString& entry : root.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = root.filePath(entry);
        found << path;
        if (QFileInfo(path).isDir()) {
            found << filesBelow(path);
        }
    }
    return found;
}

TEST(OpenDialog, KeepsItsHistoryWithinTheRunAndWritesNoSettings)
{
    // The toolkit's settings of this (test-mode) process would go here.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QFile::remove(config + QStringLiteral("/QtProject.conf"));
    const QStringList before = filesBelow(config);

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("volume.raw"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }

    whenDialogShows([&](QFileDialog* dialog) {
        dialog->setDirectory(folder.path());
        dialog->selectFile(QStringLiteral("volume.raw"));
        QMetaObject::invokeMethod(dialog, "accept"); // a slot, protected in C++
    });
    EXPECT_EQ(Dialogs::askOpenFileName(nullptr, QStringLiteral("Open")), file);

    QStringList history;
    QString folderShown;
    whenDialogShows([&](QFileDialog* dialog) {
        history = dialog->history();
        folderShown = dialog->directory().absolutePath();
        dialog->reject();
    });
    EXPECT_EQ(Dialogs::askOpenFileName(nullptr, QStringLiteral("Open")), QString());
    EXPECT_TRUE(history.contains(folder.path())) << history.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(folderShown, folder.path());

    EXPECT_FALSE(QFile::exists(config + QStringLiteral("/QtProject.conf")));
    EXPECT_EQ(filesBelow(config).join(QLatin1Char(' ')).toStdString(), before.join(QLatin1Char(' ')).toStdString());
}

} // namespace
