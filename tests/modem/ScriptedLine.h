#pragma once
// A line played from a script on a virtual clock: bytes arrive at set virtual times,
// waits advance the clock instead of sleeping. Lets the quiet-window rules run in
// microseconds of real time.
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

class ScriptedLine final : public LineIo {
 public:
  // Data: bytes readable from `at` on. ReadError: one read at or after `at` fails with
  // -1. HangUp: from `at` on the line reads as hung up (readable, read returns 0).
  enum class Kind { Data, ReadError, HangUp };
  ScriptedLine& arrive(microseconds at, std::string bytes, Kind kind = Kind::Data) {
    auto pos = std::upper_bound(events_.begin(), events_.end(), at,
                                [](microseconds t, const Event& e) { return t < e.at; });
    events_.insert(pos, {at, kind, std::move(bytes)});
    return *this;
  }

  // Called after every write with the bytes written; may script the answer.
  std::function<void(std::string_view, ScriptedLine&)> onWrite;
  std::string written;
  microseconds clock{0};

  Wait waitReadable(microseconds timeout) override {
    if (!events_.empty() && events_.front().at <= clock + timeout) {
      clock = std::max(clock, events_.front().at);
      return Wait::Readable;
    }
    clock += timeout;
    return Wait::TimedOut;
  }

  ssize_t read(std::span<char> into) override {
    std::size_t got = 0;
    while (got < into.size() && !events_.empty() && events_.front().at <= clock) {
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

  microseconds now() const override { return clock; }

  ssize_t write(std::span<const char> bytes) override {
    written.append(bytes.data(), bytes.size());
    if (onWrite) onWrite({bytes.data(), bytes.size()}, *this);
    return static_cast<ssize_t>(bytes.size());
  }

 private:
  struct Event {
    microseconds at;
    Kind kind;
    std::string bytes;
  };
  std::deque<Event> events_;
};

}  // namespace voryx::modem::testing
