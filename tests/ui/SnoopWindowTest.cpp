#include "ui/SnoopWindow.h"

#include <gtest/gtest.h>

namespace voryx {
namespace {

TEST(SnoopWindowTest, DoubleTapsOnTheListPostByBandAndAreSwallowedOtherTouchesPassOn) {
  kit::NotificationCenter center;
  std::string posted;  // the names heard, one after the other
  for (const char* name : {"DoubleTapTop", "DoubleTapMiddle", "DoubleTapBottom"}) {
    center.addObserver(&posted, name, [&](const kit::Notification& n) { posted += n.name; });
  }
  SnoopWindow window{center};
  kit::View navigationView, elsewhere;
  kit::View rowInside{&navigationView};
  window.setListView(&navigationView);
  struct Case { double x; int tapCount; const kit::View* view; std::string_view posts; };  // "": passed on
  const Case kTouches[] = {
      {0, 2, &rowInside, "DoubleTapTop"},        {129.5, 2, &rowInside, "DoubleTapTop"},
      {130, 2, &rowInside, "DoubleTapMiddle"},   {190, 2, &rowInside, "DoubleTapMiddle"},
      {190.5, 2, &rowInside, "DoubleTapBottom"}, {319, 2, &rowInside, "DoubleTapBottom"},
      {150, 1, &navigationView, ""}, {150, 3, &navigationView, ""}, {150, 0, &rowInside, ""},
      {150, 2, nullptr, ""},         {150, 2, &elsewhere, ""},
  };
  for (const auto& c : kTouches) {
    SCOPED_TRACE(testing::Message() << c.x << " x" << c.tapCount);
    posted.clear();
    EXPECT_EQ(window.sendEvent({c.x, 10, c.tapCount, c.view}), !c.posts.empty());
    EXPECT_EQ(posted, c.posts);
  }
  window.setListView(nullptr);  // no list: nothing is caught
  EXPECT_FALSE(window.sendEvent({150, 10, 2, &navigationView}));
  EXPECT_TRUE(posted.empty());
}

}  // namespace
}  // namespace voryx
