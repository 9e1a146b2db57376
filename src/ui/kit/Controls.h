#pragma once
// The pieces screens are built from. Each renders itself into the snapshot; the screen
// that owns it turns events into changes. Main loop only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ui/kit/Event.h"

namespace voryx::kit {

// Points on the 320 by 480 screen; rendered as [x, y, width, height].
struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};
nlohmann::json toJson(const Rect& r);

// A place in the view tree, for "does this touch lie inside that view".
struct View {
  const View* superview = nullptr;
  bool isInside(const View& other) const;  // other itself or one of its ancestors
};

// A bar button (navigation bar or toolbar); a tap runs `action` when enabled.
struct BarButton {
  std::string id;
  std::string title;
  bool enabled = true;
  std::function<void()> action;
  nlohmann::json render() const;
};

struct SegmentedControl {
  std::string id;
  std::vector<std::string> items;
  int selected = 0;
  nlohmann::json render() const;
};

// An on/off switch, e.g. a settings row: {"kind": "switch", "id", "title", "on",
// "enabled"}. The page sends "toggle" with the state the user set (true: on); the screen
// that owns the switch takes it with handleEvent and decides what it changes.
struct Switch {
  std::string id;
  std::string title;
  bool on = false;
  bool enabled = true;
  nlohmann::json render() const;
  EventResult handleEvent(const Event& e);
};

// A search field. Off (`enabled` false), it shows its placeholder and takes no typing.
struct SearchBar {
  std::string id;
  std::string text;
  std::string placeholder;
  std::string cancelTitle;
  bool showsCancel = false;
  bool enabled = true;
  nlohmann::json render() const;
};

// The scrolling side of a table: which row the page is asked to bring to the top. Each
// request gets a new seq, so the page scrolls once per request, also to the same row.
struct TableView {
  double rowHeight = 44;
  std::optional<int> scrollRow;
  std::uint64_t scrollSeq = 0;
  void scrollToRow(int row);
  nlohmann::json renderScroll() const;  // {"row": n, "seq": n} or null
};

// A single-line text field or a multi-line text view. While the user types, the page
// owns what the field shows; every change comes back as an event and becomes `text`, so
// a snapshot never takes a character away. Frames are points of the 320 by 480 screen.
struct TextInput {
  static constexpr std::size_t kLongestText = 4096;  // bytes taken from the page

  std::string id;
  bool multiline = false;  // a text view: Return starts a new line
  std::string text;
  std::string placeholder;
  Rect frame;
  double fontSize = 16;
  bool shrinkToFit = false;     // the font shrinks until the text fits the width
  bool phonePad = false;        // the phone keyboard: digits, + * # (inputmode "tel")
  bool returnKeyDone = false;   // the Return key reads "Done"
  bool returnNeedsText = false; // Return does nothing while the field is empty
  bool clearButton = false;     // a button that empties the field, while editing
  bool roundedBorder = false;
  double cornerRadius = 0;
  bool firstResponder = false;  // has the keyboard focus
  // Each request to take or give up the focus gets a new seq; the page carries out each
  // request once. Focus the user moves on the page changes firstResponder only.
  std::uint64_t focusSeq = 0;

  void becomeFirstResponder();
  void resignFirstResponder();
  nlohmann::json render() const;
  // "change" (value: the whole text), "begin" / "end" (the field got or lost the focus on
  // the page), "return" (Return pressed in a single-line field: onReturn answers whether
  // the field gives up the focus).
  EventResult handleEvent(const Event& e, const std::function<bool()>& onReturn = {});
};

// A button drawn as an image (an asset of the page, e.g. "ok.png"). A tap runs `action`
// when enabled.
struct ImageButton {
  std::string id;
  std::string image;
  std::string label;  // what a screen reader says
  Rect frame;
  bool enabled = true;
  std::function<void()> action;
  nlohmann::json render() const;
};

// A web frame: a page shown by its address, filling its screen below the navigation bar.
// loadRequest() gives each load asked for a new seq (unique among all frames), which the
// page loads once; the page then reports, as events "frame:<tag>" with the value
// {"seq": n, "code": n}, how each load of that seq goes: "start" (the first load, and each
// page the user opens inside the frame), then exactly one "finish" or "fail" (code
// kCancelled when a newer load cut it short). Reports of an older seq are stale. The page
// stops a load by removing the frame, when its screen goes. Main loop only.
struct WebFrame;
class WebFrameDelegate {
 public:
  virtual ~WebFrameDelegate() = default;
  virtual void webViewDidStartLoad(WebFrame& frame) = 0;
  virtual void webViewDidFinishLoad(WebFrame& frame) = 0;
  virtual void webViewDidFailLoadWithError(WebFrame& frame, int code) = 0;
};

struct WebFrame {
  static constexpr int kCancelled = -999;  // the platform's "cancelled" error code

  int tag = 0;
  std::string url;           // a path of this server, or an http(s) address
  bool transparent = false;  // the screen shows through where the page draws nothing
  std::uint64_t loadSeq = 0;
  bool loading = false;      // between a start and its finish or fail
  WebFrameDelegate* delegate = nullptr;  // must outlive the frame, or be reset first

  void loadRequest(std::string address);
  // Ends the load as far as the application goes: its finish or fail, when it comes, is
  // ignored. (The page stops it when the frame leaves the page.)
  void stopLoading();
  std::string target() const { return "frame:" + std::to_string(tag); }
  nlohmann::json render() const;  // {"tag", "url", "seq", "transparent"}
  EventResult handleEvent(const Event& e);
};

// A full-screen view over the navigation area, identified by a tag (98: the progress
// overlay of the transfers, the import and the restore).
struct Overlay {
  std::string caption;
  std::string label;
  // A standing remark under the progress texts (what happens to the modem meanwhile),
  // as many lines as it needs; empty: none.
  std::string note;
  bool spinner = true;  // the activity indicator animates
  int captionLines = 0;  // 0: as many lines as the text needs
  double alpha = 0.75;
  Rect frame{0, 0, 320, 480};
  Rect captionFrame;
  Rect labelFrame;
  Rect spinnerFrame;
  Rect noteFrame{20, 380, 280, 80};
  nlohmann::json render() const;
};

}  // namespace voryx::kit
