#pragma once
// The user's address book as vCard: one .vcf file, or a folder of .vcf files with one card
// each (the layout CardDAV sync tools keep). Reads vCard 2.1, 3.0 and 4.0 as phones and
// desktop programs write them; writes vCard 4.0. Pure functions of their input, except
// readAddressBook and addToAddressBook, which touch the file system. Any thread.
//
// Bounds: one unfolded line holds at most 1 MiB (a longer property, a huge photo for one,
// is dropped and the card read without it); one book holds at most 100000 cards (the rest
// are counted as skipped); a file is at most 64 MiB and a folder's files at most 256 MiB
// together (later files are counted as skipped).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "store/SimEntry.h"

namespace voryx::entries {

inline constexpr std::size_t kMaxVCardLineBytes = std::size_t{1} << 20;
inline constexpr int kMaxVCards = 100000;
inline constexpr std::uintmax_t kMaxVCardFileBytes = std::uintmax_t{64} << 20;
inline constexpr std::uintmax_t kMaxVCardFolderBytes = std::uintmax_t{256} << 20;

struct Phone {
  std::string label;   // "mobile", "home", "work", "main", "other", "fax", "home fax", "work fax",
                       // "pager", "iPhone", or a custom X-ABLabel text; "" when the card gives none
  std::string number;  // exactly as the card has it (unescaped; a tel: URI without "tel:")
};

// Every text field is valid UTF-8: bytes of a card that are not UTF-8 are read as Latin-1.
struct Person {
  std::string first, middle, last;  // N: family;given;additional (first = given, last = family);
                                    // a card without a name in N has FN whole as `first`
  std::string organization;         // ORG's first component
  std::string formatted;            // FN
  std::vector<Phone> phones;        // in the card's order
  std::string photo;                // image bytes (decoded), "" when none
  std::string photoType;            // "image/jpeg", "image/png", "image/gif" ... ("" when unknown)
  std::string uid;                  // UID, "" when none
};

struct AddressBook {
  std::vector<Person> persons;        // in the book's order
  int skipped = 0;                    // cards that could not be read
  std::vector<std::string> problems;  // one line a skipped card, e.g. "work.vcf: card 3: no END:VCARD"
};

// Parses every card of a text. `source` names it in problems. Never throws, never crashes.
// A card is skipped when a BEGIN:VCARD comes before its END:VCARD, or when it has no name,
// organization or phone; a last card cut off before its END:VCARD is read. A photo that
// does not decode is dropped, its card kept.
AddressBook parseVCards(std::string_view text, std::string_view source = "");

// A .vcf file, or a folder of .vcf files (name order; other files ignored; subfolders not
// read; a file of the folder that cannot be read is one skipped card with its reason).
// Errc::NotFound when the path does not exist, Errc::Io (detail "<path>: <reason>") when
// unreadable. Files larger than 64 MiB are refused (Invalid) rather than read into memory.
Result<AddressBook> readAddressBook(const std::filesystem::path& path);

// A photo's media type as a page may be given it: `declared` when it is "image/<token>",
// else what the bytes begin with (JPEG, PNG, GIF), else "".
std::string photoTypeOf(std::string_view declared, std::string_view bytes);

// One vCard 4.0 card: FN (the person's, else made of the name, the organization or the
// first number), N, ORG when set, one TEL per phone, UID (made when empty: "urn:uuid:" and a
// random version 4 UUID). A standard label becomes TYPE (mobile as cell, home fax as
// home,fax ...); a custom one an item group with X-ABLabel, as Apple's programs write it.
// CRLF line ends, lines folded at 75 octets (never inside a UTF-8 sequence). No photo.
std::string writeVCard(const Person& person);

// Adds the person to the book at `path`: a file gets the card appended (the whole file
// rewritten atomically, mode 0600; a file that does not end in a line end gets one first);
// a folder gets a new file "<uid-without-urn:uuid:>.vcf" (characters a file name cannot
// hold replaced by "_"), never replacing one; a path that does not exist becomes a new
// file (missing folders created 0700). A failure leaves the book as it was.
Status addToAddressBook(const std::filesystem::path& path, const Person& person);

// The phonebook out as vCards: 4.0 by default, 3.0 and 2.1 for old phones.
enum class VCardVersion { V40, V30, V21 };
// "4.0", "3.0", "2.1"; nothing for any other text.
std::optional<VCardVersion> vCardVersionNamed(std::string_view name);
// A SIM name split back into the parts the import joins (composeName): with `lastFirst`
// 1 its first word is the family name, otherwise its last word; the rest is the given
// name. One word is the part composeName puts first. Blanks around words are dropped.
Person personFromSimName(std::string_view name, int lastFirst);
// One card per entry (rows marked deleted left out): FN the SIM name, N split as above,
// the number as TEL;TYPE=cell (2.1: TEL;CELL). 2.1 writes a text that is not ASCII as
// quoted-printable UTF-8; 3.0 and 4.0 as UTF-8. CRLF line ends.
std::string phonebookVCards(const std::vector<SimEntry>& entries, int lastFirst, VCardVersion version);
// Writes them to `file` atomically (mode 0600; missing folders made). A failure leaves
// an existing file as it was.
Status exportVCards(const std::filesystem::path& file, const std::vector<SimEntry>& entries,
                    int lastFirst, VCardVersion version);

}  // namespace voryx::entries
