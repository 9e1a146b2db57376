#include "store/EntryList.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <set>
#include <tuple>
#include <string>

#include "base/AtomicFile.h"
#include "base/Localized.h"
#include "base/Text.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

// Moves a damaged database aside under a timestamped name, with its rollback journal or
// write-ahead log and the write passes' journals (SimTable::journal): a stale journal left
// behind would be played into the fresh copy.
// Returns the new path, or empty when there was no file or it could not be moved.
fs::path moveAside(const fs::path& file) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = file.string() + ".damaged-" + stamp;
  for (int n = 0; n < 100; ++n) {
    fs::path aside = n == 0 ? base : base + "-" + std::to_string(n);
    if (renameNoReplace(file, aside)) {
      for (const char* companion : {"-journal", "-wal", ".pass-sim", ".pass-simsms"}) {
        fs::path from = file.string() + companion;
        if (::access(from.c_str(), F_OK) == 0) renameNoReplace(from, aside.string() + companion);
      }
      return aside;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

// The UTF-16 code units of a UTF-8 text.
std::u16string utf16Units(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = utf8CharAt(s, i);
    const char32_t cp = c.value;
    i += c.length;
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace

std::vector<SimEntry> joinMessageParts(const std::vector<SimEntry>& rows, const MessageParts& parts) {
  // The parts of one message: one sender, its reference and count.
  using Key = std::tuple<std::string, std::int32_t, std::int32_t>;
  std::map<Key, std::vector<const SimEntry*>> messages;
  for (const SimEntry& row : rows) {
    auto part = parts.find(row.posizione);
    if (part == parts.end()) continue;
    messages[{row.telefono, part->second.reference, part->second.total}].push_back(&row);
  }
  std::vector<SimEntry> joined;
  std::set<std::int32_t> shown;  // rows a joined row stands for
  for (const SimEntry& row : rows) {
    auto part = parts.find(row.posizione);
    if (part == parts.end()) {
      joined.push_back(row);
      continue;
    }
    if (shown.contains(row.posizione)) continue;
    const MessagePart& first = part->second;
    const std::vector<const SimEntry*>& all = messages[{row.telefono, first.reference, first.total}];
    std::map<std::int32_t, const SimEntry*> byNumber;  // a part stored twice counts once
    SimEntry whole = row;
    for (const SimEntry* p : all) {
      shown.insert(p->posizione);
      const MessagePart& which = parts.at(p->posizione);
      if (!byNumber.contains(which.part) || p->posizione < byNumber[which.part]->posizione) byNumber[which.part] = p;
      if (p->posizione < whole.posizione) whole.posizione = p->posizione;
      if (p->operazione == kMarkDeleted) whole.operazione = kMarkDeleted;
    }
    whole.nome.clear();
    for (std::int32_t n = 1; n <= first.total; ++n) {
      auto p = byNumber.find(n);
      whole.nome += p != byNumber.end() ? p->second->nome
                                        : "[" + localized("part") + " " + std::to_string(n) + " " +
                                              localized("of") + " " + std::to_string(first.total) + " " +
                                              localized("missing") + "]";
    }
    whole.nome += " (" + std::to_string(first.total) + " " + localized("parts") + ")";
    joined.push_back(std::move(whole));
  }
  return joined;
}

ListLoad loadEntries(const fs::path& database, ListStore store, std::string_view search,
                     int sortField, BusyPolicy busy, Phonebook book) {
  ListLoad load;
  // The connection is closed when this lambda returns, before the file may be moved.
  Result<std::vector<SimEntry>> rows = [&]() -> Result<std::vector<SimEntry>> {
    auto table = SimTable::open(database, store, busy, book);
    if (!table) return table.error();
    auto listed = table->list(search, sortField);
    if (!listed || store != ListStore::Sms) return listed;
    auto parts = table->parts();
    if (!parts) return parts.error();
    return joinMessageParts(*listed, *parts);
  }();
  if (rows) {
    load.entries = std::move(*rows);
    return load;
  }
  load.detail = rows.error().detail;
  switch (rows.error().code) {
    case Errc::Busy:
      load.failure = LoadFailure::Busy;
      break;
    case Errc::Corrupt:
      load.failure = LoadFailure::Corrupt;
      load.movedAsideTo = moveAside(database);
      break;
    case Errc::NotFound:
    case Errc::Io:
      load.failure = LoadFailure::Unreadable;
      break;
    default:
      load.failure = LoadFailure::Step;
  }
  return load;
}

int ordina(const SimEntry& a, const SimEntry& b) {
  return a.posizione < b.posizione ? -1 : a.posizione == b.posizione ? 0 : 1;
}

int ordinaName(const SimEntry& a, const SimEntry& b) {
  return utf16Units(a.nome).compare(utf16Units(b.nome));
}

void sortEntries(std::vector<SimEntry>& entries, int sortField) {
  auto less = sortField == 0 ? ordina : ordinaName;
  std::stable_sort(entries.begin(), entries.end(),
                   [less](const SimEntry& a, const SimEntry& b) { return less(a, b) < 0; });
}

}  // namespace voryx
