#include "app/Kelvox_Application.h"

#include "ui/Kelvox_Dialogs.h"

#include <QEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const QEvent::Type FailingEvent = static_cast<QEvent::Type>(QEvent::User + 17);

// A control whose handlers fail: a custom event and key presses throw.
class FailingWidget : public QPushButton
{
public:
    int handled = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == FailingEvent) {
            throw KelvoxError("Cannot read the volume");
        }
        return QPushButton::event(event);
    }
    void keyPressEvent(QKeyEvent*) override
    {
        ++handled;
        throw 42; // not a std::exception
    }
};

class TopLevelHandler : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Dialogs::setErrorHandler([this](const QString& message) { messages << message; });
    }
    void TearDown() override { Dialogs::setErrorHandler({}); }

    QStringList messages;
};

} // namespace

TEST_F(TopLevelHandler, TheProgramsApplicationObjectIsInUse)
{
    EXPECT_NE(qobject_cast<TKelvoxApplication*>(QCoreApplication::instance()), nullptr);
}

TEST_F(TopLevelHandler, ReportsAnErrorEscapingAnEventHandlerAndRunsOn)
{
    FailingWidget widget;
    QEvent failing(FailingEvent);
    EXPECT_FALSE(QCoreApplication::sendEvent(&widget, &failing));
    ASSERT_EQ(messages, QStringList{QStringLiteral("Cannot read the volume")});

    // Later events still arrive.
    QEvent ordinary(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&widget, &ordinary));
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(TopLevelHandler, PostedEventsFailInsideTheLoopAndTheLoopGoesOn)
{
    FailingWidget widget;
    QCoreApplication::postEvent(&widget, new QEvent(FailingEvent));
    QCoreApplication::postEvent(&widget, new QEvent(FailingEvent));
    bool timerFired = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    QTest::qWait(50);
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(timerFired);
}

TEST_F(TopLevelHandler, UserInputFailureIsReportedWithAGenericText)
{
    FailingWidget widget;
    widget.resize(80, 30);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    widget.setFocus();
    QTest::keyClick(&widget, Qt::Key_A);
    QTest::keyClick(&widget, Qt::Key_B);
    EXPECT_EQ(widget.handled, 2);
    EXPECT_EQ(messages, (QStringList{QStringLiteral("Unknown error"), QStringLiteral("Unknown error")}));
}
