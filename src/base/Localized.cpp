#include "base/Localized.h"

#include <fstream>
#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

namespace voryx {
namespace {

struct Table {
  std::mutex mutex;
  std::map<std::string, std::string, std::less<>> texts;
};

Table& table() {
  static Table t;
  return t;
}

}  // namespace

void loadStringTable(const std::filesystem::path& file) {
  std::map<std::string, std::string, std::less<>> texts;
  std::ifstream in(file);
  if (in) {
    auto json = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (json.is_object()) {
      for (auto& [key, value] : json.items()) {
        if (value.is_string()) texts.emplace(key, value.get<std::string>());
      }
    }
  }
  std::lock_guard lock(table().mutex);
  table().texts = std::move(texts);
}

std::string localized(std::string_view key) {
  std::lock_guard lock(table().mutex);
  auto it = table().texts.find(key);
  return it != table().texts.end() ? it->second : std::string(key);
}

}  // namespace voryx
