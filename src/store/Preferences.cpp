#include "store/Preferences.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "store/Files.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

// A preferences file is a few hundred bytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxFileSize = 1 << 20;

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Replaces file with text so that a reader sees either the old or the new file whole,
// also across a crash: temporary file in the same folder, fsync, rename, fsync of the
// folder. A crash before the rename leaves a stray temporary file and the old file.
bool replaceFile(const fs::path& file, std::string_view text) {
  const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::error_code ec;
  createPrivateFolders(dir, ec);
  if (ec) return false;
  std::string tmp = (dir / (file.filename().string() + ".tmp-XXXXXX")).string();
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) return false;
  bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tmp.c_str(), file.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace

Preferences::Preferences(fs::path file) : file_(std::move(file)), values_(readFile(file_)) {}

Preferences::Values Preferences::readFile(const fs::path& file) {
  Values values;
  std::error_code ec;
  auto size = fs::file_size(file, ec);
  if (ec || size > kMaxFileSize) return values;
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return values;
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  for (auto& [key, v] : json.items()) {
    if (v.is_number_unsigned()) {
      auto n = v.get<std::uint64_t>();
      if (n <= static_cast<std::uint64_t>(kMax)) values[key] = static_cast<std::int32_t>(n);
    } else if (v.is_number_integer()) {
      auto n = v.get<std::int64_t>();
      if (n >= kMin && n <= kMax) values[key] = static_cast<std::int32_t>(n);
    }
  }
  return values;
}

std::optional<std::int32_t> Preferences::value(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
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

bool Preferences::synchronize() {
  std::lock_guard lock(mutex_);
  Values merged = readFile(file_);
  for (const auto& [key, v] : pending_) merged[key] = v;
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [key, v] : merged) json[key] = v;
  const std::string text =
      json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (!replaceFile(file_, text)) return false;
  pending_.clear();
  values_ = readFile(file_);
  return true;
}

}  // namespace voryx
