#pragma once
// The thread-safe face of the screens that the HTTP layer uses. Screen state lives on
// the main loop; HTTP workers only read published snapshots and hand events over.
//
// Snapshot (JSON object), published on the main loop whenever the state has changed
// (many changes in a row give one new version). Version 1 is the empty window before
// start-up; versions only grow.
//   {"version": N,
//    "window": {"idleTimerDisabled": bool, "networkActivity": bool},
//    "navigation": [screen, ...],          // bottom to top; the top one is shown
//    "modal": screen | null,               // presented over the navigation stack
//    "overlays": {"98": {"caption": s, "label": s, "spinner": bool, "captionLines": n,
//                        "alpha": 0.75, "frame": [x,y,w,h], "captionFrame": [...],
//                        "labelFrame": [...], "spinnerFrame": [...]}},
//                                           // captionLines 0: as many lines as needed
//    "alerts": [{"id": n, "title": s, "message": s, "buttons": [s, ...],
//                "cancelIndex": 0 | null}], // oldest first; only the LAST one is shown
//                                           // and takes taps; button index = position
//                                           // (the cancel button first when there is one)
//    "sheet": {"id": n, "title": s, "buttons": [s, ...], "cancelIndex": n | null} | null,
//                                           // the cancel button comes after the others
//    "openURL": [{"url": s, "seq": n}]}    // the last 16 requests; open each seq once
//   screen = {"screen": "RootViewController", "title": s,
//             "left": button|null, "right": button|null, "toolbar": [button, ...],
//             "back": {"id": "back", "title": s} | null,  // pushed screens only
//             button = {"id": s, "title": s, "enabled": bool},
//             plus the screen's own parts; the main screen's:
//             "banner": {"text": "Voryx", "frame": [0,0,320,50]},
//             "segments": {"id": "tipo", "items": [s, s], "selected": n},
//             "search": {"id": "search", "text": s, "showsCancel": bool},
//             "rowHeight": 70,
//             "rows": [{"id": "row:0", "labels": [s, s, s], "colors": "gray"|"green"|"red"|"cyan"}],
//             "gradients": {"gray": [[r,g,b,a], ...], "cyan": [...], "green": [...],
//                           "red": [...]},   // each row's background: its set's colours
//                                            // spread evenly from top to bottom, 0..1
//             "scrollTo": {"row": n, "seq": n} | null}  // bring row n to the top,
//                                                        // not animated, once per seq
//   the how-to screen's: "frame": {"tag": 97, "url": s, "seq": n, "transparent": bool}
//                                  // load url once per seq (Controls.h, WebFrame)
//   Texts come from the database and may hold bytes that are not UTF-8: serialise with
//   dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).
//
// Event (JSON object): {"version": N, "target": s, "action": s, "value": any}
//   version: required, the version of the snapshot the user acted on. An event whose
//     version is not the current one is refused with 409 (refresh, and let the user act
//     again; do not resend blindly). Only window touches and frame reports skip this check.
//   target: a button id ("leggi", "scrivi", "add", "tool", "setup", "howto", "back"),
//   "tipo" (action "select", value segment index), "search" (actions "begin", "end",
//   "change" with value the text, "search" with value the text or null for the text as
//   it stands, "cancel"), "row:7" (action "tap"), "alert:<id>" (action "tap", value
//   button index), "sheet:<id>" (action "tap", value button index), "window" (action
//   "touch", value {"x": n, "y": n, "tapCount": n, "inList": bool, "phase":
//   "down"|"move"|"up" (optional)}: every touch goes through the window first; inList
//   is true when the touch lies in the navigation area (navigation bar, banner, list,
//   toolbar: not an alert, a sheet or a modal screen); the answer consumed=true means
//   the page must not deliver that touch to the element). Buttons take action "tap" and
//   ignore the value. "frame:97" (actions "start", "finish", "fail", value {"seq": n,
//   "code": n}: how a load of the frame goes; any version, also under an alert, a sheet
//   or an overlay).
//   Answers: 200 done; 400 malformed (not an object, a missing or mistyped member, an
//   unknown target, an action the target does not take, a value out of range); 409 not
//   possible in the current state (stale version, a disabled button, a row or alert
//   that is gone, anything under an open alert, sheet or overlay); 503 the application
//   has stopped. A refused event changes nothing.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace voryx::kit {

struct EventResult {
  int status = 200;        // 200 done, 400 invalid event, 409 not now, 503 stopped
  bool consumed = false;   // window touches: swallowed by the window
  std::string error;       // why not 200
};

// Bytes the screens hand to the page by URL ("/api/files/<id>"): a photo, a download.
struct ServedFile {
  std::string type;  // its Content-Type
  std::string name;  // a download's file name; empty for what the page shows itself
  std::string data;
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
  // Validates the event, runs it on the main loop and waits for it; the state it left
  // is published by the time it returns. Any thread.
  virtual EventResult dispatch(const nlohmann::json& event) = 0;
  // The file the screens published under `id`, or nothing. Any thread.
  virtual std::optional<ServedFile> file(std::string_view id) const = 0;
};

}  // namespace voryx::kit
