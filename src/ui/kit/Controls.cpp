#include "ui/kit/Controls.h"

namespace voryx::kit {

nlohmann::json toJson(const Rect& r) { return {r.x, r.y, r.width, r.height}; }

bool View::isInside(const View& other) const {
  for (const View* v = this; v; v = v->superview) {
    if (v == &other) return true;
  }
  return false;
}

nlohmann::json BarButton::render() const {
  return {{"id", id}, {"title", title}, {"enabled", enabled}};
}

nlohmann::json SegmentedControl::render() const {
  return {{"id", id}, {"items", items}, {"selected", selected}};
}

nlohmann::json SearchBar::render() const {
  return {{"id", id}, {"text", text}, {"showsCancel", showsCancel}};
}

void TableView::scrollToRow(int row) {
  scrollRow = row;
  ++scrollSeq;
}

nlohmann::json TableView::renderScroll() const {
  if (!scrollRow) return nullptr;
  return {{"row", *scrollRow}, {"seq", scrollSeq}};
}

nlohmann::json Overlay::render() const {
  return {{"caption", caption},
          {"label", label},
          {"spinner", spinner},
          {"captionLines", captionLines},
          {"alpha", alpha},
          {"frame", toJson(frame)},
          {"captionFrame", toJson(captionFrame)},
          {"labelFrame", toJson(labelFrame)},
          {"spinnerFrame", toJson(spinnerFrame)}};
}

}  // namespace voryx::kit
