#pragma once
// The text of a write pass's journal (SimTable::journal): the first line names the pass,
// {"pass":"<token>"}; each further line is one entry the SIM took,
// {"e":5,"d":"text","n":"+39...","o":3,"w":1,"s":7,"k":false,"t":"cut text","r":"05..."};
// a message about to be stored carries "p":true (Confirmed::pending). Pure
// functions, any thread; the reader survives garbage (a torn last line, a damaged file):
// what it cannot read is skipped, never half-taken.
#include <string>
#include <string_view>
#include <vector>

#include "store/SimTable.h"

namespace voryx {

std::string passJournalHead(std::string_view token);
std::string passJournalLine(const Confirmed& confirmed);

struct PassJournal {
  std::string token;  // empty when the first line is not a head: nothing to apply
  std::vector<Confirmed> confirmed;  // what the SIM took
  // The messages the pass was about to store that no later line says the SIM took (the
  // same row, written): pending, as recorded.
  std::vector<Confirmed> unsettled;
};
PassJournal parsePassJournal(std::string_view text);

}  // namespace voryx
