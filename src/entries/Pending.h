#pragma once
// What the next write would send, read from the local table: the marked rows by mark,
// each with what the SIM held at its location when it was last read or written, and each
// phonebook name as the SIM will keep it. `voryx status` prints it; the main screen's
// write asks with its counts, and a row's sheet shows what the row replaces.
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "entries/Editing.h"
#include "store/SimTable.h"

namespace voryx::entries {

struct PendingRow {
  SimEntry row;
  // What the SIM held at the row's location: a changed row replaces it (a new one should
  // find nothing there); none when the last read saw the location empty, or no read of
  // this copy recorded it.
  std::optional<SeenEntry> replaces;
  std::string simKeeps;  // the name or text as the SIM will keep it
};

struct Pending {
  std::vector<PendingRow> added, changed, deleted;
  std::optional<SimIdentity> sim;  // the SIM the rows were read from, when a read recorded it
  int total() const { return static_cast<int>(added.size() + changed.size() + deleted.size()); }
};

// The store of `target`, in location order. Errors: those of SimTable::open and list.
Result<Pending> pendingChanges(const EditTarget& target);

// "3 changes (1 new, 1 changed, 1 deleted)"-style counts: "1 new, 1 changed, 1 deleted",
// leaving out the kinds there are none of.
std::string pendingCounts(const Pending& pending);

}  // namespace voryx::entries
