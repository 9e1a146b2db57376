#include "store/DatabaseWatch.h"

#include <chrono>

namespace voryx {

bool DatabaseWatch::changed() {
  constexpr BusyPolicy kNoWait{std::chrono::milliseconds(0)};
  if (!table_) {
    auto table = SimTable::open(database_, ListStore::Phonebook, kNoWait);
    if (!table) return false;
    table_.emplace(std::move(*table));
  }
  auto version = table_->dataVersion();
  if (!version) {
    if (version.error().code != Errc::Busy) {
      table_.reset();
      seenVersion_.reset();
    }
    return false;
  }
  pendingVersion_ = *version;
  return !seenVersion_ || *version != *seenVersion_;
}

}  // namespace voryx
