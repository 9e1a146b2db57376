// The virtual SIM card: its stores, records and the text file it is kept in. One thing,
// kept whole in one file.
#include "sim/SimCard.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <tuple>
#include <utility>

#include "base/AtomicFile.h"
#include "sim/AlphaId.h"
#include "sim/Gsm7.h"
#include "sim/Pdu.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

constexpr std::size_t kBcdBytes = 10;
constexpr std::array<std::string_view, 4> kStatusNames{"REC UNREAD", "REC READ", "STO UNSENT",
                                                       "STO SENT"};

std::uint8_t at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// Splits a SIM file line into words: blanks separate, "..." quotes with \" \\ \n \r \t
// escapes, '#' outside quotes starts a comment. None for an unterminated quote or escape.
std::optional<std::vector<std::string>> words(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string word;
      ++i;
      for (;;) {
        if (i >= line.size()) return std::nullopt;
        char ch = line[i++];
        if (ch == '"') break;
        if (ch == '\\') {
          if (i >= line.size()) return std::nullopt;
          ch = line[i++];
          ch = ch == 'n' ? '\n' : ch == 'r' ? '\r' : ch == 't' ? '\t' : ch;
        }
        word += ch;
      }
      out.push_back(std::move(word));
    } else {
      const std::size_t end = line.find_first_of(" \t\r", i);
      out.emplace_back(line.substr(i, end == std::string_view::npos ? line.size() - i : end - i));
      i = end == std::string_view::npos ? line.size() : end;
    }
  }
  return out;
}

// A word in quotes as words() reads it back. (Named apart from std::quoted, which a call
// with a std::string would find by argument-dependent lookup: it leaves line breaks raw.)
std::string quotedWord(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\', out += c;
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out + '"';
}

std::optional<int> parseCount(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

bool validTimestamp(std::string_view ts) {
  if (ts.empty()) return true;
  static constexpr std::string_view kShape = "00/00/00,00:00:00+00";
  if (ts.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < ts.size(); ++i) {
    const bool digit = ts[i] >= '0' && ts[i] <= '9';
    if (kShape[i] == '0' ? !digit : (kShape[i] == '+' ? ts[i] != '+' && ts[i] != '-' : ts[i] != kShape[i]))
      return false;
  }
  return true;
}

bool validNumber(std::string_view n) {
  if (isAlphanumericAddress(n)) return true;  // a sender's name
  if (!n.empty() && n.front() == '+') n.remove_prefix(1);
  auto bcd = encodeBcd(n);
  return bcd && n.size() <= SimCard::kMaxDigits;
}

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The Luhn check digit of `digits` (ISO/IEC 7812, as the ICCID's last digit).
char luhnDigit(std::string_view digits) {
  int sum = 0;
  bool twice = true;  // from the right, the check digit's neighbour is doubled
  for (auto it = digits.rbegin(); it != digits.rend(); ++it, twice = !twice) {
    int d = *it - '0';
    if (twice) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

}  // namespace

std::string_view smsStatusName(SmsStatus status) {
  return kStatusNames[static_cast<std::size_t>(status)];
}

std::optional<SmsStatus> smsStatusFromName(std::string_view name) {
  for (std::size_t i = 0; i < kStatusNames.size(); ++i) {
    if (kStatusNames[i] == name) return static_cast<SmsStatus>(i);
  }
  return std::nullopt;
}

SimCard::SimCard(int locations, int alphaLength, int smsCapacity)
    : alphaLength_(alphaLength), smsCapacity_(smsCapacity) {
  records_.assign(static_cast<std::size_t>(locations), std::string(static_cast<std::size_t>(recordSize()), '\xFF'));
}

const std::vector<std::string>* SimCard::recordsOf(std::string_view book) const {
  if (book == "SM") return &records_;
  auto it = books_.find(book);
  return it == books_.end() ? nullptr : &it->second;
}

std::vector<std::string>* SimCard::recordsOf(std::string_view book) {
  return const_cast<std::vector<std::string>*>(std::as_const(*this).recordsOf(book));
}

std::vector<std::string> SimCard::books() const {
  std::vector<std::string> out;
  for (std::string_view code : kBooks) {
    if (recordsOf(code)) out.emplace_back(code);
  }
  return out;
}

bool SimCard::addBook(std::string_view code, int locations) {
  if (code == "SM" || std::find(kBooks.begin(), kBooks.end(), code) == kBooks.end()) return false;
  if (locations < 1 || locations > 254) return false;
  books_[std::string(code)].assign(static_cast<std::size_t>(locations),
                                   std::string(static_cast<std::size_t>(recordSize()), '\xFF'));
  return true;
}

int SimCard::locations(std::string_view book) const {
  const auto* r = recordsOf(book);
  return r ? static_cast<int>(r->size()) : 0;
}

std::string SimCard::record(int location, std::string_view book) const {
  if (location < 1 || location > locations(book)) return {};
  return (*recordsOf(book))[static_cast<std::size_t>(location - 1)];
}

bool SimCard::isEmpty(int location, std::string_view book) const {
  const std::string r = record(location, book);
  if (r.empty()) return true;
  const std::string_view alpha = std::string_view(r).substr(0, static_cast<std::size_t>(alphaLength_));
  const std::uint8_t length = at(r, static_cast<std::size_t>(alphaLength_));
  return alphaContent(alpha).empty() && (length == 0xFF || length <= 1);
}

bool SimCard::setRecord(int location, std::string_view bytes, std::string_view book) {
  if (location < 1 || location > locations(book) || bytes.size() != static_cast<std::size_t>(recordSize()))
    return false;
  (*recordsOf(book))[static_cast<std::size_t>(location - 1)] = std::string(bytes);
  return true;
}

void SimCard::erase(int location, std::string_view book) {
  if (location >= 1 && location <= locations(book))
    (*recordsOf(book))[static_cast<std::size_t>(location - 1)].assign(static_cast<std::size_t>(recordSize()), '\xFF');
}

int SimCard::usedLocations(std::string_view book) const {
  int used = 0;
  for (int loc = 1; loc <= locations(book); ++loc) used += isEmpty(loc, book) ? 0 : 1;
  return used;
}

std::optional<int> SimCard::firstFreeLocation(std::string_view book) const {
  for (int loc = 1; loc <= locations(book); ++loc) {
    if (isEmpty(loc, book)) return loc;
  }
  return std::nullopt;
}

std::optional<PhonebookEntry> SimCard::entry(int location, std::string_view book) const {
  if (isEmpty(location, book)) return std::nullopt;
  const std::string r = record(location, book);
  const auto a = static_cast<std::size_t>(alphaLength_);
  PhonebookEntry e;
  e.location = location;
  e.name = utf8Encode(decodeAlpha(std::string_view(r).substr(0, a)));
  const std::uint8_t length = at(r, a);
  const std::uint8_t ton = at(r, a + 1);
  if (ton != 0xFF) e.type = ton;
  if (length != 0xFF && length > 1) {
    const std::size_t bcd = std::min<std::size_t>(length - 1u, kBcdBytes);
    e.number = decodeBcd(std::string_view(r).substr(a + 2, bcd));
    if ((ton & 0x70) == 0x10) e.number.insert(0, "+");
  }
  return e;
}

std::string SimCard::name(int location) const {
  auto e = entry(location);
  return e ? e->name : std::string{};
}

std::string SimCard::number(int location) const {
  auto e = entry(location);
  return e ? e->number : std::string{};
}

bool SimCard::writeEntry(int location, std::string_view alpha, std::string_view num, int type,
                         std::string_view book) {
  if (location < 1 || location > locations(book)) return false;
  if (alpha.size() > static_cast<std::size_t>(alphaLength_)) return false;
  if (type < 128 || type > 255) return false;
  const bool plus = !num.empty() && num.front() == '+';
  if (plus) num.remove_prefix(1), type = 0x91;
  if (num.size() > kMaxDigits) return false;
  auto bcd = encodeBcd(num);
  if (!bcd) return false;
  std::string r(alpha);
  r.resize(static_cast<std::size_t>(alphaLength_), '\xFF');
  if (bcd->empty()) {
    r += "\xFF\xFF";
  } else {
    r += static_cast<char>(bcd->size() + 1);
    r += static_cast<char>(type);
  }
  r += *bcd;
  r.resize(static_cast<std::size_t>(recordSize()), '\xFF');  // BCD padding, CCP, EXT1
  (*recordsOf(book))[static_cast<std::size_t>(location - 1)] = r;
  return true;
}

bool SimCard::writeEntryText(int location, std::string_view nameUtf8, std::string_view num,
                             std::string_view book) {
  auto name = utf8Decode(nameUtf8);
  if (!name) return false;
  auto alpha = encodeAlpha(*name, static_cast<std::size_t>(alphaLength_));
  if (!alpha) return false;
  return writeEntry(location, *alpha, num, !num.empty() && num.front() == '+' ? 145 : 129, book);
}

const SmsRecord* SimCard::message(int index) const {
  auto it = messages_.find(index);
  return it == messages_.end() ? nullptr : &it->second;
}

std::optional<int> SimCard::addMessage(SmsRecord message) {
  for (int i = 1; i <= smsCapacity_; ++i) {
    if (!messages_.count(i)) {
      messages_[i] = std::move(message);
      return i;
    }
  }
  return std::nullopt;
}

bool SimCard::setMessage(int index, SmsRecord message) {
  if (index < 1 || index > smsCapacity_) return false;
  messages_[index] = std::move(message);
  return true;
}

bool SimCard::deleteMessage(int index) { return messages_.erase(index) > 0; }

bool SimCard::isIccid(std::string_view iccid) {
  if (!iccid.empty() && (iccid.back() == 'F' || iccid.back() == 'f')) iccid.remove_suffix(1);
  return iccid.size() >= 18 && iccid.size() <= 20 && allDigits(iccid);
}

bool SimCard::isImsi(std::string_view imsi) {
  return imsi.size() >= 6 && imsi.size() <= 15 && allDigits(imsi);
}

bool SimCard::setIdentity(std::string_view iccid, std::string_view imsi) {
  if (!isIccid(iccid) || !isImsi(imsi)) return false;
  iccid_ = iccid;
  imsi_ = imsi;
  if (iccid_.back() == 'f') iccid_.back() = 'F';
  return true;
}

void SimCard::giveFreshIdentity() {
  std::random_device entropy;
  std::uniform_int_distribution<int> digit(0, 9);
  std::string iccid(kDefaultIccid.substr(0, 8));  // industry, country and issuer digits
  while (iccid.size() < 19) iccid += static_cast<char>('0' + digit(entropy));
  iccid += luhnDigit(iccid);
  std::string imsi(kDefaultImsi.substr(0, 5));  // the network's country and code
  while (imsi.size() < 15) imsi += static_cast<char>('0' + digit(entropy));
  setIdentity(iccid, imsi);
}

SimCard SimCard::demo() {
  SimCard sim;
  struct Row {
    const char* name;
    const char* number;
  };
  static constexpr Row kRows[] = {
      {"Anna Rossi", "+393331234567"},    {"Marco Bianchi", "+393471112233"},
      {"Zoë Müller", "+491701234567"},    {"Ärztehaus", "0612345678"},
      {"Café Noël", "+33612345678"},      {"Иван Петров", "+79161234567"},
      {"Ольга", "+79035556677"},          {"Γιώργος", "+306912345678"},
      {"Σοφία", "+306944556677"},         {"Office@Home", "0223456789"},
      {"Pay$ Desk", "800123456"},         {"_voicemail", "+393359609600"},
      {"Hélène Dubois", "+33698765432"},  {"Adèle Martin", "+33155667788"},
      {"Bar €uro", "0687654321"},         {"José García", "+34612345678"},
      {"Łukasz", "+48501234567"},         {"Smörgås AB", "+46812345678"},
      {"Ñandú Tours", "+5491123456789"},  {"Dr. Straße", "+4930123456"},
      {"Pizzeria Gino", "0612233445"},    {"Taxi", "0264748"},
      {"Mamma", "+393351122334"},         {"Papà", "+393351122335"},
      {"Nonna Lucia", "0312345678"},      {"Ufficio [2]", "0212345678,123"},
      {"ΔΩΣ Θ", "+302101234567"},         {"Ґанна", "+380441234567"},
      {"山田太郎", "+81312345678"},        {"Åsa Öberg", "+46701234567"},
      {"Saldo", "*123#"},                 {"Ciccio_99", "3381234567"},
      {"François", "+33144556677"},       {"Dvořák", "+420212345678"},
      {"Søren Ærø", "+4533123456"},       {"Ελένη", "+306977889900"},
  };
  int location = 1;
  for (const auto& row : kRows) sim.writeEntryText(location++, row.name, row.number);
  // The other stores: the subscriber's own numbers, a fixed-dialling list, the phone's
  // memory, and the SIM's own emergency and service numbers.
  struct BookRow {
    const char* book;
    int location;
    const char* name;
    const char* number;
  };
  static constexpr BookRow kBookRows[] = {
      {"ON", 1, "Voce", "+393401234567"},  {"ON", 2, "Dati", "+393409876543"},
      {"FD", 1, "Casa", "+390212345678"},  {"FD", 2, "Mamma", "+393351122334"},
      {"ME", 1, "Idraulico", "+393387654321"},
      {"EN", 1, "Emergenza", "112"},       {"EN", 2, "Emergency", "911"},
      {"SDN", 1, "Assistenza", "190"}, {"SDN", 2, "Credito", "*123#"},
  };
  for (const auto& [book, locations] : {std::pair{"ON", 2}, {"FD", 10}, {"ME", 100}, {"EN", 5}, {"SDN", 5}}) {
    sim.addBook(book, locations);
  }
  for (const BookRow& row : kBookRows) sim.writeEntryText(row.location, row.name, row.number, row.book);
  sim.addMessage({SmsStatus::RecRead, "+393331234567", "24/05/01,10:15:00+08",
                  "Ciao! Ci vediamo alle 8?", false, {}});
  sim.addMessage({SmsStatus::RecUnread, "+491701234567", "24/05/02,18:40:12+08",
                  "Grüße aus München! Nächste Woche wieder da.", false, {}});
  sim.addMessage({SmsStatus::RecRead, "+79161234567", "24/05/03,09:05:30+12",
                  "Привет! Как дела?", true, {}});
  sim.addMessage({SmsStatus::StoUnsent, "+393331234567", "", "Ricordati il pane", false, {}});
  sim.addMessage({SmsStatus::StoSent, "0612345678", "", "Costa 5€ [sconto]", false, {}});
  // A message in three parts (reference 2A), stored out of order: part 2, 1, then 3.
  const std::string kParts[] = {
      "Ciao Anna, ti scrivo per sabato: la cena e' alle 20 da Gino, abbiamo prenotato un tavolo "
      "per dodici persone vicino alla finestra. ",
      "Porta pure tuo fratello, c'e' posto per tutti. Dopo cena pensavamo di andare a ballare in "
      "centro, ma decidiamo li' tutti insieme. Per il regalo ",
      "a Marco abbiamo raccolto 15 euro a testa. A sabato!"};
  for (int part : {2, 1, 3}) {
    sim.addMessage({SmsStatus::RecRead, "+393471112233", "24/05/04,20:30:0" + std::to_string(part) + "+08",
                    kParts[part - 1], false, std::string("\x00\x03\x2A\x03", 4) + static_cast<char>(part)});
  }
  return sim;
}

// The SIM file. Lines:
//   phonebook <locations> <record size>     record size = alpha length + 14
//   sms <capacity>
//   iccid <digits>                          the SIM's identity; a file without these
//   imsi <digits>                           lines is the SIM of kDefaultIccid/kDefaultImsi
//   adn <location> <record hex>             EF_ADN bytes; a comment shows name, number, type
//   ext <record> <record hex>               EF_EXT1 bytes (13), where a record's number goes on
//   book <store> <locations>                another phonebook store (ON, FD, ME, EN, SDN)
//   rec <store> <location> <record hex>     a record of it, in EF_ADN's form
//   msg <index> "<status>" gsm|ucs2 "<number>" "<time stamp>" "<text>" [<header hex>]
//                                           the header: the user data header's elements
// '#' starts a comment. Only the hex of a record counts.
std::string SimCard::toText() const {
  std::ostringstream out;
  out << "# Voryx virtual SIM\n"
      << "# adn: location, EF_ADN record in hex (alpha identifier padded with FF, number\n"
      << "# length, TON/NPI, 10 BCD bytes, CCP, EXT1); the comment is for reading only.\n"
      << "phonebook " << locations() << ' ' << recordSize() << '\n'
      << "sms " << smsCapacity_ << '\n'
      << "iccid " << iccid_ << '\n'
      << "imsi " << imsi_ << '\n';
  for (int loc = 1; loc <= locations(); ++loc) {
    auto e = entry(loc);
    if (!e) continue;
    std::string name = e->name;
    for (char& c : name) c = (c == '\n' || c == '\r') ? ' ' : c;
    out << "adn " << loc << ' ' << toHex(record(loc)) << "  # " << name << " | " << e->number
        << " | " << e->type << '\n';
  }
  for (const std::string& book : books()) {
    if (book == "SM") continue;
    out << "book " << book << ' ' << locations(book) << '\n';
    for (int loc = 1; loc <= locations(book); ++loc) {
      auto e = entry(loc, book);
      if (!e) continue;
      std::string name = e->name;
      for (char& c : name) c = (c == '\n' || c == '\r') ? ' ' : c;
      out << "rec " << book << ' ' << loc << ' ' << toHex(record(loc, book)) << "  # " << name << " | " << e->number
          << '\n';
    }
  }
  for (int n = 1; n <= kExtensionRecords; ++n) {
    const std::string& e = extensions_[static_cast<std::size_t>(n - 1)];
    if (e.find_first_not_of('\xFF') != std::string::npos) out << "ext " << n << ' ' << toHex(e) << '\n';
  }
  for (const auto& [index, m] : messages_) {
    out << "msg " << index << ' ' << quotedWord(smsStatusName(m.status)) << ' '
        << (m.ucs2 ? "ucs2" : "gsm") << ' ' << quotedWord(m.number) << ' ' << quotedWord(m.timestamp) << ' '
        << quotedWord(m.text) << (m.header.empty() ? "" : " " + toHex(m.header)) << '\n';
  }
  return out.str();
}

std::string SimCard::extension(int n) const {
  return n >= 1 && n <= kExtensionRecords ? extensions_[static_cast<std::size_t>(n - 1)] : std::string();
}

bool SimCard::setExtension(int n, std::string_view bytes) {
  if (n < 1 || n > kExtensionRecords || bytes.size() != static_cast<std::size_t>(kExtensionRecordSize)) return false;
  extensions_[static_cast<std::size_t>(n - 1)] = std::string(bytes);
  return true;
}

std::optional<SimCard> SimCard::fromText(std::string_view text, std::string& error) {
  int lineNo = 0;
  int locations = -1, recordSize = -1, capacity = -1;
  std::vector<std::pair<int, std::string>> records, extensions;
  std::vector<std::pair<std::string, int>> books;
  std::vector<std::tuple<std::string, int, std::string>> bookRecords;
  std::vector<std::pair<int, SmsRecord>> msgs;
  std::string iccid(kDefaultIccid), imsi(kDefaultImsi);
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (!text.empty()) {
    ++lineNo;
    const std::size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    auto w = words(line);
    if (!w) return fail("unterminated quote");
    if (w->empty()) continue;
    const std::string& kind = (*w)[0];
    if (kind == "phonebook" && w->size() == 3) {
      auto n = parseCount((*w)[1]);
      auto size = parseCount((*w)[2]);
      if (!n || !size || *n < 1 || *n > 254 || *size < 14 || *size > 14 + 241)
        return fail("phonebook wants a location count (1-254) and a record size (14-255)");
      locations = *n, recordSize = *size;
    } else if (kind == "sms" && w->size() == 2) {
      auto n = parseCount((*w)[1]);
      if (!n || *n > 255) return fail("sms wants a capacity (0-255)");
      capacity = *n;
    } else if (kind == "iccid" && w->size() == 2) {
      if (!isIccid((*w)[1])) return fail("iccid wants 18 to 20 digits (the last may be F)");
      iccid = (*w)[1];
    } else if (kind == "imsi" && w->size() == 2) {
      if (!isImsi((*w)[1])) return fail("imsi wants 6 to 15 digits");
      imsi = (*w)[1];
    } else if (kind == "adn" && w->size() == 3) {
      auto loc = parseCount((*w)[1]);
      auto bytes = fromHex((*w)[2]);
      if (!loc || !bytes) return fail("adn wants a location and the record in hex");
      records.emplace_back(*loc, *bytes);
    } else if (kind == "book" && w->size() == 3) {
      auto n = parseCount((*w)[2]);
      const std::string& code = (*w)[1];
      if (code == "SM" || std::find(kBooks.begin(), kBooks.end(), code) == kBooks.end() || !n || *n < 1 || *n > 254)
        return fail("book wants a store (ON, FD, ME, EN or SDN) and a location count (1-254)");
      books.emplace_back(code, *n);
    } else if (kind == "rec" && w->size() == 4) {
      auto loc = parseCount((*w)[2]);
      auto bytes = fromHex((*w)[3]);
      if (!loc || !bytes) return fail("rec wants a store, a location and the record in hex");
      bookRecords.emplace_back((*w)[1], *loc, *bytes);
    } else if (kind == "ext" && w->size() == 3) {
      auto n = parseCount((*w)[1]);
      auto bytes = fromHex((*w)[2]);
      if (!n || !bytes) return fail("ext wants a record number and the record in hex");
      extensions.emplace_back(*n, *bytes);
    } else if (kind == "msg" && (w->size() == 7 || w->size() == 8)) {
      auto index = parseCount((*w)[1]);
      auto status = smsStatusFromName((*w)[2]);
      const std::string& coding = (*w)[3];
      SmsRecord m;
      if (!index || !status || (coding != "gsm" && coding != "ucs2"))
        return fail("msg wants an index, a status (\"REC READ\", ...) and gsm or ucs2");
      m.status = *status;
      m.ucs2 = coding == "ucs2";
      m.number = (*w)[4];
      m.timestamp = (*w)[5];
      m.text = (*w)[6];
      if (!validNumber(m.number)) return fail("number holds characters a SIM cannot store");
      if (!validTimestamp(m.timestamp)) return fail("time stamp is not yy/MM/dd,hh:mm:ss+zz");
      auto chars = utf8Decode(m.text);
      if (!chars) return fail("text is not UTF-8");
      if (w->size() == 8) {
        auto header = fromHex((*w)[7]);
        if (!header || header->empty() || header->size() > 40) return fail("the header wants 1 to 40 bytes in hex");
        m.header = *header;
      }
      const std::size_t headerOctets = m.header.empty() ? 0 : m.header.size() + 1;
      if (m.ucs2 ? chars->size() * 2 + headerOctets > 140
                 : gsm7::septetCount(*chars).value_or(999) + (headerOctets * 8 + 6) / 7 > 160)
        return fail("text does not fit one message in this coding");
      msgs.emplace_back(*index, std::move(m));
    } else {
      return fail("expected phonebook, sms, iccid, imsi, adn, ext, book, rec or msg with their fields");
    }
  }
  if (locations < 0 || capacity < 0) {
    error = "the file lacks its phonebook or sms line";
    return std::nullopt;
  }
  SimCard card(locations, recordSize - 14, capacity);
  card.setIdentity(iccid, imsi);
  for (const auto& [loc, bytes] : records) {
    if (!card.setRecord(loc, bytes)) {
      error = "adn " + std::to_string(loc) + ": location outside 1-" + std::to_string(locations) +
              " or record not " + std::to_string(recordSize) + " bytes";
      return std::nullopt;
    }
  }
  for (const auto& [code, n] : books) card.addBook(code, n);
  for (const auto& [code, loc, bytes] : bookRecords) {
    if (!card.setRecord(loc, bytes, code)) {
      error = "rec " + code + " " + std::to_string(loc) + ": no such store, location outside it, or record not " +
              std::to_string(recordSize) + " bytes";
      return std::nullopt;
    }
  }
  for (const auto& [n, bytes] : extensions) {
    if (!card.setExtension(n, bytes)) {
      error = "ext " + std::to_string(n) + ": record outside 1-" + std::to_string(kExtensionRecords) + " or not " +
              std::to_string(kExtensionRecordSize) + " bytes";
      return std::nullopt;
    }
  }
  for (auto& [index, m] : msgs) {
    if (!card.setMessage(index, std::move(m))) {
      error = "msg " + std::to_string(index) + ": index outside 1-" + std::to_string(capacity);
      return std::nullopt;
    }
  }
  return card;
}

std::optional<SimCard> SimCard::load(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = file.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto card = fromText(text.str(), error);
  if (!card) error = file.string() + ": " + error;
  return card;
}

bool SimCard::save(const std::filesystem::path& file, std::string& error) const {
  Status written = writeFileAtomically(file, toText(), 0644);
  if (!written) error = written.error().detail;
  return written.ok();
}

}  // namespace voryx::sim
