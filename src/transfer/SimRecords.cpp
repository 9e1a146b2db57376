#include "transfer/SimRecords.h"

#include <algorithm>
#include <set>

#include "base/Text.h"
#include "codec/GsmAlphabet.h"
#include "transfer/SmsParts.h"
#include "codec/SmsPdu.h"

namespace voryx::transfer {

using namespace codec;
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The TON/NPI byte of a dialling number (51.011 §10.5.1; 23.040 §9.1.2.5 for an SMS
// address): bit 8 set, bits 7-5 the type of number, bits 4-1 the numbering plan.
constexpr std::uint8_t kTypeOfNumber = 0x70;
constexpr std::uint8_t kTonInternational = 0x10;   // international number
constexpr std::uint8_t kTonAlphanumeric = 0x50;    // alphanumeric (23.038 default alphabet)
// With the ISDN/telephony numbering plan (E.164): an international number (145), a number
// of unknown type (129).
constexpr std::uint8_t kTonNpiInternationalIsdn = 0x91;
constexpr std::uint8_t kTonNpiUnknownIsdn = 0x81;

// Byte 1 of an EF_EXT1 record, its record type (51.011 §10.5.10): bit 1 "called party
// subaddress", bit 2 "additional data" (the digits that go on from an ADN record). A
// record with neither is free.
constexpr std::uint8_t kExtRecordType = 0x03;
constexpr std::uint8_t kExtAdditionalData = 0x02;

// The tags of EF_PBR's file entries, within its constructed tags for type 1, 2 and 3
// files (31.102 §4.4.2.1): EF_ADN's and EF_EXT1's.
constexpr std::uint8_t kPbrTagAdn = 0xC0;
constexpr std::uint8_t kPbrTagExt1 = 0xC2;

// The status byte of an EF_SMS record (51.011 §10.5.3): bit 1 clear for a free record;
// bits 3-1 say what the message is.
constexpr std::uint8_t kSmsUsed = 0x01;
constexpr std::uint8_t kSmsStatus = 0x07;
constexpr int kSmsReceivedRead = 1;    // received, read
constexpr int kSmsReceivedUnread = 3;  // received, to be read
constexpr int kSmsSent = 5;            // to send, sent to the network
constexpr int kSmsToBeSent = 7;        // to send, not yet sent

// The first octet of a TPDU (23.040 §9.2.3): TP-MTI, the message type in bits 2-1, and
// TP-UDHI, set when the user data starts with a header.
constexpr std::uint8_t kTpMti = 0x03;
constexpr int kMtiDeliver = 0, kMtiSubmit = 1;
constexpr std::uint8_t kTpUdhi = 0x40;

std::uint8_t at(std::string_view bytes, std::size_t i) {
  return i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : 0xFF;
}

std::string toHex(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 15];
  }
  return out;
}

// Our own encoders' hexadecimal as bytes.
std::string fromHex(std::string_view hex) { return hexDecode(hex).value_or(std::string()); }

// BCD digits of a dialling number (TS 51.011 §10.5.1, TS 24.008 table 10.5.118): A "*",
// B "#", C the DTMF separator (a pause, written ","), D the wild value ("?"); E and F end
// the digits.
void appendDigits(std::string& out, std::string_view bcd, int count) {
  static constexpr char kDigit[] = "0123456789*#,?";
  for (int i = 0; i < count; ++i) {
    const std::uint8_t byte = at(bcd, static_cast<std::size_t>(i / 2));
    const int nibble = i % 2 == 0 ? byte & 0x0F : byte >> 4;
    if (nibble > 0x0D) return;
    out += kDigit[nibble];
  }
}

std::optional<int> nibbleOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  switch (c) {
    case '*': return 0xA;
    case '#': return 0xB;
    case ',': case 'p': case 'P': return 0xC;
    case '?': return 0xD;
    default: return std::nullopt;
  }
}

// `digits` as BCD bytes, low nibble first, F padding to `bytes` bytes.
std::string packDigits(std::string_view digits, std::size_t bytes) {
  std::string out(bytes, '\xFF');
  for (std::size_t i = 0; i < digits.size() && i / 2 < bytes; ++i) {
    const int n = *nibbleOf(digits[i]);
    auto& b = reinterpret_cast<unsigned char&>(out[i / 2]);
    b = i % 2 == 0 ? static_cast<unsigned char>((b & 0xF0) | n) : static_cast<unsigned char>((b & 0x0F) | (n << 4));
  }
  return out;
}

// The digits of the extension chain starting at `first`, with the records it visits.
std::string followChain(int first, const ExtensionReader& extension, std::vector<int>* visited) {
  std::string out;
  std::set<int> seen;
  for (int n = first; n != 0xFF && n > 0 && !seen.count(n) && static_cast<int>(seen.size()) < kMaxExtensionChain;) {
    seen.insert(n);
    const std::string record = extension ? extension(n) : std::string();
    if (record.size() < static_cast<std::size_t>(kExt1RecordLength) || (at(record, 0) & kExtRecordType) != kExtAdditionalData) break;
    if (visited) visited->push_back(n);
    const int bytes = std::min<int>(at(record, 1), 10);
    appendDigits(out, std::string_view(record).substr(2, 10), bytes * 2);
    n = at(record, 12);
  }
  return out;
}

bool allFF(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) == 0xFF; });
}

// ---- SMS TPDU (TS 23.040 §9.2) ----

struct Cursor {
  std::string_view bytes;
  std::size_t pos = 0;
  bool ok = true;
  std::uint8_t next() {
    if (pos >= bytes.size()) {
      ok = false;
      return 0;
    }
    return static_cast<std::uint8_t>(bytes[pos++]);
  }
  std::string_view take(std::size_t n) {
    if (pos + n > bytes.size()) {
      ok = false;
      pos = bytes.size();
      return {};
    }
    std::string_view out = bytes.substr(pos, n);
    pos += n;
    return out;
  }
};

// Septets packed eight into seven octets, the first in the low bits; `skip` septets of
// a header first.
std::string unpackSeptets(std::string_view octets, int count, int skip) {
  std::string out;
  for (int i = skip; i < count; ++i) {
    const std::size_t bit = static_cast<std::size_t>(i) * 7;
    const unsigned low = at(octets, bit / 8), high = bit / 8 + 1 < octets.size() ? at(octets, bit / 8 + 1) : 0;
    out += static_cast<char>((((high << 8) | low) >> (bit % 8)) & 0x7F);
  }
  return out;
}

// An address field (§9.1.2.5): length in semi-octets, TON/NPI, then BCD digits, or a
// name in packed septets for an alphanumeric TON.
bool readAddress(Cursor& c, std::string& number, int& type) {
  const int semi = c.next();
  type = c.next();
  if (semi > 20) return false;
  std::string_view digits = c.take(static_cast<std::size_t>((semi + 1) / 2));
  if (!c.ok) return false;
  number.clear();
  if ((type & kTypeOfNumber) == kTonAlphanumeric) {
    number = decodeGsmText(unpackSeptets(digits, semi * 4 / 7, 0));
  } else {
    if ((type & kTypeOfNumber) == kTonInternational) number = "+";
    appendDigits(number, digits, semi);
  }
  return true;
}

std::optional<std::string> userText(Cursor& c, int firstOctet, int dcs, std::optional<MessagePart>& part) {
  const int group = dcs >> 4;
  int alphabet = 0;  // 0 GSM 7-bit, 1 8-bit data, 2 UCS2
  if (group <= 7) alphabet = (dcs >> 2) & 3;
  if (group == 0xE) alphabet = 2;
  if (group == 0xF) alphabet = (dcs >> 2) & 1;
  if (alphabet == 3) alphabet = 0;
  const int length = c.next();
  if (!c.ok) return std::nullopt;
  const bool header = (firstOctet & kTpUdhi) != 0;
  if (alphabet == 0) {
    std::string_view octets = c.take(static_cast<std::size_t>((length * 7 + 7) / 8));
    if (!c.ok || length > 160) return std::nullopt;
    int skip = 0;
    if (header) skip = ((at(octets, 0) + 1) * 8 + 6) / 7;  // the header and its fill bits
    if (skip > length) return std::nullopt;
    if (header) part = concatenationOf(octets.substr(1, at(octets, 0)));
    return decodeGsmText(unpackSeptets(octets, length, skip));
  }
  std::string_view data = c.take(static_cast<std::size_t>(length));
  if (!c.ok) return std::nullopt;
  if (header) {
    const std::size_t skip = static_cast<std::size_t>(at(data, 0)) + 1;
    if (skip > data.size()) return std::nullopt;
    part = concatenationOf(data.substr(1, skip - 1));
    data.remove_prefix(skip);
  }
  if (alphabet == 2) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      units += static_cast<char16_t>(at(data, i) << 8 | at(data, i + 1));
    }
    return utf16ToUtf8(units);
  }
  std::string text;  // 8-bit data: shown as Latin-1, so that nothing is lost
  for (unsigned char b : data) appendUtf8(text, b);
  return text;
}

}  // namespace

bool isEmptyAdn(std::string_view record) {
  if (record.size() < static_cast<std::size_t>(kAdnNumberBytes)) return true;
  const std::size_t x = record.size() - kAdnNumberBytes;
  const std::uint8_t length = at(record, x);
  return allFF(record.substr(0, x)) && (length == 0xFF || length == 0);
}

std::optional<AdnContent> decodeAdn(std::string_view record, const ExtensionReader& extension,
                                    const CodecLog& log) {
  if (isEmptyAdn(record)) return std::nullopt;
  const std::size_t x = record.size() - kAdnNumberBytes;
  AdnContent content;
  content.name = decodeSimName(toHex(record.substr(0, x)), log);
  const std::uint8_t length = at(record, x);
  if (length != 0xFF && length > 1) {
    content.type = at(record, x + 1);
    if (content.type == 0xFF) content.type = 129;
    const int bytes = std::min<int>(length - 1, 10);
    std::string digits;
    appendDigits(digits, record.substr(x + 2, 10), bytes * 2);
    if (bytes == 10) digits += followChain(at(record, x + 13), extension, nullptr);
    content.number = ((content.type & kTypeOfNumber) == kTonInternational && !digits.empty() ? "+" : "") + digits;
  }
  return content;
}

std::vector<int> adnExtensions(std::string_view record, const ExtensionReader& extension) {
  std::vector<int> chain;
  if (record.size() < static_cast<std::size_t>(kAdnNumberBytes)) return chain;
  followChain(at(record, record.size() - 1), extension, &chain);
  return chain;
}

std::optional<AdnEncoded> encodeAdn(std::string_view name, std::string_view number, int recordLength,
                                    const std::vector<int>& freeExtensions, const CodecLog& log) {
  if (recordLength < kAdnNumberBytes) return std::nullopt;
  const int alphaLength = recordLength - kAdnNumberBytes;
  AdnEncoded out;
  std::string alpha = alphaLength > 0 ? fromHex(encodeSimName(name, alphaLength, log)) : std::string();
  alpha.resize(static_cast<std::size_t>(alphaLength), '\xFF');
  out.took = decodeSimName(toHex(alpha));
  const std::string digits = filterNumber(number, false);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return nibbleOf(c).has_value(); })) return std::nullopt;
  const std::size_t extra = digits.size() > kDigitsPerRecord ? (digits.size() - kDigitsPerRecord + kDigitsPerRecord - 1) / kDigitsPerRecord : 0;
  if (extra > freeExtensions.size()) return std::nullopt;
  std::string tail(kAdnNumberBytes, '\xFF');
  if (!digits.empty()) {
    const std::size_t main = std::min<std::size_t>(digits.size(), kDigitsPerRecord);
    tail[0] = static_cast<char>(1 + (main + 1) / 2);
    tail[1] = static_cast<char>(numberType(number) == 145 ? kTonNpiInternationalIsdn : kTonNpiUnknownIsdn);
    tail.replace(2, 10, packDigits(std::string_view(digits).substr(0, main), 10));
    if (extra > 0) tail[13] = static_cast<char>(freeExtensions[0]);
    for (std::size_t k = 0; k < extra; ++k) {
      const std::string_view part = std::string_view(digits).substr(kDigitsPerRecord * (k + 1), kDigitsPerRecord);
      std::string record(kExt1RecordLength, '\xFF');
      record[0] = static_cast<char>(kExtAdditionalData);
      record[1] = static_cast<char>((part.size() + 1) / 2);
      record.replace(2, 10, packDigits(part, 10));
      if (k + 1 < extra) record[12] = static_cast<char>(freeExtensions[k + 1]);
      out.extensions.emplace_back(freeExtensions[k], std::move(record));
    }
  }
  out.record = alpha + tail;
  return out;
}

std::string emptyAdnRecord(int recordLength) { return std::string(static_cast<std::size_t>(std::max(recordLength, 0)), '\xFF'); }

std::string freeExt1Record() { return std::string(1, '\0') + std::string(kExt1RecordLength - 1, '\xFF'); }

bool isFreeExt1(std::string_view record) { return record.empty() || allFF(record) || (at(record, 0) & kExtRecordType) == 0; }

std::optional<SmsContent> decodeSmsRecord(std::string_view record) {
  if (record.empty() || (at(record, 0) & kSmsUsed) == 0) return std::nullopt;
  SmsContent out;
  out.status = at(record, 0) & kSmsStatus;
  Cursor c{record.substr(1)};
  const int smsc = c.next();
  if (smsc > 11) return std::nullopt;
  c.take(static_cast<std::size_t>(smsc));
  const int fo = c.next();
  if (!c.ok) return std::nullopt;
  const int mti = fo & kTpMti;
  if (mti == kMtiDeliver) {
    if (!readAddress(c, out.number, out.type)) return std::nullopt;
    c.next();       // PID
    const int dcs = c.next();
    out.timestamp = std::string(c.take(7));  // SCTS
    auto text = userText(c, fo, dcs, out.part);
    if (!text) return std::nullopt;
    out.text = std::move(*text);
  } else if (mti == kMtiSubmit) {
    c.next();  // MR
    if (!readAddress(c, out.number, out.type)) return std::nullopt;
    c.next();  // PID
    const int dcs = c.next();
    const int vpf = (fo >> 3) & 3;
    c.take(vpf == 2 ? 1 : vpf == 0 ? 0 : 7);
    auto text = userText(c, fo, dcs, out.part);
    if (!text) return std::nullopt;
    out.text = std::move(*text);
  } else {
    return std::nullopt;
  }
  if (!c.ok) return std::nullopt;
  out.length = 1 + c.pos;
  return out;
}

bool sameParty(std::string_view a, std::string_view b) {
  if (isAlphanumericSender(a) || isAlphanumericSender(b)) return a == b;
  return filterNumber(a, true) == filterNumber(b, true);
}

int statOfStatusByte(int statusByte) {
  switch (statusByte & kSmsStatus) {
    case kSmsReceivedUnread: return 0;
    case kSmsReceivedRead: return 1;
    case kSmsToBeSent: return 2;
    default: return 3;
  }
}

int statusByteOfStat(int stat) {
  constexpr int kByte[] = {kSmsReceivedUnread, kSmsReceivedRead, kSmsToBeSent, kSmsSent};
  return stat >= 0 && stat <= 3 ? kByte[stat] : kSmsSent;
}

namespace {
constexpr const char* kStatNames[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};
}  // namespace

std::optional<int> statOfName(std::string_view name) {
  for (int stat = 0; stat < 4; ++stat) {
    const std::string_view known = kStatNames[stat];
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(),
                   [](char a, char b) { return a == (b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b); })) {
      return stat;
    }
  }
  return std::nullopt;
}

const char* statName(int stat) { return kStatNames[stat >= 0 && stat <= 3 ? stat : 3]; }

std::string messageRecord(std::string_view number, int type, std::string_view text, std::string_view like) {
  const int status = like.empty() ? kSmsSent : at(like, 0) & kSmsStatus;
  if (auto held = decodeSmsRecord(like); held && held->text == text && sameParty(held->number, number)) {
    return std::string(like.substr(0, held->length));
  }
  const bool received = status == kSmsReceivedRead || status == kSmsReceivedUnread;
  std::string timestamp;
  if (auto held = decodeSmsRecord(like); held && received) timestamp = held->timestamp;
  const SubmitPdu pdu = received ? encodeDeliverPdu(number, type, timestamp, text) : encodeSubmitPdu(number, type, text);
  return std::string(1, static_cast<char>(received || status == kSmsToBeSent ? status : kSmsSent)) + fromHex(pdu.hex);
}

std::string freeSmsRecord(int recordLength) {
  return recordLength <= 0 ? std::string() : std::string(1, '\0') + std::string(static_cast<std::size_t>(recordLength - 1), '\xFF');
}

std::vector<PbrSet> parsePbr(const std::vector<std::string>& records) {
  std::vector<PbrSet> sets;
  for (const std::string& record : records) {
    PbrSet set;
    std::size_t i = 0;
    while (i + 2 <= record.size() && at(record, i) != 0xFF && at(record, i) != 0x00) {
      const std::size_t end = std::min(record.size(), i + 2 + at(record, i + 1));
      for (std::size_t j = i + 2; j + 2 <= end;) {
        const std::uint8_t tag = at(record, j), length = at(record, j + 1);
        if (length >= 2 && j + 4 <= end) {
          const auto id = static_cast<std::uint16_t>(at(record, j + 2) << 8 | at(record, j + 3));
          if (tag == kPbrTagAdn && set.adn == 0) set.adn = id;
          if (tag == kPbrTagExt1 && !set.ext1) set.ext1 = id;
        }
        j += 2 + length;
      }
      i = end;
    }
    if (set.adn != 0) sets.push_back(set);
  }
  return sets;
}

std::string decodeIccid(std::string_view bytes) {
  std::string digits;
  for (std::size_t i = 0; i < bytes.size() && i < 10; ++i) {
    const std::uint8_t b = at(bytes, i);
    for (int nibble : {b & 0x0F, b >> 4}) {
      if (nibble == 0x0F) return digits.size() >= 18 ? digits : std::string();
      if (nibble > 9) return {};
      digits += static_cast<char>('0' + nibble);
    }
  }
  return digits.size() >= 18 ? digits : std::string();
}

}  // namespace voryx::transfer
