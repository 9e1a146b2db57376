#pragma once
// The pieces screens are built from. Each renders itself into the snapshot; the screen
// that owns it turns events into changes. Main loop only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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

struct SearchBar {
  std::string id;
  std::string text;
  bool showsCancel = false;
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

// A full-screen view over the navigation area, identified by a tag (98: the progress
// overlay of the transfers, the import and the restore).
struct Overlay {
  std::string caption;
  std::string label;
  bool spinner = true;  // the activity indicator animates
  int captionLines = 0;  // 0: as many lines as the text needs
  double alpha = 0.75;
  Rect frame{0, 0, 320, 480};
  Rect captionFrame;
  Rect labelFrame;
  Rect spinnerFrame;
  nlohmann::json render() const;
};

}  // namespace voryx::kit
