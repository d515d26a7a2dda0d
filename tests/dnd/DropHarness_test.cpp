// The whole drop path through the Qt bridge: synthetic drag events on the
// registered file-name strip reach the drop target, which fetches the names
// and opens the first one.

#include "DropHarnessWindow.h"

#include "dragdrop/DragDropPIDL.h"
#include "platform/DebugOutput.h"
#include "platform/Ole.h"
#include "platform/Shell.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtDataObject.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const QString SampleFile = QStringLiteral(KELVOX_SAMPLES_DIR "/head_256x256x64_u8.raw");

class DropHarnessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OleInitialize(nullptr);
        m_previousSink = SetDebugOutputSink([this](std::string_view line) { trace.emplace_back(line); });
        window = std::make_unique<DropHarnessWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void TearDown() override
    {
        window.reset();
        SetDebugOutputSink(m_previousSink);
        OleUninitialize();
    }

    // Enter, move and drop at the strip's centre; returns the drop's answer.
    Qt::DropAction dragOnto(QWidget* target, const QMimeData& mime, Qt::DropActions actions,
                            Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool* enterAccepted = nullptr)
    {
        const QPoint pos = target->rect().center();
        QDragEnterEvent enter(pos, actions, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(target, &enter);
        if (enterAccepted != nullptr) {
            *enterAccepted = enter.isAccepted();
        }
        QDragMoveEvent move(pos, actions, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(target, &move);
        QDropEvent drop(QPointF(pos), actions, &mime, Qt::NoButton, modifiers);
        QApplication::sendEvent(target, &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }

    std::unique_ptr<DropHarnessWindow> window;
    std::vector<std::string> trace;

private:
    DebugOutputSink m_previousSink;
};

TEST_F(DropHarnessTest, DroppedFileUrlsOpenTheFirstFile)
{
    QStringList opened;
    window->onOpened = [&](const QStringList& names) { opened = names; };
    POINT enteredAt{-1, -1};
    window->DropFileTarget1->OnEnter = [&](TComponent*, TShiftState, POINT p, DWORD&) { enteredAt = p; };
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(SampleFile), QUrl(QStringLiteral("https://example.invalid/x")),
                  QUrl::fromLocalFile(QStringLiteral("/tmp/second.raw"))});

    const Qt::DropAction action = dragOnto(window->pa_FileName, mime, Qt::CopyAction | Qt::MoveAction);

    EXPECT_EQ(action, Qt::CopyAction);
    // The point arrives in the strip's client coordinates: the strip was
    // found under the cursor.
    const QPoint centre = window->pa_FileName->rect().center();
    EXPECT_EQ(enteredAt, (POINT{centre.x(), centre.y()}));
    EXPECT_EQ(window->pa_FileName->text(), SampleFile);
    EXPECT_EQ(opened, (QStringList{SampleFile, QStringLiteral("/tmp/second.raw")}));
    EXPECT_TRUE(window->DropFileTarget1->DroppedFiles().empty());
}

TEST_F(DropHarnessTest, CopyIsShownWhateverKeysAreHeld)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(SampleFile)});
    for (const Qt::KeyboardModifiers keys :
         {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
          Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier)}) {
        EXPECT_EQ(dragOnto(window->pa_FileName, mime, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, keys),
                  Qt::CopyAction);
    }
}

TEST_F(DropHarnessTest, SourceWithoutCopyIsRefused)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(SampleFile)});
    bool enterAccepted = true;
    EXPECT_EQ(dragOnto(window->pa_FileName, mime, Qt::MoveAction, Qt::NoModifier, &enterAccepted),
              Qt::IgnoreAction);
    EXPECT_FALSE(enterAccepted);
    EXPECT_EQ(window->pa_FileName->text(), QStringLiteral("(no file)"));
}

TEST_F(DropHarnessTest, NonFileUrlsAreNotFileNames)
{
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("https://example.invalid/volume.raw"))});
    EXPECT_EQ(dragOnto(window->pa_FileName, mime, Qt::CopyAction), Qt::IgnoreAction);
    EXPECT_EQ(window->pa_FileName->text(), QStringLiteral("(no file)"));
}

TEST_F(DropHarnessTest, ItemIdListOnlySourceOpensTheFirstFile)
{
    const std::vector<TItemIdList> lists{ItemIdListFromPath("/"), ItemIdListFromPath(SampleFile.toStdString())};
    const std::string block = MakeCidaBlock(lists);
    QMimeData mime;
    mime.setData(QString::fromStdString(WindowsMimeType("Shell IDList Array")),
                 QByteArray(block.data(), static_cast<qsizetype>(block.size())));

    EXPECT_EQ(dragOnto(window->pa_FileName, mime, Qt::CopyAction), Qt::CopyAction);
    EXPECT_EQ(window->pa_FileName->text(), SampleFile);
}

TEST_F(DropHarnessTest, RegistrationFollowsTheRecreatedWindow)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(SampleFile)});
    window->hide();
    window->destroyNativeWindow();
    EXPECT_FALSE(window->pa_FileName->acceptDrops());
    window->createNativeWindow();
    EXPECT_TRUE(window->pa_FileName->acceptDrops());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    EXPECT_EQ(dragOnto(window->pa_FileName, mime, Qt::CopyAction), Qt::CopyAction);
    EXPECT_EQ(window->pa_FileName->text(), SampleFile);
}

TEST_F(DropHarnessTest, DetachedStripTakesNoMoreDrops)
{
    window->DropFileTarget1->DetachControl(HwndFromWidget(window->pa_FileName));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(SampleFile)});

    EXPECT_EQ(dragOnto(window->pa_FileName, mime, Qt::CopyAction), Qt::IgnoreAction);
    EXPECT_EQ(window->pa_FileName->text(), QStringLiteral("(no file)"));
    EXPECT_FALSE(window->pa_FileName->acceptDrops());
}

TEST_F(DropHarnessTest, QueriesForTheDropTargetAreTraced)
{
    void* p = nullptr;
    ASSERT_EQ(window->DropFileTarget1->QueryInterface(IID_IDropTarget, &p), S_OK);
    EXPECT_EQ(trace.back(), "TDropFileTarget.QueryInterface(IDropTarget): 0 (1)");
}

} // namespace
