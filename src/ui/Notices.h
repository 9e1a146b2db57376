#pragma once
// The texts of the notices the screens show once a command has done its work
// (UiApplication::showNotice): each looked up in the string table, singular and plural
// under keys of their own, and filled in with its numbers and names. Any thread.
#include <initializer_list>
#include <string>
#include <string_view>

#include "entries/ContactPlan.h"

namespace voryx::notices {

// The string table's text for `key` with each "%d" or "%s" in it replaced, in order, by
// the next of `values` (a placeholder past the last value stays as it is).
std::string filled(std::string_view key, std::initializer_list<std::string> values);

// "Read 36 entries", "Read 1 message".
std::string read(bool sms, int rows);
// "Wrote 4 changes", "Wrote 1 change"; a write that had nothing to send: "Nothing to write".
std::string wrote(int changes);
// "Added 3", "Added 1; 2 were already on the list", "Nothing added; 1 was already on the
// list".
std::string added(int added, int already);
// "Restored 35 entries from Voryx.csv".
std::string restored(int entries, const std::string& file);
// "Name shortened to 'Dr. Weber Prax' (the SIM keeps 14 letters)": `name` as stored,
// `letters` its characters.
std::string nameShortened(const std::string& name, int letters);

// "Copy 24 contacts into the address book? 6 numbers join 3 of them; 9 are there already."
// Numbers for contacts the book has already: "2 numbers go to contacts already there."
std::string copyToBookPlan(int contacts, int merged, int mergedInto, int joined, int already);
// "Added 24 contacts to the address book; 2 numbers went to contacts already there; 9 were
// there already" ("Nothing added to the address book" when neither happened).
std::string copiedToBook(int added, int joined, int already);

// The question before "Import all contacts" marks anything, one line a count:
//   Add 3 entries to the SIM phonebook?
//   2 do not fit: the SIM is full.
//   4 numbers are on the list already.
//   1 name is cut to what the SIM holds:
//   Alessandra Bianchini → Alessandra B
//   1 number the SIM cannot hold is left out:
//   ACME: 0800-FLOWERS: 'F' cannot be stored in a SIM number.
// (kListedInPlan names at most, then "and 2 more"). A plan that adds nothing begins
// "Nothing to add." instead, for an alert that says why.
inline constexpr std::size_t kListedInPlan = 3;
std::string importPlan(const entries::BookToSimPlan& plan);

}  // namespace voryx::notices
