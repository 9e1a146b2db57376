#pragma once
// The application's string table: every user-visible text is looked up by key, and a key
// without a translation is shown as it stands. Loaded once at start-up; lookups are
// read-only afterwards and safe from any thread.
#include <filesystem>
#include <string>
#include <string_view>

namespace voryx {

// Loads Localizable.json (an object of key -> text). A missing or unreadable file leaves
// the table empty, so every key shows itself.
void loadStringTable(const std::filesystem::path& file);

// The text for key, or the key itself when the table has none.
std::string localized(std::string_view key);

}  // namespace voryx
