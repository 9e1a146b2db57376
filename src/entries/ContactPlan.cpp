#include "entries/ContactPlan.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "base/Text.h"
#include "entries/Import.h"

namespace voryx::entries {
namespace {

// The number as it is dialled: "+" and digits. A leading "00" is the international
// prefix; "(0)" after a country code ("+44 (0)20 …") is the trunk prefix a caller from
// abroad leaves out, except where the number keeps it ("+39 (0)2 …" is "+3902…").
std::string dialled(std::string_view number) {
  std::string out;
  for (std::size_t i = 0; i < number.size(); ++i) {
    const char c = number[i];
    if (c >= '0' && c <= '9') {
      out += c;
    } else if (c == '+' && out.empty()) {
      out += c;
    } else if (c == '(' && number.substr(i, 3) == "(0)" && out.starts_with('+')) {
      if (codec::keepsTrunkZero(out)) out += '0';
      i += 2;
    }
  }
  if (out.starts_with("00")) out = "+" + out.substr(2);
  return out;
}

constexpr std::size_t kShortestNational = 6;

// How a country's numbers are dialled at home, given what follows its code.
enum class NationalForm {
  TrunkZero,  // "0" and the rest: most countries
  Whole,      // the rest as it is: no trunk prefix
  Nanp,       // the rest as it is, or "1" and the rest
};

// Countries whose national number is what follows the code, with no trunk prefix:
// Greece, Spain, Denmark, Norway, Poland, Singapore, Portugal, Luxembourg, Iceland,
// Malta, Cyprus, Latvia, Estonia, Andorra, Monaco, Czech Republic, Liechtenstein,
// Hong Kong, Macau, Kuwait, Oman, Bahrain, Qatar. Italy, San Marino and the Vatican keep
// the leading "0" of a fixed number in the international form, and their mobiles have
// none, so theirs are dialled whole too.
constexpr std::string_view kDialledWhole[] = {
    "30",  "34",  "45",  "47",  "48",  "65",  "351", "352", "354", "356", "357", "371", "372",
    "376", "377", "420", "423", "852", "853", "965", "968", "973", "974",  // no trunk prefix
    "39",  "378", "379",                                                   // the "0" kept
};

std::optional<NationalForm> knownForm(std::string_view code) {
  if (code == "1") return NationalForm::Nanp;
  if (std::find(std::begin(kDialledWhole), std::end(kDialledWhole), code) != std::end(kDialledWhole))
    return NationalForm::Whole;
  return std::nullopt;
}

bool nationalIs(NationalForm form, std::string_view rest, std::string_view national) {
  switch (form) {
    case NationalForm::Whole: return national == rest;
    case NationalForm::Nanp: return national == rest || (national.starts_with('1') && national.substr(1) == rest);
    case NationalForm::TrunkZero: break;
  }
  return national.starts_with('0') && national.substr(1) == rest;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

PhoneKind kindOfLetter(char c) {
  switch (c) {
    case 'M': case 'm': return PhoneKind::Mobile;
    case 'H': case 'h': return PhoneKind::Home;
    case 'W': case 'w': return PhoneKind::Work;
    case 'O': case 'o': return PhoneKind::Other;
    default: return PhoneKind::None;
  }
}

std::string rightTrimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// The longest start of `name` that, followed by `suffix`, a location holds whole.
std::string fittedWithSuffix(const EntryRoom& room, const std::string& name, std::string_view suffix) {
  for (std::size_t end = name.size(); end > 0; --end) {
    if (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) continue;  // inside a character
    const std::string start = rightTrimmed(std::string_view(name).substr(0, end));
    const std::string whole = start + std::string(suffix);
    if (!start.empty() && cleanName(room, whole) == whole) return start;
  }
  return {};
}

}  // namespace

bool sameNumber(std::string_view a, std::string_view b) {
  const std::string x = dialled(a);
  const std::string y = dialled(b);
  if (x.empty() || y.empty() || x == "+" || y == "+") return false;
  if (x == y) return true;
  const bool xInternational = x.starts_with('+');
  if (xInternational == y.starts_with('+')) return false;
  const std::string_view international = xInternational ? x : y;
  const std::string_view national = xInternational ? y : x;
  if (national.size() < kShortestNational) return false;
  // Country codes are prefix-free: when the number starts with a code this knows, no
  // other length is a code. Otherwise every length is tried with the common rule.
  std::size_t first = 1, last = 3;
  for (std::size_t code = 1; code <= 3 && 1 + code < international.size(); ++code) {
    if (knownForm(international.substr(1, code))) first = last = code;
  }
  for (std::size_t code = first; code <= last && 1 + code < international.size(); ++code) {
    const NationalForm form = knownForm(international.substr(1, code)).value_or(NationalForm::TrunkZero);
    if (nationalIs(form, international.substr(1 + code), national)) return true;
  }
  return false;
}

std::string_view typeSuffix(PhoneKind kind) {
  switch (kind) {
    case PhoneKind::Mobile: return "/M";
    case PhoneKind::Home: return "/H";
    case PhoneKind::Work: return "/W";
    case PhoneKind::Other: return "/O";
    case PhoneKind::None: break;
  }
  return "";
}

std::string_view kindLabel(PhoneKind kind) {
  switch (kind) {
    case PhoneKind::Mobile: return "mobile";
    case PhoneKind::Home: return "home";
    case PhoneKind::Work: return "work";
    case PhoneKind::Other: return "other";
    case PhoneKind::None: break;
  }
  return "";
}

PhoneKind kindOfLabel(std::string_view label) {
  if (label.empty()) return PhoneKind::None;
  std::string lower;
  for (char c : label) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower == "mobile" || lower == "cell" || lower == "iphone") return PhoneKind::Mobile;
  if (lower == "home") return PhoneKind::Home;
  if (lower == "work") return PhoneKind::Work;
  return PhoneKind::Other;
}

TypedName splitTypeSuffix(std::string_view simName) {
  const std::string name = rightTrimmed(simName);
  if (name.size() >= 3 && name[name.size() - 2] == '/') {
    const PhoneKind kind = kindOfLetter(name.back());
    std::string rest = rightTrimmed(std::string_view(name).substr(0, name.size() - 2));
    if (kind != PhoneKind::None && !rest.empty()) return {std::move(rest), kind};
  }
  // The blank form in capitals only: "Studio m" is more likely a name than a kind.
  if (name.size() >= 3 && isBlank(name[name.size() - 2]) && name.back() >= 'A' && name.back() <= 'Z') {
    const PhoneKind kind = kindOfLetter(name.back());
    std::string rest = rightTrimmed(std::string_view(name).substr(0, name.size() - 2));
    if (kind != PhoneKind::None && !rest.empty()) return {std::move(rest), kind};
  }
  return {name, PhoneKind::None};
}

namespace {

// A name as heldAlready compares it: without a type suffix, blanks at the ends and ASCII
// case.
std::string nameKey(std::string_view name) {
  std::string key = splitTypeSuffix(name).name;
  while (!key.empty() && key.back() == ' ') key.pop_back();
  std::size_t start = 0;
  while (start < key.size() && key[start] == ' ') ++start;
  key.erase(0, start);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

SimToBookPlan planSimToBook(const std::vector<SimEntry>& entries, const std::vector<Person>& book, int lastFirst,
                            bool joinExisting) {
  SimToBookPlan plan;
  std::vector<HeldNumber> known;
  for (const Person& person : book) {
    const std::string name = composeName(person, lastFirst, true);
    for (const Phone& phone : person.phones) {
      known.push_back({phone.number, name});
      if (!person.formatted.empty() && person.formatted != name) known.push_back({phone.number, person.formatted});
    }
  }
  std::map<std::string, std::size_t> byName;  // a name's first contact
  std::vector<bool> typed;                    // a contact came from an entry with a suffix
  for (const SimEntry& entry : entries) {
    if (entry.operazione == 2 || dialled(entry.telefono).empty()) continue;
    if (heldAlready(known, entry.telefono, entry.nome)) {
      ++plan.already;
      continue;
    }
    known.push_back({entry.telefono, entry.nome});
    const TypedName name = splitTypeSuffix(entry.nome);
    Phone phone{std::string(kindLabel(name.kind)), entry.telefono};
    const auto first = byName.find(name.name);
    if (first != byName.end() && (name.kind != PhoneKind::None || typed[first->second])) {
      plan.contacts[first->second].phones.push_back(std::move(phone));
      typed[first->second] = typed[first->second] || name.kind != PhoneKind::None;
      continue;
    }
    Person person = personFromSimName(name.name, lastFirst);
    person.phones.push_back(std::move(phone));
    byName.emplace(name.name, plan.contacts.size());
    plan.contacts.push_back(std::move(person));
    typed.push_back(name.kind != PhoneKind::None);
  }
  if (joinExisting) {
    // The book's one contact of a name takes that name's numbers.
    std::vector<Person> kept;
    for (Person& person : plan.contacts) {
      const std::string key = nameKey(composeName(person, lastFirst, true));
      const Person* bearer = nullptr;
      int bearers = 0;
      for (const Person& held : book) {
        if (key.empty()) break;
        if (nameKey(composeName(held, lastFirst, true)) != key && nameKey(held.formatted) != key) continue;
        bearer = &held;
        ++bearers;
      }
      if (bearers == 1 && !bearer->uid.empty()) {
        plan.joined += static_cast<int>(person.phones.size());
        plan.joins.push_back({*bearer, std::move(person.phones)});
      } else {
        kept.push_back(std::move(person));
      }
    }
    plan.contacts = std::move(kept);
  }
  for (const Person& person : plan.contacts) {
    if (person.phones.size() < 2) continue;
    ++plan.mergedInto;
    plan.merged += static_cast<int>(person.phones.size());
  }
  return plan;
}


bool heldAlready(const std::vector<HeldNumber>& held, std::string_view number, std::string_view name) {
  const std::string digits = dialled(number);
  if (digits.empty()) return false;
  const std::string key = nameKey(name);
  return std::any_of(held.begin(), held.end(), [&](const HeldNumber& h) {
    if (dialled(h.number) == digits) return true;
    if (!sameNumber(h.number, number)) return false;
    const std::string other = nameKey(h.name);
    // One name cut from the other is the same name.
    return key.starts_with(other) || other.starts_with(key);
  });
}

std::vector<HeldNumber> numbersOnList(const std::vector<SimEntry>& list) {
  std::vector<HeldNumber> numbers;
  for (const SimEntry& entry : list) {
    if (entry.operazione != kMarkDeleted) numbers.push_back({entry.telefono, entry.nome});
  }
  return numbers;
}

PersonOnSim personOnSim(const Person& person, std::vector<HeldNumber>& known, const EntryRoom& room,
                        int lastFirst) {
  PersonOnSim out;
  out.name = withoutControlCharacters(composeName(person, lastFirst, true));
  if (out.name.empty()) return out;
  const bool several = person.phones.size() > 1;
  // Every suffix is a slash and a capital of the GSM alphabet, which cost alike in every
  // name form: one cut serves all of a person's entries.
  out.cut = several ? fittedWithSuffix(room, out.name, typeSuffix(PhoneKind::Other)) : cleanName(room, out.name);
  for (const Phone& phone : person.phones) {
    PersonOnSim::Number n;
    auto number = cleanNumber(phone.number, room.maxNumberLen);
    if (!number) {
      n.fate = PersonOnSim::Number::Fate::Refused;
      n.number = phone.number;
      n.why = number.error().detail;
    } else if (heldAlready(known, *number, out.name)) {
      n.fate = PersonOnSim::Number::Fate::Already;
      n.number = std::move(*number);
    } else {
      known.push_back({*number, out.name});
      PhoneKind kind = several ? kindOfLabel(phone.label) : PhoneKind::None;
      if (several && kind == PhoneKind::None) kind = PhoneKind::Other;
      n.number = std::move(*number);
      n.entry = out.cut + std::string(typeSuffix(kind));
    }
    out.numbers.push_back(std::move(n));
  }
  return out;
}

BookToSimPlan planBookToSim(const std::vector<Person>& persons, const std::vector<SimEntry>& list,
                            const EntryRoom& room, int capacity, int lastFirst) {
  BookToSimPlan plan;
  std::vector<HeldNumber> known = numbersOnList(list);
  std::set<std::int32_t> taken;
  for (const SimEntry& entry : list) taken.insert(entry.posizione);
  // The free locations in the order the import's cursor takes them; a SIM never read
  // (capacity 0) has none, as the import takes nothing there.
  std::vector<std::int32_t> free;
  for (std::int32_t l = 1; l <= capacity; ++l) {
    if (taken.count(l) == 0) free.push_back(l);
  }
  plan.free = static_cast<int>(free.size());
  for (const Person& person : persons) {
    const PersonOnSim named = personOnSim(person, known, room, lastFirst);
    if (named.name.empty()) {
      ++plan.nameless;
      continue;
    }
    bool any = false;
    for (const PersonOnSim::Number& n : named.numbers) {
      switch (n.fate) {
        case PersonOnSim::Number::Fate::Refused:
          plan.refused.push_back(named.name + ": " + n.number + ": " + n.why);
          continue;
        case PersonOnSim::Number::Fate::Already:
          ++plan.already;
          continue;
        case PersonOnSim::Number::Fate::New:
          break;
      }
      any = true;
      if (plan.fits.size() >= free.size()) {
        ++plan.beyond;
        continue;
      }
      plan.fits.push_back({n.entry, n.number, free[plan.fits.size()]});
    }
    if (any && named.cut != named.name) plan.cuts.push_back({named.name, named.cut});
  }
  return plan;
}

}  // namespace voryx::entries
