#include "ui/ZebRotateLabel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace {

constexpr double Tolerance = 1.5; // pixels of antialiasing around the cell

QFont captionFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setBold(false);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

bool isInk(QRgb pixel)
{
    return qGray(pixel) < 128;
}

// Pixel positions in the text's own frame: u along the text from its start,
// v from the ascender side of the cell downward.
struct TextFrame
{
    double minU = 1e9, maxU = -1e9, minV = 1e9, maxV = -1e9;
    int inked = 0;
};

TextFrame inkInTextFrame(const QImage& image, QPoint anchor, int escapement)
{
    const double theta = escapement / 10.0 * std::numbers::pi / 180.0;
    TextFrame frame;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isInk(image.pixel(x, y))) {
                continue;
            }
            const double dx = x + 0.5 - anchor.x();
            const double dy = y + 0.5 - anchor.y();
            // Counter-clockwise on screen with y downward.
            const double u = dx * std::cos(theta) - dy * std::sin(theta);
            const double v = dx * std::sin(theta) + dy * std::cos(theta);
            frame.minU = std::min(frame.minU, u);
            frame.maxU = std::max(frame.maxU, u);
            frame.minV = std::min(frame.minV, v);
            frame.maxV = std::max(frame.maxV, v);
            ++frame.inked;
        }
    }
    return frame;
}

QImage render(TZebRotateLabel& label)
{
    return label.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void prepareBlackOnWhite(TZebRotateLabel& label)
{
    label.setFont(captionFont());
    label.setFontColor(Qt::black);
    label.setColor(Qt::white);
}

struct AnchorCase
{
    TZebRotateLabel::TAngleChoice angle;
    int w, h, tw, th;
    QPoint expected;
};

class RotateLabelAnchor : public ::testing::TestWithParam<AnchorCase>
{
};

class RotateLabelAngle : public ::testing::TestWithParam<TZebRotateLabel::TAngleChoice>
{
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++count;
        }
        return QObject::eventFilter(watched, event);
    }
};

class RotateLabelRepaint : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_window.resize(200, 200);
        m_label = new TZebRotateLabel(&m_window);
        m_label->setCaption(QStringLiteral("Index"));
        m_label->installEventFilter(&m_counter);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
        settle();
        m_counter.count = 0;
    }

    static void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }

    // Paints caused by change, after all pending events ran.
    template <typename Change>
    int paintsAfter(Change change)
    {
        m_counter.count = 0;
        change();
        settle();
        return m_counter.count;
    }

    QWidget m_window;
    TZebRotateLabel* m_label = nullptr;
    PaintCounter m_counter;
};

} // namespace

TEST(RotateLabel, ConstructionDefaults)
{
    QWidget parent;
    const TZebRotateLabel label(&parent);
    EXPECT_EQ(label.geometry(), QRect(0, 0, 90, 90));
    EXPECT_FALSE(label.transparent());
    EXPECT_EQ(label.angle(), TZebRotateLabel::ag45);
    EXPECT_EQ(label.escapement(), 450);
    EXPECT_EQ(label.font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(label.font().pointSize(), 10);
    EXPECT_TRUE(label.font().bold());
    EXPECT_EQ(label.fontColor(), QColor(255, 0, 0));
    EXPECT_TRUE(label.parentColor());
    EXPECT_TRUE(label.isEnabled());
    EXPECT_FALSE(label.testAttribute(Qt::WA_NativeWindow));
}

TEST(RotateLabel, HasNoNativeWindowWhenShown)
{
    QWidget window;
    auto* label = new TZebRotateLabel(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(label->internalWinId(), WId(0));
}

TEST(RotateLabel, EscapementFollowsEveryAngle)
{
    TZebRotateLabel label;
    for (int i = 7; i >= 0; --i) {
        const auto angle = static_cast<TZebRotateLabel::TAngleChoice>(i);
        label.setAngle(angle);
        EXPECT_EQ(label.angle(), angle);
        EXPECT_EQ(label.escapement(), 450 * i);
    }
}

TEST_P(RotateLabelAnchor, FollowsThePlacementTable)
{
    const AnchorCase& c = GetParam();
    EXPECT_EQ(TZebRotateLabel::captionAnchor(c.angle, c.w, c.h, c.tw, c.th), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RotateLabelAnchor,
    ::testing::Values(
        // W - tw = -37 truncates to -18, not -19.
        AnchorCase{TZebRotateLabel::ag0, 18, 90, 55, 14, {-18, 38}},
        AnchorCase{TZebRotateLabel::ag0, 90, 90, 40, 14, {25, 38}},
        AnchorCase{TZebRotateLabel::ag45, 90, 90, 40, 14, {4, 76}},
        // The worked example of the main window's side captions.
        AnchorCase{TZebRotateLabel::ag90, 17, 90, 55, 14, {1, 73}},
        AnchorCase{TZebRotateLabel::ag90, 17, 40, 55, 14, {1, 47}},
        AnchorCase{TZebRotateLabel::ag135, 90, 90, 40, 14, {76, 86}},
        AnchorCase{TZebRotateLabel::ag180, 90, 90, 40, 14, {65, 52}},
        AnchorCase{TZebRotateLabel::ag180, 18, 90, 55, 14, {36, 52}},
        AnchorCase{TZebRotateLabel::ag225, 90, 90, 40, 14, {86, 14}},
        AnchorCase{TZebRotateLabel::ag270, 17, 90, 55, 14, {15, 17}},
        AnchorCase{TZebRotateLabel::ag270, 17, 40, 55, 14, {15, -7}},
        AnchorCase{TZebRotateLabel::ag315, 90, 90, 40, 14, {14, 4}}),
    [](const auto& info) {
        return "Degrees" + std::to_string(45 * static_cast<int>(info.param.angle)) + "Case" + std::to_string(info.index);
    });

TEST(RotateLabel, SideCaptionInkLiesInThePredictedCell)
{
    TZebRotateLabel label;
    prepareBlackOnWhite(label);
    label.setGeometry(0, 0, 17, 90);
    label.setAngle(TZebRotateLabel::ag90);
    label.setCaption(QStringLiteral("<-- Index 1"));
    const QFontMetrics metrics(label.font());
    const int tw = metrics.horizontalAdvance(label.caption());
    const int th = metrics.height();
    const QPoint anchor = TZebRotateLabel::captionAnchor(TZebRotateLabel::ag90, 17, 90, tw, th);

    const QImage image = render(label);
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isInk(image.pixel(x, y))) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    // Turned 90 degrees the cell spans x from the anchor by th, y up from it by tw.
    ASSERT_GE(maxX, 0) << "nothing drawn";
    EXPECT_GE(minX, anchor.x());
    EXPECT_LE(maxX, anchor.x() + th);
    EXPECT_GE(minY, anchor.y() - tw);
    EXPECT_LE(maxY, anchor.y());
    EXPECT_GT(maxY - minY, tw * 3 / 4); // the text runs vertically
    EXPECT_LT(maxX - minX, th);
}

TEST_P(RotateLabelAngle, InkLiesInTheTurnedCell)
{
    TZebRotateLabel label;
    prepareBlackOnWhite(label);
    label.setGeometry(0, 0, 120, 120);
    label.setAngle(GetParam());
    label.setCaption(QStringLiteral("Kelvox"));
    const QFontMetrics metrics(label.font());
    const int tw = metrics.horizontalAdvance(label.caption());
    const int th = metrics.height();
    const QPoint anchor = TZebRotateLabel::captionAnchor(GetParam(), 120, 120, tw, th);

    const TextFrame ink = inkInTextFrame(render(label), anchor, label.escapement());
    ASSERT_GT(ink.inked, 0);
    EXPECT_GE(ink.minU, -Tolerance);
    EXPECT_LE(ink.maxU, tw + Tolerance);
    EXPECT_GE(ink.minV, -Tolerance);
    EXPECT_LE(ink.maxV, th + Tolerance);
    EXPECT_GT(ink.maxU - ink.minU, tw * 3 / 4.0); // it runs along the turned direction
}

INSTANTIATE_TEST_SUITE_P(AllAngles, RotateLabelAngle,
                         ::testing::Values(TZebRotateLabel::ag0, TZebRotateLabel::ag45, TZebRotateLabel::ag90,
                                           TZebRotateLabel::ag135, TZebRotateLabel::ag180, TZebRotateLabel::ag225,
                                           TZebRotateLabel::ag270, TZebRotateLabel::ag315),
                         [](const ::testing::TestParamInfo<TZebRotateLabel::TAngleChoice>& info) {
                             return "Degrees" + std::to_string(45 * static_cast<int>(info.param));
                         });

TEST(RotateLabel, AmpersandsAreDrawnAndLineBreaksStayOnOneLine)
{
    TZebRotateLabel label;
    prepareBlackOnWhite(label);
    label.setGeometry(0, 0, 200, 60);
    label.setAngle(TZebRotateLabel::ag0);
    const QFontMetrics metrics(label.font());

    label.setCaption(QStringLiteral("&&&&"));
    QPoint anchor = TZebRotateLabel::captionAnchor(TZebRotateLabel::ag0, 200, 60,
                                                   metrics.horizontalAdvance(label.caption()), metrics.height());
    TextFrame ink = inkInTextFrame(render(label), anchor, 0);
    // Read as accelerators, four ampersands would show as two.
    EXPECT_GT(ink.maxU - ink.minU, metrics.horizontalAdvance(QStringLiteral("&&&")));

    label.setCaption(QStringLiteral("top\nbottom"));
    anchor = TZebRotateLabel::captionAnchor(TZebRotateLabel::ag0, 200, 60,
                                            metrics.horizontalAdvance(label.caption()), metrics.height());
    ink = inkInTextFrame(render(label), anchor, 0);
    ASSERT_GT(ink.inked, 0);
    EXPECT_GE(ink.minV, -Tolerance);
    EXPECT_LE(ink.maxV, metrics.height() + Tolerance);
    EXPECT_GT(ink.maxU - ink.minU, metrics.horizontalAdvance(QStringLiteral("bottom")));
}

TEST(RotateLabel, EmptyCaptionStillFillsAnOpaqueLabel)
{
    TZebRotateLabel label;
    label.setColor(QColor(0, 128, 0));
    const QImage image = render(label);
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 128, 0));
    EXPECT_EQ(image.pixelColor(89, 89), QColor(0, 128, 0));
}

TEST(RotateLabel, BackgroundFollowsTransparentColorAndParentColor)
{
    // The parent paints blue over a background role that is red.
    class Backdrop : public QWidget
    {
    protected:
        void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::blue); }
    };
    Backdrop parent;
    parent.resize(100, 100);
    QPalette red = parent.palette();
    red.setColor(QPalette::Window, Qt::red);
    parent.setPalette(red);
    auto* label = new TZebRotateLabel(&parent);
    const auto centre = [&] { return parent.grab().toImage().pixelColor(45, 45); };

    EXPECT_EQ(centre(), QColor(Qt::red)); // opaque, in the parent's colour
    label->setTransparent(true);
    EXPECT_EQ(centre(), QColor(Qt::blue)); // the parent shows through
    label->setColor(Qt::green);
    EXPECT_FALSE(label->parentColor());
    EXPECT_EQ(centre(), QColor(Qt::blue));
    label->setTransparent(false);
    EXPECT_EQ(centre(), QColor(Qt::green));
    label->setParentColor(true);
    EXPECT_EQ(centre(), QColor(Qt::red));
}

TEST(RotateLabel, DisabledCaptionIsEmbossed)
{
    TZebRotateLabel label;
    prepareBlackOnWhite(label);
    label.setGeometry(0, 0, 40, 120);
    label.setAngle(TZebRotateLabel::ag90);
    label.setCaption(QStringLiteral("Disabled"));
    QPalette palette = label.palette();
    palette.setColor(QPalette::Light, QColor(255, 255, 0));
    palette.setColor(QPalette::Dark, QColor(0, 0, 255));
    label.setPalette(palette);
    label.setEnabled(false);

    const QImage image = render(label);
    QRect light, dark;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == QColor(255, 255, 0)) {
                light |= QRect(x, y, 1, 1);
            } else if (c == QColor(0, 0, 255)) {
                dark |= QRect(x, y, 1, 1);
            } else {
                EXPECT_EQ(c, QColor(Qt::white)) << x << "," << y;
            }
        }
    }
    ASSERT_FALSE(dark.isEmpty());
    ASSERT_FALSE(light.isEmpty());
    // The light copy lies one pixel right and down; the dark copy covers the rest.
    EXPECT_EQ(light.right(), dark.right() + 1);
    EXPECT_EQ(light.bottom(), dark.bottom() + 1);
    EXPECT_GE(light.left(), dark.left());
    EXPECT_GE(light.top(), dark.top());
}

TEST_F(RotateLabelRepaint, SettingTheCurrentValueRepaintsNothing)
{
    EXPECT_EQ(paintsAfter([&] { m_label->setAngle(m_label->angle()); }), 0);
    EXPECT_EQ(paintsAfter([&] { m_label->setCaption(m_label->caption()); }), 0);
    EXPECT_EQ(paintsAfter([&] { m_label->setTransparent(m_label->transparent()); }), 0);
    EXPECT_EQ(paintsAfter([&] { m_label->setParentColor(true); }), 0);
}

TEST_F(RotateLabelRepaint, EachListedChangeRepaintsOnce)
{
    EXPECT_EQ(paintsAfter([&] { m_label->setAngle(TZebRotateLabel::ag270); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setCaption(QStringLiteral("Other")); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setTransparent(true); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setTransparent(false); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setColor(Qt::yellow); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setFontColor(Qt::blue); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setFont(captionFont()); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setEnabled(false); }), 1);
    EXPECT_EQ(paintsAfter([&] { m_label->setParentColor(true); }), 1);
    EXPECT_EQ(paintsAfter([&] {
                  QPalette palette = m_window.palette();
                  palette.setColor(QPalette::Window, Qt::darkCyan);
                  m_window.setPalette(palette);
              }),
              1);
}

TEST_F(RotateLabelRepaint, HidingAndShowingAddNoPaintOfTheirOwn)
{
    EXPECT_EQ(paintsAfter([&] { m_label->hide(); }), 0);
    EXPECT_LE(paintsAfter([&] { m_label->show(); }), 1);
}
