#pragma once
// The application's string tables: every user-visible text is looked up by key in the
// table of the current language, and a key without a text there is shown as it stands.
// English (Localizable.json) and Italian (Localizable.it.json) are shipped. Loaded once
// at start-up; lookups and language changes are safe from any thread.
#include <filesystem>
#include <string>
#include <string_view>

namespace voryx {

// Loads Localizable.json (English) and Localizable.<language>.json of every other
// language from `folder`. A missing or unreadable file leaves that table empty, so every
// key shows itself.
void loadStringTables(const std::filesystem::path& folder);
// Loads one table (an object of key -> text) for `language`, replacing it; a missing
// file leaves it empty.
void loadStringTable(const std::filesystem::path& file, std::string_view language = "en");

// The language of a preference: an Accept-Language header ("it-IT,it;q=0.9,en;q=0.8"),
// a browser's language ("it-IT") or a locale name ("it_IT.UTF-8"). The first language
// named decides: "it" for Italian, else "en".
std::string chooseLanguage(std::string_view preference);
// The language texts are looked up in from now on ("en" for any it does not have).
void setLanguage(std::string_view language);
std::string language();

// The text for key in the current language, or the key itself when the table has none.
std::string localized(std::string_view key);

}  // namespace voryx
