#pragma once
// The promise every path that touches the SIM keeps, checked in one place: the list is the
// SIM. After a read, a write (whole or stopped by a fault), a restore or a copy:
//   - every location (message index) the SIM holds is a row of the list, whatever its
//     mark: nothing on the SIM is unknown to the list, so nothing is lost or doubled
//     unseen. The one exception is a message a write was storing when it was cut off
//     before the SIM's answer: the pass journal names it (unsettled), the list still has
//     its row marked, and the next write looks for it on the SIM before anything else;
//   - every row in step (mark 0) is exactly what the SIM holds at its location: so "Nothing
//     to write" means the SIM holds the list.
// The SIM is read with the virtual SIM's own decoder, never with the app's. Call it last in
// every write, fault and kill case, whatever the transport:
//   EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/FileIo.h"
#include "sim/SimCard.h"
#include "store/PassJournal.h"
#include "store/SimTable.h"

namespace voryx::test {

// A number as both sides may write it: the characters a SIM number holds, "+" first when
// international. The SIM's records hold 20 digits without their extension records, which the
// virtual SIM's own decoder does not follow: a longer number is compared on those.
inline std::string comparableNumber(std::string_view number, bool cut) {
  std::string out;
  for (char c : number) {
    if ((c >= '0' && c <= '9') || c == '+' || c == '*' || c == '#' || c == ',' || c == ';') out += c;
  }
  if (cut) {
    const std::size_t digits = out.starts_with('+') ? 21 : 20;
    if (out.size() > digits) out.resize(digits);
  }
  return out;
}

inline ::testing::AssertionResult listIsSim(const std::filesystem::path& database, ListStore store,
                                            const sim::SimCard& card, Phonebook book = Phonebook::SM) {
  auto table = SimTable::open(database, store, kShellBusy, book);
  if (!table) return ::testing::AssertionFailure() << "the list cannot be opened: " << table.error().detail;
  auto rows = table->list();
  if (!rows) return ::testing::AssertionFailure() << "the list cannot be read: " << rows.error().detail;

  // What the SIM holds: location -> (name or text, number).
  std::map<int, std::pair<std::string, std::string>> held;
  if (store == ListStore::Sms) {
    for (const auto& [index, message] : card.messages()) held[index] = {message.text, message.number};
  } else {
    const std::string code(phonebookKind(book).code);
    for (int location = 1; location <= card.locations(code); ++location) {
      if (auto e = card.entry(location, code)) held[location] = {e->name, e->number};
    }
  }
  // The messages a cut-off write may have stored (the journal's unsettled ones).
  std::vector<Confirmed> unsettled;
  if (store == ListStore::Sms) {
    auto journal = readWholeFile(database.string() + ".pass-simsms");
    if (journal) unsettled = parsePassJournal(*journal).unsettled;
  }
  auto explained = [&](const std::pair<std::string, std::string>& content) {
    return std::any_of(unsettled.begin(), unsettled.end(), [&](const Confirmed& c) {
      return c.took.value_or(c.sent.nome) == content.first &&
             comparableNumber(c.sent.telefono, false) == comparableNumber(content.second, false);
    });
  };
  std::ostringstream faults;
  std::map<int, const SimEntry*> listed;
  for (const SimEntry& row : *rows) listed[row.posizione] = &row;
  for (const auto& [location, content] : held) {
    if (!listed.count(location) && !explained(content)) {
      faults << "\n  the SIM holds " << location << " \"" << content.first << "\" " << content.second
             << ", which is not in the list";
    }
  }
  for (const SimEntry& row : *rows) {
    if (row.operazione != kMarkInStep) continue;
    auto at = held.find(row.posizione);
    if (at == held.end()) {
      faults << "\n  row " << row.posizione << " \"" << row.nome << "\" is in step, but the SIM holds nothing there";
      continue;
    }
    const bool sms = store == ListStore::Sms;
    if (at->second.first != row.nome ||
        comparableNumber(at->second.second, !sms) != comparableNumber(row.telefono, !sms)) {
      faults << "\n  row " << row.posizione << " \"" << row.nome << "\" " << row.telefono
             << " is in step, but the SIM holds \"" << at->second.first << "\" " << at->second.second;
    }
  }
  if (faults.str().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the list is not the SIM:" << faults.str();
}

// The same promise where the list names messages by ModemManager's numbers rather than the
// SIM's indexes (messages through ModemManager's Messaging interface), so rows and messages
// are matched by content. The SIM's messages are taken as ModemManager shows them: the parts
// of a long message joined (no text while a part is missing). Every row in step is a message
// the SIM holds, no two rows the same one; every other message the SIM holds is the old copy
// of a row marked changed or deleted, or one a cut-off write was storing (the journal's
// unsettled ones): nothing is on the SIM twice unseen, nothing in step is missing from it.
inline ::testing::AssertionResult listIsSimByContent(const std::filesystem::path& database, const sim::SimCard& card) {
  auto table = SimTable::open(database, ListStore::Sms, kShellBusy);
  if (!table) return ::testing::AssertionFailure() << "the list cannot be opened: " << table.error().detail;
  auto rows = table->list();
  if (!rows) return ::testing::AssertionFailure() << "the list cannot be read: " << rows.error().detail;
  // The concatenation element of a part's header: (reference, count, number).
  auto partOf = [](const std::string& h) -> std::optional<std::array<int, 3>> {
    for (std::size_t i = 0; i + 2 <= h.size();) {
      const auto at = [&h](std::size_t k) { return static_cast<int>(static_cast<unsigned char>(h[k])); };
      const std::size_t length = static_cast<std::size_t>(at(i + 1));
      if (i + 2 + length > h.size()) break;
      if (at(i) == 0 && length == 3) return std::array<int, 3>{at(i + 2), at(i + 3), at(i + 4)};
      if (at(i) == 8 && length == 4) return std::array<int, 3>{at(i + 2) << 8 | at(i + 3), at(i + 4), at(i + 5)};
      i += 2 + length;
    }
    return std::nullopt;
  };
  std::map<std::tuple<std::string, int, int>, std::map<int, std::string>> parts;
  std::vector<std::pair<std::string, std::string>> held;  // text, number
  for (const auto& [index, m] : card.messages()) {
    if (auto part = partOf(m.header)) {
      parts[{m.number, (*part)[0], (*part)[1]}][(*part)[2]] = m.text;
    } else {
      held.emplace_back(m.text, m.number);
    }
  }
  for (const auto& [key, pieces] : parts) {
    std::string text;
    for (const auto& [n, piece] : pieces) text += piece;
    held.emplace_back(static_cast<int>(pieces.size()) == std::get<2>(key) ? text : std::string(), std::get<0>(key));
  }
  std::vector<Confirmed> unsettled;
  auto journal = readWholeFile(database.string() + ".pass-simsms");
  if (journal) unsettled = parsePassJournal(*journal).unsettled;
  const auto same = [](const std::string& text, const std::string& number, const std::pair<std::string, std::string>& m) {
    return m.first == text && comparableNumber(m.second, false) == comparableNumber(number, false);
  };
  std::vector<bool> taken(held.size(), false);
  std::ostringstream faults;
  int oldCopies = 0;
  for (const SimEntry& row : *rows) {
    if (row.operazione == kMarkChanged || row.operazione == kMarkDeleted) ++oldCopies;
    if (row.operazione != kMarkInStep) continue;
    std::size_t k = 0;
    while (k < held.size() && (taken[k] || !same(row.nome, row.telefono, held[k]))) ++k;
    if (k == held.size()) {
      faults << "\n  row " << row.posizione << " \"" << row.nome << "\" " << row.telefono
             << " is in step, but the SIM holds no such message (or the list has it twice)";
    } else {
      taken[k] = true;
    }
  }
  for (std::size_t k = 0; k < held.size(); ++k) {
    if (taken[k]) continue;
    auto explained = std::find_if(unsettled.begin(), unsettled.end(), [&](const Confirmed& c) {
      return same(c.took.value_or(c.sent.nome), c.sent.telefono, held[k]);
    });
    if (explained != unsettled.end()) {
      unsettled.erase(explained);
    } else if (oldCopies > 0) {
      --oldCopies;
    } else {
      faults << "\n  the SIM holds \"" << held[k].first << "\" " << held[k].second << ", which is not in the list";
    }
  }
  if (faults.str().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the list is not the SIM:" << faults.str();
}

}  // namespace voryx::test
