// The how-to screen as the page drives it: the address its frame loads, and what the
// reports of the frame's loads do to the network activity indicator and the alerts.
#include <gtest/gtest.h>

#include <fstream>

#include "ui/About.h"
#include "ui/Screens.h"

namespace voryx {
namespace {

struct HowTo {
  explicit HowTo(const TempHome& home) : table(home), ui(home.paths) {}
  // A report of the page about the frame's load `seq`, made against no snapshot at all.
  int report(const std::string& action, json value) {
    ui.waitIdle();
    auto result = ui.ui.port().dispatch({{"version", 0}, {"target", "frame:97"}, {"action", action}, {"value", value}});
    ui.waitIdle();
    return result.status;
  }
  bool indicator() { return ui.snapshot()["window"]["networkActivity"]; }

  test::EnglishTexts table;  // for the alert
  UiHarness ui;
};

void setHowtoAddress(const TempHome& home, const std::string& address) {
  std::filesystem::create_directories(home.paths.preferences.parent_path());
  std::ofstream(home.paths.preferences) << json{{kPrefHowtoAddress, address}}.dump();
}

TEST(AboutTest, HowToPushesANewScreenWithTheFrameOnTheAddress) {
  struct Case { std::optional<std::string> setting; std::string url; };
  const Case kCases[] = {
      {std::nullopt, "/howto/"}, {"", "/howto/"}, {"http://127.0.0.1:9/", "http://127.0.0.1:9/"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.setting.value_or("(none)"));
    TempHome home;
    if (c.setting) setHowtoAddress(home, *c.setting);
    HowTo h(home);
    std::uint64_t lastSeq = 0;
    for (int time = 0; time < 2; ++time) {  // a new screen each time, with a load of its own
      ASSERT_EQ(h.ui.tap("howto").status, 200);
      auto screen = h.ui.screen();
      EXPECT_EQ(screen["screen"], "About");
      EXPECT_EQ(screen["title"], "How to");
      const json& frame = screen["frame"];
      EXPECT_EQ(frame, json({{"tag", 97}, {"url", c.url}, {"seq", frame["seq"]}, {"transparent", true}}));
      EXPECT_GT(frame["seq"].get<std::uint64_t>(), lastSeq);
      lastSeq = frame["seq"];
      EXPECT_FALSE(h.indicator());  // on once the page reports the start
      ASSERT_EQ(h.ui.tap("back").status, 200);
    }
  }
}

// Each row: the reports of one load in order (code 0: none), then the indicator and the
// alert's title ("" none) they leave.
TEST(AboutTest, LoadReportsDriveTheIndicatorAndOneAlert) {
  struct Report { const char* action; int code; };
  struct Case { const char* name; std::vector<Report> reports; bool indicator; const char* alert; };
  const Case kCases[] = {
      {"start", {{"start", 0}}, true, ""},
      {"finish", {{"start", 0}, {"finish", 0}}, false, ""},
      {"refused", {{"start", 0}, {"fail", -1004}}, false, "Network error"},
      {"timed out", {{"start", 0}, {"fail", -1001}}, false, "Network error"},
      {"cancelled", {{"start", 0}, {"fail", -999}}, true, ""},
      {"link followed", {{"start", 0}, {"finish", 0}, {"start", 0}}, true, ""},
      {"link cut short by another", {{"start", 0}, {"fail", -999}, {"start", 0}, {"finish", 0}}, false, ""},
      {"link followed under the alert", {{"start", 0}, {"fail", -1004}, {"start", 0}}, true, "Network error"},
      {"an end with no start", {{"finish", 0}, {"fail", -1004}}, false, ""},
  };
  TempHome home;
  HowTo h(home);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(h.ui.tap("howto").status, 200);
    const json seq = h.ui.screen()["frame"]["seq"];
    for (const auto& r : c.reports) {
      json value{{"seq", seq}};
      if (r.code) value["code"] = r.code;
      EXPECT_EQ(h.report(r.action, value), 200) << r.action;
    }
    EXPECT_EQ(h.indicator(), c.indicator);
    auto alerts = h.ui.snapshot()["alerts"];
    if (*c.alert) {
      ASSERT_EQ(alerts.size(), 1u);
      const json alert = h.ui.answer("Ok");
      EXPECT_EQ(alert["title"], c.alert);
      EXPECT_EQ(alert["message"], "The page could not be loaded. Check your network connection.");
    } else {
      EXPECT_TRUE(alerts.empty());
    }
    EXPECT_EQ(h.ui.screen()["screen"], "About");  // a failed load leaves the screen as it is
    ASSERT_EQ(h.ui.tap("back").status, 200);
    EXPECT_FALSE(h.indicator());
  }
}

TEST(AboutTest, ReportsOfAnotherLoadOrOfAGoneScreenChangeNothing) {
  TempHome home;
  HowTo h(home);
  ASSERT_EQ(h.ui.tap("howto").status, 200);
  const auto seq = h.ui.screen()["frame"]["seq"].get<std::uint64_t>();
  // status: the answer; malformed reports are 400, another load's 409.
  struct Case { const char* action; json value; int status; };
  const Case kCases[] = {
      {"start", {{"seq", seq - 1}}, 409},        {"start", {{"seq", "1"}}, 400},
      {"fail", {{"seq", seq}}, 400},             {"fail", {{"seq", seq}, {"code", 4294967295u}}, 400},
      {"stop", {{"seq", seq}}, 400},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.action + (" " + c.value.dump()));
    EXPECT_EQ(h.report(c.action, c.value), c.status);
    EXPECT_FALSE(h.indicator());
  }
  // Back while loading: the screen goes, the indicator goes off, its last report is lost.
  ASSERT_EQ(h.report("start", {{"seq", seq}}), 200);
  EXPECT_TRUE(h.indicator());
  ASSERT_EQ(h.ui.tap("back").status, 200);
  EXPECT_FALSE(h.indicator());
  EXPECT_NE(h.report("fail", {{"seq", seq}, {"code", -1004}}), 200);
  EXPECT_TRUE(h.ui.snapshot()["alerts"].empty());
  EXPECT_EQ(h.ui.screen()["screen"], "RootViewController");
}

}  // namespace
}  // namespace voryx
