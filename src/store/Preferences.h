#pragma once
// The preferences store: integer values by key in one JSON file, written atomically
// (temporary file, fsync, rename) on synchronise, which also picks up values written by
// another process since. Safe from any thread (the read jobs write capacities from
// theirs). (Draft interface: the store owner completes it.)
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace voryx {

class Preferences {
 public:
  explicit Preferences(std::filesystem::path file);

  // The stored value, or nothing.
  std::optional<std::int32_t> value(const std::string& key) const;
  // Reading a key: the default, replaced by the stored value when there is one.
  std::int32_t integer(const std::string& key, std::int32_t defaultValue) const;
  void setValue(const std::string& key, std::int32_t value);
  // Flushes written values to the file and re-reads it. False when the write failed.
  bool synchronize();
  // Writing a key: set, then synchronise.
  bool store(const std::string& key, std::int32_t value) {
    setValue(key, value);
    return synchronize();
  }
};

// The keys and their defaults.
inline constexpr const char* kPrefSort = "sort";            // 0
inline constexpr const char* kPrefMaxSIM = "maxSIM";        // 0
inline constexpr const char* kPrefMaxSIMLen = "maxSIMLen";  // 14
inline constexpr const char* kPrefMaxSMS = "maxSMS";        // 0
inline constexpr const char* kPrefLastFirst = "lastFirst";  // 0
inline constexpr const char* kPrefFast = "fast";            // 0
inline constexpr const char* kPrefUcs2 = "ucs2";            // 0

}  // namespace voryx
