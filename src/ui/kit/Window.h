#pragma once
// The application's one window: every touch passes through sendEvent before any view
// sees it.
#include "ui/kit/Controls.h"

namespace voryx::kit {

struct Touch {
  double x = 0;  // window coordinates, points
  double y = 0;
  int tapCount = 0;
  const View* view = nullptr;  // the view touched; null when the touch hit none
};

class Window {
 public:
  virtual ~Window() = default;
  // True when the window swallowed the touch: the views must not see it. The plain
  // window passes every touch on.
  virtual bool sendEvent(const Touch&) { return false; }
};

}  // namespace voryx::kit
