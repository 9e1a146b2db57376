#pragma once
// Notifications by name, delivered synchronously on the main loop to every observer of
// that name, in the order they began observing.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace voryx::kit {

struct Notification {
  std::string name;
  nlohmann::json object;  // what the poster attached (the touch, for the window's)
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;

  // `owner` identifies the observer for removeObserver.
  void addObserver(const void* owner, std::string name, Observer fn);
  void removeObserver(const void* owner);
  // An observer added during a post first hears the next one; one removed during a
  // post is not called again, not even by this one.
  void post(const Notification& note) const;

 private:
  struct Entry {
    std::uint64_t serial;
    const void* owner;
    std::string name;
    Observer fn;
  };
  std::vector<Entry> entries_;
  std::uint64_t nextSerial_ = 0;
};

}  // namespace voryx::kit
