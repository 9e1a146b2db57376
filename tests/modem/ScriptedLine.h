#pragma once
// A line played from a script on a virtual clock: bytes arrive at set virtual times,
// waits advance the clock instead of sleeping. Lets the quiet-window rules run in
// microseconds of real time. Header-only so other test folders can include it
// ("modem/ScriptedLine.h") to drive a Channel through Channel::attach.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "modem/LineIo.h"

namespace voryx::modem::testing {

using std::chrono::microseconds;
using std::chrono::milliseconds;

class ScriptedLine final : public LineIo {
 public:
  enum class Kind { Data, ReadError, HangUp };
  struct Event {
    microseconds at;
    Kind kind;
    std::string bytes;
  };

  // Bytes that become readable at virtual time `at` (events are kept in time order).
  ScriptedLine& arrive(microseconds at, std::string bytes) {
    return add({at, Kind::Data, std::move(bytes)});
  }
  // One read at or after `at` fails with -1.
  ScriptedLine& readFailsAt(microseconds at) { return add({at, Kind::ReadError, {}}); }
  // From `at` on, the line reads as hung up (readable, read returns 0).
  ScriptedLine& hangUpAt(microseconds at) { return add({at, Kind::HangUp, {}}); }

  // Called after every write with the bytes written; may script the answer.
  std::function<void(std::string_view, ScriptedLine&)> onWrite;
  bool failWrites = false;

  microseconds now() const { return now_; }
  const std::string& written() const { return written_; }
  std::size_t pending() const { return events_.size(); }

  Wait waitReadable(microseconds timeout) override {
    if (!events_.empty() && events_.front().at <= now_ + timeout) {
      now_ = std::max(now_, events_.front().at);
      return Wait::Readable;
    }
    now_ += timeout;
    return Wait::TimedOut;
  }

  ssize_t read(std::span<char> into) override {
    std::size_t got = 0;
    while (got < into.size() && !events_.empty() && events_.front().at <= now_) {
      Event& e = events_.front();
      if (e.kind != Kind::Data) {
        if (got > 0) break;
        if (e.kind == Kind::HangUp) return 0;
        events_.pop_front();
        return -1;
      }
      const std::size_t n = std::min(e.bytes.size(), into.size() - got);
      std::memcpy(into.data() + got, e.bytes.data(), n);
      got += n;
      e.bytes.erase(0, n);
      if (e.bytes.empty()) events_.pop_front();
    }
    return static_cast<ssize_t>(got);
  }

  ssize_t write(std::span<const char> bytes) override {
    if (failWrites) return -1;
    written_.append(bytes.data(), bytes.size());
    if (onWrite) onWrite({bytes.data(), bytes.size()}, *this);
    return static_cast<ssize_t>(bytes.size());
  }

 private:
  ScriptedLine& add(Event e) {
    auto pos = std::upper_bound(events_.begin(), events_.end(), e.at,
                                [](microseconds t, const Event& x) { return t < x.at; });
    events_.insert(pos, std::move(e));
    return *this;
  }

  microseconds now_{0};
  std::deque<Event> events_;
  std::string written_;
};

}  // namespace voryx::modem::testing
