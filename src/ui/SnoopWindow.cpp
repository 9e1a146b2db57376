#include "ui/SnoopWindow.h"

namespace voryx {

bool SnoopWindow::sendEvent(const kit::Touch& touch) {
  if (!touch.view || !listView_ || !touch.view->isInside(*listView_) || touch.tapCount != 2) {
    return false;
  }
  const char* name = touch.x < 130   ? "DoubleTapTop"
                     : touch.x > 190 ? "DoubleTapBottom"
                                     : "DoubleTapMiddle";
  center_.post({name, {{"x", touch.x}, {"y", touch.y}, {"tapCount", touch.tapCount}}});
  return true;
}

}  // namespace voryx
