// voryx status (alias diff): what the next write would send, grouped new / changed /
// deleted, from the local database alone (no modem). Scriptable like `git diff --quiet`:
// exit 0 when nothing is pending, 1 when something is, 3 when the database cannot be read.
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "base/Localized.h"
#include "entries/Pending.h"

namespace voryx {
namespace {

struct StatusOptions {
  bool sms = false;
  bool json = false;
  std::string store = "SM";
};

nlohmann::ordered_json asJson(const entries::PendingRow& p, bool phonebook) {
  nlohmann::ordered_json row = {{"location", p.row.posizione}, {"name", p.row.nome}, {"number", p.row.telefono}};
  if (phonebook && p.simKeeps != p.row.nome) row["simKeeps"] = p.simKeeps;
  row["replaces"] = p.replaces ? nlohmann::ordered_json{{"name", p.replaces->nome}, {"number", p.replaces->telefono}}
                               : nlohmann::ordered_json();
  return row;
}

// One row: "  12  Anna Rossi  +39333123", then what it replaces and what the SIM keeps.
std::string asLine(const entries::PendingRow& p, bool phonebook, bool showReplaced) {
  auto shown = [](const std::string& s) {  // a line break of a message stays on its line
    std::string out;
    for (char c : s) out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return out;
  };
  std::string line = "  " + std::to_string(p.row.posizione) + "  " + shown(p.row.nome) + "  " + p.row.telefono;
  if (showReplaced && p.replaces) {
    line += "  (" + localized("replaces") + " " + shown(p.replaces->nome) + "  " + p.replaces->telefono + ")";
  }
  if (phonebook && p.simKeeps != p.row.nome) {
    line += "  (" + localized("the SIM keeps") + " \"" + shown(p.simKeeps) + "\")";
  }
  return line + "\n";
}

int runStatus(const StatusOptions& options) {
  const entries::EditTarget target = shellEditTarget("status", options.sms, phonebookOf(options.store));
  auto pending = entries::pendingChanges(target);
  if (!pending) {
    std::cerr << "voryx status: " << localized("Database error") << ": " << pending.error().detail << "\n";
    return 3;
  }
  const bool phonebook = !options.sms;
  const std::string sim = pending->sim ? shortSimName(*pending->sim) : std::string();
  if (options.json) {
    nlohmann::ordered_json out = {{"store", phonebook ? "phonebook" : "sms"},
                          {"sim", pending->sim ? nlohmann::ordered_json(sim) : nlohmann::ordered_json()},
                          {"pending", pending->total()}};
    for (auto [key, rows] : {std::pair{"new", &pending->added}, std::pair{"changed", &pending->changed},
                             std::pair{"deleted", &pending->deleted}}) {
      out[key] = nlohmann::ordered_json::array();
      for (const entries::PendingRow& p : *rows) out[key].push_back(asJson(p, phonebook));
    }
    std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return pending->total() == 0 ? 0 : 1;
  }
  const std::string where = sim.empty() ? localized("the SIM") : localized("the SIM") + " " + sim;
  if (pending->total() == 0) {
    std::cout << localized("Nothing to write") << " (" << localized("the list is as on") << " " << where << ")\n";
    return 0;
  }
  std::string out = std::to_string(pending->total()) + " " +
                    localized(pending->total() == 1 ? "change to write to" : "changes to write to") +
                    " " + where + ": " + entries::pendingCounts(*pending) + "\n";
  struct Group { const char* title; const std::vector<entries::PendingRow>& rows; bool showReplaced; };
  for (const Group& g : {Group{"New:", pending->added, true}, Group{"Changed:", pending->changed, true},
                         Group{"Deleted:", pending->deleted, false}}) {
    if (g.rows.empty()) continue;
    out += localized(g.title) + "\n";
    for (const entries::PendingRow& p : g.rows) out += asLine(p, phonebook, g.showReplaced);
  }
  std::cout << out << std::flush;
  return 1;
}

}  // namespace

void addStatusCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<StatusOptions>();
  auto* sub = app.add_subcommand(
      "status", "Show what the next write would send to the SIM: new, changed and deleted entries, "
                "with the values they replace");
  sub->alias("diff");
  auto* sms = sub->add_flag("--sms", options->sms, "The SMS store instead of the phonebook");
  addPhonebookOption(*sub, options->store)->excludes(sms);
  sub->add_flag("--json", options->json, "One JSON object for scripts");
  sub->footer(
      "A changed entry shows what the SIM held at its location when it was last read or written; a "
      "name the SIM cannot hold whole shows what it keeps.\n"
      "Exit status: 0 nothing to write, 1 changes to write, 2 usage, 3 the database could not be read");
  sub->callback([options, &exitCode] { exitCode = runStatus(*options); });
}

}  // namespace voryx
