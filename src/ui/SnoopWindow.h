#pragma once
// The application's window. It looks at every touch before the views do and turns a
// double tap on the list into "DoubleTapTop", "DoubleTapMiddle" or "DoubleTapBottom" by
// the tap's horizontal position, for the main screen to scroll its list. Main loop only.
#include "ui/kit/NotificationCenter.h"
#include "ui/kit/Window.h"

namespace voryx {

class SnoopWindow final : public kit::Window {
 public:
  explicit SnoopWindow(kit::NotificationCenter& center) : center_(center) {}

  // A touch with tap count exactly 2 on listView or inside it posts one notification
  // (x < 130 top, 130 <= x <= 190 middle, x > 190 bottom) and is swallowed. Every
  // phase of the second tap counts, so one double tap posts more than once; scrolling
  // to the same row again changes nothing. Anything else passes on.
  bool sendEvent(const kit::Touch& touch) override;

  // Not owned; null until the main screen sets it.
  const kit::View* listView() const { return listView_; }
  void setListView(const kit::View* view) { listView_ = view; }

 private:
  kit::NotificationCenter& center_;
  const kit::View* listView_ = nullptr;
};

}  // namespace voryx
