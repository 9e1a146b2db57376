#include "transfer/Listings.h"

#include "base/Text.h"
#include "modem/Reply.h"
#include "transfer/FieldCursor.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

namespace voryx::transfer {
namespace {

// One line of a reply: its text without the line end, and where it lies.
struct Line {
  std::string_view text;
  std::size_t begin = 0;
  std::size_t end = 0;  // end of `text`
};

// Lines end in LF, a CR before it belonging to the line end.
std::vector<Line> splitLines(std::string_view reply) {
  std::vector<Line> lines;
  std::size_t begin = 0;
  while (begin < reply.size()) {
    std::size_t lf = reply.find('\n', begin);
    const std::size_t next = lf == std::string_view::npos ? reply.size() : lf + 1;
    std::size_t end = lf == std::string_view::npos ? reply.size() : lf;
    if (end > begin && lf != std::string_view::npos && reply[end - 1] == '\r') --end;
    lines.push_back({reply.substr(begin, end - begin), begin, end});
    begin = next;
  }
  return lines;
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Lines that belong to no entry: blank ones, unsolicited result codes, and lines of NUL
// bytes only (filler some modems put between entries; a phonebook line of them is no
// "+CPBR:" line, a message text must not keep them).
bool isFiller(std::string_view line) {
  line = trim(line);
  return line.find_first_not_of('\0') == std::string_view::npos || modem::isUnsolicited(line);
}

// The index of the final result code: the last line once blank lines and unsolicited
// codes are set aside, when it is one. lines.size() when the reply has none (truncated).
std::size_t finalResultLine(const std::vector<Line>& lines) {
  std::size_t i = lines.size();
  while (i > 0 && isFiller(lines[i - 1].text)) --i;
  if (i > 0 && modem::isFinalResult(lines[i - 1].text)) return i - 1;
  return lines.size();
}

}  // namespace

std::string numberWithPlus(std::string_view number, std::string_view type) {
  if (trim(type) == "145" && !startsWith(number, "+")) return "+" + std::string(number);
  return std::string(number);
}

std::optional<int> leadingInt(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  std::size_t n = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
  if (n == 0) return 0;
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + n, value);
  if (ec != std::errc{}) return std::nullopt;
  return value;
}

// +CPBR: (1-250),40,14
// The last location lies between the first "-" and the ")" after it; the longest number
// follows the first comma after that ")", the longest name the second.
CpbrRange parseCpbrTest(std::string_view reply) {
  CpbrRange range;
  std::size_t at = reply.find("+CPBR:");
  if (at == std::string_view::npos) return range;
  at += 6;
  while (at < reply.size() && isBlank(reply[at])) ++at;
  if (at >= reply.size() || reply[at] != '(') return range;
  range.found = true;
  const std::size_t dash = reply.find('-', at + 1);
  if (dash == std::string_view::npos) return range;
  const std::size_t close = reply.find(')', dash + 1);
  if (close == std::string_view::npos) return range;
  range.maxSIM = leadingInt(reply.substr(dash + 1, close - dash - 1));
  if (!range.maxSIM) return range;
  const std::size_t c1 = reply.find(',', close + 1);
  const std::size_t c2 = c1 == std::string_view::npos ? c1 : reply.find(',', c1 + 1);
  if (c1 != std::string_view::npos) {
    const std::string_view field = reply.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1);
    // An empty field ("(1-250),,14") says nothing, as a missing one does.
    if (field.find_first_of("0123456789") != std::string_view::npos) range.maxNumberLen = leadingInt(field);
  }
  if (c2 != std::string_view::npos) range.maxSIMLen = leadingInt(reply.substr(c2 + 1));
  return range;
}

std::optional<std::vector<std::string>> parseCpbsTest(std::string_view reply) {
  for (const Line& line : splitLines(reply)) {
    std::string_view rest = line.text;
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    if (!rest.starts_with("+CPBS:")) continue;
    rest.remove_prefix(6);
    std::vector<std::string> codes;
    // The quoted names; anything between them (blanks, commas, parentheses) is ignored.
    for (std::size_t open = rest.find('"'); open != std::string_view::npos; open = rest.find('"')) {
      const std::size_t close = rest.find('"', open + 1);
      if (close == std::string_view::npos) break;
      std::string code(rest.substr(open + 1, close - open - 1));
      rest.remove_prefix(close + 1);
      bool letters = !code.empty() && code.size() <= 4;
      for (char& c : code) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        letters = letters && c >= 'A' && c <= 'Z';
      }
      if (letters && std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(std::move(code));
    }
    return codes;
  }
  return std::nullopt;
}

// +CPBR: 3,"3912345",145,"414243"
// +CPBR: 4,"+3912345",145,"8004100420FFFF",0
// +CPBR: 5,"555",129,
std::vector<PhonebookRow> parseCpbrListing(std::string_view listing) {
  std::vector<PhonebookRow> rows;
  for (const Line& line : splitLines(listing)) {
    FieldCursor f{line.text};
    if (!f.expect("+CPBR:")) continue;
    auto location = f.integer();
    auto number = f.quoted();
    auto type = f.field();
    if (!location || !number || !type) continue;
    std::optional<Field> name;  // nothing at all after the type: an empty name
    if (f.more() && !(name = f.field())) continue;
    rows.push_back({*location, numberWithPlus(*number, type->text), std::string(type->text),
                    std::string(name ? name->text : std::string_view{}), std::string(*number)});
  }
  return rows;
}

// +CPMS: 3,30,3,30,3,30   (or, as the read command answers, +CPMS: "SM",3,30,...)
// The total is the number between the first two commas after the store's name, if any.
CpmsStore parseCpmsRead(std::string_view reply) {
  CpmsStore store;
  const std::size_t at = reply.find("+CPMS:");
  if (at == std::string_view::npos) return store;
  store.found = true;
  std::size_t from = at + 6;
  while (from < reply.size() && isBlank(reply[from])) ++from;
  if (from < reply.size() && reply[from] == '"') {  // the store's name, then the used count
    from = reply.find(',', from);
    if (from != std::string_view::npos) ++from;
  }
  const std::size_t c1 = from == std::string_view::npos ? from : reply.find(',', from);
  const std::size_t c2 = c1 == std::string_view::npos ? c1 : reply.find(',', c1 + 1);
  if (c2 != std::string_view::npos) store.maxSMS = leadingInt(reply.substr(c1 + 1, c2 - c1 - 1));
  return store;
}

// +CMGL: 1,"REC READ","+393331234567",,"24/01/05,10:20:30+04"
// Hello
std::vector<SmsRow> parseCmglListing(std::string_view listing) {
  const std::vector<Line> lines = splitLines(listing);
  const std::size_t last = finalResultLine(lines);
  std::vector<SmsRow> rows;
  std::size_t h = 0;
  while (h < last && !startsWith(lines[h].text, "+CMGL:")) ++h;
  while (h < last) {
    std::size_t next = h + 1;
    while (next < last && !startsWith(lines[next].text, "+CMGL:")) ++next;

    FieldCursor f{lines[h].text};
    f.expect("+CMGL:");
    std::vector<Field> fields;
    while (fields.size() < 8) {
      auto field = f.field();
      if (!field) break;
      fields.push_back(*field);
    }
    auto index = fields.empty() || fields[0].quoted ? std::nullopt : toInt(fields[0].text);
    if (index && fields.size() >= 3) {
      // The type is the sixth field of 27.005's long layout; some modems put it fourth,
      // unquoted, in place of the alpha field.
      std::string_view type;
      if (fields.size() >= 7) {
        type = fields[5].text;
      } else if (fields.size() >= 4 && !fields[3].quoted && toInt(fields[3].text)) {
        type = fields[3].text;
      }
      std::size_t end = next;
      while (end > h + 1 && isFiller(lines[end - 1].text)) --end;
      std::string text;
      if (end > h + 1) {
        text = listing.substr(lines[h + 1].begin, lines[end - 1].end - lines[h + 1].begin);
      }
      rows.push_back({*index, std::string(fields[1].text), numberWithPlus(fields[2].text, type),
                      std::move(text), std::string(fields[2].text), std::string(type)});
    }
    h = next;
  }
  return rows;
}

// +CMGL: 1,1,,24
// 07919333...
std::vector<PduRow> parsePduCmglListing(std::string_view listing) {
  const std::vector<Line> lines = splitLines(listing);
  const std::size_t last = finalResultLine(lines);
  std::vector<PduRow> rows;
  for (std::size_t h = 0; h + 1 < last; ++h) {
    FieldCursor f{lines[h].text};
    if (!f.expect("+CMGL:")) continue;
    auto index = f.field();
    auto status = f.field();
    if (!index || !status || index->quoted || status->quoted) continue;
    auto i = toInt(index->text);
    auto st = toInt(status->text);
    const std::string_view pdu = lines[h + 1].text;
    const bool hex = !pdu.empty() && pdu.size() % 2 == 0 &&
                     pdu.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
    if (!i || !st || *st < 0 || *st > 3 || !hex) continue;
    rows.push_back({*i, *st, std::string(pdu)});
    ++h;
  }
  return rows;
}

int countPieces(std::string_view listing) {
  int pieces = 1;
  for (std::size_t at = listing.find("\r\n\r\n"); at != std::string_view::npos;
       at = listing.find("\r\n\r\n", at + 4)) {
    ++pieces;
  }
  return pieces;
}

// +CMGW: 5
std::optional<int> parseCmgwWrite(std::string_view reply) {
  for (const Line& line : splitLines(reply)) {
    FieldCursor f{line.text};
    if (f.expect("+CMGW:")) return f.integer();
  }
  return std::nullopt;
}

namespace {

// The value of each information line of a reply: what follows "+CCID:" (or any prefix up
// to a colon), without blanks and quotes. Echoed commands and result codes are no value.
std::vector<std::string> lineValues(std::string_view reply) {
  std::vector<std::string> values;
  while (!reply.empty()) {
    const std::size_t end = reply.find_first_of("\r\n");
    std::string_view line = reply.substr(0, end);
    reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
    if (line.starts_with("AT") || line.starts_with("at") || line == "OK" || line.find("ERROR") != line.npos) continue;
    if (const std::size_t colon = line.find(':'); colon != line.npos) line.remove_prefix(colon + 1);
    std::string value;
    for (char c : line) {
      if (c != ' ' && c != '"' && c != '\t') value += c;
    }
    if (!value.empty()) values.push_back(std::move(value));
  }
  return values;
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// +CCID: 89390100001234567895 / +CCID: "8939..." / 8939... / +ICCID: 8939... /
// ^ICCID: 98931000002143658759 (Huawei: the raw EF_ICCID bytes, each digit pair swapped).
std::optional<std::string> parseIccidReply(std::string_view reply) {
  for (std::string value : lineValues(reply)) {
    // An ICCID starts with the industry code 89: as raw bytes it reads 98.
    if (value.size() % 2 == 0 && value.starts_with("98")) {
      for (std::size_t i = 0; i + 1 < value.size(); i += 2) std::swap(value[i], value[i + 1]);
    }
    while (!value.empty() && (value.back() == 'F' || value.back() == 'f')) value.pop_back();  // padding
    if (allDigits(value) && value.size() >= 18 && value.size() <= 20) return value;
  }
  return std::nullopt;
}

// 222015550001234 / +CIMI: 222015550001234
std::optional<std::string> parseCimiReply(std::string_view reply) {
  for (const std::string& value : lineValues(reply)) {
    if (allDigits(value) && value.size() >= 6 && value.size() <= 15) return value;
  }
  return std::nullopt;
}

}  // namespace voryx::transfer
