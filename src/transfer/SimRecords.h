#pragma once
// The phonebook's and the message store's records as the SIM's files hold them, to and
// from what the local tables keep: EF_ADN with its EF_EXT1 extension records (TS 51.011
// §10.5.1, §10.5.10; TS 31.102 §4.4.2.3), EF_SMS (TS 51.011 §10.5.3, with the SMS TPDU
// of TS 23.040), EF_PBR (TS 31.102 §4.4.2.1) and EF_ICCID (TS 102 221 §13.2). Names go
// through the SIM name codec (SimName.h), messages through the SMS PDU code (SmsPdu.h).
// Pure functions, any thread; every decoder survives any bytes (no overrun, no crash).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/SimEntry.h"

#include "codec/SimName.h"

namespace voryx::transfer {

// ---- EF_ADN / EF_EXT1 ----

// A record's name field is its length minus this (the number's 14 bytes).
inline constexpr int kAdnNumberBytes = 14;
// EF_EXT1 records are 13 bytes: type 02 (additional data), length, 10 BCD bytes, next.
inline constexpr int kExt1RecordLength = 13;
inline constexpr int kDigitsPerRecord = 20;  // ten BCD bytes
// The most EF_EXT1 records one number chains; a longer chain is taken for garbage.
inline constexpr int kMaxExtensionChain = 10;

struct AdnContent {
  std::string name;    // UTF-8, as the name codec reads the alpha field
  std::string number;  // "+" first for an international TON; digits, "*", "#", ","
  int type = 129;      // the TON/NPI byte: 145 international, 129 unknown, ...
};

// EF_EXT1 record `n` (from 1) as read, or empty when there is none or it could not be read.
using ExtensionReader = std::function<std::string(int n)>;

// True for a record that holds no entry: no name and no number (all FF, or a number
// length of FF/00 and a blank name).
bool isEmptyAdn(std::string_view record);
// The entry a record holds; nothing for an empty record. A number that names an
// extension record continues with that record's digits (the chain followed at most 10
// records, never round in a loop); an extension that cannot be read ends the number.
std::optional<AdnContent> decodeAdn(std::string_view record, const ExtensionReader& extension,
                                    const codec::CodecLog& log = {});
// The EF_EXT1 records an entry's number uses, in chain order (to free them when the
// entry goes or shrinks).
std::vector<int> adnExtensions(std::string_view record, const ExtensionReader& extension);

struct AdnEncoded {
  std::string record;  // recordLength bytes
  // The extension records the number goes on, each kExt1RecordLength bytes, taken from
  // the free ones given in order.
  std::vector<std::pair<int, std::string>> extensions;
  std::string took;  // the name as the record holds it (cut to the field, "?" for what
                     // no form holds)
};
// An entry as record bytes: the name in the most compact form the field of
// recordLength - 14 bytes holds (encodeSimName's choice), the number's first 20 digits in
// the record and the rest in EF_EXT1 records. Nothing when the number holds characters
// no record stores, or needs more extension records than `freeExtensions` offers.
std::optional<AdnEncoded> encodeAdn(std::string_view name, std::string_view number,
                                    int recordLength, const std::vector<int>& freeExtensions,
                                    const codec::CodecLog& log = {});
// An erased EF_ADN record (all FF) and a free EF_EXT1 record (type 00, then FF).
std::string emptyAdnRecord(int recordLength);
std::string freeExt1Record();
bool isFreeExt1(std::string_view record);

// ---- EF_SMS ----

inline constexpr int kSmsRecordLength = 176;

struct SmsContent {
  int status = 0;      // the status byte: 1 read, 3 unread (received), 5 sent, 7 unsent
  std::string number;  // the sender (received) or recipient (stored): "+" first for an
                       // international TON; an alphanumeric sender's name decoded
  int type = 129;      // the address's TON/NPI (208 alphanumeric)
  std::string text;    // UTF-8; a message in parts gives the text of this part
  std::optional<MessagePart> part;  // which part it is, when it is one
  std::string timestamp;  // a received message: its time stamp's seven octets, as they stand
  std::size_t length = 0;  // the record's bytes the message takes (status byte included):
                           // what follows is padding
};
// The message a record holds; nothing for a free record (status byte bit 1 clear) or one
// whose TPDU cannot be read (the caller logs it).
std::optional<SmsContent> decodeSmsRecord(std::string_view record);
// The message a row stands for, as the SIM is to hold it: the status byte, the service
// centre and the TPDU, without padding (a record is padded to its length; AT+CMGW in PDU
// mode takes the rest as it is). `like` is what the SIM held for that row (a read's or a
// backup's record; may be empty, or just a status byte when only the status is known).
// When `like` holds this very text and number it is the answer, byte for byte (a restore or
// a copy onto another SIM gives back a message in parts, a received one's sender and time,
// its status). Otherwise the text is coded anew and keeps `like`'s status: a received
// message (1, 3) as an SMS-DELIVER from `number` with `like`'s time stamp, a draft (7) or a
// sent one (5) as the SMS-SUBMIT of encodeSubmitPdu; with no status known, sent (5).
std::string messageRecord(std::string_view number, int type, std::string_view text, std::string_view like);
// Whether two numbers of a message name the same party: the same dialling characters and
// "+" (a number), or the very same name (an alphanumeric sender).
bool sameParty(std::string_view a, std::string_view b);
// The status byte's value in 27.005's terms (<stat> of PDU mode): received unread 0, read
// 1, stored unsent 2, sent 3.
int statOfStatusByte(int statusByte);
int statusByteOfStat(int stat);
// <stat> in text mode: "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT" (any case).
std::optional<int> statOfName(std::string_view name);
const char* statName(int stat);

// A free EF_SMS record: status 00, the rest FF.
std::string freeSmsRecord(int recordLength = kSmsRecordLength);

// ---- EF_PBR, EF_ICCID ----

// One phonebook set a record of EF_PBR names (tags A8/A9/AA, then C0 EF_ADN, C2 EF_EXT1).
struct PbrSet {
  std::uint16_t adn = 0;
  std::optional<std::uint16_t> ext1;
};
// The sets of EF_PBR's records in order (a record without an EF_ADN adds none).
std::vector<PbrSet> parsePbr(const std::vector<std::string>& records);

// EF_ICCID's ten bytes (nibble-swapped BCD, F padding) as its digits: "89390100001234567895".
// Empty when the bytes are not such digits.
std::string decodeIccid(std::string_view bytes);

}  // namespace voryx::transfer
