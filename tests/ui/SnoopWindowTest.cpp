#include "ui/SnoopWindow.h"

#include <gtest/gtest.h>

#include "ui/GradientView.h"

namespace voryx {
namespace {

class SnoopWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"DoubleTapTop", "DoubleTapMiddle", "DoubleTapBottom"}) {
      center.addObserver(this, name, [this](const kit::Notification& n) { posted.push_back(n.name); });
    }
  }
  kit::NotificationCenter center;
  SnoopWindow window{center};
  kit::View navigationView;
  kit::View rowInside{&navigationView};
  std::vector<std::string> posted;
};

TEST_F(SnoopWindowTest, DoubleTapsOnTheListPostByBandAndAreSwallowed) {
  window.setListView(&navigationView);
  struct Case {
    double x;
    const char* name;
  };
  const Case kBands[] = {{0, "DoubleTapTop"},      {129.5, "DoubleTapTop"},
                         {130, "DoubleTapMiddle"}, {190, "DoubleTapMiddle"},
                         {190.5, "DoubleTapBottom"}, {319, "DoubleTapBottom"}};
  for (const auto& c : kBands) {
    SCOPED_TRACE(c.x);
    posted.clear();
    EXPECT_TRUE(window.sendEvent({c.x, 10, 2, &rowInside}));
    EXPECT_EQ(posted, std::vector<std::string>{c.name});
  }
}

TEST_F(SnoopWindowTest, OtherTouchesPassOnWithoutPosting) {
  window.setListView(&navigationView);
  kit::View elsewhere;
  struct Case {
    int tapCount;
    const kit::View* view;
  };
  const Case kPassing[] = {{1, &navigationView}, {3, &navigationView}, {0, &rowInside},
                           {2, nullptr}, {2, &elsewhere}};
  for (const auto& c : kPassing) {
    EXPECT_FALSE(window.sendEvent({150, 10, c.tapCount, c.view}));
  }
  window.setListView(nullptr);
  EXPECT_FALSE(window.sendEvent({150, 10, 2, &navigationView}));
  EXPECT_TRUE(posted.empty());
}

TEST(GradientViewTest, StartsGrayAndSwitchesSets) {
  GradientView view;
  EXPECT_EQ(view.colors().name, "gray");
  EXPECT_EQ(view.colors().colors.size(), 4u);
  view.red();
  EXPECT_EQ(view.colors().name, "red");
  ASSERT_EQ(view.colors().colors.size(), 3u);
  EXPECT_DOUBLE_EQ(view.colors().colors[1].r, 0.8);
  auto table = GradientView::table();
  EXPECT_EQ(table.size(), 4u);
  EXPECT_EQ(table["cyan"][1], nlohmann::json({0, 0.8, 0.5, 1}));
  EXPECT_EQ(table["gray"][0], nlohmann::json({0.35, 0.35, 0.35, 1}));
}

}  // namespace
}  // namespace voryx
