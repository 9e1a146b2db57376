#include "ui/Notices.h"

#include "base/Localized.h"

namespace voryx::notices {

std::string filled(std::string_view key, std::initializer_list<std::string> values) {
  std::string text = localized(key);
  std::size_t from = 0;
  for (const std::string& value : values) {
    std::size_t at = from;
    while (at < text.size() && !(text[at] == '%' && at + 1 < text.size() && (text[at + 1] == 'd' || text[at + 1] == 's'))) ++at;
    if (at >= text.size()) break;
    text.replace(at, 2, value);
    from = at + value.size();  // a value that holds "%d" itself is not filled in again
  }
  return text;
}

std::string read(bool sms, int rows) {
  if (rows == 1) return localized(sms ? "Read 1 message" : "Read 1 entry");
  return filled(sms ? "Read %d messages" : "Read %d entries", {std::to_string(rows)});
}

std::string wrote(int changes) {
  if (changes == 0) return localized("Nothing to write");
  if (changes == 1) return localized("Wrote 1 change");
  return filled("Wrote %d changes", {std::to_string(changes)});
}

std::string added(int added, int already) {
  std::string text = added == 0   ? localized("Nothing added")
                     : added == 1 ? localized("Added 1")
                                  : filled("Added %d", {std::to_string(added)});
  if (already == 1) text += "; " + localized("1 was already on the list");
  if (already > 1) text += "; " + filled("%d were already on the list", {std::to_string(already)});
  return text;
}

std::string restored(int entries, const std::string& file) {
  if (entries == 1) return filled("Restored 1 entry from %s", {file});
  return filled("Restored %d entries from %s", {std::to_string(entries), file});
}

std::string nameShortened(const std::string& name, int letters) {
  return filled("Name shortened to '%s' (the SIM keeps %d letters)", {name, std::to_string(letters)});
}

std::string copyToBookPlan(int contacts, int merged, int mergedInto, int already) {
  std::string text = contacts == 1 ? localized("Copy 1 contact into the address book?")
                                   : filled("Copy %d contacts into the address book?", {std::to_string(contacts)});
  if (mergedInto > 0) {
    text += " " + filled("%d numbers join %d of them.", {std::to_string(merged), std::to_string(mergedInto)});
  }
  if (already == 1) text += " " + localized("1 is there already.");
  if (already > 1) text += " " + filled("%d are there already.", {std::to_string(already)});
  return text;
}

std::string copiedToBook(int added, int already) {
  std::string text = added == 0   ? localized("Nothing added to the address book")
                     : added == 1 ? localized("Added 1 contact to the address book")
                                  : filled("Added %d contacts to the address book", {std::to_string(added)});
  if (already == 1) text += "; " + localized("1 was there already");
  if (already > 1) text += "; " + filled("%d were there already", {std::to_string(already)});
  return text;
}

}  // namespace voryx::notices
