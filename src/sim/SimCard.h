#pragma once
// The virtual SIM: the phonebook as raw EF_ADN records (alpha field padded with FF, then
// number length, TON/NPI, ten BCD bytes, CCP and EXT1 identifiers: alpha length + 14
// bytes) and the SMS store as decoded messages. A plain value: copy it to snapshot it.
// Not thread-safe by itself; VirtualModem guards its copy.
#include <array>
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

  // The other phonebook stores (27.007 +CPBS): "ON" own numbers (EF_MSISDN), "FD" fixed
  // dialling (EF_FDN, written after PIN2), "EN" and "SDN" (EF_ECC, EF_SDN, read only), and
  // "ME", the phone's own memory, kept with the card here for simplicity. Each holds
  // records of the SIM phonebook's form and size. Every phonebook call below takes the
  // store's code last; "SM" is EF_ADN, and a store the card lacks has no locations.
  static constexpr std::array<std::string_view, 6> kBooks{"SM", "ON", "FD", "ME", "EN", "SDN"};
  static constexpr std::string_view kDefaultPin2 = "0000";
  static constexpr std::string_view kDefaultPuk2 = "00000000";
  // The stores the card has, "SM" first, in kBooks' order.
  std::vector<std::string> books() const;
  // Gives the card the store `code` (one of kBooks, not "SM") with `locations` empty
  // records (1 to 254); false otherwise.
  bool addBook(std::string_view code, int locations);
  // Whether the store takes writes: EN and SDN do not.
  static bool writableBook(std::string_view code) { return code != "EN" && code != "SDN"; }

  int locations(std::string_view book = "SM") const;
  int alphaLength() const { return alphaLength_; }
  int recordSize() const { return alphaLength_ + 14; }
  int smsCapacity() const { return smsCapacity_; }

  // Phonebook, locations 1..locations().
  // The raw record (recordSize() bytes, all FF when empty); empty outside the range.
  std::string record(int location, std::string_view book = "SM") const;
  bool isEmpty(int location, std::string_view book = "SM") const;
  bool setRecord(int location, std::string_view bytes, std::string_view book = "SM");  // false: wrong size or location
  void erase(int location, std::string_view book = "SM");
  int usedLocations(std::string_view book = "SM") const;
  std::optional<int> firstFreeLocation(std::string_view book = "SM") const;
  std::optional<PhonebookEntry> entry(int location, std::string_view book = "SM") const;
  std::string name(int location) const;    // "" when empty
  std::string number(int location) const;  // "" when empty
  // Builds and stores a record from its parts: `alpha` is the raw alpha field (at most
  // alphaLength() bytes), `number` digits with an optional leading "+". Returns false
  // (nothing stored) when a part does not fit or holds characters a SIM cannot store.
  bool writeEntry(int location, std::string_view alpha, std::string_view number, int type,
                  std::string_view book = "SM");
  // Convenience for tests and the demo: the name in the shortest SIM form that fits.
  bool writeEntryText(int location, std::string_view nameUtf8, std::string_view number,
                      std::string_view book = "SM");

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
  // PIN2, which guards fixed dialling: always on (kDefaultPin2), in memory only.
  PinLock& pin2Lock() { return pin2Lock_; }
  const PinLock& pin2Lock() const { return pin2Lock_; }

  bool operator==(const SimCard&) const = default;

 private:
  int alphaLength_;
  int smsCapacity_;
  const std::vector<std::string>* recordsOf(std::string_view book) const;
  std::vector<std::string>* recordsOf(std::string_view book);

  std::vector<std::string> records_;  // location - 1
  std::map<std::string, std::vector<std::string>, std::less<>> books_;  // the other stores
  std::vector<std::string> extensions_ =
      std::vector<std::string>(kExtensionRecords, std::string(kExtensionRecordSize, '\xFF'));
  std::map<int, SmsRecord> messages_;
  std::string iccid_{kDefaultIccid};
  std::string imsi_{kDefaultImsi};
  PinLock pinLock_;
  PinLock pin2Lock_ = *PinLock::make(kDefaultPin2, kDefaultPuk2);
};

}  // namespace voryx::sim
