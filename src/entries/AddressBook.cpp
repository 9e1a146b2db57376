// The address book on disk: reading a .vcf file or a folder of them, adding a card.
#include "entries/AddressBook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/FileIo.h"
#include "base/AtomicFile.h"
#include "entries/VCardText.h"

namespace voryx::entries {
namespace {

namespace fs = std::filesystem;

Error ioError(const fs::path& path, int err) {
  return Error{Errc::Io, path.string() + ": " + std::strerror(err)};
}

// A whole regular file of at most kMaxVCardFileBytes. A FIFO or a device is refused
// before a read could block on it; a file that grows past the bound while it is read is
// refused too. The errors name the file as the import words them.
Result<std::string> readVCardFile(const fs::path& path) {
  auto read = readWholeFile(path, kMaxVCardFileBytes);
  if (read) return read;
  const std::string name = path.string();
  switch (read.error().code) {
    case Errc::NotFound: return Error{Errc::NotFound, name + ": no such file or folder"};
    case Errc::TooLarge: return Error{Errc::Invalid, name + ": larger than 64 MiB"};
    default: break;
  }
  if (read.error().detail == name + ": not a file") return Error{Errc::Invalid, name + ": not a file or folder"};
  return read.error();
}

bool isVCardFileName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.size() < 5) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".vcf";
}

// The .vcf files of a folder in name order (byte order, as sync tools name them by UID).
Result<std::vector<std::string>> vcardFilesIn(const fs::path& folder) {
  std::error_code ec;
  std::vector<std::string> names;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code typeError;
    if (isVCardFileName(name) && it->is_regular_file(typeError)) names.push_back(std::move(name));
  }
  if (ec) return ioError(folder, ec.value());
  std::sort(names.begin(), names.end());
  return names;
}

AddressBook readFolder(const fs::path& folder, const std::vector<std::string>& names) {
  AddressBook book;
  int cardsLeft = kMaxVCards;
  std::uintmax_t bytesLeft = kMaxVCardFolderBytes;
  int notRead = 0;
  for (const auto& name : names) {
    const fs::path file = folder / name;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (cardsLeft <= 0 || (!ec && size > bytesLeft)) {
      bytesLeft = 0;  // the files after one that did not fit are not read either
      ++notRead;
      continue;
    }
    auto text = readVCardFile(file);
    if (!text) {
      ++book.skipped;
      book.problems.push_back(text.error().detail);
      continue;
    }
    bytesLeft -= std::min<std::uintmax_t>(bytesLeft, text->size());
    parseVCardsInto(book, *text, name, cardsLeft);
  }
  if (notRead > 0) {
    book.skipped += notRead;
    book.problems.push_back(folder.string() + ": " + std::to_string(notRead) +
                            " files not read, the book has more than " +
                            std::to_string(kMaxVCards) + " cards or 256 MiB");
  }
  return book;
}

// The name of a card's file in a folder: its UID without "urn:uuid:", with any character
// a file name should not hold (a "/" above all) as "_".
std::string fileNameFor(std::string_view uid) {
  constexpr std::string_view kPrefix = "urn:uuid:";
  if (uid.size() >= kPrefix.size()) {
    std::string head(uid.substr(0, kPrefix.size()));
    for (char& c : head) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (head == kPrefix) uid.remove_prefix(kPrefix.size());
  }
  std::string name(uid.substr(0, 200));
  for (char& c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == '@' || c == '+' || c == '=';
    if (!ok) c = '_';
  }
  if (!name.empty() && name.front() == '.') name.front() = '_';
  return name + ".vcf";
}

// Creates the missing folders of `dir`, each 0700 (the book holds phone numbers).
Status makeFolders(const fs::path& dir) {
  if (dir.empty()) return Ok{};
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return Ok{};
  auto parent = makeFolders(dir.parent_path() == dir ? fs::path() : dir.parent_path());
  if (!parent) return parent;
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return Error{Errc::Io, "cannot create the folder " + dir.string() + ": " + std::strerror(errno)};
  }
  return Ok{};
}

Status appendToFile(const fs::path& path, const Person& person) {
  // A link keeps pointing at the book: its target is rewritten, not the link replaced.
  std::error_code ec;
  const fs::path target = fs::canonical(path, ec);
  if (ec) return ioError(path, ec.value());
  auto text = readVCardFile(target);
  if (!text) return text.error();
  std::string data = std::move(*text);
  if (!data.empty() && data.back() != '\n') data += "\r\n";
  data += writeVCard(person);
  return writeFileAtomically(target, data, 0600);
}

}  // namespace

Result<AddressBook> readAddressBook(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) {
    return Error{Errc::NotFound, path.string() + ": no such file or folder"};
  }
  if (ec) return ioError(path, ec.value());
  if (status.type() == fs::file_type::directory) {
    auto names = vcardFilesIn(path);
    if (!names) return names.error();
    return readFolder(path, *names);
  }
  auto text = readVCardFile(path);
  if (!text) return text.error();
  AddressBook book;
  int cardsLeft = kMaxVCards;
  parseVCardsInto(book, *text, path.filename().string(), cardsLeft);
  return book;
}

Status addToAddressBook(const fs::path& path, const Person& person) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::directory) {
    Person withUid = person;
    if (withUid.uid.empty()) withUid.uid = newVCardUid();
    const fs::path file = path / fileNameFor(withUid.uid);
    auto created = createFileAtomically(file, writeVCard(withUid), 0600);
    if (!created) return created.error();
    if (!*created) return Error{Errc::Invalid, file.string() + ": a card with this UID is there already"};
    return Ok{};
  }
  if (status.type() == fs::file_type::not_found) {
    if (!path.has_filename()) return Error{Errc::Invalid, path.string() + ": not a file name"};
    auto folders = makeFolders(path.parent_path());
    if (!folders) return folders;
    auto created = createFileAtomically(path, writeVCard(person), 0600);
    if (!created) return created.error();
    if (*created) return Ok{};
    // The file appeared while this call ran: the card goes at its end like any other.
  } else if (ec) {
    return ioError(path, ec.value());
  }
  return appendToFile(path, person);
}

}  // namespace voryx::entries
