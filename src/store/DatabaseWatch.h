#pragma once
// Whether another program (or a job) changed the database since the screen last showed
// it: SQLite's data version, read on a connection of the watch's own. Never waits for a
// lock: the main loop must not stall on another program's work. Main loop only.
#include <cstdint>
#include <filesystem>
#include <optional>

#include "store/SimTable.h"

namespace voryx {

class DatabaseWatch {
 public:
  explicit DatabaseWatch(std::filesystem::path database) : database_(std::move(database)) {}

  // True when the database changed since the last seen() (or may have: the watch's
  // connection was lost, or nothing was seen yet). A locked database is asked again
  // next time; any other failure (the file moved aside) opens a fresh connection, whose
  // numbers start anew, once it answers.
  bool changed();
  // What changed() read last is what the screen now shows.
  void seen() { seenVersion_ = pendingVersion_; }

 private:
  std::filesystem::path database_;
  std::optional<SimTable> table_;            // the watch's own connection
  std::optional<std::int64_t> seenVersion_;  // its data version the screen reflects
  std::int64_t pendingVersion_ = 0;          // the last one read
};

}  // namespace voryx
