#include "ui/kit/UiApplication.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace voryx::kit {
namespace {

constexpr std::size_t kLongestUrl = 2048;
constexpr std::size_t kLongestFieldText = 64;  // an alert's field holds a code, not prose
constexpr int kMostTaps = 1000;

// A scheme ("tel:", "https:"), or a path of this server ("/api/files/7-…"), and no blanks
// or control characters: what the toolkit's URL constructor accepts.
bool isUrl(const std::string& url) {
  if (url.empty() || url.size() > kLongestUrl) return false;
  const bool ownPath = url[0] == '/' && !url.starts_with("//");  // a file this server serves
  auto colon = ownPath ? std::size_t{0} : url.find(':');
  if (ownPath) {
    return std::none_of(url.begin(), url.end(), [](char ch) {
      auto c = static_cast<unsigned char>(ch);
      return c <= 0x20 || c == 0x7f;
    });
  }
  if (colon == 0 || colon == std::string::npos) return false;
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    auto c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return std::none_of(url.begin(), url.end(), [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c <= 0x20 || c == 0x7f;
  });
}

std::optional<double> finiteNumber(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  double v = it->get<double>();
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace

UiApplication::UiApplication()
    : navigation_(loop_, [this](Screen* s) { forgetDelegate(s); }) {
  loop_.setIdleHandler([this] { publish(); });
  publish();
}

UiApplication::UiApplication(ManualClock& clock)
    : loop_(clock), navigation_(loop_, [this](Screen* s) { forgetDelegate(s); }) {
  loop_.setIdleHandler([this] { publish(); });
  publish();
}

int UiApplication::showAlert(Alert alert) {
  alert.id = ++nextId_;
  alerts_.push_back(std::move(alert));
  return nextId_;
}

void UiApplication::showSheet(ActionSheet sheet) {
  sheet.id = ++nextId_;
  sheet_ = std::move(sheet);
}

Overlay& UiApplication::addOverlay(int tag, Overlay overlay) {
  return overlays_[tag] = std::move(overlay);
}

Overlay* UiApplication::overlay(int tag) {
  auto it = overlays_.find(tag);
  return it == overlays_.end() ? nullptr : &it->second;
}

void UiApplication::removeOverlay(int tag) { overlays_.erase(tag); }

void UiApplication::showNotice(std::string text) {
  const std::uint64_t seq = ++noticeSeq_;
  notice_ = Notice{std::move(text), seq};
  loop_.afterDelay(kNoticeSeconds, [this, seq] {
    if (notice_ && notice_->seq == seq) notice_.reset();
  });
}

bool UiApplication::openURL(const std::string& url) {
  if (!isUrl(url)) return false;
  urls_.push_back({url, ++urlSeq_});
  if (urls_.size() > kUrlRequestsKept) urls_.pop_front();
  return true;
}

std::string UiApplication::serveFile(ServedFile file) {
  std::lock_guard lock(filesMutex_);
  // A number no earlier page could guess and no later run repeats soon: the sequence and
  // the time.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string id = std::to_string(++fileSeq_) + "-" + std::to_string(static_cast<std::uint64_t>(now) % 1000000007u);
  fileBytes_ += file.data.size();
  files_.emplace_back(id, std::move(file));
  while (files_.size() > 1 && (files_.size() > kFilesKept || fileBytes_ > kFileBytesKept)) {
    fileBytes_ -= files_.front().second.data.size();
    files_.pop_front();
  }
  return "/api/files/" + id;
}

std::optional<ServedFile> UiApplication::file(std::string_view id) const {
  std::lock_guard lock(filesMutex_);
  for (const auto& [key, f] : files_) {
    if (key == id) return f;
  }
  return std::nullopt;
}

void UiApplication::forgetDelegate(Screen* screen) {
  auto* alertDelegate = dynamic_cast<AlertDelegate*>(screen);
  for (auto& a : alerts_) {
    if (alertDelegate && a.delegate == alertDelegate) a.delegate = nullptr;
  }
  auto* sheetDelegate = dynamic_cast<ActionSheetDelegate*>(screen);
  if (sheet_ && sheetDelegate && sheet_->delegate == sheetDelegate) sheet_->delegate = nullptr;
}

nlohmann::json UiApplication::render() const {
  nlohmann::json overlays = nlohmann::json::object();
  for (const auto& [tag, o] : overlays_) overlays[std::to_string(tag)] = o.render();
  nlohmann::json alerts = nlohmann::json::array();
  for (const auto& a : alerts_) alerts.push_back(a.render());
  nlohmann::json urls = nlohmann::json::array();
  for (const auto& u : urls_) urls.push_back({{"url", u.url}, {"seq", u.seq}});
  return {{"window", {{"idleTimerDisabled", idleTimerDisabled_}, {"networkActivity", networkActivity_}}},
          {"navigation", navigation_.renderStack()},
          {"modal", navigation_.renderModal()},
          {"overlays", std::move(overlays)},
          {"alerts", std::move(alerts)},
          {"sheet", sheet_ ? sheet_->render() : nlohmann::json(nullptr)},
          {"notice", notice_ ? nlohmann::json{{"text", notice_->text}, {"seq", notice_->seq}} : nlohmann::json(nullptr)},
          {"openURL", std::move(urls)}};
}

void UiApplication::publish() {
  nlohmann::json state = render();
  if (state == lastRender_) return;
  lastRender_ = state;
  std::lock_guard lock(publishMutex_);
  state["version"] = ++version_;
  published_ = std::move(state);
  publishedCv_.notify_all();
}

nlohmann::json UiApplication::snapshot() const {
  std::lock_guard lock(publishMutex_);
  return published_;
}

std::uint64_t UiApplication::version() const {
  std::lock_guard lock(publishMutex_);
  return version_;
}

std::uint64_t UiApplication::waitForChange(std::uint64_t seen,
                                           std::chrono::milliseconds timeout) const {
  std::unique_lock lock(publishMutex_);
  publishedCv_.wait_for(lock, timeout, [&] { return version_ != seen; });
  return version_;
}

EventResult UiApplication::dispatch(const nlohmann::json& json) {
  auto event = parseEvent(json);
  if (!event) return invalidEvent(event.error().detail);
  EventResult result;
  auto run = [&] {
    result = handle(*event);
    publish();  // the answer goes back with the new state published
  };
  if (!loop_.performOnMain(run, true)) {
    return {503, false, "the application has stopped"};
  }
  return result;
}

EventResult UiApplication::handle(const Event& e) {
  publish();  // the event's version is checked against the state as it is now
  if (e.target == "window") return handleTouch(e);
  const std::uint64_t current = version();
  // A frame reports what the browser did with a load, not a choice the user made on a
  // snapshot: it needs no version, and it reaches its screen under an alert, a sheet or an
  // overlay, since the load goes on behind them.
  if (e.target.starts_with("frame:")) return navigation_.handleEvent(e);
  if (e.version != current) {
    return staleEvent("version " + std::to_string(e.version) + " is not the current " +
                      std::to_string(current));
  }
  if (e.target.starts_with("alert:")) return handleAlertTap(e);
  if (e.target.starts_with("sheet:")) return handleSheetTap(e);
  if (!alerts_.empty()) return staleEvent("an alert is open");
  if (sheet_) return staleEvent("an action sheet is open");
  if (!overlays_.empty()) return staleEvent("the screen is covered by an overlay");
  return navigation_.handleEvent(e);
}

EventResult UiApplication::handleTouch(const Event& e) {
  if (e.action != "touch") return invalidEvent("the window takes the action \"touch\"");
  const auto& v = e.value;
  if (!v.is_object()) return invalidEvent("a touch is an object");
  auto x = finiteNumber(v, "x");
  auto y = finiteNumber(v, "y");
  auto taps = v.find("tapCount");
  auto inList = v.find("inList");
  auto phase = v.find("phase");
  if (!x || !y) return invalidEvent("a touch has finite numbers x and y");
  if (taps == v.end() || !indexValue(*taps, kMostTaps + 1)) {
    return invalidEvent("tapCount is an integer from 0 to 1000");
  }
  if (inList == v.end() || !inList->is_boolean()) return invalidEvent("inList is a boolean");
  if (phase != v.end() && !(phase->is_string() && (*phase == "down" || *phase == "move" || *phase == "up"))) {
    return invalidEvent("phase is \"down\", \"move\" or \"up\"");
  }
  Touch touch{*x, *y, *indexValue(*taps, kMostTaps + 1),
              inList->get<bool>() ? &navigation_.view() : nullptr};
  EventResult result;
  result.consumed = window_ && window_->sendEvent(touch);
  return result;
}

EventResult UiApplication::handleAlertTap(const Event& e) {
  auto id = targetNumber(e.target, "alert:");
  if (!id) return invalidEvent("an alert target is alert:<id>");
  if (alerts_.empty() || static_cast<std::uint64_t>(alerts_.back().id) != *id) {
    return staleEvent("alert " + std::to_string(*id) + " is not the one shown");
  }
  if (e.action != "tap") return invalidEvent("an alert takes the action \"tap\"");
  // An alert with a text field takes {"button": index, "text": "..."}; a bare index taps
  // with nothing typed.
  const bool withText = e.value.is_object() && alerts_.back().textField;
  const nlohmann::json& button = withText ? e.value.value("button", nlohmann::json()) : e.value;
  auto index = indexValue(button, alerts_.back().buttons().size());
  if (!index) return invalidEvent("the value is the index of one of the alert's buttons");
  std::string text;
  if (withText) {
    auto typed = e.value.find("text");
    if (typed == e.value.end() || !typed->is_string() || typed->get_ref<const std::string&>().size() > kLongestFieldText) {
      return invalidEvent("the text of an alert's field is a string of at most 64 bytes");
    }
    text = typed->get<std::string>();
  }
  Alert alert = std::move(alerts_.back());
  alerts_.pop_back();
  if (alert.textField) alert.textField->text = std::move(text);
  if (alert.delegate) alert.delegate->alertViewClickedButtonAtIndex(alert, *index);
  return done();
}

EventResult UiApplication::handleSheetTap(const Event& e) {
  auto id = targetNumber(e.target, "sheet:");
  if (!id) return invalidEvent("a sheet target is sheet:<id>");
  if (!alerts_.empty()) return staleEvent("an alert is open");
  if (!sheet_ || static_cast<std::uint64_t>(sheet_->id) != *id) {
    return staleEvent("sheet " + std::to_string(*id) + " is not the one shown");
  }
  if (e.action != "tap") return invalidEvent("a sheet takes the action \"tap\"");
  auto index = indexValue(e.value, sheet_->buttons().size());
  if (!index) return invalidEvent("the value is the index of one of the sheet's buttons");
  ActionSheet sheet = std::move(*sheet_);
  sheet_.reset();
  if (sheet.delegate) sheet.delegate->actionSheetClickedButtonAtIndex(sheet, *index);
  return done();
}

}  // namespace voryx::kit
