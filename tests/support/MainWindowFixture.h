#pragma once

#include "platform/Ole.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/Kelvox_fm_Main.h"
#include "volume/Kelvox_DataMgr.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// The main window over a data manager of its own, its dialogs answered by the
// test: the open and save dialogs give nextOpenAnswer and nextSaveAnswer (and
// select nextSaveFilter when set) and record what they were asked; errors are
// collected, and a test ends with none. The window is not shown until start().
class MainWindowFixture : public ::testing::Test
{
protected:
    static constexpr int RefreshWaitMs = 2000;

    void SetUp() override
    {
        Dialogs::setErrorHandler([this](const QString& message) { errors << message; });
        Dialogs::setOpenFileHandler([this](QWidget*, const QString& title, const QString& initial) {
            openTitles << title;
            openInitialPaths << initial;
            return nextOpenAnswer;
        });
        Dialogs::setSaveFileHandler([this](QWidget*, const QString&, const QString& initial,
                                           const QStringList& filters, QString& selected) {
            saveInitialPaths << initial;
            saveFilters = filters;
            if (!nextSaveFilter.isEmpty())
                selected = nextSaveFilter;
            return nextSaveAnswer;
        });
        ASSERT_TRUE(tempDir.isValid());
        OleInitialize(nullptr); // as the program's start-up does, for the drop target
        dataMgr = std::make_unique<TKelvoxDataMgr>();
        window = std::make_unique<Tfm_Main>(*dataMgr, QStringLiteral("Kelvox Test"));
        refreshed = std::make_unique<QSignalSpy>(window.get(), &Tfm_Main::viewsRefreshed);
    }

    void TearDown() override
    {
        window.reset();
        OleUninitialize();
        Dialogs::setErrorHandler({});
        Dialogs::setOpenFileHandler({});
        Dialogs::setSaveFileHandler({});
        EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }

    // Shows and activates the window and waits for the refresh its start-up
    // values lead to.
    void start()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        waitForRefresh();
    }

    void waitForRefresh()
    {
        const auto before = refreshed->count();
        ASSERT_TRUE(refreshed->wait(RefreshWaitMs));
        ASSERT_EQ(refreshed->count(), before + 1);
        refreshed->clear();
    }

    template <typename T> T* child(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* edit(const char* name) const { return child<QLineEdit>(name); }
    QLabel* label(const char* name) const { return child<QLabel>(name); }
    QString strip() const { return label("lb_FilePath")->text(); }

    void trigger(const char* actionName) const
    {
        QAction* action = child<QAction>(actionName);
        ASSERT_NE(action, nullptr);
        action->trigger();
    }
    // File > Open... answered with path.
    void openThroughMenu(const QString& path)
    {
        nextOpenAnswer = path;
        trigger("mi_Open");
    }

    // Replaces the whole text of an edit in one change, as a paste does.
    static void paste(QLineEdit* target, const QString& text)
    {
        target->selectAll();
        target->insert(text);
    }
    static void choose(QComboBox* combo, int index)
    {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        const QString path = tempDir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir tempDir;
    std::unique_ptr<TKelvoxDataMgr> dataMgr;
    std::unique_ptr<Tfm_Main> window;
    std::unique_ptr<QSignalSpy> refreshed;
    QStringList errors;
    QStringList openTitles;
    QStringList openInitialPaths;
    QStringList saveInitialPaths;
    QStringList saveFilters;
    QString nextOpenAnswer;
    QString nextSaveAnswer;
    QString nextSaveFilter;
};
