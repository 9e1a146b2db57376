#pragma once
// The thread-safe face of the screens that the HTTP layer uses. Screen state lives on
// the main loop; HTTP workers only read published snapshots and hand events over.
//
// Snapshot (JSON object), produced on the main loop after every change:
//   {"version": N,
//    "window": {"idleTimerDisabled": bool, "networkActivity": bool},
//    "navigation": [screen, ...],          // bottom to top; the top one is shown
//    "modal": screen | null,               // presented over the navigation stack
//    "overlays": {"98": {"caption": s, "label": s, "spinner": bool,
//                        "frame": [x,y,w,h], "captionFrame": [...], "labelFrame": [...],
//                        "spinnerFrame": [...], "alpha": 0.75}},
//    "alerts": [{"id": n, "title": s, "message": s, "buttons": [s, ...]}],  // oldest first;
//                                           // button index = position (cancel first)
//    "sheet": {"id": n, "title": s, "buttons": [s, ...], "cancelIndex": n} | null,
//    "openURL": [{"url": s, "seq": n}]}    // URLs the browser should open once (by seq)
//   screen = {"screen": "RootViewController", "title": s,
//             "left": button|null, "right": button|null, "toolbar": [button, ...],
//             button = {"id": s, "title": s, "enabled": bool},
//             plus the screen's own parts, e.g. for the main screen:
//             "banner": {"text": s, "frame": [0,0,320,50]},
//             "segments": {"id": "tipo", "items": [s, s], "selected": n},
//             "search": {"id": "search", "text": s, "showsCancel": bool},
//             "rowHeight": 70,
//             "rows": [{"id": "row:0", "labels": [s, s, s], "colors": "gray"|"green"|"red"|"cyan"}],
//             "scrollTo": {"row": n, "seq": n} | null}
//
// Event (JSON object): {"version": N, "target": s, "action": s, "value": any}
//   target: a button id ("leggi", "scrivi", "add", "tool", "setup", "howto"), "tipo"
//   (action "select", value segment), "search" (actions "begin", "change" with the text,
//   "search", "cancel", "end"), "row:7" (action "tap"), "alert:<id>" (action "tap",
//   value button index), "sheet:<id>" (action "tap", value button index), "window"
//   (action "touch", value {"x": n, "y": n, "tapCount": n, "phase": "down"|"move"|"up",
//   "inList": bool}: every touch goes through the window first; answer consumed=true
//   means the page must not deliver that tap to the element).
#include <chrono>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace voryx::kit {

struct EventResult {
  int status = 200;        // 200 done, 400 invalid event, 409 stale version
  bool consumed = false;   // window touches: swallowed by the window
  std::string error;       // why 400/409
};

class UiPort {
 public:
  virtual ~UiPort() = default;
  // Latest published snapshot; any thread.
  virtual nlohmann::json snapshot() const = 0;
  virtual std::uint64_t version() const = 0;
  // Blocks until the version differs from `seen` or the timeout passes; returns the
  // current version. Any thread.
  virtual std::uint64_t waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const = 0;
  // Validates the event, runs it on the main loop and waits for it. Any thread.
  virtual EventResult dispatch(const nlohmann::json& event) = 0;
};

}  // namespace voryx::kit
