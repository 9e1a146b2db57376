#include "entries/AddressBook.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <nlohmann/json.hpp>

#include "entries/Import.h"
#include "support/TempDir.h"

namespace voryx::entries {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::filesIn;
using test::modeOf;
using test::readFile;
using test::TempDir;
using test::writeFile;

const fs::path kSamples = fs::path(VORYX_SOURCE_DIR) / "tests/entries/vcards";

struct Expected {
  std::string first, middle, last, organization, formatted;
  std::vector<Phone> phones;
  std::string photoType{};  // "" when the person has no photo
  std::size_t photoBytes = 0;
  std::string uid{};
};

struct Sample {
  const char* file;
  std::vector<Expected> persons;
  std::vector<std::string> problems;
};

const Sample kSampleFiles[] = {
    {"v21.vcf",
     {{"Mario", "Giuseppe", "Rossi", "Rossi & Figli", "Mario Rossi",
       {{"mobile", "+39 333 1234567"}, {"home", "02-1234567"}, {"work fax", "02-7654321"},
        {"work", "+39 02 1111"}, {"fax", "02-5555"}, {"pager", "12345"}, {"", "0039 06 999"}}},
      {"Jürgen", "", "Müller von Schönau", "", "Jürgen Müller von Schönau",
       {{"mobile", "+49 170 1234567"}}},
      {"Renée", "", "François", "Café de la Gare", "Renée François",
       {{"home fax", "+33 1 23 45 67 89"}}},
      {"Anna", "", "Ferrari", "", "Anna Ferrari", {{"work", "+39 051 123456"}}, "image/jpeg", 302}},
     {}},
    {"v30.vcf",
     {{"Anne;Marie", "", "O'Brien, Jr.", "Acme, Inc.", "Dr. Anne;Marie O'Brien, Jr.",
       {{"mobile", "+1 555 0100"}, {"work", "+1 555 0101"}, {"home", "+1 555 0102"},
        {"work fax", "+1 555 0103"}, {"main", "+1 555 0104"}},
       "", 0, "6f1c2a4e-1111-4222-8333-944455556666"},
      // a fold inside "—", one after a backslash, one by a tab
      {"Gennaro", "", "Esposito", "Pizzeria Gennaro, Napoli",
       "Gennaro Esposito — 'o Professore\nNapoli", {{"mobile", "+39 081 555 0001"}}, "image/jpeg",
       302}},
     {}},
    {"v40.vcf",  // byte-order mark, LF
     {{"Giulia", "Maria", "Bianchi", "", "Giulia Bianchi",
       {{"mobile", "+39-333-555-0000"}, {"home", "+39-02-1234567"}, {"work fax", "+39-02-9999"},
        {"pager", "+39 02 8888"}},
       "image/png", 72, "urn:uuid:4fbe8971-0bc3-424c-9c26-36c3e1eff6b1"},
      {"Marco", "", "Gallo", "Gallo & Co.", "Marco Gallo", {{"iPhone", "+39 3400000000"}}},
      {"Zoë", "", "Ödön", "", "Zoë Ödön", {{"home", "+36 1 234 5678"}}, "image/gif", 43}},
     {}},
    {"apple.vcf",
     {{"Luca", "", "Verdi", "Verdi SpA", "Luca Verdi",
       {{"mobile", "+39 347 000 0001"}, {"iPhone", "+39 347 000 0002"},
        {"Nonna Pina", "+39 02 000 0003"}, {"main", "+39 02 000 0004"},
        {"other", "+39 02 000 0005"}, {"home fax", "+39 02 000 0006"},
        {"work fax", "+39 02 000 0007"}, {"pager", "+39 02 000 0008"},
        {"work", "+39 02 000 0009"}, {"Assistant", "+39 02 000 0010"}},
       "image/jpeg", 302}},
     {}},
    {"minimal.vcf",  // FN without a name in N is the given name
     {{"Pizzeria Da Mario", "", "", "", "Pizzeria Da Mario", {{"work", "+39 06 1234"}}},
      {"", "", "", "Farmacia Centrale", "", {{"", "+39 06 5678"}}},
      {"Paolo", "", "Neri", "", "Paolo Neri", {}},
      {"Solo", "", "", "", "", {}},
      {"Studio Dentistico", "", "", "Studio Dentistico", "Studio Dentistico", {{"work", "+39-06-4321"}}}},
     {}},
    {"broken.vcf",
     {{"Primo Buono", "", "", "", "Primo Buono", {{"", "111"}}},
      {"Dentro", "", "", "", "Dentro", {{"", "222"}}},
      {"Foto Rotta", "", "", "", "Foto Rotta", {{"", "333"}}},  // its photo is not base64
      {"Senza", "", "Ultimo", "", "", {{"mobile", "444"}}}},  // no END:VCARD at the end
     {"broken.vcf: card 2: no END:VCARD", "broken.vcf: card 4: no name, organization or phone"}},
};

// Every field of a person in one value, so that a difference shows whole; the photo by its
// type and size.
template <class P>
json fields(const P& p, std::size_t photoBytes) {
  json phones = json::array();
  for (const auto& phone : p.phones) phones.push_back(json::array({phone.label, phone.number}));
  return json::array({p.first, p.middle, p.last, p.organization, p.formatted, phones, p.photoType, photoBytes, p.uid});
}

void expectPersons(const std::vector<Person>& got, const std::vector<Expected>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(fields(got[i], got[i].photo.size()), fields(want[i], want[i].photoBytes)) << "person " << i + 1;
  }
}

TEST(AddressBookTest, ReadsEverySample) {
  for (const auto& s : kSampleFiles) {
    SCOPED_TRACE(s.file);
    auto book = readAddressBook(kSamples / s.file);
    ASSERT_TRUE(book.ok()) << book.error().detail;
    expectPersons(book->persons, s.persons);
    EXPECT_EQ(book->problems, s.problems);
    EXPECT_EQ(book->skipped, static_cast<int>(s.problems.size()));
  }
}

// One card each: the version, its lines after VERSION, and what the person gets.
struct ValueCase {
  const char* version;
  std::string lines;
  std::string formatted;
  std::string phone;  // "label|number" of the first phone, "" when none
  std::string photoType = "";
};
const std::string kGif = "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==";
const ValueCase kValues[] = {
    {"3.0", "FN:a\\,b\\;c\\\\d\\ne\\Nf", "a,b;c\\d\ne\nf", ""},
    {"3.0", "FN:C:\\Users\\x", "C:\\Users\\x", ""},  // no escape: the backslash stays
    {"2.1", "FN:a\\,b\\;c", "a\\,b;c", ""},           // 2.1 escapes ";" only
    {"2.1", "FN;CHARSET=ISO-8859-1:\xC3\xA9t\xE9", "\xC3\x83\xC2\xA9t\xC3\xA9", ""},  // declared
    {"2.1", "FN:Jos\xE9 \xC3\xA9", "Jos\xC3\xA9 \xC3\xA9", ""},  // no UTF-8: Latin-1
    {"2.1", "FN;ENCODING=QUOTED-PRINTABLE:a=3Db=\r\n=\r\nc=ZZ", "a=bc=ZZ", ""},
    {"2.1", "FN;QUOTED-PRINTABLE:stray=\r\nEND:VCARD\r\nBEGIN:VCARD\r\nTEL:9", "stray", ""},
    {"4.0", "FN:x\r\nTEL;TYPE=\"a:b;c\";TYPE=cell:123", "x", "mobile|123"},
    {"4.0", "FN:x\r\nTEL;VALUE=uri:TEL: +1-555 ", "x", "|+1-555"},
    {"3.0", "FN:x\r\nTEL;TYPE=HOME: \r\nTEL:;", "x", "|;"},  // an empty number is no phone
    {"3.0", "FN:x\r\nitem1.TEL:1\r\nitem2.X-ABLabel:work", "x", "|1"},  // another item's label
    {"3.0", "FN:x\r\nTEL;TYPE=VOICE,PREF,X-SPECIAL:1", "x", "|1"},
    {"3.0", "FN:x\r\nPHOTO;ENCODING=b:" + kGif, "x", "", "image/gif"},  // no TYPE: by content
    {"3.0", "FN:x\r\nPHOTO;ENCODING=b;TYPE=\"text/html\":" + kGif, "x", "", "image/gif"},
    {"3.0", "FN:x\r\nPHOTO;ENCODING=b;TYPE=PNG:" + kGif.substr(0, 9), "x", "", ""},  // cut
    {"4.0", "FN:x\r\nPHOTO:data:image/gif," + kGif, "x", "", ""},  // not base64: not read
    {"4.0", "FN:x\r\nPHOTO:data:image/gif;charset=x;BASE64," + kGif, "x", "", "image/gif"},
};

TEST(AddressBookTest, DecodesValues) {
  for (const auto& c : kValues) {
    const std::string text = std::string("BEGIN:VCARD\r\nVERSION:") + c.version + "\r\n" +
                             c.lines + "\r\nEND:VCARD\r\n";
    SCOPED_TRACE(text);
    const auto book = parseVCards(text);
    ASSERT_FALSE(book.persons.empty());
    const Person& p = book.persons[0];
    EXPECT_EQ(p.formatted, c.formatted);
    EXPECT_EQ(p.phones.empty() ? "" : p.phones[0].label + "|" + p.phones[0].number, c.phone);
    EXPECT_EQ(p.photoType, c.photoType);
    EXPECT_EQ(p.photo.empty(), c.photoType.empty());
  }
}

TEST(AddressBookTest, ReadsAFolderInNameOrder) {
  // 10-anna.vcf, 2-bruno.vcf, 30-carla.VCF; notes.txt and sub/40-dario.vcf are not read.
  auto book = readAddressBook(kSamples / "vdir");
  ASSERT_TRUE(book.ok()) << book.error().detail;
  std::vector<std::string> names;
  for (const auto& p : book->persons) names.push_back(p.formatted);
  EXPECT_EQ(names, (std::vector<std::string>{"Anna", "Bruno", "Carla"}));
  EXPECT_EQ(book->skipped, 0);
}

TEST(AddressBookTest, RefusesWhatIsNoBook) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.vcf").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  fs::copy_file(kSamples / "minimal.vcf", dir / "folder/a.vcf");
  for (const char* big : {"big.vcf", "folder/b.vcf"}) {
    writeFile(dir / big, "");
    fs::resize_file(dir / big, kMaxVCardFileBytes + 1);  // sparse: no 64 MiB written
  }
  struct Case {
    fs::path path;
    Errc code;
    std::string detailEnd;
  };
  const Case cases[] = {
      {dir / "missing.vcf", Errc::NotFound, "missing.vcf: no such file or folder"},
      {dir / "pipe.vcf", Errc::Invalid, "pipe.vcf: not a file or folder"},  // never blocks
      {dir / "big.vcf", Errc::Invalid, "big.vcf: larger than 64 MiB"},
  };
  for (const auto& c : cases) {
    auto book = readAddressBook(c.path);
    ASSERT_FALSE(book.ok()) << c.path;
    EXPECT_EQ(book.error().code, c.code) << c.path;
    EXPECT_TRUE(book.error().detail.ends_with(c.detailEnd)) << book.error().detail;
  }
  // In a folder, a file too large is one skipped card; the others are read.
  auto folder = readAddressBook(dir / "folder");
  ASSERT_TRUE(folder.ok());
  EXPECT_EQ(folder->persons.size(), 5u);
  EXPECT_EQ(folder->skipped, 1);
  ASSERT_EQ(folder->problems.size(), 1u);
  EXPECT_TRUE(folder->problems[0].ends_with("b.vcf: larger than 64 MiB")) << folder->problems[0];
}

TEST(AddressBookTest, BoundsLinesAndCards) {
  const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL:1\r\nEND:VCARD\r\n";
  std::string many;
  for (int i = 0; i <= kMaxVCards + 1; ++i) many += card;
  auto book = parseVCards(many, "many.vcf");
  EXPECT_EQ(book.persons.size(), static_cast<std::size_t>(kMaxVCards));
  EXPECT_EQ(book.skipped, 2);
  EXPECT_EQ(book.problems, (std::vector<std::string>{
                               "many.vcf: cards 100001 to 100002: not read, the book has more "
                               "than 100000 cards"}));

  // A photo past 1 MiB is dropped, the folded lines after it are not taken for properties,
  // and the card keeps its name and phone.
  std::string photo = "PHOTO;ENCODING=b;TYPE=JPEG:/9j/";
  for (std::size_t i = 0; i < kMaxVCardLineBytes / 72 + 1; ++i) photo += "\r\n " + std::string(72, 'A');
  const std::string big = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Big\r\n" + photo +
                          "\r\nTEL:2\r\nEND:VCARD\r\n" + card;
  book = parseVCards(big);
  ASSERT_EQ(book.persons.size(), 2u);
  EXPECT_EQ(book.persons[0].formatted, "Big");
  EXPECT_EQ(book.persons[0].photo, "");
  ASSERT_EQ(book.persons[0].phones.size(), 1u);
  EXPECT_EQ(book.persons[0].phones[0].number, "2");
}

// What every book must be, whatever its text: UTF-8 text (the screens send it as JSON),
// and no more persons and skipped cards than the text has BEGIN lines.
void expectSane(const AddressBook& book, const std::string& text) {
  std::size_t begins = 0;
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (auto at = upper.find("BEGIN:VCARD"); at != std::string::npos; at = upper.find("BEGIN:VCARD", at + 1)) ++begins;
  EXPECT_LE(book.persons.size() + static_cast<std::size_t>(book.skipped), begins);
  for (const auto& p : book.persons) EXPECT_NO_THROW(fields(p, 0).dump());  // the encoder refuses non-UTF-8
}

TEST(AddressBookTest, SurvivesTruncatedAndDamagedSamples) {
  std::mt19937 random(20240607);
  for (const auto& entry : fs::recursive_directory_iterator(kSamples)) {
    if (!entry.is_regular_file()) continue;
    const std::string text = readFile(entry.path());
    SCOPED_TRACE(entry.path().filename().string());
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      const std::string part = text.substr(0, cut);
      expectSane(parseVCards(part), part);
    }
    for (int round = 0; round < 300; ++round) {
      std::string damaged = text;
      const int hits = 1 + static_cast<int>(random() % 8);
      for (int h = 0; h < hits && !damaged.empty(); ++h) {
        damaged[random() % damaged.size()] = static_cast<char>(random() & 0xFF);
      }
      expectSane(parseVCards(damaged), damaged);
    }
  }
  const char* const pieces[] = {"BEGIN:VCARD\r\n", "END:VCARD\n", "TEL;TYPE=\"", "=\r\n", "\\",
                                ";", ":", "\n ", "QUOTED-PRINTABLE", "=C3", "\xC3", "\xFF",
                                "PHOTO:data:image/png;base64,", "item1.X-ABLabel:_$!<", "\0"};
  for (int round = 0; round < 2000; ++round) {
    std::string junk;
    const int n = static_cast<int>(random() % 40);
    for (int i = 0; i < n; ++i) {
      if (random() % 3 == 0) {
        junk += static_cast<char>(random() & 0xFF);
      } else {
        junk += pieces[random() % std::size(pieces)];
      }
    }
    expectSane(parseVCards(junk), junk);
  }
}

const std::string kLongName =  // 2-byte and 4-byte sequences across every fold position
    "Ludovica Maria Annunziata d'Alessandro-Müller, ÅÄÖ; 😀😀😀😀😀😀😀😀 "
    "ünïcödé ünïcödé ünïcödé ünïcödé ünïcödé ünïcödé ünïcödé ünïcödé ünïcödé\\end";

TEST(AddressBookTest, WritesCardsThatReadBack) {
  Person odd;
  odd.first = "Anna, \"Nina\"";
  odd.middle = "Maria;Luisa";
  odd.last = "C:\\Users\\Rossi";
  odd.organization = "Line one\nline two, \\ and ; three";
  odd.formatted = kLongName;
  for (const char* label : {"mobile", "home", "work", "main", "other", "fax", "home fax", "work fax",
                            "pager", "iPhone", "", "Nonna Pina", "Casa, al mare; d'estate", "Mobile"}) {
    odd.phones.push_back(Phone{label, std::string("+39 02 ") + std::to_string(odd.phones.size())});
  }
  odd.phones.push_back(Phone{"x", "*31#,;\\"});
  odd.uid = "urn:uuid:0e6b1c7a-5d1e-4c42-9a3c-3f7e6d9a1b20";
  Person bare;
  bare.phones.push_back(Phone{"", "+39 333 0000"});
  Person organization;
  organization.organization = "Farmacia Centrale";

  // The name a card without one shows: its number, or its organization.
  const std::pair<const Person&, std::string> cases[] = {
      {odd, kLongName}, {bare, "+39 333 0000"}, {organization, "Farmacia Centrale"}};
  for (const auto& [person, formatted] : cases) {
    const std::string card = writeVCard(person);
    SCOPED_TRACE(card);
    // Physical lines: CRLF, at most 75 octets, each valid UTF-8 by itself.
    std::size_t start = 0;
    while (start < card.size()) {
      const std::size_t end = card.find("\r\n", start);
      ASSERT_NE(end, std::string::npos);
      const std::string line = card.substr(start, end - start);
      EXPECT_LE(line.size(), 75u) << line;
      EXPECT_NO_THROW(json(line).dump()) << line;  // UTF-8
      EXPECT_EQ(line.find('\n'), std::string::npos);
      start = end + 2;
    }
    auto book = parseVCards(card);
    ASSERT_EQ(book.persons.size(), 1u);
    const Person& back = book.persons[0];
    Person want = person;
    want.formatted = formatted;
    if (want.first.empty() && want.middle.empty() && want.last.empty()) want.first = formatted;  // from FN
    if (want.uid.empty()) want.uid = back.uid;  // a made one: below
    EXPECT_EQ(fields(back, back.photo.size()), fields(want, 0));
  }

  // A card without UID gets a new random version 4 one.
  const std::string uid1 = parseVCards(writeVCard(bare)).persons[0].uid;
  const std::string uid2 = parseVCards(writeVCard(bare)).persons[0].uid;
  ASSERT_EQ(uid1.size(), 45u) << uid1;
  EXPECT_TRUE(uid1.starts_with("urn:uuid:"));
  EXPECT_EQ(uid1[9 + 14], '4');
  EXPECT_NE(std::string("89ab").find(uid1[9 + 19]), std::string::npos);
  EXPECT_NE(uid1, uid2);
}

Person person(const std::string& name, const std::string& uid = "") {
  Person p;
  p.formatted = name;
  p.phones.push_back(Phone{"mobile", "+39 1"});
  p.uid = uid;
  return p;
}

std::vector<std::string> namesIn(const fs::path& path) {
  auto book = readAddressBook(path);
  EXPECT_TRUE(book.ok()) << book.error().detail;
  std::vector<std::string> names;
  if (book.ok()) {
    for (const auto& p : book->persons) names.push_back(p.formatted);
  }
  return names;
}

// The phonebook out as vCards in every version reads back through the import's own reader
// as the same names (joined again as the import joins them) and numbers.
TEST(AddressBookTest, ThePhonebookAsVCardsReadsBackInEveryVersion) {
  const std::vector<SimEntry> phonebook{
      {1, "Anna Rossi", "+393331234567", kMarkInStep},
      {2, "Zoë Müller-Lüdenscheidt von Habsburg Lothringen Österreich", "0212345", kMarkChanged},
      {3, "Semi;colon, comma\\slash", "112", kMarkNew},
      {4, "Solo", "+4917012345", kMarkInStep},
      {5, "Gone Away", "999", kMarkDeleted},
      {6, "= equals =3D", "*31#", kMarkInStep},
  };
  for (const VCardVersion version : {VCardVersion::V40, VCardVersion::V30, VCardVersion::V21}) {
    for (const int lastFirst : {0, 1}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(version)) + "/" + std::to_string(lastFirst));
      const std::string text = phonebookVCards(phonebook, lastFirst, version);
      for (std::size_t at = 0, nl; (nl = text.find("\r\n", at)) != std::string::npos; at = nl + 2) {
        EXPECT_LE(nl - at, 76u) << text.substr(at, nl - at);
      }
      const AddressBook book = parseVCards(text);
      EXPECT_EQ(book.skipped, 0);
      std::vector<std::pair<std::string, std::string>> got, want;
      for (const Person& p : book.persons) {
        got.emplace_back(composeName(p, lastFirst, true), p.phones.empty() ? "" : p.phones.front().number);
        EXPECT_EQ(p.phones.size(), 1u);
        if (!p.phones.empty()) {
          EXPECT_EQ(p.phones.front().label, "mobile");
        }
      }
      for (const SimEntry& e : phonebook) {
        if (e.operazione != kMarkDeleted) want.emplace_back(e.nome, e.telefono);
      }
      EXPECT_EQ(got, want);
    }
  }
  EXPECT_EQ(vCardVersionNamed("2.1"), VCardVersion::V21);
  EXPECT_EQ(vCardVersionNamed("4"), std::nullopt);
}

TEST(AddressBookTest, AppendsToAFileLeavingItsCardsAsTheyWere) {
  struct Case {
    std::string old;
    std::string separator;  // between the old bytes and the new card
  };
  const std::string lf = "BEGIN:VCARD\nVERSION:3.0\nFN:Old\nEND:VCARD";
  const Case cases[] = {{lf, "\r\n"}, {lf + "\n", ""}, {lf + "\r\n", ""}, {"", ""}};
  for (const auto& c : cases) {
    TempDir dir;
    writeFile(dir / "book.vcf", c.old);
    ASSERT_TRUE(addToAddressBook(dir / "book.vcf", person("New")).ok());
    const std::string now = readFile(dir / "book.vcf");
    EXPECT_EQ(now.substr(0, c.old.size() + c.separator.size()), c.old + c.separator);
    EXPECT_TRUE(now.substr(c.old.size() + c.separator.size()).starts_with("BEGIN:VCARD\r\n"));
    const std::vector<std::string> names = c.old.empty() ? std::vector<std::string>{"New"}
                                                         : std::vector<std::string>{"Old", "New"};
    EXPECT_EQ(namesIn(dir / "book.vcf"), names);
    EXPECT_EQ(modeOf(dir / "book.vcf"), 0600u);
    EXPECT_EQ(filesIn(dir.path), (std::vector<fs::path>{dir / "book.vcf"}));  // no temporary
  }
  // A link to the book stays a link; the book it names gets the card.
  TempDir dir;
  writeFile(dir / "real.vcf", lf + "\n");
  fs::create_symlink("real.vcf", dir / "link.vcf");
  ASSERT_TRUE(addToAddressBook(dir / "link.vcf", person("New")).ok());
  EXPECT_TRUE(fs::is_symlink(dir / "link.vcf"));
  EXPECT_EQ(namesIn(dir / "real.vcf"), (std::vector<std::string>{"Old", "New"}));
}

TEST(AddressBookTest, AddsANewFileToAFolderOrAMissingPath) {
  TempDir dir;
  fs::create_directory(dir / "vdir");
  struct Case {
    std::string uid;
    std::string file;  // "" for a made UID
  };
  const Case cases[] = {
      {"urn:uuid:0e6b1c7a-5d1e-4c42-9a3c-3f7e6d9a1b20", "0e6b1c7a-5d1e-4c42-9a3c-3f7e6d9a1b20.vcf"},
      {"plain-uid@example.com", "plain-uid@example.com.vcf"},
      {"../../x/y", "_._.._x_y.vcf"},  // stays in the folder
      {"", ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(addToAddressBook(dir / "vdir", person("P", c.uid)).ok()) << c.uid;
    if (c.file.empty()) continue;
    auto book = readAddressBook(dir / "vdir" / c.file);
    ASSERT_TRUE(book.ok()) << c.file;
    EXPECT_EQ(book->persons.at(0).uid, c.uid);
    EXPECT_EQ(modeOf(dir / "vdir" / c.file), 0600u);
  }
  const auto files = filesIn(dir / "vdir");
  ASSERT_EQ(files.size(), 4u);
  for (const auto& f : files) {  // the made UID names its file
    auto book = readAddressBook(f);
    ASSERT_TRUE(book.ok());
    EXPECT_TRUE(book->persons.at(0).uid.ends_with(f.stem().string()) ||
                f.filename() == "_._.._x_y.vcf")
        << f;
  }
  // The same UID again replaces nothing.
  const std::string before = readFile(files[0]);
  auto again = addToAddressBook(dir / "vdir", person("Other", "plain-uid@example.com"));
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(filesIn(dir / "vdir").size(), 4u);
  EXPECT_EQ(readFile(files[0]), before);

  ASSERT_TRUE(addToAddressBook(dir / "new/sub/book.vcf", person("First")).ok());
  EXPECT_EQ(namesIn(dir / "new/sub/book.vcf"), (std::vector<std::string>{"First"}));
  EXPECT_EQ(modeOf(dir / "new"), 0700u);
  EXPECT_EQ(modeOf(dir / "new/sub"), 0700u);
  EXPECT_EQ(modeOf(dir / "new/sub/book.vcf"), 0600u);
}

TEST(AddressBookTest, AFailedAddLeavesTheOldFileWhole) {
  const std::string old = readFile(kSamples / "apple.vcf");
  TempDir dir;
  writeFile(dir / "book.vcf", old);
  Status added = Ok{};
  {
    test::FileSizeLimit limit(old.size() + 10);  // a full disk, which binds root too
    added = addToAddressBook(dir / "book.vcf", person("New"));
  }
  ASSERT_FALSE(added.ok());
  EXPECT_EQ(added.error().code, Errc::Io);
  EXPECT_EQ(readFile(dir / "book.vcf"), old);
  EXPECT_EQ(filesIn(dir.path), (std::vector<fs::path>{dir / "book.vcf"}));
}

}  // namespace
}  // namespace voryx::entries
