#include "entries/Pending.h"

#include "base/Localized.h"

namespace voryx::entries {

Result<Pending> pendingChanges(const EditTarget& target) {
  auto table = SimTable::open(target.database, target.store, target.busy, target.book);
  if (!table) return table.error();
  auto rows = table->list();
  if (!rows) return rows.error();
  auto seen = table->seen();
  if (!seen) return seen.error();
  auto sim = table->identity();
  if (!sim) return sim.error();

  Pending pending;
  pending.sim = *sim;
  for (SimEntry& row : *rows) {
    if (row.operazione == kMarkInStep) continue;
    PendingRow p{row, std::nullopt, cleanName(target, row.nome)};
    if (auto at = seen->find(row.posizione); at != seen->end()) p.replaces = at->second;
    (row.operazione == kMarkNew       ? pending.added
     : row.operazione == kMarkDeleted ? pending.deleted
                                      : pending.changed)
        .push_back(std::move(p));
  }
  return pending;
}

std::string pendingCounts(const Pending& pending) {
  std::string out;
  auto part = [&out](std::size_t n, const char* what) {
    if (n == 0) return;
    out += (out.empty() ? "" : ", ") + std::to_string(n) + " " + localized(what);
  };
  part(pending.added.size(), "new");
  part(pending.changed.size(), "changed");
  part(pending.deleted.size(), "deleted");
  return out;
}

}  // namespace voryx::entries
