#include "entries/Csv.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/AtomicFile.h"
#include "transfer/GsmAlphabet.h"

namespace voryx::entries {
namespace {

namespace fs = std::filesystem;

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  for (unsigned char c : text) transfer::appendUtf8(out, c);
  return out;
}

}  // namespace

std::string csvText(const std::vector<SimEntry>& entries) {
  std::string out;
  for (const SimEntry& e : entries) out += e.nome + ";" + e.telefono + "\n";
  return out;
}

Status exportCsv(const fs::path& file, const std::vector<SimEntry>& entries) {
  std::error_code ec;
  if (!file.parent_path().empty()) fs::create_directories(file.parent_path(), ec);
  if (ec) return Error{Errc::Io, file.parent_path().string() + ": " + ec.message()};
  return writeFileAtomically(file, csvText(entries), 0600);
}

CsvRecords parseCsv(std::string_view text) {
  CsvRecords out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++out.lines;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string decoded = transfer::isUtf8(line) ? std::string(line) : latin1ToUtf8(line);
    const std::size_t semicolon = decoded.find(';');
    if (semicolon == std::string::npos || decoded.find(';', semicolon + 1) != std::string::npos) {
      ++out.skipped;
      continue;
    }
    const auto entry = static_cast<std::int32_t>(out.rows.size() + 1);
    out.rows.push_back({entry, decoded.substr(0, semicolon), decoded.substr(semicolon + 1), kMarkChanged});
  }
  return out;
}

Result<RestoreReport> restoreCsv(const fs::path& file, const fs::path& database, int maxSIM,
                                 BusyPolicy busy) {
  std::error_code ec;
  const auto status = fs::status(file, ec);
  if (!fs::exists(status)) return Error{Errc::NotFound, file.string() + ": no such file"};
  if (!fs::is_regular_file(status)) return Error{Errc::Io, file.string() + ": not a file"};
  const auto size = fs::file_size(file, ec);
  if (ec) return Error{Errc::Io, file.string() + ": " + ec.message()};
  if (size > kMaxCsvBytes) return Error{Errc::Invalid, file.string() + ": too large for a phonebook"};
  std::ifstream in(file, std::ios::binary);
  if (!in) return Error{Errc::Io, file.string() + ": " + std::strerror(errno)};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Error{Errc::Io, file.string() + ": cannot be read"};

  CsvRecords records = parseCsv(text);
  RestoreReport report;
  report.skipped = records.skipped;
  if (records.lines == 0) return report;
  if (maxSIM > 0 && records.rows.size() > static_cast<std::size_t>(maxSIM)) {
    report.leftOut = static_cast<int>(records.rows.size()) - maxSIM;
    records.rows.resize(static_cast<std::size_t>(maxSIM));
  }
  auto table = SimTable::open(database, ListStore::Phonebook, busy);
  if (!table) return table.error();
  if (Status replaced = table->replaceAll(records.rows, true); !replaced) return replaced.error();
  report.restored = static_cast<int>(records.rows.size());
  return report;
}

}  // namespace voryx::entries
