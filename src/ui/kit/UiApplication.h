#pragma once
// The application object of the screens: the main loop, the window, the navigation
// stack, the alerts, the action sheet, the overlays, the notice, the notification
// centre, the URLs to open and the window's flags. It renders them all into one snapshot after every
// main-loop task that changed something, and is the UiPort the HTTP layer uses.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Event.h"
#include "ui/kit/MainLoop.h"
#include "ui/kit/NavigationController.h"
#include "ui/kit/NotificationCenter.h"
#include "ui/kit/UiPort.h"
#include "ui/kit/Window.h"

namespace voryx::kit {

class UiApplication final : public UiPort {
 public:
  UiApplication();                            // timers on the real clock
  explicit UiApplication(ManualClock& clock);  // timers on virtual time (tests)

  MainLoop& loop() { return loop_; }
  NavigationController& navigation() { return navigation_; }
  NotificationCenter& notifications() { return notifications_; }
  // Before run(); the window must outlive the application. Without one, every touch
  // reaches the views.
  void setWindow(Window* window) { window_ = window; }

  // The rest: main loop only.
  // Shows the alert on top of any others and returns its id.
  int showAlert(Alert alert);
  // Replaces a sheet that is open (without telling its delegate).
  void showSheet(ActionSheet sheet);
  // Adds the overlay (replacing one with the same tag) and returns it for updates.
  Overlay& addOverlay(int tag, Overlay overlay);
  Overlay* overlay(int tag);
  void removeOverlay(int tag);
  // An alert, a sheet or an overlay is up: the user is in the middle of something.
  bool covered() const { return !alerts_.empty() || sheet_.has_value() || !overlays_.empty(); }
  // A short line saying what a command did ("Wrote 4 changes"), which goes by itself
  // after kNoticeSeconds and asks nothing of the user; a newer notice takes its place.
  // Rendered as "notice": {"text", "seq"} (null when none); the page reads each seq out
  // once, politely, without moving the focus.
  static constexpr double kNoticeSeconds = 6.0;
  void showNotice(std::string text);
  // Asks the page to open the URL once (a path of this server: the page downloads it).
  // False, and nothing asked, when it is not a URL (no scheme and no path, blanks or
  // control characters, longer than 2048 bytes).
  bool openURL(const std::string& url);
  // Publishes bytes for the page and answers their URL ("/api/files/<id>"). The files
  // kept are bounded (kFilesKept, kFileBytesKept): the oldest go first. Any thread.
  std::string serveFile(ServedFile file);
  void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
  void setNetworkActivityIndicatorVisible(bool visible) { networkActivity_ = visible; }
  // Publishes the state as a new version when it differs from the last one published.
  // Runs by itself whenever the main loop falls idle.
  void publish();

  // UiPort, any thread.
  nlohmann::json snapshot() const override;
  std::uint64_t version() const override;
  std::uint64_t waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const override;
  EventResult dispatch(const nlohmann::json& event) override;
  std::optional<ServedFile> file(std::string_view id) const override;

 private:
  static constexpr std::size_t kUrlRequestsKept = 16;
  static constexpr std::size_t kFilesKept = 2048;
  static constexpr std::size_t kFileBytesKept = 64u << 20;
  struct UrlRequest {
    std::string url;
    std::uint64_t seq;
  };
  struct Notice {
    std::string text;
    std::uint64_t seq;
  };

  void forgetDelegate(Screen* screen);
  nlohmann::json render() const;
  EventResult handle(const Event& e);
  EventResult handleTouch(const Event& e);
  EventResult handleAlertTap(const Event& e);
  EventResult handleSheetTap(const Event& e);

  MainLoop loop_;
  NotificationCenter notifications_;  // before the screens, which stop observing as they go
  NavigationController navigation_;
  Window* window_ = nullptr;
  std::vector<Alert> alerts_;  // oldest first; the last one is shown
  std::optional<ActionSheet> sheet_;
  std::map<int, Overlay> overlays_;
  std::deque<UrlRequest> urls_;
  std::uint64_t urlSeq_ = 0;
  std::optional<Notice> notice_;
  std::uint64_t noticeSeq_ = 0;
  int nextId_ = 0;
  bool idleTimerDisabled_ = false;
  bool networkActivity_ = false;

  mutable std::mutex filesMutex_;
  std::deque<std::pair<std::string, ServedFile>> files_;  // oldest first
  std::size_t fileBytes_ = 0;
  std::uint64_t fileSeq_ = 0;

  nlohmann::json lastRender_;  // main loop
  mutable std::mutex publishMutex_;
  mutable std::condition_variable publishedCv_;
  nlohmann::json published_;
  std::uint64_t version_ = 0;
};

}  // namespace voryx::kit
