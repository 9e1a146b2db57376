#include "entries/Import.h"

#include <algorithm>
#include <set>

#include "base/Text.h"
#include "base/DebugLog.h"
#include "base/Localized.h"
#include "entries/ContactPlan.h"
#include "entries/Editing.h"
#include "codec/GsmAlphabet.h"
#include "codec/Charset.h"
#include "codec/SimName.h"

namespace voryx::entries {
namespace {

// SQLite's answers as the import's records name them.
constexpr int kSqliteOk = 0;
constexpr int kSqliteDone = 101;

const char* orNill(const std::string& s) { return s.empty() ? "nill" : s.c_str(); }

std::size_t characters(const std::string& utf8) { return codec::utf8ToCodePoints(utf8).size(); }

}  // namespace

std::string composeName(const Person& person, int lastFirst, bool useOrganization) {
  const std::string& a = lastFirst == 1 ? person.last : person.first;
  const std::string& b = lastFirst == 1 ? person.first : person.last;
  if (!a.empty() && !b.empty()) return a + " " + b;
  if (!a.empty()) return a;
  if (!b.empty()) return b;
  return useOrganization ? person.organization : std::string();
}

namespace {

std::string trimmed(std::string_view s) { return std::string(trim(s, kWhitespace)); }

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> out;
  std::string word;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      if (!word.empty()) out.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(std::move(word));
  return out;
}

}  // namespace

Person personFromEntry(const SimEntry& entry, int lastFirst) {
  Person p;
  // A and B: the two name parts of the entry, in the order lastFirst gives them.
  std::string a, b;
  const std::string& n = entry.nome;
  if (auto comma = n.find(','); comma != std::string::npos) {
    a = trimmed(std::string_view(n).substr(0, comma));
    const auto rest = words(trimmed(std::string_view(n).substr(comma + 1)));
    if (!rest.empty()) b = rest[0];
    if (rest.size() >= 2) p.middle = rest[1];
  } else {
    const auto w = words(n);
    if (w.size() == 1) b = n;
    if (w.size() >= 2) {
      b = w.front();
      a = w.back();
      if (w.size() >= 3) p.middle = w[w.size() - 2];
    }
  }
  (lastFirst == 0 ? p.last : p.first) = a;
  (lastFirst == 0 ? p.first : p.last) = b;
  p.phones.push_back({"main", entry.telefono});
  return p;
}

ImportReport importAll(const std::filesystem::path& database, const std::vector<Person>& persons,
                       const ImportOptions& options) {
  const int log = options.createLog;
  VORYX_LOG_IF(log, "start import all\n");
  ImportReport report;
  auto failed = [&report](const Error& error) {
    report.end = ImportReport::End::DatabaseError;
    report.detail = error.detail;
    return report;
  };
  auto table = SimTable::open(database, ListStore::Phonebook, options.busy);
  if (!table) return failed(table.error());
  auto list = table->list();
  if (!list) return failed(list.error());
  std::vector<HeldNumber> known = numbersOnList(*list);
  const EntryRoom room{options.maxSIMLen, options.nameSets, options.maxNumberLen};

  std::int32_t cursor = 0;  // the location last handed out; only moves forward
  for (std::size_t index = 0; index < persons.size(); ++index) {
    const Person& person = persons[index];
    VORYX_LOG_IF(log, "contact |%zu|\n", index);
    const std::string& a = options.lastFirst == 1 ? person.last : person.first;
    const std::string& b = options.lastFirst == 1 ? person.first : person.last;
    VORYX_LOG_IF(log, "lastname |%s|\n", orNill(a));
    VORYX_LOG_IF(log, "firstName |%s|\n", orNill(b));
    const PersonOnSim named = personOnSim(person, known, room, options.lastFirst);
    if (named.name.empty()) {
      ++report.nameless;
      continue;
    }
    bool counted = false;  // a cut name counts once a person
    VORYX_LOG_IF(log, "startcoding with contactLastFirst |%s|\n", named.cut.c_str());
    for (const PersonOnSim::Number& n : named.numbers) {
      if (n.fate == PersonOnSim::Number::Fate::Refused) {
        VORYX_LOG_IF(log, "telefono rifiutato |%s|\n", n.number.c_str());
        report.refused.push_back({named.name, n.number, n.why});
        continue;
      }
      VORYX_LOG_IF(log, "telefono |%s|\n", n.number.c_str());
      if (n.fate == PersonOnSim::Number::Fate::Already) {
        VORYX_LOG_IF(log, "telefono gia' nel db\n");
        ++report.duplicates;
        continue;
      }
      // The first free location after the cursor, chosen and taken in one transaction.
      const SimEntry entry{0, n.entry, n.number, kMarkNew};
      auto taken = table->add(entry, [&](const std::vector<std::int32_t>& locations) {
        const std::set<std::int32_t> used(locations.begin(), locations.end());
        std::int32_t next = cursor + 1;
        while (used.count(next) > 0) ++next;
        cursor = next;
        if (cursor > options.maxSIM) return std::optional<std::int32_t>();
        VORYX_LOG_IF(log, "inserisco in posizione |%d|\n", cursor);
        return std::optional<std::int32_t>(cursor);
      });
      if (!taken) return failed(taken.error());
      if (!*taken) {
        report.end = ImportReport::End::SimFull;
        return report;
      }
      VORYX_LOG_IF(log, "preparo statement, rc |%d| \n", kSqliteOk);
      VORYX_LOG_IF(log, "valorizzo nome, rc |%d|   lunghezza %zu\n", kSqliteOk, characters(n.entry));
      VORYX_LOG_IF(log, "valorizzo tel, rc |%d|   lunghezza %zu\n", kSqliteOk, characters(n.number));
      VORYX_LOG_IF(log, "inserisco in posizione, rc |%d|\n", kSqliteDone);
      report.added.push_back({**taken, n.entry, n.number, kMarkNew});
      if (named.cut != named.name && !counted) {
        ++report.namesCut;
        counted = true;
      }
    }
  }
  return report;
}

std::string importNotes(const ImportReport& report) {
  std::string out;
  for (const ImportReport::Skipped& s : report.refused) {
    out += (out.empty() ? "" : "\n") + s.name + ": " + s.number + ": " + s.why;
  }
  if (report.namesCut > 0) {
    out += (out.empty() ? "" : "\n") + std::to_string(report.namesCut) + " " +
           localized(report.namesCut == 1 ? "name was cut to what the SIM holds." : "names were cut to what the SIM holds.");
  }
  return out;
}

}  // namespace voryx::entries
