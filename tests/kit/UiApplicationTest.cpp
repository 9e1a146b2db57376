#include "ui/kit/UiApplication.h"

#include <gtest/gtest.h>

#include <thread>

namespace voryx::kit {
namespace {

using nlohmann::json;

// A screen with one button and both delegate roles, recording what it hears.
class ProbeScreen : public Screen, public AlertDelegate, public ActionSheetDelegate {
 public:
  explicit ProbeScreen(std::string title) : Screen("Probe") {
    setTitle(std::move(title));
    setToolbarItems({&go});
  }
  void viewDidLoad() override { ++loads; }
  void viewDidAppear() override { ++appearances; }
  void alertViewClickedButtonAtIndex(const Alert& a, int index) override {
    heard.push_back("alert " + a.title + " " + std::to_string(index) + (a.textField ? " [" + a.textField->text + "]" : ""));
  }
  void actionSheetClickedButtonAtIndex(const ActionSheet& s, int index) override {
    heard.push_back("sheet " + s.title + " " + std::to_string(index));
  }

  BarButton go{"go", "Go", true, [this] { ++taps; }};
  int taps = 0, loads = 0, appearances = 0;
  std::vector<std::string> heard;
};

class UiApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = std::thread([this] { app.loop().run(); });
    root = show("Root", &NavigationController::setRoot);
  }
  void TearDown() override {
    app.loop().stop();
    main_.join();
  }
  template <class F>
  void onMain(F fn) {
    app.loop().performOnMain(fn, true);
    app.loop().waitUntilIdle();
  }
  // A new probe screen, made and placed (setRoot, push or present) on the main loop.
  ProbeScreen* show(const char* title, void (NavigationController::*place)(std::unique_ptr<Screen>)) {
    ProbeScreen* screen = nullptr;
    onMain([&] {
      auto s = std::make_unique<ProbeScreen>(title);
      screen = s.get();
      (app.navigation().*place)(std::move(s));
    });
    return screen;
  }
  // The status of a tap on `target` at the current version.
  int tap(const std::string& target, json value = nullptr) {
    return app.dispatch({{"version", app.version()}, {"target", target}, {"action", "tap"}, {"value", value}}).status;
  }

  UiApplication app;
  ProbeScreen* root = nullptr;
  std::thread main_;
};

TEST_F(UiApplicationTest, PublishesOneVersionPerBurstOfChangesAndNoneWithoutChange) {
  auto v = app.version();
  onMain([&] {
    root->setTitle("A");
    root->setTitle("B");
    app.setIdleTimerDisabled(true);
  });
  auto snap = app.snapshot();
  EXPECT_EQ(snap["version"], v + 1);
  EXPECT_EQ(snap["navigation"][0]["title"], "B");
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], true);
  onMain([&] { root->setTitle("B"); });
  EXPECT_EQ(app.version(), v + 1);
  EXPECT_EQ(app.waitForChange(v + 1, std::chrono::milliseconds(1)), v + 1);
}

// Events come from the page: a malformed one is 400, a stale one or one on a control that
// cannot take it now 409, and neither changes anything; after stop, 503.
TEST_F(UiApplicationTest, MalformedEventsAre400StaleOrBlockedOnes409AndEventsAfterStop503) {
  auto v = app.version();
  const json kBad[] = {
      json(nullptr), json::array({1, 2}), json("go"),
      {{"target", "go"}, {"action", "tap"}},                       // no version
      {{"version", -1}, {"target", "go"}, {"action", "tap"}},
      {{"version", 1.5}, {"target", "go"}, {"action", "tap"}},
      {{"version", "1"}, {"target", "go"}, {"action", "tap"}},
      {{"version", v}, {"action", "tap"}},                         // no target
      {{"version", v}, {"target", 5}, {"action", "tap"}},
      {{"version", v}, {"target", ""}, {"action", "tap"}},
      {{"version", v}, {"target", std::string(65, 'g')}, {"action", "tap"}},
      {{"version", v}, {"target", "go"}},                          // no action
      {{"version", v}, {"target", "go"}, {"action", "swipe"}},
      {{"version", v}, {"target", "nothing"}, {"action", "tap"}},
      {{"version", v}, {"target", "alert:x"}, {"action", "tap"}, {"value", 0}},
      {{"version", v}, {"target", "sheet:-1"}, {"action", "tap"}, {"value", 0}},
      {{"version", v}, {"target", "window"}, {"action", "tap"}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", "x"}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", {{"x", 1}, {"y", 1}, {"tapCount", 2}}}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", {{"x", "1"}, {"y", 1}, {"tapCount", 2}, {"inList", true}}}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", {{"x", 1}, {"y", 1}, {"tapCount", -2}, {"inList", true}}}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", {{"x", 1}, {"y", 1}, {"tapCount", 2.5}, {"inList", true}}}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", {{"x", 1}, {"y", 1}, {"tapCount", 2}, {"inList", true}, {"phase", "hover"}}}},
      {{"version", v}, {"target", "window"}, {"action", "touch"}, {"value", {{"x", std::nan("")}, {"y", 1}, {"tapCount", 2}, {"inList", true}}}},
  };
  for (const auto& e : kBad) {
    SCOPED_TRACE(e.dump());
    EXPECT_EQ(app.dispatch(e).status, 400);
  }
  EXPECT_EQ(app.dispatch({{"version", v - 1}, {"target", "go"}, {"action", "tap"}}).status, 409);
  EXPECT_EQ(app.dispatch({{"version", v + 1}, {"target", "go"}, {"action", "tap"}}).status, 409);
  for (const char* blocked : {"alert:99", "sheet:99", "back"}) {  // the root has no back
    EXPECT_EQ(tap(blocked, 0), 409) << blocked;
  }
  EXPECT_EQ(root->taps, 0);
  EXPECT_EQ(app.version(), v);
  onMain([&] { app.addOverlay(98, Overlay{}); });
  EXPECT_EQ(tap("go"), 409);
  onMain([&] { app.removeOverlay(98); });
  EXPECT_EQ(tap("go"), 200);
  EXPECT_EQ(root->taps, 1);
  app.loop().stop();
  EXPECT_EQ(tap("go"), 503);
}

// What is typed into an alert's field reaches the delegate with the tap, and no snapshot.
TEST_F(UiApplicationTest, AlertFieldTextComesOnlyWithTheTap) {
  auto ask = [&] {
    onMain([&] {
      Alert a{"SIM PIN", "Enter the PIN.", root, "Cancel", {"Ok"}};
      a.textField = AlertTextField{true, "PIN", "not rendered"};
      app.showAlert(std::move(a));
    });
    const json alert = app.snapshot()["alerts"][0];
    EXPECT_EQ(alert["textField"], json({{"secure", true}, {"placeholder", "PIN"}}));
    return "alert:" + alert["id"].dump();
  };
  std::string target = ask();
  EXPECT_EQ(app.snapshot().dump().find("not rendered"), std::string::npos);
  const json kRefused[] = {{{"button", 2}, {"text", "1234"}}, {{"button", 1}, {"text", 1234}},
                           {{"button", 1}}, {{"button", 1}, {"text", std::string(65, '1')}}, {{"text", "1234"}}};
  for (const json& value : kRefused) EXPECT_EQ(tap(target, value), 400) << value;
  EXPECT_EQ(tap(target, {{"button", 1}, {"text", "1234"}}), 200);
  target = ask();
  EXPECT_EQ(tap(target, 0), 200);  // a bare index: nothing typed
  onMain([&] { app.showAlert({"Plain", "", root, std::nullopt, {"Ok"}}); });
  EXPECT_EQ(tap("alert:" + app.snapshot()["alerts"][0]["id"].dump(), {{"button", 0}, {"text", "x"}}), 400);
  EXPECT_EQ(root->heard, (std::vector<std::string>{"alert SIM PIN 1 [1234]", "alert SIM PIN 0 []"}));
}

TEST_F(UiApplicationTest, AlertButtonsCountFromTheCancelButtonSheetButtonsUpToIt) {
  onMain([&] {
    app.showAlert({"First", "m", root, "Cancel", {"Ok"}});
    app.showAlert({"Second", "", root, std::nullopt, {"Yes", "No"}});
  });
  auto alerts = app.snapshot()["alerts"];
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0]["buttons"], json({"Cancel", "Ok"}));
  EXPECT_EQ(alerts[0]["cancelIndex"], 0);
  EXPECT_EQ(alerts[1]["cancelIndex"], nullptr);
  const std::string first = "alert:" + alerts[0]["id"].dump(), second = "alert:" + alerts[1]["id"].dump();
  EXPECT_EQ(tap("go"), 409);  // covered
  EXPECT_EQ(tap(first, 1), 409);  // not the one shown
  EXPECT_EQ(tap(second, 2), 400);
  EXPECT_EQ(tap(second, "1"), 400);
  EXPECT_EQ(tap(second, 1), 200);
  EXPECT_EQ(tap(first, 1), 200);
  EXPECT_EQ(tap(first, 1), 409);  // gone
  EXPECT_EQ(root->heard, (std::vector<std::string>{"alert Second 1", "alert First 1"}));

  // A sheet's cancel button comes after its buttons.
  onMain([&] { app.showSheet({"Tools", root, "Cancel", {"A", "B"}}); });
  auto sheet = app.snapshot()["sheet"];
  EXPECT_EQ(sheet["buttons"], json({"A", "B", "Cancel"}));
  EXPECT_EQ(sheet["cancelIndex"], 2);
  const std::string target = "sheet:" + sheet["id"].dump();
  EXPECT_EQ(tap("go"), 409);
  EXPECT_EQ(tap(target, 3), 400);
  EXPECT_EQ(tap(target, 2), 200);
  EXPECT_EQ(root->heard.back(), "sheet Tools 2");
  EXPECT_EQ(app.snapshot()["sheet"], nullptr);
}

TEST_F(UiApplicationTest, PushPopAndModalShowTheRightScreenAndCallItsAppearance) {
  ProbeScreen* pushed = show("Pushed", &NavigationController::push);
  auto nav = app.snapshot()["navigation"];
  ASSERT_EQ(nav.size(), 2u);
  EXPECT_EQ(nav[1]["back"], json({{"id", "back"}, {"title", "Root"}}));
  EXPECT_EQ(pushed->loads, 1);
  EXPECT_EQ(tap("go"), 200);
  EXPECT_EQ(pushed->taps, 1);
  EXPECT_EQ(root->taps, 0);
  // The pushed screen is the delegate of an open alert when it goes: the alert stays and
  // its button only closes it.
  onMain([&] { app.showAlert({"Orphan", "", pushed, "Ok", {}}); });
  const std::string orphan = "alert:" + app.snapshot()["alerts"][0]["id"].dump();
  onMain([&] { app.navigation().pop(); });
  EXPECT_EQ(root->appearances, 2);
  EXPECT_EQ(tap(orphan, 0), 200);

  onMain([&] { app.navigation().present(std::make_unique<ProbeScreen>("Modal")); });
  EXPECT_EQ(app.snapshot()["modal"]["title"], "Modal");
  EXPECT_EQ(tap("go"), 200);
  EXPECT_EQ(root->taps, 0);
  onMain([&] { app.navigation().dismiss(); });
  EXPECT_EQ(app.snapshot()["modal"], nullptr);
  EXPECT_EQ(root->appearances, 3);
  EXPECT_EQ(root->loads, 1);

  // A screen may pop itself from its own button.
  ProbeScreen* self = show("Self", &NavigationController::push);
  onMain([&] { self->go.action = [this] { app.navigation().pop(); }; });
  EXPECT_EQ(tap("go"), 200);
  EXPECT_EQ(app.snapshot()["navigation"].size(), 1u);
}

TEST_F(UiApplicationTest, TouchesGoThroughTheWindowWhateverTheVersion) {
  struct CountingWindow : Window {
    bool sendEvent(const Touch& t) override {
      last = t;
      return t.tapCount == 2;
    }
    Touch last;
  } window;
  app.setWindow(&window);
  json touch = {{"version", 0}, {"target", "window"}, {"action", "touch"},
                {"value", {{"x", 150.5}, {"y", 3}, {"tapCount", 2}, {"inList", true}, {"phase", "up"}}}};
  EXPECT_TRUE(app.dispatch(touch).consumed);
  EXPECT_DOUBLE_EQ(window.last.x, 150.5);
  EXPECT_EQ(window.last.view, &app.navigation().view());
  touch["value"]["inList"] = false;
  touch["value"]["tapCount"] = 1;
  EXPECT_FALSE(app.dispatch(touch).consumed);
  EXPECT_EQ(window.last.view, nullptr);
  app.setWindow(nullptr);
}

TEST_F(UiApplicationTest, OpenUrlTakesOnlyUrlsAndKeepsTheLastRequests) {
  onMain([&] {
    EXPECT_TRUE(app.openURL("tel://+39021234"));
    EXPECT_TRUE(app.openURL("/api/files/3-9"));
    for (const char* bad : {"tel://+39 021234", "no scheme", ":x", "", "tel://1\n2", "//evil.example/", "/a b"}) EXPECT_FALSE(app.openURL(bad));
    for (int i = 0; i < 20; ++i) app.openURL("https://example.org/");
  });
  const auto urls = app.snapshot()["openURL"];
  EXPECT_EQ(urls.size(), 16u);
  EXPECT_EQ(urls.back(), json({{"url", "https://example.org/"}, {"seq", 22}}));  // the refused ones took none
}

TEST(NotificationCenterTest, ObserversHearTheirNameInOrderAndNotAfterRemoval) {
  NotificationCenter center;
  std::string heard;
  int a = 0, b = 0;
  center.addObserver(&a, "N", [&](const Notification& n) {
    heard += "a" + n.object.get<std::string>();
    center.removeObserver(&b);  // b is not called, not even by this post
  });
  center.addObserver(&b, "N", [&](const Notification&) { heard += "b"; });
  center.addObserver(&b, "Other", [&](const Notification&) { heard += "o"; });
  center.post({"N", "1"});
  center.post({"N", "2"});
  EXPECT_EQ(heard, "a1a2");
}

}  // namespace
}  // namespace voryx::kit
