#include "ui/EdgeAnchors.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct AnchorCase
{
    const char* anchors;
    QRect after; // of a control at 10, 20, 30 x 40 in a 100 x 200 parent grown to 150 x 260
};

class EdgeAnchorsResize : public ::testing::TestWithParam<AnchorCase>
{
};

TEST_P(EdgeAnchorsResize, KeepsTheDistanceToAnchoredEdges)
{
    QWidget parent;
    parent.resize(100, 200);
    auto* control = new QWidget(&parent);
    control->setGeometry(10, 20, 30, 40);
    control->setProperty("anchors", QString::fromLatin1(GetParam().anchors));
    EdgeAnchors anchors;
    anchors.addFromProperties(&parent);

    parent.resize(150, 260);
    anchors.apply(&parent); // hidden parents get their resize event only when shown
    EXPECT_EQ(control->geometry(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, EdgeAnchorsResize,
    ::testing::Values(AnchorCase{"left|top", {10, 20, 30, 40}},
                      AnchorCase{"left|bottom", {10, 80, 30, 40}},
                      AnchorCase{"right|bottom", {60, 80, 30, 40}},
                      AnchorCase{"left|top|right", {10, 20, 80, 40}},
                      AnchorCase{"Top | Bottom", {10, 20, 30, 100}}));

TEST(EdgeAnchors, FollowsResizeEventsOfAShownParent)
{
    QWidget parent;
    parent.resize(100, 200);
    auto* control = new QWidget(&parent);
    control->setGeometry(10, 150, 30, 20);
    EdgeAnchors anchors;
    anchors.setAnchors(control, Qt::LeftEdge | Qt::BottomEdge);
    parent.show();
    parent.resize(100, 120);
    EXPECT_EQ(control->pos(), QPoint(10, 70));
}

TEST(EdgeAnchors, ReanchoringMeasuresFromThePresentPlace)
{
    QWidget parent;
    parent.resize(100, 200);
    auto* control = new QWidget(&parent);
    control->setGeometry(8, 180, 30, 17);
    EdgeAnchors anchors;
    anchors.setAnchors(control, Qt::LeftEdge | Qt::BottomEdge);

    // Moved to the top and anchored there: the bottom edge no longer counts.
    control->move(27, 77);
    anchors.setAnchors(control, Qt::LeftEdge | Qt::TopEdge);
    parent.resize(100, 400);
    anchors.apply(&parent);
    EXPECT_EQ(control->pos(), QPoint(27, 77));

    control->move(8, 380);
    anchors.setAnchors(control, Qt::LeftEdge | Qt::BottomEdge);
    parent.resize(100, 300);
    anchors.apply(&parent);
    EXPECT_EQ(control->pos(), QPoint(8, 280));
}

TEST(EdgeAnchors, IgnoresControlsDestroyedMeanwhile)
{
    QWidget parent;
    parent.resize(100, 100);
    auto gone = std::make_unique<QWidget>(&parent);
    auto* kept = new QWidget(&parent);
    kept->setGeometry(50, 50, 10, 10);
    EdgeAnchors anchors;
    anchors.setAnchors(gone.get(), Qt::RightEdge | Qt::BottomEdge);
    anchors.setAnchors(kept, Qt::RightEdge | Qt::BottomEdge);
    gone.reset(); // a control going away before its container
    parent.resize(80, 90);
    anchors.apply(&parent); // under AddressSanitizer a stale entry would show here
    EXPECT_EQ(kept->pos(), QPoint(30, 40));
}

} // namespace
