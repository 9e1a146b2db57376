#pragma once
// The one "main thread": a queue of tasks run one at a time on the thread that calls
// run(), plus one-shot timers. Every screen change happens in a task of this loop; other
// threads reach the screens only through performOnMain.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ui/kit/Clock.h"

namespace voryx::kit {

class MainLoop {
 public:
  using Task = std::function<void()>;

  // Timers follow the real steady clock.
  MainLoop();
  // Timers follow `clock`, which only moves through advanceClock(). The clock must
  // outlive the loop.
  explicit MainLoop(ManualClock& clock);
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Runs tasks and due timers on the calling thread, which is the main thread from now
  // on, until stop(). Once per loop: a stopped loop does not run again.
  void run();
  // Any thread. run() returns after the task running now; queued tasks and timers are
  // dropped and every caller waiting in performOnMain is released.
  void stop();

  // Any thread. Queues fn; with wait, returns once it has run (on the main thread itself
  // fn runs at once, inline, as a waiting perform must not wait for itself). False when
  // the loop has stopped (or stops before fn's turn): fn has not run and will not.
  bool performOnMain(Task fn, bool wait = false);
  // Any thread. Runs fn once on the main thread when `seconds` have passed by the loop's
  // clock. Negative or NaN delays count as 0; very long ones are capped at ten years.
  // Timers due at the same moment run in the order they were set.
  void afterDelay(double seconds, Task fn);

  // Main thread only, set before run(): called after a task whenever no other task is
  // ready, before a caller waiting for that task is released (the screens publish their
  // snapshot here, so many changes in a row make one snapshot).
  void setIdleHandler(Task fn);

  bool isMainThread() const;

  // Any thread but the main one. Blocks until no task is ready or running and no timer
  // is due; returns at once when the loop has stopped.
  void waitUntilIdle();
  // Tests with a ManualClock, any thread but the main one: moves virtual time by `by`
  // and returns once every timer due by then (and whatever it queued) has run.
  void advanceClock(std::chrono::nanoseconds by);

 private:
  struct Done {
    bool finished = false;
    bool ran = false;
  };
  struct Item {
    Task fn;
    std::shared_ptr<Done> done;  // set for waiting callers only
  };

  bool timerDue() const;       // mutex held
  void moveDueTimers();        // mutex held
  void releaseAll();           // mutex held; after stop

  const Clock& clock_;
  ManualClock* manual_ = nullptr;
  SteadyClock steady_;
  Task idleHandler_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  std::multimap<Clock::TimePoint, Task> timers_;  // equal deadlines keep insertion order
  std::thread::id mainThread_;
  bool busy_ = false;
  bool stopped_ = false;
};

}  // namespace voryx::kit
