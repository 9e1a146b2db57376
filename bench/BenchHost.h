#pragma once
// The host of the benchmarks' jobs: takes progress texts at once, prints alerts, and lets
// the benchmark wait for a job's end handler.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "transfer/TransferRunner.h"

namespace voryx::transfer {

class BenchHost final : public JobHost {
 public:
  void updateCaption(const std::string&) override {}
  void updateLabel(const std::string&) override {}
  void endLoadSIM(const JobReport& r) override { end(r); }
  void endSaveSIM(const JobReport& r) override { end(r); }
  void showAlert(const std::string& title, const std::string& message) override {
    std::fprintf(stderr, "alert: %s: %s\n", title.c_str(), message.c_str());
  }
  JobReport waitEnd() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ended_; });
    ended_ = false;
    return report_;
  }

 private:
  void end(const JobReport& r) {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      report_ = r;
    }
    changed_.notify_all();
  }
  JobReport report_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
};

}  // namespace voryx::transfer
