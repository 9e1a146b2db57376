#include "ui/kit/MainLoop.h"

#include <cmath>

namespace voryx::kit {

MainLoop::MainLoop() : clock_(steady_) {}

MainLoop::MainLoop(ManualClock& clock) : clock_(clock), manual_(&clock) {}

void MainLoop::setIdleHandler(Task fn) { idleHandler_ = std::move(fn); }

bool MainLoop::isMainThread() const {
  std::lock_guard lock(mutex_);
  return mainThread_ == std::this_thread::get_id();
}

bool MainLoop::timerDue() const {
  return !timers_.empty() && timers_.begin()->first <= clock_.now();
}

void MainLoop::moveDueTimers() {
  const auto now = clock_.now();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    queue_.push_back({std::move(timers_.begin()->second), nullptr});
    timers_.erase(timers_.begin());
  }
}

void MainLoop::releaseAll() {
  for (auto& item : queue_) {
    if (item.done) item.done->finished = true;
  }
  queue_.clear();
  timers_.clear();
  cv_.notify_all();
}

void MainLoop::run() {
  std::unique_lock lock(mutex_);
  mainThread_ = std::this_thread::get_id();
  while (!stopped_) {
    moveDueTimers();
    if (queue_.empty()) {
      if (timers_.empty() || manual_) {
        cv_.wait(lock);
      } else {
        cv_.wait_until(lock, timers_.begin()->first);
      }
      continue;
    }
    Item item = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    item.fn();
    lock.lock();
    if (idleHandler_ && queue_.empty() && !timerDue() && !stopped_) {
      lock.unlock();
      idleHandler_();
      lock.lock();
    }
    if (item.done) {
      item.done->finished = true;
      item.done->ran = true;
    }
    busy_ = false;
    cv_.notify_all();
  }
  releaseAll();
  mainThread_ = {};
}

void MainLoop::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  cv_.notify_all();
}

bool MainLoop::performOnMain(Task fn, bool wait) {
  std::unique_lock lock(mutex_);
  if (stopped_) return false;
  if (wait && mainThread_ == std::this_thread::get_id()) {
    lock.unlock();
    fn();
    return true;
  }
  auto done = wait ? std::make_shared<Done>() : nullptr;
  queue_.push_back({std::move(fn), done});
  cv_.notify_all();
  if (!wait) return true;
  cv_.wait(lock, [&] { return done->finished; });
  return done->ran;
}

void MainLoop::afterDelay(double seconds, Task fn) {
  constexpr double kLongest = 10.0 * 365 * 24 * 3600;
  if (!(seconds > 0)) seconds = 0;  // also NaN
  if (seconds > kLongest) seconds = kLongest;
  const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(seconds));
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  timers_.emplace(clock_.now() + delay, std::move(fn));
  cv_.notify_all();
}

void MainLoop::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return stopped_ || (!busy_ && queue_.empty() && !timerDue()); });
}

void MainLoop::advanceClock(std::chrono::nanoseconds by) {
  {
    std::lock_guard lock(mutex_);
    if (manual_) manual_->advance(by);
    cv_.notify_all();
  }
  waitUntilIdle();
}

}  // namespace voryx::kit
