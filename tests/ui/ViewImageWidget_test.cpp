#include "ui/ViewImageWidget.h"

#include "ui/ViewBorder.h"

#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

namespace {

void sendMove(QWidget* target, QPointF pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, target->mapToGlobal(pos), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

TEST(ViewImageWidget, GivesRowsOfTheRequestedBitmap)
{
    ViewImageWidget widget;
    widget.setSize24(3, 2);
    ASSERT_EQ(widget.image().size(), QSize(3, 2));
    const std::uint8_t red[9] = {255, 0, 0, 0, 255, 255, 10, 20, 30};
    std::memcpy(widget.rowPointer(1), red, sizeof red);
    EXPECT_EQ(widget.image().pixelColor(0, 1), QColor(255, 0, 0));
    EXPECT_EQ(widget.image().pixelColor(1, 1), QColor(0, 255, 255));
    EXPECT_EQ(widget.image().pixelColor(2, 1), QColor(10, 20, 30));
}

TEST(ViewImageWidget, EmptyViewHasNoBitmap)
{
    ViewImageWidget widget;
    widget.setSize24(4, 4);
    widget.setSize24(0, 4);
    EXPECT_TRUE(widget.image().isNull());
    widget.setSize24(4, 0);
    EXPECT_TRUE(widget.image().isNull());
}

TEST(ViewImageWidget, PaintsTheBitmapOnePixelPerVoxel)
{
    ViewImageWidget widget;
    widget.resize(2, 2);
    widget.setSize24(2, 2);
    const std::uint8_t rows[2][6] = {{1, 2, 3, 200, 100, 50}, {0, 0, 255, 9, 9, 9}};
    std::memcpy(widget.rowPointer(0), rows[0], 6);
    std::memcpy(widget.rowPointer(1), rows[1], 6);
    const QImage shown = widget.grab().toImage();
    EXPECT_EQ(shown.pixelColor(1, 0), QColor(200, 100, 50));
    EXPECT_EQ(shown.pixelColor(0, 1), QColor(0, 0, 255));
}

// A repaint inside a shown window writes the pixels into the window's
// backing store at the widget's place, and only inside the widget's visible
// part: a sibling on top and the area outside the parent stay untouched.
TEST(ViewImageWidget, RepaintPutsTheBitmapIntoTheWindowAtItsPlace)
{
    QWidget window;
    window.resize(60, 40);
    auto* clip = new QWidget(&window);
    clip->setGeometry(5, 3, 30, 20);
    auto* widget = new ViewImageWidget(clip);
    widget->setGeometry(2, 1, 40, 25); // reaches beyond its parent
    auto* cover = new QWidget(clip);
    cover->setGeometry(10, 10, 4, 4);
    cover->setAutoFillBackground(true);
    QPalette palette = cover->palette();
    palette.setColor(QPalette::Window, QColor(7, 8, 9));
    cover->setPalette(palette);
    window.show();
    QApplication::processEvents();

    widget->setSize24(40, 25);
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 40; ++x) {
            std::uint8_t* p = widget->rowPointer(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = 200;
        }
    }
    widget->repaintNow();
    auto* store = dynamic_cast<QImage*>(window.backingStore()->paintDevice());
    ASSERT_NE(store, nullptr);
    const QImage shown = store->copy();
    EXPECT_EQ(shown.pixelColor(7, 4), QColor(0, 0, 200));
    EXPECT_EQ(shown.pixelColor(7 + 20, 4 + 15), QColor(20, 15, 200));
    EXPECT_EQ(shown.pixelColor(5 + 29, 3 + 19), QColor(27, 18, 200)); // last visible pixel
    EXPECT_EQ(shown.pixelColor(5 + 11, 3 + 11), QColor(7, 8, 9));      // under the sibling
    EXPECT_NE(shown.pixelColor(5 + 30, 3 + 5), QColor(28, 4, 200));     // clipped by the parent
    EXPECT_NE(shown.pixelColor(5 + 5, 3 + 20), QColor(3, 19, 200));
}

TEST(ViewImageWidget, ReportsMovesInsideOnly)
{
    ViewImageWidget widget;
    widget.resize(10, 5);
    QSignalSpy moved(&widget, &ViewImageWidget::mouseMoved);
    sendMove(&widget, {3, 4});
    sendMove(&widget, {10, 2}); // one past the right edge, as during a drag
    sendMove(&widget, {-1, 2});
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).toInt(), 3);
    EXPECT_EQ(moved.at(0).at(1).toInt(), 4);
}

TEST(ViewImageWidget, FractionalPositionsReportThePixelTheyLieIn)
{
    ViewImageWidget widget;
    widget.resize(10, 5);
    QSignalSpy moved(&widget, &ViewImageWidget::mouseMoved);
    // (position, reported pixel) under scale factors such as 1.5.
    const std::pair<QPointF, QPoint> cases[] = {
        {{2.5, 3.0}, {2, 3}},    {{2.99, 3.75}, {2, 3}}, {{0.0, 0.0}, {0, 0}},
        {{0.66, 0.33}, {0, 0}},  {{9.99, 4.99}, {9, 4}}, {{3.0, 1.5}, {3, 1}},
    };
    for (const auto& [position, pixel] : cases) {
        moved.clear();
        sendMove(&widget, position);
        ASSERT_EQ(moved.count(), 1) << position.x() << "," << position.y();
        EXPECT_EQ(QPoint(moved.at(0).at(0).toInt(), moved.at(0).at(1).toInt()), pixel)
            << position.x() << "," << position.y();
    }
    // Just left of or above the first pixel lies outside.
    moved.clear();
    sendMove(&widget, {-0.25, 2.0});
    sendMove(&widget, {2.0, -0.5});
    EXPECT_EQ(moved.count(), 0);
}

TEST(ViewBorder, DrawsATwoPixelBlueOutlineWithoutFill)
{
    QWidget background;
    background.setAutoFillBackground(true);
    QPalette palette = background.palette();
    palette.setColor(QPalette::Window, Qt::white);
    background.setPalette(palette);
    background.resize(20, 20);
    auto* border = new ViewBorder(&background);
    border->setGeometry(0, 0, 20, 20);
    const QImage shown = background.grab().toImage();
    const QColor blue(0, 0, 255);
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 10), QPoint(18, 5), QPoint(19, 19), QPoint(10, 18)}) {
        EXPECT_EQ(shown.pixelColor(p), blue) << p.x() << "," << p.y();
    }
    for (const QPoint p : {QPoint(2, 2), QPoint(10, 10), QPoint(17, 17)}) {
        EXPECT_EQ(shown.pixelColor(p), QColor(Qt::white)) << p.x() << "," << p.y();
    }
    EXPECT_TRUE(border->testAttribute(Qt::WA_TransparentForMouseEvents));
}

} // namespace
