#pragma once
// The virtual SIM: the phonebook as raw EF_ADN records (alpha field padded with FF, then
// number length, TON/NPI, ten BCD bytes, CCP and EXT1 identifiers: alpha length + 14
// bytes) and the SMS store as decoded messages. A plain value: copy it to snapshot it.
// Not thread-safe by itself; VirtualModem guards its copy.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/PinLock.h"

namespace voryx::sim {

enum class SmsStatus { RecUnread = 0, RecRead = 1, StoUnsent = 2, StoSent = 3 };

// "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT".
std::string_view smsStatusName(SmsStatus status);
std::optional<SmsStatus> smsStatusFromName(std::string_view name);

struct SmsRecord {
  SmsStatus status = SmsStatus::StoUnsent;
  std::string number;     // sender (REC) or recipient (STO); "+" first when international;
                          // a received one may be a name ("SMART", isAlphanumericAddress)
  std::string timestamp;  // "yy/MM/dd,hh:mm:ss+zz" (quarter hours) for received; may be empty
  std::string text;       // UTF-8
  bool ucs2 = false;      // coded as UCS2 (DCS 0x08) rather than the GSM 7-bit alphabet
  std::string header;     // the user data header's elements (its length octet left out);
                          // empty: none. A part of a long message holds its concatenation.
  bool operator==(const SmsRecord&) const = default;
};

// One phonebook location, decoded by the SIM's own decoder.
struct PhonebookEntry {
  int location = 0;
  std::string number;  // "+" first when the TON is international
  int type = 129;      // TON/NPI byte: 145 international, 129 unknown
  std::string name;    // UTF-8
};

class SimCard {
 public:
  static constexpr int kDefaultLocations = 250;
  static constexpr int kDefaultAlphaLength = 14;
  static constexpr int kDefaultSmsCapacity = 30;
  static constexpr int kMaxDigits = 20;  // ten BCD bytes, no extension records
  // The identity of a SIM file saved before files kept one (and of SimCard() itself).
  static constexpr std::string_view kDefaultIccid = "89390100001234567895";
  static constexpr std::string_view kDefaultImsi = "222015550001234";

  explicit SimCard(int locations = kDefaultLocations, int alphaLength = kDefaultAlphaLength,
                   int smsCapacity = kDefaultSmsCapacity);
  // A SIM with a few dozen plausible entries (Latin, accented, Cyrillic, Greek names, the
  // GSM alphabet's odd characters) and a few messages.
  static SimCard demo();

  int locations() const { return static_cast<int>(records_.size()); }
  int alphaLength() const { return alphaLength_; }
  int recordSize() const { return alphaLength_ + 14; }
  int smsCapacity() const { return smsCapacity_; }

  // Phonebook, locations 1..locations().
  // The raw record (recordSize() bytes, all FF when empty); empty outside the range.
  std::string record(int location) const;
  bool isEmpty(int location) const;
  bool setRecord(int location, std::string_view bytes);  // false: wrong size or location
  void erase(int location);
  int usedLocations() const;
  std::optional<int> firstFreeLocation() const;
  std::optional<PhonebookEntry> entry(int location) const;
  std::string name(int location) const;    // "" when empty
  std::string number(int location) const;  // "" when empty
  // Builds and stores a record from its parts: `alpha` is the raw alpha field (at most
  // alphaLength() bytes), `number` digits with an optional leading "+". Returns false
  // (nothing stored) when a part does not fit or holds characters a SIM cannot store.
  bool writeEntry(int location, std::string_view alpha, std::string_view number, int type);
  // Convenience for tests and the demo: the name in the shortest SIM form that fits.
  bool writeEntryText(int location, std::string_view nameUtf8, std::string_view number);

  // EF_EXT1: kExtensionRecords records of kExtensionRecordSize bytes (all FF when free),
  // where numbers of more than 20 digits go on. The SIM's own decoding (entry, number)
  // reads the 20 digits of the record only.
  static constexpr int kExtensionRecords = 10;
  static constexpr int kExtensionRecordSize = 13;
  std::string extension(int n) const;                   // empty outside 1..kExtensionRecords
  bool setExtension(int n, std::string_view bytes);     // false: wrong size or record

  // SMS store, indexes 1..smsCapacity().
  const std::map<int, SmsRecord>& messages() const { return messages_; }
  const SmsRecord* message(int index) const;
  std::optional<int> addMessage(SmsRecord message);  // first free index; none when full
  bool setMessage(int index, SmsRecord message);     // false outside the range
  bool deleteMessage(int index);                     // false when it held nothing

  // The SIM file: a line-based text format (see SimCard.cpp). fromText refuses the whole
  // file (and says where) at the first line it cannot take.
  std::string toText() const;
  static std::optional<SimCard> fromText(std::string_view text, std::string& error);
  static std::optional<SimCard> load(const std::filesystem::path& file, std::string& error);
  // Writes a temporary file next to `file`, syncs it and renames it over `file`.
  bool save(const std::filesystem::path& file, std::string& error) const;

  // Which SIM this is: EF_ICCID's digits and the IMSI, as +CCID and +CIMI tell them.
  const std::string& iccid() const { return iccid_; }
  const std::string& imsi() const { return imsi_; }
  // False (nothing changed) when either is not of its form (isIccid, isImsi).
  bool setIdentity(std::string_view iccid, std::string_view imsi);
  // 18 to 20 digits, the last may be the padding F; 6 to 15 digits.
  static bool isIccid(std::string_view iccid);
  static bool isImsi(std::string_view imsi);
  // A new SIM's identity: an ICCID of the demo's issuer with a Luhn check digit and
  // random serial digits, and an IMSI of its network, so that two new SIMs differ.
  void giveFreshIdentity();

  // The PIN lock (off unless set); the card's state in memory only, never in its file.
  PinLock& pinLock() { return pinLock_; }
  const PinLock& pinLock() const { return pinLock_; }

  bool operator==(const SimCard&) const = default;

 private:
  int alphaLength_;
  int smsCapacity_;
  std::vector<std::string> records_;  // location - 1
  std::vector<std::string> extensions_ =
      std::vector<std::string>(kExtensionRecords, std::string(kExtensionRecordSize, '\xFF'));
  std::map<int, SmsRecord> messages_;
  std::string iccid_{kDefaultIccid};
  std::string imsi_{kDefaultImsi};
  PinLock pinLock_;
};

}  // namespace voryx::sim
