#include "ui/kit/NotificationCenter.h"

#include <algorithm>

namespace voryx::kit {

void NotificationCenter::addObserver(const void* owner, std::string name, Observer fn) {
  entries_.push_back({++nextSerial_, owner, std::move(name), std::move(fn)});
}

void NotificationCenter::removeObserver(const void* owner) {
  std::erase_if(entries_, [owner](const Entry& e) { return e.owner == owner; });
}

void NotificationCenter::post(const Notification& note) const {
  std::vector<std::uint64_t> serials;
  for (const auto& e : entries_) {
    if (e.name == note.name) serials.push_back(e.serial);
  }
  for (auto serial : serials) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [serial](const Entry& e) { return e.serial == serial; });
    if (it == entries_.end()) continue;
    const Observer fn = it->fn;  // the entry may go while fn runs
    fn(note);
  }
}

}  // namespace voryx::kit
