#include "entries/Editing.h"

#include <algorithm>

#include "entries/DebugLog.h"
#include "transfer/GsmAlphabet.h"
#include "transfer/Charset.h"
#include "transfer/SimName.h"

namespace voryx::entries {
namespace {

Result<SimTable> openTable(const EditTarget& target) {
  return SimTable::open(target.database, target.store, target.busy);
}

EditResult notSaved(SimEntry entry, const Error& error) {
  return {EditOutcome::NotSaved, std::move(entry), error.detail};
}

// The entry as an edit stores it, or why it cannot be stored.
Result<SimEntry> cleaned(const EditTarget& target, std::int32_t location, std::string_view name,
                         std::string_view number, Mark mark) {
  if (!transfer::isUtf8(name) || !transfer::isUtf8(number)) {
    return Error{Errc::Invalid, "the name and the number must be UTF-8 text"};
  }
  return SimEntry{location, cleanName(target, name), cleanNumber(number), mark};
}

}  // namespace

std::string cleanName(const EditTarget& target, std::string_view name) {
  if (target.store == ListStore::Sms) return std::string(name);
  return transfer::fitNameForSets(name, target.maxSIMLen, target.nameSets);
}

std::string cleanNumber(std::string_view number) { return transfer::filterNumber(number, true); }

std::optional<std::int32_t> freeLocation(std::vector<std::int32_t> taken, int capacity) {
  std::sort(taken.begin(), taken.end());
  taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
  // Locations below 1 are no SIM location; they neither count nor take a place.
  taken.erase(taken.begin(), std::upper_bound(taken.begin(), taken.end(), 0));
  std::int32_t k = 1;
  for (std::int32_t location : taken) {
    if (location != k) return k;
    ++k;
  }
  if (!taken.empty() && static_cast<std::int64_t>(taken.size()) >= capacity) return std::nullopt;
  return k;
}

EditResult addEntry(const EditTarget& target, std::string_view name, std::string_view number) {
  auto entry = cleaned(target, 0, name, number, kMarkNew);
  if (!entry) return notSaved({}, entry.error());
  auto table = openTable(target);
  if (!table) return notSaved(*entry, table.error());
  auto location = table->add(*entry, [&target](const std::vector<std::int32_t>& taken) {
    return freeLocation(taken, target.capacity);
  });
  if (!location) return notSaved(*entry, location.error());
  if (!*location) return {EditOutcome::SimFull, *entry, {}};
  entry->posizione = **location;
  return {EditOutcome::Stored, *entry, {}};
}

EditResult changeEntry(const EditTarget& target, std::int32_t location, std::string_view name,
                       std::string_view number) {
  auto entry = cleaned(target, location, name, number, kMarkChanged);
  if (!entry) return notSaved({}, entry.error());
  auto table = openTable(target);
  if (!table) return notSaved(*entry, table.error());
  if (Status changed = table->change(*entry); !changed) return notSaved(*entry, changed.error());
  return {EditOutcome::Stored, *entry, {}};
}

Status deleteEntry(const EditTarget& target, std::int32_t location) {
  auto table = openTable(target);
  if (!table) return table.error();
  return table->markDeleted(location);
}

Status emptySim(const std::filesystem::path& database, BusyPolicy busy) {
  DebugLog::append("start empty sim\n");
  auto table = SimTable::open(database, ListStore::Phonebook, busy);
  if (!table) return table.error();
  return table->markAllDeleted();
}

}  // namespace voryx::entries
