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

std::string copyToBookPlan(int contacts, int merged, int mergedInto, int joined, int already) {
  std::string text = contacts == 0 ? localized("Copy the SIM into the address book?")
                     : contacts == 1
                         ? localized("Copy 1 contact into the address book?")
                         : filled("Copy %d contacts into the address book?", {std::to_string(contacts)});
  if (mergedInto > 0) {
    text += " " + filled("%d numbers join %d of them.", {std::to_string(merged), std::to_string(mergedInto)});
  }
  if (joined == 1) text += " " + localized("1 number goes to a contact already there.");
  if (joined > 1) text += " " + filled("%d numbers go to contacts already there.", {std::to_string(joined)});
  if (already == 1) text += " " + localized("1 is there already.");
  if (already > 1) text += " " + filled("%d are there already.", {std::to_string(already)});
  return text;
}

std::string copiedToBook(int added, int joined, int already) {
  std::string text = added == 1  ? localized("Added 1 contact to the address book")
                     : added > 1 ? filled("Added %d contacts to the address book", {std::to_string(added)})
                                 : "";
  const std::string given = joined == 1  ? localized("1 number went to a contact already there")
                            : joined > 1 ? filled("%d numbers went to contacts already there", {std::to_string(joined)})
                                         : "";
  if (!given.empty()) text += (text.empty() ? "" : "; ") + given;
  if (text.empty()) text = localized("Nothing added to the address book");
  if (already == 1) text += "; " + localized("1 was there already");
  if (already > 1) text += "; " + filled("%d were there already", {std::to_string(already)});
  return text;
}

namespace {

// "1 <singular>" or "<n> <plural>" on a line of its own, "" for none.
std::string countLine(int n, const char* one, const char* many) {
  if (n <= 0) return {};
  return "\n" + (n == 1 ? localized(one) : filled(many, {std::to_string(n)}));
}

// The first kListedInPlan of `lines`, a line each, then "and 2 more".
std::string listed(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size() && i < kListedInPlan; ++i) out += "\n" + lines[i];
  if (lines.size() > kListedInPlan) out += "\n" + filled("and %d more", {std::to_string(lines.size() - kListedInPlan)});
  return out;
}

}  // namespace

std::string importPlan(const entries::BookToSimPlan& plan) {
  const int adds = static_cast<int>(plan.fits.size());
  std::string lines = countLine(plan.beyond, "1 does not fit: the SIM is full.", "%d do not fit: the SIM is full.");
  lines += countLine(plan.already, "1 number is on the list already.", "%d numbers are on the list already.");
  if (!plan.cuts.empty()) {
    lines += countLine(static_cast<int>(plan.cuts.size()), "1 name is cut to what the SIM holds:",
                       "%d names are cut to what the SIM holds:");
    std::vector<std::string> cuts;
    for (const auto& cut : plan.cuts) cuts.push_back(cut.from + " \u2192 " + cut.to);
    lines += listed(cuts);
  }
  if (!plan.refused.empty()) {
    lines += countLine(static_cast<int>(plan.refused.size()), "1 number the SIM cannot hold is left out:",
                       "%d numbers the SIM cannot hold are left out:");
    lines += listed(plan.refused);
  }
  lines += countLine(plan.nameless, "1 person without a name is left out.", "%d persons without a name are left out.");
  if (adds == 0 && lines.empty()) return localized("Nothing to add: the address book has no numbers.");
  const std::string head = adds == 0   ? localized("Nothing to add.")
                           : adds == 1 ? localized("Add 1 entry to the SIM phonebook?")
                                       : filled("Add %d entries to the SIM phonebook?", {std::to_string(adds)});
  return head + lines;
}

}  // namespace voryx::notices
