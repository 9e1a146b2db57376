#include "ui/kit/Controls.h"

#include <atomic>
#include <climits>

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

nlohmann::json Switch::render() const {
  return {{"kind", "switch"}, {"id", id}, {"title", title}, {"on", on}, {"enabled", enabled}};
}

EventResult Switch::handleEvent(const Event& e) {
  if (e.action != "toggle") return invalidEvent("a switch takes the action \"toggle\"");
  if (!e.value.is_boolean()) return invalidEvent("a switch's value is its new state, true or false");
  if (!enabled) return staleEvent("the switch is off");
  on = e.value.get<bool>();
  return done();
}

nlohmann::json SearchBar::render() const {
  return {{"id", id},
          {"text", text},
          {"placeholder", placeholder},
          {"cancelTitle", cancelTitle},
          {"showsCancel", showsCancel},
          {"enabled", enabled}};
}

void TableView::scrollToRow(int row) {
  scrollRow = row;
  ++scrollSeq;
}

nlohmann::json TableView::renderScroll() const {
  if (!scrollRow) return nullptr;
  return {{"row", *scrollRow}, {"seq", scrollSeq}};
}

void TextInput::becomeFirstResponder() {
  firstResponder = true;
  ++focusSeq;
}

void TextInput::resignFirstResponder() {
  firstResponder = false;
  ++focusSeq;
}

nlohmann::json TextInput::render() const {
  return {{"kind", multiline ? "textView" : "textField"},
          {"id", id},
          {"text", text},
          {"placeholder", placeholder},
          {"frame", toJson(frame)},
          {"fontSize", fontSize},
          {"shrinkToFit", shrinkToFit},
          {"keyboard", phonePad ? "phonePad" : "default"},
          {"returnKey", returnKeyDone ? "done" : "default"},
          {"returnNeedsText", returnNeedsText},
          {"clearButton", clearButton},
          {"roundedBorder", roundedBorder},
          {"cornerRadius", cornerRadius},
          {"focus", {{"on", firstResponder}, {"seq", focusSeq}}}};
}

EventResult TextInput::handleEvent(const Event& e, const std::function<bool()>& onReturn) {
  if (e.action == "change") {
    if (!e.value.is_string()) return invalidEvent("the value is the field's text");
    const auto& value = e.value.get_ref<const std::string&>();
    if (value.size() > kLongestText) return invalidEvent("the text is too long");
    text = value;
    return done();
  }
  if (!e.value.is_null()) return invalidEvent("only change takes a value");
  if (e.action == "begin") {
    firstResponder = true;
  } else if (e.action == "end") {
    firstResponder = false;
  } else if (e.action == "return") {
    if (multiline) return invalidEvent("a text view has no return action");
    if (returnNeedsText && text.empty()) return done();
    if (onReturn && onReturn()) resignFirstResponder();
  } else {
    return invalidEvent("a text field takes change, begin, end or return");
  }
  return done();
}

nlohmann::json ImageButton::render() const {
  return {{"kind", "imageButton"}, {"id", id},           {"image", image},
          {"label", label},        {"frame", toJson(frame)}, {"enabled", enabled}};
}

void WebFrame::loadRequest(std::string address) {
  // A number no other frame's load has had: a report that arrives after its screen has
  // gone cannot be taken for a load of the next screen's frame.
  static std::atomic<std::uint64_t> lastSeq{0};
  url = std::move(address);
  loadSeq = ++lastSeq;
  loading = false;  // the page reports the new load's start
}

void WebFrame::stopLoading() { loading = false; }

nlohmann::json WebFrame::render() const {
  return {{"tag", tag}, {"url", url}, {"seq", loadSeq}, {"transparent", transparent}};
}

EventResult WebFrame::handleEvent(const Event& e) {
  if (!e.value.is_object()) return invalidEvent("a frame's report is {\"seq\": n, \"code\": n}");
  const auto seq = e.value.find("seq");
  if (seq == e.value.end() || !seq->is_number_unsigned()) return invalidEvent("seq is the load's number");
  int code = 0;
  if (e.action == "fail") {
    const auto c = e.value.find("code");
    const bool fits = c != e.value.end() && c->is_number_integer() &&
                      (c->is_number_unsigned() ? c->get<std::uint64_t>() <= INT_MAX
                                               : c->get<std::int64_t>() >= INT_MIN && c->get<std::int64_t>() <= INT_MAX);
    if (!fits) return invalidEvent("a failure has an integer code");
    code = c->get<int>();
  } else if (e.action != "start" && e.action != "finish") {
    return invalidEvent("a frame reports start, finish or fail");
  }
  if (seq->get<std::uint64_t>() != loadSeq) return staleEvent("load " + seq->dump() + " is not the frame's last");
  if (e.action == "start") {
    loading = true;
    if (delegate) delegate->webViewDidStartLoad(*this);
    return done();
  }
  if (!loading) return done();  // the end of a load stopped meanwhile
  loading = false;
  if (!delegate) return done();
  if (e.action == "finish") {
    delegate->webViewDidFinishLoad(*this);
  } else {
    delegate->webViewDidFailLoadWithError(*this, code);
  }
  return done();
}

nlohmann::json Overlay::render() const {
  return {{"caption", caption},
          {"label", label},
          {"note", note},
          {"noteFrame", toJson(noteFrame)},
          {"spinner", spinner},
          {"captionLines", captionLines},
          {"alpha", alpha},
          {"frame", toJson(frame)},
          {"captionFrame", toJson(captionFrame)},
          {"labelFrame", toJson(labelFrame)},
          {"spinnerFrame", toJson(spinnerFrame)}};
}

}  // namespace voryx::kit
