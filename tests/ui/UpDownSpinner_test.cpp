#include "ui/UpDownSpinner.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

class UpDownSpinnerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_window = std::make_unique<QWidget>();
        m_edit = new QLineEdit(m_window.get());
        m_edit->setGeometry(0, 0, 60, 21);
        m_spinner = new UpDownSpinner(m_window.get());
        m_spinner->setGeometry(60, 0, 15, 21);
        m_spinner->setAssociate(m_edit);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    QAbstractButton* arrow(const char* name) const
    {
        return m_spinner->findChild<QAbstractButton*>(QString::fromLatin1(name));
    }

    std::unique_ptr<QWidget> m_window;
    QLineEdit* m_edit = nullptr;
    UpDownSpinner* m_spinner = nullptr;
};

TEST_F(UpDownSpinnerTest, StartsAtZeroWithTheDefaultRange)
{
    EXPECT_EQ(m_spinner->associate(), m_edit);
    EXPECT_EQ(m_spinner->position(), 0);
    EXPECT_EQ(m_spinner->minimum(), 0);
    EXPECT_EQ(m_spinner->maximum(), 10000);
}

TEST_F(UpDownSpinnerTest, ArrowsAreStackedUpAboveDown)
{
    QAbstractButton* up = arrow("upArrow");
    QAbstractButton* down = arrow("downArrow");
    ASSERT_NE(up, nullptr);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(up->geometry().top(), 0);
    EXPECT_EQ(up->geometry().bottom() + 1, down->geometry().top());
    EXPECT_EQ(down->geometry().bottom() + 1, m_spinner->height());
    EXPECT_EQ(up->width(), m_spinner->width());
    EXPECT_EQ(m_spinner->sizeHint(), QSize(15, 21));
}

struct StepCase
{
    const char* startText;
    int delta;
    const char* expectedText;
    int expectedPosition;
    int textChanges;
};

void PrintTo(const StepCase& c, std::ostream* os)
{
    *os << '"' << c.startText << "\" " << (c.delta > 0 ? "up" : "down");
}

class UpDownSpinnerSteps : public UpDownSpinnerTest, public testing::WithParamInterface<StepCase>
{
};

TEST_P(UpDownSpinnerSteps, StepsByOneWithinTheRangeWithoutWrapping)
{
    const StepCase& c = GetParam();
    m_edit->setText(QString::fromLatin1(c.startText));
    QSignalSpy changes(m_edit, &QLineEdit::textChanged);
    QTest::mouseClick(arrow(c.delta > 0 ? "upArrow" : "downArrow"), Qt::LeftButton);
    EXPECT_EQ(m_edit->text(), QString::fromLatin1(c.expectedText));
    EXPECT_EQ(m_spinner->position(), c.expectedPosition);
    EXPECT_EQ(changes.count(), c.textChanges);
}

INSTANTIATE_TEST_SUITE_P(Bounds, UpDownSpinnerSteps, testing::Values(
    StepCase{"0", +1, "1", 1, 1},
    StepCase{"1", -1, "0", 0, 1},
    StepCase{"0", -1, "0", 0, 0},
    StepCase{"9999", +1, "10000", 10000, 1},
    StepCase{"10000", +1, "10000", 10000, 0},
    StepCase{"10000", -1, "9999", 9999, 1},
    StepCase{"256", +1, "257", 257, 1},
    // Leading zeros are still a plain decimal; the step writes plain digits.
    StepCase{"007", +1, "8", 8, 1}));

TEST_F(UpDownSpinnerTest, FollowsThePlainDecimalInTheEditAndKeepsItOnJunk)
{
    struct
    {
        const char* text;
        int position;
    } const sequence[] = {
        {"123", 123}, {"abc", 123}, {"20000", 123}, {"-5", 123}, {"", 123},
        {" 12", 123}, {"+12", 123}, {"12 ", 123}, {"$10", 123}, {"-", 123},
        {"10000", 10000}, {"-0", 0}, {"0042", 42}, {"99999999999999", 42},
    };
    for (const auto& step : sequence) {
        m_edit->setText(QString::fromLatin1(step.text));
        EXPECT_EQ(m_spinner->position(), step.position) << "after \"" << step.text << '"';
    }
}

TEST_F(UpDownSpinnerTest, StepsFromTheLastPositionWhenTheEditHoldsJunk)
{
    m_edit->setText(QStringLiteral("41"));
    m_edit->setText(QStringLiteral("4x1"));
    QTest::mouseClick(arrow("upArrow"), Qt::LeftButton);
    EXPECT_EQ(m_edit->text(), QStringLiteral("42"));

    // At a bound the junk is still replaced by the position.
    m_edit->setText(QStringLiteral("10000"));
    m_edit->setText(QStringLiteral("oops"));
    QTest::mouseClick(arrow("upArrow"), Qt::LeftButton);
    EXPECT_EQ(m_edit->text(), QStringLiteral("10000"));
}

TEST_F(UpDownSpinnerTest, UpAndDownKeysInTheEditStepIt)
{
    m_edit->setText(QStringLiteral("5"));
    m_edit->setFocus();
    QSignalSpy changes(m_edit, &QLineEdit::textChanged);
    QSignalSpy steps(m_spinner, &UpDownSpinner::positionChanged);
    QTest::keyClick(m_edit, Qt::Key_Up);
    EXPECT_EQ(m_edit->text(), QStringLiteral("6"));
    QTest::keyClick(m_edit, Qt::Key_Down);
    QTest::keyClick(m_edit, Qt::Key_Down);
    EXPECT_EQ(m_edit->text(), QStringLiteral("4"));
    EXPECT_EQ(changes.count(), 3);
    EXPECT_EQ(steps.count(), 3);

    // Other keys still reach the edit.
    m_edit->end(false);
    QTest::keyClick(m_edit, Qt::Key_7);
    EXPECT_EQ(m_edit->text(), QStringLiteral("47"));
}

TEST_F(UpDownSpinnerTest, HeldArrowRepeatsUntilReleased)
{
    QSignalSpy steps(m_spinner, &UpDownSpinner::positionChanged);
    QAbstractButton* up = arrow("upArrow");
    QElapsedTimer clock;
    clock.start();
    QTest::mousePress(up, Qt::LeftButton);
    EXPECT_EQ(steps.count(), 1) << "the press itself steps at once";
    QTest::qWait(1000);
    QTest::mouseRelease(up, Qt::LeftButton);
    const qint64 heldMs = clock.elapsed();
    const int held = steps.count();
    // 250 ms delay, then a step every 50 ms: about 16 steps in one second. A
    // busy machine delivers fewer timer ticks, never more.
    EXPECT_GE(held, 4);
    EXPECT_LE(held, 2 + (heldMs - 250) / 50);
    EXPECT_EQ(m_edit->text(), QString::number(held));
    QTest::qWait(200);
    EXPECT_EQ(steps.count(), held) << "no step after the release";
}

TEST_F(UpDownSpinnerTest, FirstRepeatComesWithinTheRefreshDelay)
{
    // The window refreshes 300 ms after the last change; a held arrow must
    // step again before that, or holding it would refresh in between.
    QSignalSpy steps(m_spinner, &UpDownSpinner::positionChanged);
    QAbstractButton* down = arrow("downArrow");
    m_edit->setText(QStringLiteral("100"));
    QTest::mousePress(down, Qt::LeftButton);
    QTest::qWait(290);
    QTest::mouseRelease(down, Qt::LeftButton);
    EXPECT_GE(steps.count(), 2);
    EXPECT_LE(down->autoRepeatDelay(), 280);
    EXPECT_TRUE(down->autoRepeat());
}

TEST_F(UpDownSpinnerTest, RangeAndPositionAreClampedToSixteenBits)
{
    m_spinner->setPosition(20000);
    m_edit->clear();
    EXPECT_EQ(m_spinner->position(), 10000);
    m_spinner->setPosition(-3);
    EXPECT_EQ(m_spinner->position(), 0);

    m_spinner->setRange(-100000, 100000);
    EXPECT_EQ(m_spinner->minimum(), -32768);
    EXPECT_EQ(m_spinner->maximum(), 32767);
    m_edit->setText(QStringLiteral("-32768"));
    QTest::mouseClick(arrow("downArrow"), Qt::LeftButton);
    EXPECT_EQ(m_edit->text(), QStringLiteral("-32768"));
    m_edit->setText(QStringLiteral("32767"));
    QTest::mouseClick(arrow("upArrow"), Qt::LeftButton);
    EXPECT_EQ(m_edit->text(), QStringLiteral("32767"));

    // Narrowing the range pulls the position in.
    m_edit->clear();
    m_spinner->setRange(0, 10);
    EXPECT_EQ(m_spinner->position(), 10);
}

TEST_F(UpDownSpinnerTest, DetachedEditIsLeftAlone)
{
    m_edit->setText(QStringLiteral("5"));
    m_spinner->setAssociate(nullptr);
    EXPECT_EQ(m_spinner->associate(), nullptr);
    m_edit->setFocus();
    QTest::keyClick(m_edit, Qt::Key_Up);
    EXPECT_EQ(m_edit->text(), QStringLiteral("5"));
    QTest::mouseClick(arrow("upArrow"), Qt::LeftButton);
    EXPECT_EQ(m_edit->text(), QStringLiteral("5"));
    EXPECT_EQ(m_spinner->position(), 6);
}

TEST_F(UpDownSpinnerTest, SurvivesItsEditBeingDestroyedFirst)
{
    m_edit->setText(QStringLiteral("9"));
    std::unique_ptr<QLineEdit> doomed(m_edit);
    m_edit = nullptr;
    doomed.reset();
    EXPECT_EQ(m_spinner->associate(), nullptr);
    EXPECT_EQ(m_spinner->position(), 9);
    QTest::mouseClick(arrow("upArrow"), Qt::LeftButton);
    EXPECT_EQ(m_spinner->position(), 10);
}

TEST_F(UpDownSpinnerTest, EditOutlivesItsSpinner)
{
    m_edit->setText(QStringLiteral("3"));
    std::unique_ptr<UpDownSpinner> doomed(m_spinner);
    m_spinner = nullptr;
    doomed.reset();
    m_edit->setFocus();
    QTest::keyClick(m_edit, Qt::Key_Up);
    m_edit->setText(QStringLiteral("4"));
    EXPECT_EQ(m_edit->text(), QStringLiteral("4"));
}

} // namespace
