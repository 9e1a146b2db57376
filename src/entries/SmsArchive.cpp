#include "entries/SmsArchive.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "base/AtomicFile.h"
#include "base/Base64.h"
#include "base/FileIo.h"
#include "base/Localized.h"
#include "store/EntryList.h"

namespace voryx::entries {
namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxArchiveBytes = std::uintmax_t{16} << 20;
constexpr const char* kDomain = "sms.invalid";  // no mail ever goes there (RFC 2606)
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A service centre's time stamp (23.040 9.2.3.11): local time and its offset from UTC.
struct StampTime {
  int year, month, day, hour, minute, second;
  int offsetMinutes;
  int weekday;  // 0 Sunday
};

// One semi-octet swapped pair as its number: 0x42 -> 24. Nothing for a nibble above 9.
std::optional<int> swappedDecimal(unsigned char b) {
  const int low = b & 0x0F, high = b >> 4;
  if (low > 9 || high > 9) return std::nullopt;
  return low * 10 + high;
}

// The time stamp of an SMS-DELIVER record (status byte, service centre, TPDU); nothing for
// any other message, or bytes that do not add up to one. The record comes from the SIM as
// it stands: every length is checked against what is there.
std::optional<StampTime> deliverTime(std::string_view record) {
  std::size_t at = 1;  // the status byte
  if (record.size() <= at) return std::nullopt;
  at += 1 + static_cast<unsigned char>(record[at]);  // the service centre's length and address
  if (record.size() <= at || (static_cast<unsigned char>(record[at]) & 0x03) != 0) return std::nullopt;
  ++at;  // first octet: SMS-DELIVER
  if (record.size() <= at) return std::nullopt;
  const std::size_t digits = static_cast<unsigned char>(record[at]);
  at += 2 + (digits + 1) / 2 + 2;  // length, type, address, PID, DCS
  if (record.size() < at + 7) return std::nullopt;
  std::optional<int> field[6];
  for (int i = 0; i < 6; ++i) field[i] = swappedDecimal(static_cast<unsigned char>(record[at + i]));
  for (const auto& f : field) {
    if (!f) return std::nullopt;
  }
  const auto zone = static_cast<unsigned char>(record[at + 6]);
  const auto quarters = swappedDecimal(zone & 0xF7);
  if (!quarters) return std::nullopt;
  StampTime t{2000 + *field[0], *field[1], *field[2], *field[3], *field[4], *field[5],
              (zone & 0x08 ? -1 : 1) * *quarters * 15, 0};
  using namespace std::chrono;
  const year_month_day date{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
  if (!date.ok() || t.hour > 23 || t.minute > 59 || t.second > 59 || *quarters > 14 * 4) return std::nullopt;
  t.weekday = static_cast<int>(weekday{sys_days{date}}.c_encoding());
  return t;
}

StampTime utcTime(std::time_t when) {
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  return {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, 0, utc.tm_wday};
}

// "Sat May  4 08:00:00 2024": the "From " line's time (asctime's form).
std::string fromLineTime(const StampTime& t) {
  char out[40];
  std::snprintf(out, sizeof out, "%s %s %2d %02d:%02d:%02d %d", kDays[t.weekday], kMonths[t.month - 1], t.day, t.hour,
                t.minute, t.second, t.year);
  return out;
}

// "Sat, 04 May 2024 08:00:00 +0200" (RFC 5322 3.3).
std::string dateHeader(const StampTime& t) {
  const int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
  char out[48];
  std::snprintf(out, sizeof out, "%s, %02d %s %d %02d:%02d:%02d %c%02d%02d", kDays[t.weekday], t.day,
                kMonths[t.month - 1], t.year, t.hour, t.minute, t.second, t.offsetMinutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return out;
}

bool ascii(std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

// Header text: as it is when it is printable ASCII, else RFC 2047 encoded words of at most
// 45 bytes of UTF-8 each (75 characters encoded), never split inside a character.
std::string headerText(std::string_view text, bool quoted) {
  if (ascii(text)) {
    if (!quoted) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }
  std::string out;
  while (!text.empty()) {
    std::size_t cut = std::min<std::size_t>(text.size(), 45);
    while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    if (cut == 0) cut = std::min<std::size_t>(text.size(), 45);
    out += (out.empty() ? "" : " ") + std::string("=?UTF-8?B?") + encodeBase64(text.substr(0, cut)) + "?=";
    text.remove_prefix(cut);
  }
  return out;
}

// A party as a mail address: "+39 333 1234567" <+393331234567@sms.invalid>. The address
// keeps the number's dialling characters (a sender's name its letters), so that a mail
// program groups one party's messages.
std::string party(std::string_view number) {
  std::string local;
  for (char c : number) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '+') local += c;
  }
  if (local.empty()) local = "unknown";
  return (number.empty() ? std::string() : headerText(number, true) + " ") + "<" + local + "@" + kDomain + ">";
}

// The text's first line, at most 60 bytes, not cut inside a character.
std::string subjectOf(std::string_view text) {
  text = text.substr(0, text.find_first_of("\r\n"));
  if (text.size() > 60) {
    std::size_t cut = 60;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "...";
  }
  return std::string(text);
}

// The body: lines end in LF, and a line that begins with "From " after any number of ">"
// gets one more (mboxrd), so that a reader takes it back exactly and never for the start
// of the next mail.
std::string bodyOf(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    const std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const std::size_t quotes = line.find_first_not_of('>');
    if (quotes != std::string_view::npos && line.substr(quotes).starts_with("From ")) out += '>';
    out.append(line);
    out += '\n';
    if (end == std::string_view::npos) break;
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return out;
}

// 27.005's name of a record's status, for the mail's X-SMS-Status.
const char* statusName(int statusByte) {
  switch (statusByte & 0x07) {
    case 1: return "REC READ";
    case 3: return "REC UNREAD";
    case 5: return "STO SENT";
    case 7: return "STO UNSENT";
  }
  return "";
}

// Whether two backups hold the same messages: index, record (the status as a backup keeps
// it, and the PDU) and part. The texts are not compared: a backup's text of a SIM's
// damaged bytes is written with replacement characters, and the PDU restores the message.
bool sameMessages(const SimBackup& a, const SimBackup& b) {
  if (a.sms.size() != b.sms.size() || a.smsParts != b.smsParts || a.smsRecords.size() != b.smsRecords.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.sms.size(); ++i) {
    if (a.sms[i].posizione != b.sms[i].posizione) return false;
  }
  for (const auto& [index, record] : a.smsRecords) {
    auto other = b.smsRecords.find(index);
    if (other == b.smsRecords.end() || other->second.size() != record.size()) return false;
    if (!record.empty() && ((record[0] ^ other->second[0]) & 0x07) != 0) return false;
    if (record.size() > 1 && record.compare(1, std::string::npos, other->second, 1) != 0) return false;
  }
  return true;
}

}  // namespace

bool messageStoreFull(int used, int capacity) { return capacity > 0 && used > 0 && used >= capacity - 2; }

std::string messageStoreFullMessage(int used, int capacity) {
  if (!messageStoreFull(used, capacity)) return {};
  std::string text = localized(used >= capacity
                                   ? "The SIM's message store is full (%d of %d): new messages cannot arrive."
                                   : "The SIM's message store is nearly full (%d of %d): new messages will soon stop arriving.");
  for (int n : {used, capacity}) {
    if (const std::size_t at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(n));
  }
  return text;
}

fs::path mboxBeside(const fs::path& file) {
  if (file.extension() == ".mbox") return fs::path(file) += ".mbox";
  return fs::path(file).replace_extension(".mbox");
}

std::string messagesMbox(const SimBackup& messages, std::time_t archived) {
  std::string out;
  for (const SimEntry& m : joinMessageParts(messages.sms, messages.smsParts)) {
    auto record = messages.smsRecords.find(m.posizione);
    const std::string_view bytes = record == messages.smsRecords.end() ? std::string_view() : record->second;
    const int status = bytes.empty() ? 5 : static_cast<unsigned char>(bytes[0]);
    const bool received = (status & 0x07) == 1 || (status & 0x07) == 3;
    const std::optional<StampTime> sent = received ? deliverTime(bytes) : std::nullopt;
    std::string sender;
    for (char c : received ? m.telefono : std::string("SIM")) {
      if (c != ' ' && c != '\t') sender += c;
    }
    out += "From " + (sender.empty() ? std::string("unknown") : sender) + " " +
           fromLineTime(sent ? *sent : utcTime(archived)) + "\n";
    if (sent) out += "Date: " + dateHeader(*sent) + "\n";
    const std::string sim = std::string("SIM <sim@") + kDomain + ">";
    out += "From: " + (received ? party(m.telefono) : sim) + "\n";
    out += "To: " + (received ? sim : party(m.telefono)) + "\n";
    out += "Subject: " + headerText(subjectOf(m.nome), false) + "\n";
    out += "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n";
    if (const char* name = statusName(status); *name) out += std::string("X-SMS-Status: ") + name + "\n";
    out += "X-SMS-Index: " + std::to_string(m.posizione) + "\n\n";
    out += bodyOf(m.nome) + "\n";
  }
  return out;
}

Result<SmsArchive> archiveMessages(const fs::path& file, const fs::path& database, int smsCapacity, bool clear,
                                   BusyPolicy busy) {
  if (clear) {
    // The archive holds what the SIM holds: a change not yet written would be marked
    // deleted without being in it.
    auto table = SimTable::open(database, ListStore::Sms, busy);
    if (!table) return table.error();
    auto marked = table->countMarked();
    if (!marked) return marked.error();
    if (*marked > 0) {
      return Error{Errc::Invalid, "the message list holds " + std::to_string(*marked) +
                                      (*marked == 1 ? " change" : " changes") +
                                      " not yet written to the SIM: write or discard them first"};
    }
  }
  auto messages = messagesOfCopy(database, busy);
  if (!messages) return messages.error();
  messages->smsCapacity = smsCapacity;
  SmsArchive archive{file, mboxBeside(file), static_cast<int>(messages->sms.size()), false};
  if (Status written = writeBackup(file, *messages); !written) return written.error();
  if (Status written = writeFileAtomically(archive.mbox, messagesMbox(*messages, std::time(nullptr)), 0600);
      !written) {
    return written.error();
  }
  // What the disk gives back, not what was meant to go there.
  auto back = readWholeFile(file, kMaxArchiveBytes);
  if (!back) return back.error();
  auto parsed = parseBackupJson(*back);
  if (!parsed) return Error{Errc::Invalid, file.string() + " does not read back: " + parsed.error().detail};
  if (!sameMessages(*messages, *parsed)) {
    return Error{Errc::Invalid, file.string() + " does not give back the messages it was to hold"};
  }
  if (clear) {
    auto table = SimTable::open(database, ListStore::Sms, busy);
    if (!table) return table.error();
    if (Status marked = table->markAllDeleted(); !marked) return marked.error();
    archive.cleared = true;
  }
  return archive;
}

}  // namespace voryx::entries
