#include "base/Localized.h"

#include <cctype>
#include <fstream>
#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

namespace voryx {
namespace {

using Texts = std::map<std::string, std::string, std::less<>>;

constexpr std::string_view kLanguages[] = {"en", "it"};

struct Tables {
  std::mutex mutex;
  std::map<std::string, Texts, std::less<>> byLanguage;
  std::string current = "en";
};

Tables& tables() {
  static Tables t;
  return t;
}

}  // namespace

void loadStringTable(const std::filesystem::path& file, std::string_view language) {
  Texts texts;
  std::ifstream in(file);
  if (in) {
    auto json = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (json.is_object()) {
      for (auto& [key, value] : json.items()) {
        if (value.is_string()) texts.emplace(key, value.get<std::string>());
      }
    }
  }
  std::lock_guard lock(tables().mutex);
  tables().byLanguage[std::string(language)] = std::move(texts);
}

void loadStringTables(const std::filesystem::path& folder) {
  for (std::string_view language : kLanguages) {
    const std::string name =
        language == "en" ? "Localizable.json" : "Localizable." + std::string(language) + ".json";
    loadStringTable(folder / name, language);
  }
}

std::string chooseLanguage(std::string_view preference) {
  std::string first;
  for (char c : preference) {
    if (!std::isalpha(static_cast<unsigned char>(c))) break;
    first += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (std::string_view language : kLanguages) {
    if (first == language) return first;
  }
  return "en";
}

void setLanguage(std::string_view language) {
  std::lock_guard lock(tables().mutex);
  tables().current = chooseLanguage(language);
}

std::string language() {
  std::lock_guard lock(tables().mutex);
  return tables().current;
}

std::string localized(std::string_view key) {
  std::lock_guard lock(tables().mutex);
  auto& t = tables();
  auto table = t.byLanguage.find(t.current);
  if (table == t.byLanguage.end()) return std::string(key);
  auto it = table->second.find(key);
  return it != table->second.end() ? it->second : std::string(key);
}

}  // namespace voryx
