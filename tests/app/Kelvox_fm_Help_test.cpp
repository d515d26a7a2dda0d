#include "app/Kelvox_fm_Help.h"

#include "app/Kelvox_fm_About.h"
#include "app/WindowPlacement.h"
#include "app/ZebExeVerInfo.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Clicks through the window system, as a user does, so that windows blocked
// by a modal one ignore the click (QTest's widget overloads bypass that).
void userClick(QWidget* widget)
{
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(window, widget->rect().center()));
}

class HelpWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_main.setGeometry(100, 100, 1000, 700);
        m_button = new QPushButton(QStringLiteral("Work"), &m_main);
        m_button->setGeometry(10, 10, 80, 25);
        m_main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_main));
        m_help = new Tfm_Help(&m_main);
        m_memo = m_help->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        ASSERT_NE(m_memo, nullptr);
    }

    // Runs check while the Help window is open modally, then closes it from
    // its title bar; showModal() returns afterwards.
    void whileOpen(const std::function<void()>& check)
    {
        bool ran = false;
        QTimer::singleShot(0, m_help, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(m_help));
            check();
            ran = true;
            m_help->close();
        });
        m_help->showModal();
        EXPECT_TRUE(ran);
        EXPECT_FALSE(m_help->isVisible());
    }

    QStringList lines() const { return m_memo->toPlainText().split(QLatin1Char('\n')); }

    QMainWindow m_main;
    QPushButton* m_button = nullptr;
    Tfm_Help* m_help = nullptr; // owned by m_main
    QPlainTextEdit* m_memo = nullptr;
};

} // namespace

TEST_F(HelpWindow, HoldsTheFortyLinesOfTheHelpPage)
{
    EXPECT_EQ(m_help->windowTitle(), QStringLiteral("Help"));
    const QStringList text = lines();
    ASSERT_EQ(text.size(), 40);
    EXPECT_EQ(text[0], QStringLiteral("Kelvox (Kelvox)   Econo-Help"));
    for (const auto& [line, hyphens] : {std::pair{2, 91}, {13, 26}, {23, 12}, {31, 9}, {37, 11}}) {
        EXPECT_EQ(text[line - 1], QString(hyphens, QLatin1Char('-'))) << "line " << line;
    }
    EXPECT_EQ(text[9], QStringLiteral("Index 3: \"Volume number\", can be selected for \"Other Volume\" image."));
    EXPECT_EQ(text[19], QStringLiteral("Adjust intensity range to suit (you can \"apply\" from first slice image)."));
    EXPECT_EQ(text[35], QStringLiteral("Author:"));
    for (const int empty : {4, 6, 11, 15, 17, 19, 21, 25, 27, 29, 33, 35}) {
        EXPECT_TRUE(text[empty - 1].isEmpty()) << "line " << empty;
    }
}

TEST_F(HelpWindow, CreditBlockMatchesTheReadmeContact)
{
    const QStringList text = lines();
    ASSERT_EQ(text.size(), 40);
    EXPECT_EQ(text[37], QStringLiteral("Kelvox project"));
    QFile readme(QStringLiteral(KELVOX_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString contents = QString::fromUtf8(readme.readAll());
    EXPECT_TRUE(contents.contains(text[38])) << text[38].toStdString();
    EXPECT_TRUE(contents.contains(text[39])) << text[39].toStdString();
    EXPECT_TRUE(text[38].contains(QLatin1Char('@')));
    EXPECT_TRUE(text[39].startsWith(QStringLiteral("https://")));
}

TEST_F(HelpWindow, TextIsReadOnlyUnwrappedWithBothScrollBars)
{
    EXPECT_TRUE(m_memo->isReadOnly());
    EXPECT_EQ(m_memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(m_memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(m_memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    const QString before = m_memo->toPlainText();
    whileOpen([&] {
        m_memo->setFocus();
        QTest::keyClicks(m_memo, QStringLiteral("typed"));
        QTest::keyClick(m_memo, Qt::Key_Delete);
        QTest::keyClick(m_memo, Qt::Key_Backspace);
        EXPECT_EQ(m_memo->toPlainText(), before);
        // The long lines are reached by scrolling sideways.
        EXPECT_GT(m_memo->horizontalScrollBar()->maximum(), 0);
        EXPECT_EQ(m_memo->geometry(), m_help->rect()); // fills the client area
    });
}

TEST_F(HelpWindow, ModalOverTheMainWindowAndAnOpenAboutBox)
{
    const TExeVerInfo verInfo(QStringLiteral(KELVOX_EXECUTABLE));
    auto* about = new Tfm_AboutBox(verInfo, &m_main);
    about->showModeless();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    QSignalSpy clicked(m_button, &QPushButton::clicked);
    auto* ok = about->findChild<QPushButton*>(QStringLiteral("OKButton"));

    whileOpen([&] {
        EXPECT_EQ(QApplication::activeModalWidget(), m_help);
        userClick(m_button);
        userClick(ok);
        EXPECT_EQ(clicked.count(), 0);
        EXPECT_TRUE(about->isVisible());
        QTest::keyClick(m_help, Qt::Key_Escape); // no button, closed only from its title bar
        EXPECT_TRUE(m_help->isVisible());
    });

    userClick(m_button);
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(HelpWindow, FirstShowingCentresAtTheDesignedSizeThenKeepsPlaceAndCaret)
{
    whileOpen([&] {
        EXPECT_EQ(m_help->frameGeometry().size(), QSize(560, 523));
        EXPECT_EQ(m_help->frameGeometry().topLeft(),
                  centredTopLeft(m_main.frameGeometry(), m_help->frameGeometry().size()));
        QTextCursor cursor(m_memo->document()->findBlockByNumber(31));
        cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 5);
        m_memo->setTextCursor(cursor);
        m_memo->horizontalScrollBar()->setValue(40);
        m_help->move(m_help->pos() + QPoint(-30, 25));
    });
    const QPoint left = m_help->pos();
    const int caret = m_memo->textCursor().position();

    whileOpen([&] {
        EXPECT_EQ(m_help->pos(), left);
        EXPECT_EQ(m_memo->textCursor().position(), caret);
        EXPECT_EQ(m_memo->horizontalScrollBar()->value(), 40);
    });
}
