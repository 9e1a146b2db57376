// One person as a vCard 4.0 card, and the phonebook as vCards 4.0, 3.0 or 2.1, read back
// by the parser of VCardReader.cpp with the same names, labels and numbers.
#include <array>
#include <cstdint>
#include <string>

#include "entries/AddressBook.h"
#include "base/AtomicFile.h"
#include "base/Random.h"
#include "entries/VCardText.h"

namespace voryx::entries {
namespace {

// Text as a 4.0 value: "\", ",", ";" and line ends escaped.
std::string escaped(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' || c == ',' || c == ';') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Appends one content line, folded so that no physical line passes 75 octets: the first
// holds 75, each continuation a space and 74. A cut never falls inside a UTF-8 sequence
// (it moves back to the sequence's first byte; at most three bytes, so bytes that are no
// UTF-8 still get cut).
void addLine(std::string& out, std::string_view line) {
  constexpr std::size_t kOctets = 75;
  bool first = true;
  while (true) {
    const std::size_t room = first ? kOctets : kOctets - 1;
    if (!first) out.push_back(' ');
    if (line.size() <= room) {
      out.append(line);
      break;
    }
    std::size_t cut = room;
    for (int back = 0; back < 3 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80; ++back) {
      --cut;
    }
    if ((static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) cut = room;
    out.append(line.substr(0, cut));
    out += "\r\n";
    line.remove_prefix(cut);
    first = false;
  }
  out += "\r\n";
}

struct TelType {
  std::string_view label, type;
};
constexpr std::array kTelTypes{
    TelType{"mobile", "cell"}, TelType{"home", "home"},         TelType{"work", "work"},
    TelType{"main", "main"},   TelType{"other", "other"},       TelType{"fax", "fax"},
    TelType{"home fax", "home,fax"}, TelType{"work fax", "work,fax"}, TelType{"pager", "pager"},
    TelType{"iPhone", "iphone"},
};

}  // namespace

std::string newVCardUid() { return "urn:uuid:" + newUuid(); }

namespace {

// FN is required: the person's own, else the name, the organization or the first number.
std::string formattedName(const Person& p) {
  if (!p.formatted.empty()) return p.formatted;
  std::string name;
  for (const std::string* part : {&p.first, &p.middle, &p.last}) {
    if (part->empty()) continue;
    if (!name.empty()) name.push_back(' ');
    name += *part;
  }
  if (name.empty()) name = p.organization;
  if (name.empty() && !p.phones.empty()) name = p.phones.front().number;
  return name;
}

}  // namespace

std::string writeVCard(const Person& person) {
  std::string out = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
  addLine(out, "FN:" + escaped(formattedName(person)));
  addLine(out, "N:" + escaped(person.last) + ";" + escaped(person.first) + ";" +
                   escaped(person.middle) + ";;");
  if (!person.organization.empty()) addLine(out, "ORG:" + escaped(person.organization));
  int item = 0;
  for (const auto& phone : person.phones) {
    if (phone.label.empty()) {
      addLine(out, "TEL:" + escaped(phone.number));
      continue;
    }
    const TelType* known = nullptr;
    for (const auto& t : kTelTypes) {
      if (t.label == phone.label) known = &t;
    }
    if (known) {
      addLine(out, "TEL;TYPE=" + std::string(known->type) + ":" + escaped(phone.number));
    } else {
      const std::string group = "item" + std::to_string(++item);
      addLine(out, group + ".TEL:" + escaped(phone.number));
      addLine(out, group + ".X-ABLabel:" + escaped(phone.label));
    }
  }
  addLine(out, "UID:" + escaped(person.uid.empty() ? newVCardUid() : person.uid));
  out += "END:VCARD\r\n";
  return out;
}

namespace {

bool isAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// 2.1 text: ";" escaped (2.1 escapes nothing else: a comma is no separator there, and a
// backslash stands for itself), line ends as "\\n".
std::string escaped21(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c == ';') out.push_back('\\');
    if (c == '\r') continue;
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out.push_back(c);
  }
  return out;
}

// A 2.1 property whose value is not ASCII: quoted-printable UTF-8, soft line breaks keeping
// every line within 76 octets (an "=XX" never cut).
void addQuotedPrintable(std::string& out, std::string_view name, std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string line = std::string(name) + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
  for (const char c : value) {
    const auto b = static_cast<unsigned char>(c);
    std::string piece;
    if (b >= 0x80 || b == '=' || b < 0x20) {
      piece = {'=', kHex[b >> 4], kHex[b & 0x0F]};
    } else {
      piece = std::string(1, c);
    }
    if (line.size() + piece.size() > 75) {
      out += line + "=\r\n";
      line.clear();
    }
    line += piece;
  }
  out += line + "\r\n";
}

void addText(std::string& out, VCardVersion version, std::string_view name, std::string_view value,
             std::string_view raw21) {
  if (version != VCardVersion::V21) {
    addLine(out, std::string(name) + ":" + std::string(value));
  } else if (isAscii(raw21)) {
    addLine(out, std::string(name) + ":" + std::string(raw21));
  } else {
    addQuotedPrintable(out, name, raw21);
  }
}

}  // namespace

std::optional<VCardVersion> vCardVersionNamed(std::string_view name) {
  if (name == "4.0") return VCardVersion::V40;
  if (name == "3.0") return VCardVersion::V30;
  if (name == "2.1") return VCardVersion::V21;
  return std::nullopt;
}

Person personFromSimName(std::string_view name, int lastFirst) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t start = name.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(name.find_first_of(" \t", start), name.size());
    words.push_back(name.substr(start, end - start));
    at = end;
  }
  Person p;
  if (words.empty()) return p;
  const auto join = [&](std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) out += (out.empty() ? "" : " ") + std::string(words[i]);
    return out;
  };
  if (lastFirst == 1) {
    p.last = std::string(words.front());
    p.first = join(1, words.size());
  } else if (words.size() == 1) {
    p.first = std::string(words.front());
  } else {
    p.first = join(0, words.size() - 1);
    p.last = std::string(words.back());
  }
  return p;
}

std::string phonebookVCards(const std::vector<SimEntry>& entries, int lastFirst, VCardVersion version) {
  static constexpr std::array<std::string_view, 3> kVersions{"4.0", "3.0", "2.1"};
  std::string out;
  for (const SimEntry& e : entries) {
    if (e.operazione == kMarkDeleted) continue;
    const Person p = personFromSimName(e.nome, lastFirst);
    out += "BEGIN:VCARD\r\nVERSION:";
    out += kVersions[static_cast<std::size_t>(version)];
    out += "\r\n";
    const std::string fn = e.nome.empty() ? e.telefono : e.nome;
    addText(out, version, "FN", escaped(fn), escaped21(fn));
    addText(out, version, "N", escaped(p.last) + ";" + escaped(p.first) + ";;;",
            escaped21(p.last) + ";" + escaped21(p.first) + ";;;");
    if (!e.telefono.empty()) {
      addLine(out, (version == VCardVersion::V21 ? "TEL;CELL:" : "TEL;TYPE=cell:") +
                       (version == VCardVersion::V21 ? escaped21(e.telefono) : escaped(e.telefono)));
    }
    out += "END:VCARD\r\n";
  }
  return out;
}

Status exportVCards(const std::filesystem::path& file, const std::vector<SimEntry>& entries,
                    int lastFirst, VCardVersion version) {
  std::error_code ec;
  if (!file.parent_path().empty()) std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return Error{Errc::Io, file.parent_path().string() + ": " + ec.message()};
  return writeFileAtomically(file, phonebookVCards(entries, lastFirst, version), 0600);
}

}  // namespace voryx::entries
