#pragma once
// The time seam of the main loop: the real steady clock in the program, a manual clock
// in tests so that timers fire when a test moves time, never by waiting.
#include <atomic>
#include <chrono>

namespace voryx::kit {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
};

class SteadyClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

// Virtual time: starts at an arbitrary point and moves only through advance(). Give it
// to the main loop and move it with MainLoop::advanceClock, which also wakes the loop.
class ManualClock final : public Clock {
 public:
  TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(ns_.load())); }
  void advance(std::chrono::nanoseconds by) { ns_ += by.count(); }

 private:
  std::atomic<std::chrono::nanoseconds::rep> ns_{0};
};

}  // namespace voryx::kit
