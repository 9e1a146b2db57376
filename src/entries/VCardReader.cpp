// The vCard text parser: lines, properties, values, and the persons made of them. Lenient
// where writers differ (2.1's bare parameters and quoted-printable, Apple's item labels,
// 4.0's data: URIs), strict only where a wrong guess would import a wrong person.
// One parser, kept whole in one file.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "entries/AddressBook.h"
#include "base/Base64.h"
#include "base/Text.h"
#include "entries/VCardText.h"

namespace voryx::entries {
namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(s[i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && startsNoCase(a, b);
}

// ---- Lines ----

// Physical lines of a text, without their line ends (LF or CRLF).
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  bool peek(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    if (nextPos_ == std::string_view::npos) {
      const std::size_t end = text_.find('\n', pos_);
      const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
      line_ = text_.substr(pos_, stop - pos_);
      if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
      nextPos_ = end == std::string_view::npos ? text_.size() : end + 1;
    }
    line = line_;
    return true;
  }
  void skip() {
    pos_ = nextPos_;
    nextPos_ = std::string_view::npos;
  }
  bool next(std::string_view& line) {
    if (!peek(line)) return false;
    skip();
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t nextPos_ = std::string_view::npos;
  std::string_view line_;
};

bool isCardMarker(std::string_view line, std::string_view marker) {
  return equalsNoCase(trim(line), marker);
}

// One unfolded line. A line past the bound is dropped whole (tooLong, text empty), but its
// continuation lines are still consumed so they are not taken for properties.
struct LogicalLine {
  std::string text;
  bool tooLong = false;

  void append(std::string_view piece) {
    if (tooLong) return;
    if (text.size() + piece.size() > kMaxVCardLineBytes) {
      tooLong = true;
      std::string().swap(text);
      return;
    }
    text.append(piece);
  }
};

// 2.1's quoted-printable values continue past a line that ends in "=" (a soft line break).
// The parameter is looked for in the first physical line only: no writer folds there.
bool saysQuotedPrintable(std::string_view firstLine) {
  const std::size_t colon = firstLine.find(':');
  std::string_view header = firstLine.substr(0, colon);
  for (std::size_t at = header.find(';'); at != std::string_view::npos; at = header.find(';', at + 1)) {
    std::string_view param = header.substr(at + 1);
    param = param.substr(0, param.find(';'));
    const std::size_t eq = param.find('=');
    if (eq != std::string_view::npos) param = param.substr(eq + 1);
    if (equalsNoCase(trim(param), "QUOTED-PRINTABLE")) return true;
  }
  return false;
}

// Reads one logical line: the next physical line, the lines that continue it (a line
// starting with a space or a tab, that one character removed) and, for a quoted-printable
// value, the lines after each soft line break (the "=" removed). A soft line break never
// swallows a BEGIN:VCARD or END:VCARD line: a writer that left a stray "=" must not merge
// two cards.
bool readLogical(Lines& lines, LogicalLine& out) {
  std::string_view piece;
  if (!lines.next(piece)) return false;
  out.text.clear();
  out.tooLong = false;
  const bool qp = saysQuotedPrintable(piece);
  auto addPiece = [&](std::string_view p) {
    const bool softBreak = qp && !p.empty() && p.back() == '=';
    out.append(softBreak ? p.substr(0, p.size() - 1) : p);
    return softBreak;
  };
  bool softBreak = addPiece(piece);
  while (lines.peek(piece)) {
    if (softBreak && !isCardMarker(piece, "BEGIN:VCARD") && !isCardMarker(piece, "END:VCARD")) {
      lines.skip();
      softBreak = addPiece(piece);
    } else if (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) {
      lines.skip();
      softBreak = addPiece(piece.substr(1));
    } else {
      break;
    }
  }
  return true;
}

// ---- Properties ----

struct Param {
  std::string name;                 // lower case; "type" or "encoding" for 2.1's bare ones
  std::vector<std::string> values;  // lower case, unquoted, split at ","
};

struct Property {
  std::string group;  // lower case, "" when none ("item1" of "item1.TEL")
  std::string name;   // lower case
  std::vector<Param> params;
  std::string value;  // as in the card: still encoded and escaped

  bool has(std::string_view paramName, std::string_view wanted) const {
    for (const auto& p : params) {
      if (p.name != paramName) continue;
      for (const auto& v : p.values) {
        if (v == wanted) return true;
      }
    }
    return false;
  }
  std::string_view param(std::string_view paramName) const {
    for (const auto& p : params) {
      if (p.name == paramName && !p.values.empty()) return p.values.front();
    }
    return {};
  }
};

void addParam(Property& prop, std::string_view text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    // 2.1 names a parameter by its value alone: "TEL;CELL;VOICE", "N;QUOTED-PRINTABLE".
    std::string token = lowerAscii(trim(text));
    if (token.empty()) return;
    const bool encoding = token == "quoted-printable" || token == "base64" || token == "b" ||
                          token == "8bit" || token == "7bit";
    prop.params.push_back(Param{encoding ? "encoding" : "type", {std::move(token)}});
    return;
  }
  Param param{lowerAscii(trim(text.substr(0, eq))), {}};
  // 4.0 quotes a list (TYPE="cell,voice"); 3.0 writes it bare (TYPE=CELL,VOICE).
  std::string raw;
  for (char c : text.substr(eq + 1)) {
    if (c != '"') raw.push_back(c);
  }
  std::string_view rest = raw;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view v = trim(rest.substr(0, comma));
    if (!v.empty()) param.values.push_back(lowerAscii(v));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  prop.params.push_back(std::move(param));
}

// "item1.TEL;TYPE=cell;VALUE=uri:tel:+39..." as group, name, parameters and value.
std::optional<Property> parseProperty(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] != ';' && line[i] != ':') ++i;
  if (i == line.size()) return std::nullopt;
  Property prop;
  const std::string_view fullName = trim(line.substr(0, i));
  const std::size_t dot = fullName.rfind('.');
  if (dot != std::string_view::npos) prop.group = lowerAscii(fullName.substr(0, dot));
  prop.name = lowerAscii(dot == std::string_view::npos ? fullName : fullName.substr(dot + 1));
  while (i < line.size() && line[i] == ';') {
    const std::size_t start = ++i;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ';' && line[i] != ':'))) {
      if (line[i] == '"') quoted = !quoted;
      ++i;
    }
    addParam(prop, line.substr(start, i - start));
  }
  if (i >= line.size() || line[i] != ':') return std::nullopt;  // a quote never closed
  prop.value = line.substr(i + 1);
  return prop;
}

bool isPropertyWeRead(std::string_view name) {
  return name == "version" || name == "n" || name == "fn" || name == "org" || name == "tel" ||
         name == "x-ablabel" || name == "photo" || name == "uid";
}

// ---- Values ----

// "=C3=BC" as bytes; an "=" not followed by two hex digits stays as it is.
std::string decodeQuotedPrintable(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '=' && i + 2 < s.size()) {
      const int hi = hexDigitValue(s[i + 1]);
      const int lo = hexDigitValue(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

void appendLatin1(std::string& out, unsigned char c) {
  out.push_back(static_cast<char>(0xC0 | (c >> 6)));
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

std::string latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      appendLatin1(out, c);
    }
  }
  return out;
}

// Text that is valid UTF-8 whatever the card held: a byte that starts no well-formed
// sequence is read as Latin-1, the likeliest meaning in an old card without CHARSET. Line
// breaks (CRLF, or a CR alone, as a quoted-printable "=0D=0A" gives them) become "\n".
std::string validUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = utf8CharAt(s, i);
    if (s[i] == '\r') {
      out.push_back('\n');
      i += i + 1 < s.size() && s[i + 1] == '\n' ? 2 : 1;
    } else if (!c.wellFormed) {
      appendLatin1(out, static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      out.append(s.substr(i, c.length));
      i += c.length;
    }
  }
  return out;
}

// 3.0 and 4.0 escape "\\", "\,", "\;" and newlines ("\n" or "\N"); 2.1 only escapes ";"
// in a value of parts. Any other backslash is kept, with the character after it: Windows
// paths in notes are more common than writers that escape ":".
std::string unescape(std::string_view s, bool v21) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out.push_back(s[i]);
      continue;
    }
    const char c = s[i + 1];
    if (c == ';' || (!v21 && (c == ',' || c == '\\'))) {
      out.push_back(c);
      ++i;
    } else if (!v21 && (c == 'n' || c == 'N')) {
      out.push_back('\n');
      ++i;
    } else {
      out.push_back('\\');
    }
  }
  return out;
}

// A value of parts (N, ORG) split at each ";" that no backslash escapes; the parts keep
// their escapes.
std::vector<std::string_view> splitParts(std::string_view s) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == ';') {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(s.substr(start));
  return parts;
}

bool isLatin1Charset(std::string_view charset) {
  // windows-1252 differs from Latin-1 only in 0x80-0x9F, which old cards rarely use.
  return charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1" ||
         charset == "latin-1" || charset == "windows-1252" || charset == "cp1252";
}

// One text value (or one part of one) as the person's text: decoded, converted to UTF-8,
// unescaped, trimmed.
std::string textOf(const Property& prop, std::string_view raw, bool v21) {
  std::string bytes = prop.has("encoding", "quoted-printable") ? decodeQuotedPrintable(raw)
                                                               : std::string(raw);
  if (isLatin1Charset(prop.param("charset"))) bytes = latin1ToUtf8(bytes);
  return validUtf8(trim(unescape(bytes, v21)));
}

std::string sniffImageType(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xD8\xFF")) return "image/jpeg";
  if (bytes.starts_with("\x89PNG")) return "image/png";
  if (bytes.starts_with("GIF8")) return "image/gif";
  return "";
}

// "image/<token>" only: the type may reach a Content-Type header.
bool isImageMediaType(std::string_view type) {
  if (!type.starts_with("image/") || type.size() == 6) return false;
  for (char c : type.substr(6)) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '+' ||
                    c == '-';
    if (!ok) return false;
  }
  return true;
}

// The media type a 2.1/3.0 PHOTO declares: TYPE=JPEG, a bare JPEG, or a whole media type.
std::string declaredPhotoType(const Property& prop) {
  if (!prop.param("mediatype").empty()) return std::string(prop.param("mediatype"));
  for (const auto& p : prop.params) {
    if (p.name != "type") continue;
    for (const auto& t : p.values) {
      if (t.find('/') != std::string::npos) return t;
      if (t == "jpeg" || t == "jpg") return "image/jpeg";
      if (t == "png" || t == "gif" || t == "bmp" || t == "tiff" || t == "webp" || t == "heic") {
        return "image/" + t;
      }
    }
  }
  return "";
}

// An inline photo (2.1 ENCODING=BASE64, 3.0 ENCODING=b, 4.0 data: URI) into the person;
// a photo by URL, or one that does not decode, leaves the person without.
void readPhoto(const Property& prop, Person& person) {
  const std::string_view value = trim(prop.value);
  std::string type;
  std::optional<std::string> bytes;
  if (startsNoCase(value, "data:")) {
    const std::size_t comma = value.find(',');
    if (comma == std::string_view::npos) return;
    const std::string_view meta = value.substr(5, comma - 5);  // "image/png;base64"
    const std::size_t semi = meta.find(';');
    type = lowerAscii(trim(meta.substr(0, semi)));
    std::string_view params = semi == std::string_view::npos ? "" : meta.substr(semi + 1);
    bool base64 = false;
    while (true) {
      const std::size_t next = params.find(';');
      if (equalsNoCase(trim(params.substr(0, next)), "base64")) base64 = true;
      if (next == std::string_view::npos) break;
      params.remove_prefix(next + 1);
    }
    if (!base64) return;
    bytes = decodeBase64(value.substr(comma + 1));
  } else if (prop.has("encoding", "b") || prop.has("encoding", "base64")) {
    type = declaredPhotoType(prop);
    bytes = decodeBase64(value);
  }
  if (!bytes || bytes->empty()) return;
  person.photoType = photoTypeOf(lowerAscii(type), *bytes);
  person.photo = std::move(*bytes);
}

// The label of a TEL from its types, in every spelling (TYPE=CELL,VOICE; TYPE=cell;TYPE=voice;
// 2.1's bare CELL). "voice", "pref" and the like say nothing a SIM entry could show.
std::string labelFromTypes(const Property& tel) {
  const auto has = [&](std::string_view t) { return tel.has("type", t); };
  if (has("fax")) return has("home") ? "home fax" : has("work") ? "work fax" : "fax";
  if (has("iphone")) return "iPhone";
  if (has("cell")) return "mobile";
  if (has("pager")) return "pager";
  if (has("main")) return "main";
  if (has("home")) return "home";
  if (has("work")) return "work";
  if (has("other")) return "other";
  return "";
}

// Apple's X-ABLabel: its own labels as "_$!<Mobile>!$_", a user's as plain text.
std::string labelFromApple(std::string text) {
  constexpr std::string_view kOpen = "_$!<";
  constexpr std::string_view kClose = ">!$_";
  if (text.size() < kOpen.size() + kClose.size() || !text.starts_with(kOpen) ||
      !text.ends_with(kClose)) {
    return text;
  }
  std::string inner = text.substr(kOpen.size(), text.size() - kOpen.size() - kClose.size());
  struct AppleLabel {
    std::string_view apple, label;
  };
  static constexpr AppleLabel kLabels[] = {
      {"mobile", "mobile"}, {"home", "home"},         {"work", "work"},
      {"main", "main"},     {"other", "other"},       {"homefax", "home fax"},
      {"workfax", "work fax"}, {"otherfax", "fax"},   {"pager", "pager"},
      {"iphone", "iPhone"},
  };
  const std::string key = lowerAscii(inner);
  for (const auto& l : kLabels) {
    if (key == l.apple) return std::string(l.label);
  }
  return inner;
}

std::string numberOf(const Property& tel, bool v21) {
  const std::string_view value = trim(tel.value);
  if (startsNoCase(value, "tel:")) return validUtf8(trim(value.substr(4)));
  return textOf(tel, value, v21);
}

// The person of one card's properties; false when the card has nothing to import.
bool buildPerson(const std::vector<Property>& props, Person& person) {
  bool v21 = false;
  for (const auto& p : props) {
    if (p.name == "version") {
      v21 = trim(p.value) == "2.1";
      break;
    }
  }
  bool haveN = false, haveFn = false, haveOrg = false, haveUid = false;
  std::vector<std::string> phoneGroups;
  std::vector<std::pair<std::string, std::string>> groupLabels;
  for (const auto& p : props) {
    if (p.name == "n" && !haveN) {
      haveN = true;
      const auto parts = splitParts(p.value);
      person.last = textOf(p, parts[0], v21);
      if (parts.size() > 1) person.first = textOf(p, parts[1], v21);
      if (parts.size() > 2) person.middle = textOf(p, parts[2], v21);
    } else if (p.name == "fn" && !haveFn) {
      haveFn = true;
      person.formatted = textOf(p, p.value, v21);
    } else if (p.name == "org" && !haveOrg) {
      haveOrg = true;
      person.organization = textOf(p, splitParts(p.value)[0], v21);
    } else if (p.name == "tel") {
      std::string number = numberOf(p, v21);
      if (number.empty()) continue;
      person.phones.push_back(Phone{labelFromTypes(p), std::move(number)});
      phoneGroups.push_back(p.group);
    } else if (p.name == "x-ablabel" && !p.group.empty()) {
      std::string label = labelFromApple(textOf(p, p.value, v21));
      if (!label.empty()) groupLabels.emplace_back(p.group, std::move(label));
    } else if (p.name == "photo" && person.photo.empty()) {
      readPhoto(p, person);
    } else if (p.name == "uid" && !haveUid) {
      haveUid = true;
      person.uid = textOf(p, p.value, v21);
    }
  }
  // FN is the one name every card must have (vCard 4.0 makes N optional, and phones write
  // a company or a nickname as FN alone): without a name in N, FN whole is the given name,
  // which the import and the picker then use as they use N's.
  if (person.first.empty() && person.middle.empty() && person.last.empty()) person.first = person.formatted;
  for (std::size_t i = 0; i < person.phones.size(); ++i) {
    if (phoneGroups[i].empty()) continue;
    for (const auto& [group, label] : groupLabels) {
      if (group == phoneGroups[i]) {
        person.phones[i].label = label;
        break;
      }
    }
  }
  return !person.first.empty() || !person.middle.empty() || !person.last.empty() ||
         !person.formatted.empty() || !person.organization.empty() || !person.phones.empty();
}

}  // namespace

std::string photoTypeOf(std::string_view declared, std::string_view bytes) {
  return isImageMediaType(declared) ? std::string(declared) : sniffImageType(bytes);
}

void parseVCardsInto(AddressBook& book, std::string_view text, std::string_view source,
                     int& cardsLeft) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string where = source.empty() ? std::string() : std::string(source) + ": ";
  const auto skip = [&](int cardNo, std::string_view why) {
    ++book.skipped;
    book.problems.push_back(where + "card " + std::to_string(cardNo) + ": " + std::string(why));
  };
  Lines lines(text);
  LogicalLine line;
  std::vector<Property> card;
  bool inCard = false;
  int cardNo = 0;
  int notRead = 0;
  const auto finish = [&] {
    Person person;
    if (buildPerson(card, person)) {
      book.persons.push_back(std::move(person));
    } else {
      skip(cardNo, "no name, organization or phone");
    }
    card.clear();
    inCard = false;
  };
  while (readLogical(lines, line)) {
    if (line.tooLong) continue;
    if (isCardMarker(line.text, "BEGIN:VCARD")) {
      if (inCard) skip(cardNo, "no END:VCARD");
      card.clear();
      ++cardNo;
      inCard = cardsLeft > 0;
      if (inCard) {
        --cardsLeft;
      } else {
        ++notRead;
      }
      continue;
    }
    if (!inCard) continue;
    if (isCardMarker(line.text, "END:VCARD")) {
      finish();
      continue;
    }
    auto prop = parseProperty(line.text);
    if (prop && isPropertyWeRead(prop->name)) card.push_back(std::move(*prop));
  }
  if (inCard) finish();  // a last card cut off before its END:VCARD
  if (notRead > 0) {
    book.skipped += notRead;
    book.problems.push_back(where + "cards " + std::to_string(cardNo - notRead + 1) + " to " +
                            std::to_string(cardNo) + ": not read, the book has more than " +
                            std::to_string(kMaxVCards) + " cards");
  }
}

AddressBook parseVCards(std::string_view text, std::string_view source) {
  AddressBook book;
  int cardsLeft = kMaxVCards;
  parseVCardsInto(book, text, source, cardsLeft);
  return book;
}

}  // namespace voryx::entries
