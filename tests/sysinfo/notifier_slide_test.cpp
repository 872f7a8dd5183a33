// Geometry of the notifier's slide: which edge the taskbar is on, where the popup starts and rests, and
// the steps in between.
#include <gtest/gtest.h>

#include "taskbar_notifier.h"

namespace {

using vd::TaskbarEdge;

constexpr SIZE kScreen{1024, 768};

TEST(NotifierSlide, TaskbarEdgeIsJudgedFromTheWorkArea) {
  struct Row {
    RECT work;
    TaskbarEdge edge;
  } rows[] = {
      {{0, 0, 1024, 738}, TaskbarEdge::Bottom},
      {{0, 30, 1024, 768}, TaskbarEdge::Top},
      {{0, 0, 960, 768}, TaskbarEdge::Right},
      {{64, 0, 1024, 768}, TaskbarEdge::Left},
      {{0, 0, 1024, 768}, TaskbarEdge::Bottom},  // no taskbar at all
      // Narrower wins over lower: the sideways tests come first.
      {{0, 30, 960, 768}, TaskbarEdge::Right},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(vd::DetectTaskbarEdge(r.work, kScreen), r.edge) << r.work.left << "," << r.work.top;
  }
}

struct EdgeCase {
  TaskbarEdge edge;
  RECT work;
  int steps;
  UINT showDelay;
  POINT start;
  POINT shown;
  POINT motion;  // pixels per appearing step
};

// A 200 x 100 skin, 2 pixels per step, 500 ms to show and 250 ms to hide.
const EdgeCase kEdges[] = {
    {TaskbarEdge::Bottom, {0, 0, 1024, 738}, 50, 10, {824, 738}, {824, 638}, {0, -2}},
    {TaskbarEdge::Top, {0, 30, 1024, 768}, 50, 10, {824, -70}, {824, 30}, {0, 2}},
    {TaskbarEdge::Right, {0, 0, 960, 768}, 100, 5, {960, 668}, {760, 668}, {-2, 0}},
    {TaskbarEdge::Left, {64, 0, 1024, 768}, 100, 5, {-136, 668}, {64, 668}, {2, 0}},
};

TEST(NotifierSlide, TwoHundredByHundredSkinOnEachEdge) {
  const SIZE skin{200, 100};
  for (const EdgeCase& c : kEdges) {
    SCOPED_TRACE(static_cast<int>(c.edge));
    ASSERT_EQ(vd::DetectTaskbarEdge(c.work, kScreen), c.edge);
    const vd::SlidePlan plan = vd::PlanSlide(c.edge, c.work, skin, 2, 500, 250);
    EXPECT_EQ(plan.steps, c.steps);
    EXPECT_EQ(plan.showDelay, c.showDelay);
    EXPECT_EQ(plan.hideDelay, c.showDelay / 2);
    EXPECT_EQ(plan.start.x, c.start.x);
    EXPECT_EQ(plan.start.y, c.start.y);
    EXPECT_EQ(plan.shown.x, c.shown.x);
    EXPECT_EQ(plan.shown.y, c.shown.y);

    POINT cur = plan.start;
    int moves = 0;
    for (POINT before = cur; vd::AppearStep(c.edge, plan.start, skin, 2, cur); before = cur) {
      ASSERT_EQ(cur.x - before.x, c.motion.x) << "step " << moves;
      ASSERT_EQ(cur.y - before.y, c.motion.y) << "step " << moves;
      ASSERT_LE(++moves, plan.steps);
    }
    EXPECT_EQ(moves, plan.steps);
    EXPECT_EQ(cur.x, plan.shown.x);
    EXPECT_EQ(cur.y, plan.shown.y);

    moves = 0;
    for (POINT before = cur; vd::DisappearStep(c.edge, plan.start, 2, cur); before = cur) {
      ASSERT_EQ(cur.x - before.x, -c.motion.x);
      ASSERT_EQ(cur.y - before.y, -c.motion.y);
      ASSERT_LE(++moves, plan.steps);
    }
    EXPECT_EQ(moves, plan.steps);
    EXPECT_EQ(cur.x, plan.start.x);
    EXPECT_EQ(cur.y, plan.start.y);
  }
}

TEST(NotifierSlide, SkinThatIsNotWholeStepsStopsExactlyAtTheEdge) {
  const SIZE skin{201, 101};
  for (const EdgeCase& c : kEdges) {
    SCOPED_TRACE(static_cast<int>(c.edge));
    const vd::SlidePlan plan = vd::PlanSlide(c.edge, c.work, skin, 2, 500, 500);
    POINT cur = plan.start;
    int guard = 0;
    while (vd::AppearStep(c.edge, plan.start, skin, 2, cur)) ASSERT_LT(++guard, 200);
    EXPECT_EQ(cur.x, plan.shown.x);
    EXPECT_EQ(cur.y, plan.shown.y);
    while (vd::DisappearStep(c.edge, plan.start, 2, cur)) ASSERT_LT(++guard, 400);
    EXPECT_EQ(cur.x, plan.start.x);
    EXPECT_EQ(cur.y, plan.start.y);
  }
}

TEST(NotifierSlide, SkinSmallerThanOneStepDoesNotDivideByZero) {
  const vd::SlidePlan plan = vd::PlanSlide(TaskbarEdge::Bottom, {0, 0, 1024, 738}, {1, 1}, 2, 500, 300);
  EXPECT_EQ(plan.steps, 0);
  EXPECT_EQ(plan.showDelay, 500u);
  EXPECT_EQ(plan.hideDelay, 300u);
  POINT cur = plan.start;
  EXPECT_TRUE(vd::AppearStep(TaskbarEdge::Bottom, plan.start, {1, 1}, 2, cur));
  EXPECT_EQ(cur.y, plan.shown.y);
  EXPECT_FALSE(vd::AppearStep(TaskbarEdge::Bottom, plan.start, {1, 1}, 2, cur));
}

}  // namespace
