#include "entries/Csv.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

#include "base/FileIo.h"
#include "base/AtomicFile.h"
#include "base/Localized.h"
#include "entries/Editing.h"
#include "codec/GsmAlphabet.h"
#include "codec/SimName.h"

namespace voryx::entries {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  for (unsigned char c : text) codec::appendUtf8(out, c);
  return out;
}

std::string csvLine(const SimEntry& e) {
  return withoutControlCharacters(e.nome) + ";" + withoutControlCharacters(e.telefono) + "\n";
}

// All of it is what the number filter keeps ("" too: an entry may have no number).
bool isNumber(std::string_view text) { return codec::filterNumber(text, true) == text; }

bool isBlank(std::string_view line) { return line.find_first_not_of(' ') == std::string_view::npos; }

struct Fields {
  std::string name, number;
};

// One line (without its "\n", decoded, without control characters) as a name and a
// number, by the rule parseCsv describes; nothing for a line that is no record. The split
// is chosen on the text as it will be stored, so that the stored entry's line splits the
// same way again.
std::optional<Fields> splitRecord(std::string_view line) {
  const std::size_t first = line.find(';');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t last = line.rfind(';');
  std::size_t at = first;
  if (first != last && !isNumber(line.substr(first + 1))) {
    if (!isNumber(line.substr(last + 1))) return std::nullopt;
    at = last;
  }
  return Fields{std::string(line.substr(0, at)), std::string(line.substr(at + 1))};
}

}  // namespace

std::string csvText(const std::vector<SimEntry>& entries) {
  std::string out;
  for (const SimEntry& e : entries) out += csvLine(e);
  return out;
}

int entriesNotRestorable(const std::vector<SimEntry>& entries) {
  int count = 0;
  for (const SimEntry& e : entries) {
    const CsvRecords back = parseCsv(csvLine(e));
    if (back.rows.size() != 1 || back.rows[0].nome != e.nome || back.rows[0].telefono != e.telefono) ++count;
  }
  return count;
}

Status exportCsv(const fs::path& file, const std::vector<SimEntry>& entries) {
  std::error_code ec;
  if (!file.parent_path().empty()) fs::create_directories(file.parent_path(), ec);
  if (ec) return Error{Errc::Io, file.parent_path().string() + ": " + ec.message()};
  return writeFileAtomically(file, csvText(entries), 0600);
}

CsvRecords parseCsv(std::string_view text) {
  CsvRecords out;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++out.lines;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string decoded = withoutControlCharacters(codec::isUtf8(line) ? std::string(line) : latin1ToUtf8(line));
    // Files put one after the other keep each one's mark at the start of a line.
    std::size_t marks = 0;
    while (std::string_view(decoded).substr(marks).starts_with(kByteOrderMark)) marks += kByteOrderMark.size();
    decoded.erase(0, marks);
    if (isBlank(decoded)) continue;
    auto fields = splitRecord(decoded);
    if (!fields) {
      ++out.skipped;
      if (out.skippedLines.size() < kListedLines) out.skippedLines.push_back(out.lines);
      continue;
    }
    const auto entry = static_cast<std::int32_t>(out.rows.size() + 1);
    out.rows.push_back({entry, std::move(fields->name), std::move(fields->number), kMarkChanged});
    out.rowLines.push_back(out.lines);
  }
  return out;
}

Result<RestoreReport> restoreCsv(const fs::path& file, const EditTarget& target) {
  auto read = readWholeFile(file, kMaxCsvBytes);
  if (!read && read.error().code == Errc::TooLarge) {
    return Error{Errc::Invalid, file.string() + ": too large for a phonebook"};
  }
  if (!read) return read.error();
  const std::string& text = *read;

  CsvRecords records = parseCsv(text);
  RestoreReport report;
  report.skipped = records.skipped;
  report.skippedLines = records.skippedLines;
  if (records.lines == 0) return report;
  std::vector<SimEntry> rows;
  const EntryRoom room = target.room();
  for (std::size_t i = 0; i < records.rows.size(); ++i) {
    const int line = records.rowLines[i];
    Admitted in = admitEntry(room, records.rows[i].nome, records.rows[i].telefono);
    if (!in.refusal.empty()) {
      if (report.refusedLines.size() < kListedLines) report.refusedLines.push_back({line, in.refusal});
      ++report.refused;
      continue;
    }
    if (in.nameCut) {
      if (report.cutLines.size() < kListedLines) report.cutLines.push_back(line);
      ++report.namesCut;
    }
    rows.push_back({static_cast<std::int32_t>(rows.size() + 1), std::move(in.name), std::move(in.number), kMarkChanged});
  }
  const int maxSIM = target.capacity;
  if (maxSIM > 0 && rows.size() > static_cast<std::size_t>(maxSIM)) {
    report.leftOut = static_cast<int>(rows.size()) - maxSIM;
    rows.resize(static_cast<std::size_t>(maxSIM));
  }
  auto table = SimTable::open(target.database, ListStore::Phonebook, target.busy, target.book);
  if (!table) return table.error();
  auto seen = table->seen();
  if (!seen) return seen.error();
  report.restored = static_cast<int>(rows.size());
  // The file fills locations 1 to n. What the SIM held past them would outlive a write of
  // the file (an entry sorted elsewhere by the export then stands on the SIM twice): it is
  // marked deleted, so that the write leaves the SIM holding the file and nothing else.
  for (const auto& [at, entry] : *seen) {
    if (at <= report.restored) continue;
    rows.push_back({at, entry.nome, entry.telefono, kMarkDeleted});
    ++report.erased;
  }
  if (Status replaced = table->replaceAll(rows, true); !replaced) return replaced.error();
  return report;
}

std::string skippedLinesText(int skipped, const std::vector<int>& listed) {
  if (skipped <= 0) return {};
  std::string out = std::to_string(skipped) + " " +
                    (skipped == 1 ? localized("line could not be read:") : localized("lines could not be read:"));
  for (std::size_t i = 0; i < listed.size() && i < kListedLines; ++i) {
    out += (i == 0 ? " " : ", ") + std::to_string(listed[i]);
  }
  if (static_cast<std::size_t>(skipped) > std::min(listed.size(), kListedLines)) out += ", …";
  return out;
}

namespace {

// ", …" after a list that names fewer than there are.
std::string more(int count, std::size_t listed) { return static_cast<std::size_t>(count) > listed ? ", …" : ""; }

}  // namespace

std::string refusedLinesText(const RestoreReport& report) {
  std::string out;
  if (report.refused > 0) {
    out = std::to_string(report.refused) + " " +
          (report.refused == 1 ? localized("line could not be taken:") : localized("lines could not be taken:"));
    for (std::size_t i = 0; i < report.refusedLines.size(); ++i) {
      const RefusedLine& r = report.refusedLines[i];
      out += (i == 0 ? " " : ", ") + std::to_string(r.line) + " (" + r.why + ")";
    }
    out += more(report.refused, report.refusedLines.size());
  }
  if (report.namesCut > 0) {
    if (!out.empty()) out += "\n";
    out += std::to_string(report.namesCut) + " " +
           (report.namesCut == 1 ? localized("name was cut to what the SIM holds:")
                                 : localized("names were cut to what the SIM holds:"));
    for (std::size_t i = 0; i < report.cutLines.size(); ++i) {
      out += (i == 0 ? " " : ", ") + std::to_string(report.cutLines[i]);
    }
    out += more(report.namesCut, report.cutLines.size());
  }
  return out;
}

std::string notRestorableText(int entries) {
  if (entries <= 0) return {};
  return std::to_string(entries) + " " +
         (entries == 1 ? localized("entry cannot come back from the file as it is: its name and number both hold a semicolon, or it holds a line break or another control character.")
                       : localized("entries cannot come back from the file as they are: their names and numbers both hold a semicolon, or they hold line breaks or other control characters."));
}

}  // namespace voryx::entries
