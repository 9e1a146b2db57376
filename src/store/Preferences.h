#pragma once
// The preferences store: 32-bit integer values by key in one JSON object file
// ({"sort": 1, "maxSIM": 250}), and text values: set by the user there by hand or on the
// setup screen ("contacts": a path), or by this program ("device"); a text value this
// program does not set is read and always kept. Safe from any thread (the read jobs write
// capacities from theirs); one object per file is meant to be shared by every user in the
// process.
// A missing, unreadable or garbled file reads as empty: every key takes its default.
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace voryx {

class Preferences {
 public:
  // Reads the file as it stands; creates nothing.
  explicit Preferences(std::filesystem::path file);
  Preferences(const Preferences&) = delete;
  Preferences& operator=(const Preferences&) = delete;

  // The stored value, or nothing.
  std::optional<std::int32_t> value(const std::string& key) const;
  // A text value (a path, an address), set by the user in the file; nothing when the key
  // is missing or not a text.
  std::optional<std::string> text(const std::string& key) const;
  // Reading a key: the default, replaced by the stored value when there is one.
  std::int32_t integer(const std::string& key, std::int32_t defaultValue) const;
  // Takes effect in this object at once; reaches the file at the next synchronise.
  void setValue(const std::string& key, std::int32_t value);
  // The same for a text value (the port that last answered).
  void setText(const std::string& key, const std::string& value);
  // Writes the file (the values found in it, overlaid with the values set here since the
  // last synchronise) atomically: a temporary file in the same folder, fsync, rename,
  // fsync of the folder; then takes the file's values as the current ones, which picks
  // up values another process wrote. Creates the folder (0700) when missing; the file is
  // 0600. False when the write failed: the set values are then kept for the next try and
  // the previous file stays as it was.
  bool synchronize();
  // Writing a key: set, then synchronise.
  bool store(const std::string& key, std::int32_t value) {
    setValue(key, value);
    return synchronize();
  }

  const std::filesystem::path& file() const { return file_; }

 private:
  using Values = std::map<std::string, std::int32_t, std::less<>>;
  // The file's object; an empty one when it is missing, too large or not a JSON object.
  static nlohmann::json readObject(const std::filesystem::path& file);
  void load(const nlohmann::json& object);  // values_ and texts_ from the file's object

  const std::filesystem::path file_;
  mutable std::mutex mutex_;
  Values values_;   // as last read, overlaid with pending_
  Values pending_;  // set since the last successful synchronise
  using Texts = std::map<std::string, std::string, std::less<>>;
  Texts texts_;         // text values, as last read, overlaid with pendingTexts_
  Texts pendingTexts_;  // set since the last successful synchronise
};

// The keys and their defaults.
inline constexpr const char* kPrefSort = "sort";            // 0
inline constexpr const char* kPrefMaxSIM = "maxSIM";        // 0
inline constexpr const char* kPrefMaxSIMLen = "maxSIMLen";  // 14
inline constexpr const char* kPrefNameSets = "nameSets";    // 0: not known (as HEX)
// Digits of a phonebook number, as the last read of the store learned (20: not known).
inline constexpr const char* kPrefMaxNumberLen = "maxNumberLen";
inline constexpr const char* kPrefMaxSMS = "maxSMS";        // 0
inline constexpr const char* kPrefLastFirst = "lastFirst";  // 0
inline constexpr const char* kPrefFast = "fast";            // 0
inline constexpr const char* kPrefUcs2 = "ucs2";            // 0
// The SIM's files record by record (AT+CRSM) instead of the phonebook and message commands.
inline constexpr const char* kPrefRecords = "records";      // 0
inline constexpr const char* kPrefDevice = "device";        // text: the port that last answered
// Text: the phonebook stores the modem offered at the last read, known ones only ("SM,FD,ON").
inline constexpr const char* kPrefPhonebooks = "phonebooks";
// Text: the phonebook store the main screen shows ("SM" when missing or unknown).
inline constexpr const char* kPrefPhonebook = "phonebook";
// Text: the address book ("eds:", "eds:<uid>" or a vCard path), chosen on the setup screen
// or written by hand; --contacts overrides it for one run.
inline constexpr const char* kPrefContacts = "contacts";

}  // namespace voryx
