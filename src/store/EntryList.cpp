#include "store/EntryList.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>
#include <thread>

#include "store/Database.h"
#include "store/Files.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

// The list statements, exactly as the program has always run them.
constexpr std::string_view kSimByEntry =
    "SELECT desc,number,entry,operazione FROM sim order by entry";
constexpr std::string_view kSimByDesc =
    "SELECT desc,number,entry,operazione FROM sim order by desc";
constexpr std::string_view kSimSearchByEntry =
    "SELECT desc,number,entry,operazione FROM sim  where desc like ? or number like ? "
    "order by entry";
constexpr std::string_view kSimSearchByDesc =
    "SELECT desc,number,entry,operazione FROM sim  where desc like ? or number like ? "
    "order by desc";
constexpr std::string_view kSmsByEntry =
    "SELECT desc,number,entry,operazione FROM simsms order by entry";

std::string_view listStatement(ListStore store, bool searching, int sortField) {
  if (store == ListStore::Sms) return kSmsByEntry;
  if (searching) return sortField == 0 ? kSimSearchByEntry : kSimSearchByDesc;
  return sortField == 0 ? kSimByEntry : kSimByDesc;
}

// Counts the waits of one load against the bound.
class BusyWait {
 public:
  explicit BusyWait(std::chrono::milliseconds each) : each_(each) {}
  // Sleeps once; false (without sleeping) when the bound is used up.
  bool again() {
    if (waits_ >= kBusyWaits) return false;
    ++waits_;
    std::this_thread::sleep_for(each_);
    return true;
  }

 private:
  std::chrono::milliseconds each_;
  int waits_ = 0;
};

// Runs the list statement into out. The connection is closed when this returns, so the
// caller may move the file.
LoadFailure readList(const fs::path& database, ListStore store, std::string_view search,
                     int sortField, std::chrono::milliseconds busyWait,
                     std::vector<SimEntry>& out) {
  auto db = Database::open(database);
  if (!db) return LoadFailure::Open;
  const bool searching = store == ListStore::Phonebook && !search.empty();
  const std::string_view sql = listStatement(store, searching, sortField);
  BusyWait wait(busyWait);

  // Preparing reads the schema, which another connection's lock can hold up: that is a
  // busy file, not a damaged one.
  Result<Statement> stmt = db->prepare(sql);
  while (!stmt && stmt.error().code == Errc::Busy) {
    if (!wait.again()) return LoadFailure::Busy;
    stmt = db->prepare(sql);
  }
  if (!stmt) return LoadFailure::Prepare;

  if (searching) {
    std::string pattern = "%" + std::string(search) + "%";
    if (!stmt->bindText(1, pattern) || !stmt->bindText(2, pattern)) return LoadFailure::Step;
  }

  Statement::Step step = stmt->step();
  if (step == Statement::Step::Corrupt) return LoadFailure::Corrupt;
  while (true) {
    switch (step) {
      case Statement::Step::Row:
        out.push_back(SimEntry{stmt->columnInt(2), stmt->columnText(0), stmt->columnText(1),
                               stmt->columnInt(3)});
        break;
      case Statement::Step::Done:
        return LoadFailure::None;
      case Statement::Step::Busy:
        if (!wait.again()) return LoadFailure::Busy;
        break;
      default:
        return LoadFailure::Step;
    }
    step = stmt->step();
  }
}

// Moves a damaged database aside under a timestamped name, with its rollback journal or
// write-ahead log: a stale journal left behind would be played into the fresh copy.
// Returns the new path, or empty when there was no file or it could not be moved.
fs::path moveAside(const fs::path& file) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = file.string() + ".damaged-" + stamp;
  for (int n = 0; n < 100; ++n) {
    fs::path aside = n == 0 ? base : base + "-" + std::to_string(n);
    if (renameNoReplace(file, aside)) {
      for (const char* companion : {"-journal", "-wal"}) {
        fs::path from = file.string() + companion;
        if (::access(from.c_str(), F_OK) == 0) renameNoReplace(from, aside.string() + companion);
      }
      return aside;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

// Decodes the code point at s[i] and tells its length in bytes; a byte that does not
// start a well-formed sequence (stray, truncated, overlong, surrogate) is U+FFFD, length 1.
char32_t decodeUtf8(std::string_view s, std::size_t i, std::size_t& len) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  len = 1;
  if (b0 < 0x80) return b0;
  std::size_t more = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    more = 1, cp = b0 & 0x1F, minimum = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    more = 2, cp = b0 & 0x0F, minimum = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    more = 3, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    return 0xFFFD;
  }
  if (s.size() - i <= more) return 0xFFFD;
  for (std::size_t k = 1; k <= more; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  len = more + 1;
  return cp;
}

// The UTF-16 code units of a UTF-8 text.
std::u16string utf16Units(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0, len = 0; i < s.size(); i += len) {
    char32_t cp = decodeUtf8(s, i, len);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace

ListLoad loadEntries(const fs::path& database, ListStore store, std::string_view search,
                     int sortField, std::chrono::milliseconds busyWait) {
  ListLoad load;
  load.failure = readList(database, store, search, sortField, busyWait, load.entries);
  if (load.failure == LoadFailure::None) return load;
  load.entries.clear();
  if (load.failure == LoadFailure::Open || load.failure == LoadFailure::Prepare ||
      load.failure == LoadFailure::Corrupt) {
    load.movedAsideTo = moveAside(database);
  }
  return load;
}

int ordina(const SimEntry& a, const SimEntry& b) {
  return a.posizione < b.posizione ? -1 : a.posizione == b.posizione ? 0 : 1;
}

int ordinaName(const SimEntry& a, const SimEntry& b) {
  return utf16Units(a.nome).compare(utf16Units(b.nome));
}

void sortEntries(std::vector<SimEntry>& entries, int sortField) {
  auto less = sortField == 0 ? ordina : ordinaName;
  std::stable_sort(entries.begin(), entries.end(),
                   [less](const SimEntry& a, const SimEntry& b) { return less(a, b) < 0; });
}

}  // namespace voryx
