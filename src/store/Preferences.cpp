#include "store/Preferences.h"

#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/FileIo.h"
#include "base/AtomicFile.h"
#include "store/Files.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

// A preferences file is a few hundred bytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxFileSize = 1 << 20;

// Replaces file with text (0600: it names the user's modem and choices), creating its
// folder (0700) when missing.
bool replaceFile(const fs::path& file, std::string_view text) {
  std::error_code ec;
  createPrivateFolders(file.parent_path(), ec);
  return !ec && writeFileAtomically(file, text, 0600).ok();
}

}  // namespace

Preferences::Preferences(fs::path file) : file_(std::move(file)) { load(readObject(file_)); }

nlohmann::json Preferences::readObject(const fs::path& file) {
  auto text = readWholeFile(file, kMaxFileSize);
  if (!text) return nlohmann::json::object();
  auto json = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  return json.is_object() ? json : nlohmann::json::object();
}

void Preferences::load(const nlohmann::json& object) {
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  values_.clear();
  texts_.clear();
  for (auto& [key, v] : object.items()) {
    if (v.is_number_unsigned()) {
      auto n = v.get<std::uint64_t>();
      if (n <= static_cast<std::uint64_t>(kMax)) values_[key] = static_cast<std::int32_t>(n);
    } else if (v.is_number_integer()) {
      auto n = v.get<std::int64_t>();
      if (n >= kMin && n <= kMax) values_[key] = static_cast<std::int32_t>(n);
    } else if (v.is_string()) {
      texts_[key] = v.get<std::string>();
    }
  }
}

std::optional<std::int32_t> Preferences::value(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Preferences::text(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = texts_.find(key);
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

std::int32_t Preferences::integer(const std::string& key, std::int32_t defaultValue) const {
  return value(key).value_or(defaultValue);
}

void Preferences::setValue(const std::string& key, std::int32_t value) {
  std::lock_guard lock(mutex_);
  values_[key] = value;
  pending_[key] = value;
}

void Preferences::setText(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  texts_[key] = value;
  pendingTexts_[key] = value;
}

bool Preferences::synchronize() {
  std::lock_guard lock(mutex_);
  // The file as it stands (values another process wrote, and keys of any kind this one
  // does not read, which are kept), overlaid with the values set here.
  nlohmann::json merged = readObject(file_);
  for (const auto& [key, v] : pending_) merged[key] = v;
  for (const auto& [key, v] : pendingTexts_) merged[key] = v;
  const std::string text =
      merged.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (!replaceFile(file_, text)) return false;
  pending_.clear();
  pendingTexts_.clear();
  load(merged);
  return true;
}

}  // namespace voryx
