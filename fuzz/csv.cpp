// A CSV file as any program or person may have left it. Besides "no crash, no overrun":
// every entry read holds no control character, the export says each can come back, and
// the file written from them reads as the same entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "entries/Csv.h"
#include "entries/Editing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace voryx::entries;
  const std::string_view text{reinterpret_cast<const char*>(data), size};
  const CsvRecords read = parseCsv(text);
  if (read.skipped < static_cast<int>(read.skippedLines.size()) || read.skippedLines.size() > kListedLines) {
    __builtin_trap();
  }
  for (const auto& e : read.rows) {
    if (withoutControlCharacters(e.nome) != e.nome || withoutControlCharacters(e.telefono) != e.telefono) {
      __builtin_trap();
    }
  }
  if (entriesNotRestorable(read.rows) != 0) __builtin_trap();
  const CsvRecords again = parseCsv(csvText(read.rows));
  if (again.rows != read.rows || again.skipped != 0) __builtin_trap();
  skippedLinesText(read.skipped, read.skippedLines);
  return 0;
}
