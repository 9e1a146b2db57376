#include "entries/Editing.h"

#include <algorithm>

#include "base/Localized.h"
#include "base/DebugLog.h"
#include "codec/GsmAlphabet.h"
#include "codec/Charset.h"
#include "codec/SimName.h"
#include "codec/SmsPdu.h"

namespace voryx::entries {
namespace {

Result<SimTable> openTable(const EditTarget& target) {
  return SimTable::open(target.database, target.store, target.busy, target.book);
}

EditResult notSaved(SimEntry entry, const Error& error) {
  return {EditOutcome::NotSaved, std::move(entry), error.detail};
}

EditResult refused(const Error& error) { return {EditOutcome::Refused, {}, error.detail}; }

// EN and SDN are the SIM's own: no edit reaches them.
Status writable(const EditTarget& target) {
  const PhonebookKind& kind = phonebookKind(target.book);
  if (target.store == ListStore::Sms || kind.writable) return Ok{};
  return Error{Errc::Invalid, localized(kind.title) + " (" + std::string(kind.code) + "): " +
                                  localized("the SIM's own numbers, which can be read but not written.")};
}

// The entry as an edit stores it, or why it cannot be stored.
Result<SimEntry> cleaned(const EditTarget& target, std::int32_t location, std::string_view name,
                         std::string_view number, Mark mark) {
  if (Status open = writable(target); !open) return open.error();
  if (!codec::isUtf8(name) || !codec::isUtf8(number)) {
    return Error{Errc::Invalid, localized("The name and the number must be UTF-8 text.")};
  }
  if (target.store == ListStore::Sms) {
    if (std::string refusal = messageTextRefusal(name); !refusal.empty()) return Error{Errc::Invalid, refusal};
    return SimEntry{location, std::string(name), codec::filterNumber(number, true), mark};
  }
  auto stored = cleanNumber(number, target.maxNumberLen);
  if (!stored) return stored.error();
  return SimEntry{location, cleanName(target, name), std::move(*stored), mark};
}

std::string inQuotes(const std::string& character) { return "'" + character + "' "; }

}  // namespace

std::string withoutControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // the "\n" makes the blank
    if (c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') {
      out.push_back(' ');
      continue;
    }
    if (c < 0x20 || c == 0x7F) continue;
    // C1 controls are C2 80 to C2 9F; U+0085 (next line) is a line break among them.
    if (c == 0xC2 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        if (next == 0x85) out.push_back(' ');
        ++i;
        continue;
      }
    }
    // U+2028 and U+2029, the line and paragraph separators: E2 80 A8 / A9.
    if (c == 0xE2 && text.substr(i + 1, 1) == "\x80" && i + 2 < text.size() &&
        (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      out.push_back(' ');
      i += 2;
      continue;
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string messageTextRefusal(std::string_view text) {
  const codec::SmsLength length = codec::smsLength(text);
  if (length.used <= length.holds) return {};
  const std::string holds =
      length.gsm ? localized("characters when every character is of the GSM alphabet (each of € [ ] { } ^ ~ | counts two)")
                 : localized("characters when a character is outside the GSM alphabet (an emoji counts two)");
  return localized("The text is longer than one message: a message holds") + " " + std::to_string(length.holds) +
         " " + holds + "; " + localized("this text takes") + " " + std::to_string(length.used) + ".";
}

std::string cleanName(const EditTarget& target, std::string_view name) {
  if (target.store == ListStore::Sms) return std::string(name);
  return cleanName(target.room(), name);
}

std::string cleanName(const EntryRoom& room, std::string_view name) {
  return codec::fitNameForSets(withoutControlCharacters(name), room.maxSIMLen, room.nameSets);
}

// The reader keeps no control character.
Result<std::string> cleanNumber(std::string_view number, int maxDigits) {
  using Fault = codec::TypedNumber::Fault;
  codec::TypedNumber read = codec::readTypedNumber(number);
  switch (read.fault) {
    case Fault::None:
      break;
    case Fault::Character:
      return Error{Errc::Invalid, inQuotes(read.character) + localized("cannot be stored in a SIM number.")};
    case Fault::Wait:
      return Error{Errc::Invalid, inQuotes(read.character) + localized("cannot be stored in a SIM number: a SIM holds a pause (p), not a wait.")};
    case Fault::PlusInside:
      return Error{Errc::Invalid, inQuotes(read.character) + localized("cannot be stored in a SIM number other than at its start.")};
    case Fault::PlusAlone:
      return Error{Errc::Invalid, localized("A number that starts with '+' needs digits after it.")};
  }
  // No limit at all (a preferences file edited by hand) is the safe one, not a refusal
  // of every number.
  const int limit = maxDigits > 0 ? maxDigits : codec::kSimNumberDigits;
  const std::size_t digits = read.number.size() - (read.number.starts_with('+') ? 1 : 0);
  if (digits > static_cast<std::size_t>(limit)) {
    return Error{Errc::Invalid, localized("The number has") + " " + std::to_string(digits) + " " +
                                    localized("digits; a number on this SIM holds") + " " +
                                    std::to_string(limit) + "."};
  }
  return std::move(read.number);
}

Admitted admitEntry(const EntryRoom& room, std::string_view name, std::string_view number) {
  Admitted out;
  const std::string whole = withoutControlCharacters(name);
  out.name = cleanName(room, whole);
  out.nameCut = out.name != whole;
  if (auto stored = cleanNumber(number, room.maxNumberLen)) {
    out.number = std::move(*stored);
  } else {
    out.refusal = stored.error().detail;
  }
  return out;
}

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
  if (capacity > 0 && static_cast<std::int64_t>(taken.size()) >= capacity) return std::nullopt;
  return k;
}

EditResult addEntry(const EditTarget& target, std::string_view name, std::string_view number) {
  auto entry = cleaned(target, 0, name, number, kMarkNew);
  if (!entry) return refused(entry.error());
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
  if (!entry) return refused(entry.error());
  auto table = openTable(target);
  if (!table) return notSaved(*entry, table.error());
  if (Status changed = table->change(*entry); !changed) return notSaved(*entry, changed.error());
  return {EditOutcome::Stored, *entry, {}};
}

Status deleteEntry(const EditTarget& target, std::int32_t location) {
  if (Status open = writable(target); !open) return open;
  auto table = openTable(target);
  if (!table) return table.error();
  return table->markDeleted(location);
}

Status emptySim(const std::filesystem::path& database, BusyPolicy busy, Phonebook book) {
  if (!phonebookKind(book).writable) return writable(EditTarget{database, ListStore::Phonebook, 0, 14, busy, 0, book});
  DebugLog::append("start empty sim\n");
  auto table = SimTable::open(database, ListStore::Phonebook, busy, book);
  if (!table) return table.error();
  return table->markAllDeleted();
}

}  // namespace voryx::entries
