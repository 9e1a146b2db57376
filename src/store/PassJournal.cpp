#include "store/PassJournal.h"

#include <cstdint>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

#include "base/Text.h"

namespace voryx {
namespace {

using nlohmann::json;

// A journal line back; nothing for a line that is not one.
std::optional<Confirmed> confirmedOf(const json& line) {
  if (!line.is_object()) return std::nullopt;
  auto integer = [&](const char* key) -> std::optional<std::int32_t> {
    auto it = line.find(key);
    if (it == line.end() || !it->is_number_integer()) return std::nullopt;
    const auto v = it->get<std::int64_t>();
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    return static_cast<std::int32_t>(v);
  };
  auto text = [&](const char* key) -> std::optional<std::string> {
    auto it = line.find(key);
    if (it == line.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  const auto entry = integer("e"), mark = integer("o"), what = integer("w");
  const auto desc = text("d"), number = text("n");
  if (!entry || !mark || !what || !desc || !number || (*what != 0 && *what != 1)) return std::nullopt;
  Confirmed c = Confirmed::of({*entry, *desc, *number, *mark},
                              *what == 1 ? Confirmed::What::Written : Confirmed::What::Erased);
  c.storedAt = integer("s");
  c.took = text("t");
  if (auto kept = line.find("k"); kept != line.end() && kept->is_boolean()) c.oldKept = kept->get<bool>();
  if (auto record = text("r")) c.record = hexDecode(*record).value_or(std::string());
  if (auto pending = line.find("p"); pending != line.end() && pending->is_boolean()) c.pending = pending->get<bool>();
  return c;
}

}  // namespace

std::string passJournalHead(std::string_view token) {
  return json{{"pass", std::string(token)}}.dump() + "\n";
}

std::string passJournalLine(const Confirmed& c) {
  json line = {{"e", c.sent.posizione},
               {"d", c.sent.nome},
               {"n", c.sent.telefono},
               {"o", c.sent.operazione},
               {"w", c.what == Confirmed::What::Written ? 1 : 0},
               {"k", c.oldKept}};
  if (c.storedAt) line["s"] = *c.storedAt;
  if (c.took) line["t"] = *c.took;
  if (!c.record.empty()) line["r"] = hexUpper(c.record);
  if (c.pending) line["p"] = true;
  // Text that is not UTF-8 is replaced rather than refused: the line must be written.
  return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

PassJournal parsePassJournal(std::string_view text) {
  PassJournal journal;
  bool head = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    // A line without its line end was torn by a crash: it may be a part of a record.
    if (end == std::string_view::npos) break;
    const json parsed = json::parse(line, nullptr, false);
    if (head) {
      head = false;
      if (!parsed.is_object() || !parsed.contains("pass") || !parsed["pass"].is_string()) return {};
      journal.token = parsed["pass"].get<std::string>();
      if (journal.token.empty()) return {};
      continue;
    }
    auto c = confirmedOf(parsed);
    if (!c) continue;
    if (c->pending) {
      journal.unsettled.push_back(std::move(*c));
      continue;
    }
    // The SIM took it: no longer unsettled.
    if (c->what == Confirmed::What::Written) {
      std::erase_if(journal.unsettled, [&](const Confirmed& u) { return u.sent == c->sent; });
    }
    journal.confirmed.push_back(std::move(*c));
  }
  return journal;
}

}  // namespace voryx
