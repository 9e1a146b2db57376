// A write pass's journal file as the next job reads it: a damaged or torn file must never
// crash the reader, nor give a record half-read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/PassJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const voryx::PassJournal journal = voryx::parsePassJournal(text);
  for (const voryx::Confirmed& c : journal.confirmed) (void)voryx::passJournalLine(c);
  return 0;
}
