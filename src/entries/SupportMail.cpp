#include "entries/SupportMail.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/Base64.h"
#include "base/AtomicFile.h"
#include "base/Desktop.h"
#include "store/Files.h"
#include "codec/GsmAlphabet.h"

namespace voryx::entries {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kBodyPrompt = "BELOW ADD A DESCRIPTION OF THE ISSUE<br><br>";
constexpr std::string_view kLineBreak = "<br>";
// RFC 5322's bound on a line; a text part with a longer one goes in base64.
constexpr std::size_t kLongestLine = 998;
// Bytes of text in one encoded word: 60 base64 characters, 72 with "=?UTF-8?B?" and "?=",
// within the 75 an encoded word may take.
constexpr std::size_t kEncodedWordBytes = 45;
// Characters of base64 on a line (RFC 2045).
constexpr std::size_t kBase64Line = 76;

bool isAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// A text part goes as it is (7bit) when every byte and line can: ASCII without NUL or a
// lone CR, no line longer than RFC 5322 allows. Otherwise base64, which carries any bytes.
bool fitsSevenBit(std::string_view text) {
  std::size_t line = 0;
  for (unsigned char c : text) {
    if (c == '\n') {
      line = 0;
      continue;
    }
    if (c >= 0x80 || c == '\0' || c == '\r' || ++line > kLongestLine) return false;
  }
  return true;
}

// A part's body as it goes on the wire (CRLF line ends), and its transfer encoding.
struct EncodedPart {
  std::string encoding;
  std::string text;
};

EncodedPart encodePart(std::string_view bytes, bool textAsIs) {
  if (!textAsIs || !fitsSevenBit(bytes)) return {"base64", encodeBase64(bytes, kBase64Line)};
  std::string text;
  for (char c : bytes) {
    if (c == '\n') {
      text += kCrlf;
    } else {
      text += c;
    }
  }
  return {"7bit", std::move(text)};
}

// One header line. A header holds one line: control characters become blanks, so that no
// text the user typed can start another header. Text that is not ASCII, too long for one
// line, or that a reader would take for encoded words ("=?"), goes as encoded words (RFC
// 2047) on folded lines, each cut between characters.
std::string header(std::string_view name, std::string_view value) {
  std::string clean(value);
  for (char& c : clean) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  std::string out(name);
  out += ':';
  if (isAscii(clean) && clean.find("=?") == std::string::npos && out.size() + 1 + clean.size() <= 78) {
    out += ' ';
    out += clean;
  } else {
    for (std::size_t at = 0; at < clean.size();) {
      std::size_t end = std::min(at + kEncodedWordBytes, clean.size());
      while (end < clean.size() && end > at + 1 && (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80) --end;
      if (at != 0) out += kCrlf;
      out += " =?UTF-8?B?" + encodeBase64(std::string_view(clean).substr(at, end - at)) + "?=";
      at = end;
    }
  }
  out += kCrlf;
  return out;
}

// "Mon, 07 Dec 2026 03:01:03 +0000", in English whatever the locale.
std::string rfc5322Date(std::time_t date) {
  static constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  ::gmtime_r(&date, &t);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[t.tm_wday % 7], t.tm_mday,
                kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace

std::string supportAddress(const Preferences& preferences) {
  std::string address = preferences.text(kPrefSupportAddress).value_or("");
  return address.empty() ? kDefaultSupportAddress : address;
}

SupportMail makeSupportMail(std::string address, std::string log) {
  SupportMail mail;
  mail.to = std::move(address);
  mail.subject = std::string("Voryx support (v") + VORYX_VERSION + ")";
  mail.htmlBody = kBodyPrompt;
  mail.attachment = std::move(log);
  return mail;
}

std::string htmlFromText(std::string_view text) {
  std::string html;
  for (char c : text) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '\n': html += kLineBreak; break;
      case '\r': break;  // the page's line ends are "\n"; a CR of "\r\n" adds nothing
      default: html += c;
    }
  }
  return html;
}

std::string bodyText(std::string_view html) {
  static constexpr std::pair<std::string_view, char> kMarks[] = {
      {kLineBreak, '\n'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
  std::string text;
  for (std::size_t at = 0; at < html.size();) {
    bool replaced = false;
    for (const auto& [mark, c] : kMarks) {
      if (html.substr(at).starts_with(mark)) {
        text += c;
        at += mark.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) text += html[at++];
  }
  return text;
}

std::string encodeEml(const SupportMail& mail, std::time_t date) {
  const EncodedPart body = encodePart(mail.htmlBody, true);
  const EncodedPart attachment = encodePart(mail.attachment, false);
  // "=_" occurs in neither base64 nor a 7bit part made from our own HTML, unless the user
  // typed it: then the next number.
  std::string boundary;
  for (int n = 0;; ++n) {
    boundary = "=_voryx_" + std::to_string(n);
    const std::string delimiter = "--" + boundary;
    if (body.text.find(delimiter) == std::string::npos && attachment.text.find(delimiter) == std::string::npos) break;
  }
  std::string attachmentType = mail.attachmentType;
  if (codec::isUtf8(mail.attachment)) attachmentType += "; charset=utf-8";

  std::string eml;
  eml += "MIME-Version: 1.0";
  eml += kCrlf;
  eml += header("Date", rfc5322Date(date));
  eml += header("To", mail.to);
  eml += header("Subject", mail.subject);
  eml += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"";
  eml += kCrlf;
  eml += kCrlf;
  eml += "--" + boundary;
  eml += kCrlf;
  eml += "Content-Type: text/html; charset=utf-8";
  eml += kCrlf;
  eml += "Content-Transfer-Encoding: " + body.encoding;
  eml += kCrlf;
  eml += kCrlf;
  eml += body.text;
  eml += kCrlf;
  eml += "--" + boundary;
  eml += kCrlf;
  eml += "Content-Type: " + attachmentType;
  eml += kCrlf;
  eml += "Content-Disposition: attachment; filename=\"" + mail.attachmentName + "\"";
  eml += kCrlf;
  eml += "Content-Transfer-Encoding: " + attachment.encoding;
  eml += kCrlf;
  eml += kCrlf;
  eml += attachment.text;
  eml += kCrlf;
  eml += "--" + boundary + "--";
  eml += kCrlf;
  return eml;
}

bool isMailAddress(std::string_view address) {
  const std::size_t at = address.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string_view::npos || address.front() == '-') return false;
  for (unsigned char c : address) {
    if (c <= 0x20 || c >= 0x7f) return false;
  }
  return true;
}

bool mailClientPresent() { return hasDesktop() && !findProgram("xdg-email").empty(); }

Status handToMailClient(const SupportMail& mail, const std::filesystem::path& stateFolder) {
  if (!mailClientPresent()) {
    return Error{Errc::NotFound, "no desktop mail client here (that needs a desktop and xdg-email)"};
  }
  if (!isMailAddress(mail.to)) return Error{Errc::Invalid, "not a mail address: " + mail.to};
  const std::filesystem::path folder = stateFolder / "mail";
  std::error_code ec;
  createPrivateFolders(folder, ec);
  if (ec) return Error{Errc::Io, "cannot create " + folder.string() + ": " + ec.message()};
  const std::filesystem::path copy = folder / mail.attachmentName;
  if (Status written = writeFileAtomically(copy, mail.attachment, 0600); !written) return written;

  // --utf8: the texts are UTF-8 whatever the locale (without it xdg-email converts them
  // from the locale's charset). xdg-email refuses an empty --subject or --body.
  std::vector<std::string> argv{"xdg-email", "--utf8"};
  if (!mail.subject.empty()) argv.insert(argv.end(), {"--subject", mail.subject});
  if (const std::string body = bodyText(mail.htmlBody); !body.empty()) argv.insert(argv.end(), {"--body", body});
  argv.insert(argv.end(), {"--attach", copy.string(), mail.to});
  if (!startDetached(argv)) return Error{Errc::Io, "xdg-email could not be started"};
  return Ok{};
}

}  // namespace voryx::entries
