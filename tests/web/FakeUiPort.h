#pragma once
// A stand-in for the screens: a snapshot that a test changes by hand, and a record of the
// events the server handed over.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "ui/kit/UiPort.h"

namespace voryx::web::testing {

class FakeUiPort : public kit::UiPort {
 public:
  FakeUiPort() { snap_ = {{"version", 1}, {"navigation", nlohmann::json::array()}}; }

  nlohmann::json snapshot() const override {
    std::lock_guard lock(mu_);
    return snap_;
  }
  std::uint64_t version() const override {
    std::lock_guard lock(mu_);
    return snap_["version"].get<std::uint64_t>();
  }
  std::uint64_t waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const override {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return snap_["version"].get<std::uint64_t>() != seen; });
    return snap_["version"].get<std::uint64_t>();
  }
  kit::EventResult dispatch(const nlohmann::json& event) override {
    std::lock_guard lock(mu_);
    events_.push_back(event);
    return answer_;
  }

  // Publishes a new snapshot with `title` on its one screen.
  void change(const std::string& title) {
    {
      std::lock_guard lock(mu_);
      snap_["version"] = snap_["version"].get<std::uint64_t>() + 1;
      snap_["navigation"] = nlohmann::json::array({{{"screen", "RootViewController"}, {"title", title}}});
    }
    cv_.notify_all();
  }
  void answer(kit::EventResult r) {
    std::lock_guard lock(mu_);
    answer_ = std::move(r);
  }
  std::vector<nlohmann::json> events() const {
    std::lock_guard lock(mu_);
    return events_;
  }

 private:
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  nlohmann::json snap_;
  std::vector<nlohmann::json> events_;
  kit::EventResult answer_;
};

}  // namespace voryx::web::testing
