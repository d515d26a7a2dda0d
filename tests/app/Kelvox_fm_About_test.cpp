#include "app/Kelvox_fm_About.h"

#include "app/WindowPlacement.h"
#include "app/ZebExeVerInfo.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Clicks through the window system, as a user does, so that windows blocked
// by a modal one ignore the click (QTest's widget overloads bypass that).
void userClick(QWidget* widget)
{
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(window, widget->rect().center()));
}

class AboutBox : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_main.setGeometry(100, 100, 700, 450);
        m_button = new QPushButton(QStringLiteral("Work"), &m_main);
        m_button->setGeometry(10, 10, 80, 25);
        m_main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_main));
        m_box = new Tfm_AboutBox(m_verInfo, &m_main);
    }

    template <typename T>
    T* child(const char* name) const
    {
        auto* found = m_box->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void showBox()
    {
        m_box->showModeless();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_box));
    }

    TExeVerInfo m_verInfo{QStringLiteral(KELVOX_EXECUTABLE)};
    QMainWindow m_main;
    QPushButton* m_button = nullptr;
    Tfm_AboutBox* m_box = nullptr; // owned by m_main
};

} // namespace

TEST_F(AboutBox, ShowsProductAndVersionOfTheRecord)
{
    EXPECT_EQ(m_box->windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(child<QLabel>("lb_ProductName")->text(), QStringLiteral("Kelvox"));
    EXPECT_EQ(child<QLabel>("lb_Version")->text(), QStringLiteral("Version: 0.1.0.0"));
    EXPECT_TRUE(child<QLabel>("Copyright")->text().contains(QStringLiteral("Kelvox project")));
    EXPECT_FALSE(m_box->isVisible()); // created hidden
}

TEST_F(AboutBox, WithoutRecordShowsAnEmptyProductAndABareVersionPrefix)
{
    const TExeVerInfo none(QStringLiteral("/nonexistent/kelvox"));
    Tfm_AboutBox box(none, nullptr);
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("lb_ProductName"))->text(), QString());
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("lb_Version"))->text(), QStringLiteral("Version: "));
}

TEST_F(AboutBox, LayoutAsDesigned)
{
    EXPECT_EQ(m_box->size(), QSize(298, 151));
    EXPECT_EQ(m_box->minimumSize(), m_box->maximumSize()); // fixed frame
    EXPECT_FALSE(m_box->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(m_box->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(child<QFrame>("Panel1")->geometry(), QRect(8, 8, 281, 97));
    auto* icon = child<QLabel>("ProgramIcon");
    EXPECT_EQ(icon->geometry(), QRect(2, 2, 72, 72));
    const QImage picture = icon->pixmap().toImage();
    EXPECT_EQ(picture.size(), QSize(72, 72));
    EXPECT_FALSE(picture.hasAlphaChannel()); // 24-bit colour
    // Blue question mark over a grey slice: strongly blue pixels exist, and grey ones.
    int blue = 0;
    int grey = 0;
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 72; ++x) {
            const QColor c = picture.pixelColor(x, y);
            blue += c.blue() > 180 && c.red() < 80 ? 1 : 0;
            grey += c.red() == c.green() && c.green() == c.blue() && c.red() > 60 && c.red() < 200 ? 1 : 0;
        }
    }
    EXPECT_GT(blue, 300);
    EXPECT_GT(grey, 300);
    EXPECT_EQ(child<QLabel>("lb_ProductName")->pos(), QPoint(88, 8));
    EXPECT_EQ(child<QLabel>("lb_Version")->pos(), QPoint(88, 24));
    EXPECT_EQ(child<QLabel>("Copyright")->pos(), QPoint(88, 48));
    auto* ok = child<QPushButton>("OKButton");
    EXPECT_EQ(ok->geometry(), QRect(111, 116, 75, 25));
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
}

TEST_F(AboutBox, EnterPressesOkAndHides)
{
    showBox();
    QSignalSpy accepted(m_box, &QDialog::accepted);
    QTest::keyClick(m_box, Qt::Key_Return);
    EXPECT_FALSE(m_box->isVisible());
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(m_box->result(), QDialog::Accepted);
}

TEST_F(AboutBox, OkButtonHides)
{
    showBox();
    QTest::mouseClick(child<QPushButton>("OKButton"), Qt::LeftButton);
    EXPECT_FALSE(m_box->isVisible());
}

TEST_F(AboutBox, EscapeDoesNothing)
{
    showBox();
    QTest::keyClick(m_box, Qt::Key_Escape);
    EXPECT_TRUE(m_box->isVisible());
}

TEST_F(AboutBox, CloseButtonOnlyHides)
{
    showBox();
    QPointer<Tfm_AboutBox> box(m_box);
    EXPECT_TRUE(m_box->close());
    QApplication::processEvents();
    EXPECT_FALSE(box.isNull());
    EXPECT_FALSE(m_box->isVisible());
}

TEST_F(AboutBox, MainWindowStaysUsableWhileOpen)
{
    showBox();
    EXPECT_FALSE(m_box->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    QSignalSpy clicked(m_button, &QPushButton::clicked);
    userClick(m_button);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(m_box->isVisible());
}

TEST_F(AboutBox, FirstShowingCentresLaterShowingsKeepThePlace)
{
    showBox();
    EXPECT_EQ(m_box->frameGeometry().topLeft(),
              centredTopLeft(m_main.frameGeometry(), m_box->frameGeometry().size()));

    const QPoint moved = m_box->pos() + QPoint(37, -21);
    m_box->move(moved);
    QApplication::processEvents();
    m_box->close();
    m_main.move(m_main.pos() + QPoint(50, 50)); // would give another centre
    showBox();
    EXPECT_EQ(m_box->pos(), moved);

    // About again while open: still the one box, still where it was.
    m_box->showModeless();
    EXPECT_TRUE(m_box->isVisible());
    EXPECT_EQ(m_box->pos(), moved);
    EXPECT_EQ(m_main.findChildren<Tfm_AboutBox*>().size(), 1);
}
