#pragma once
// The virtual SIM's files, as a modem's AT+CRSM (and a card reader) reach them: the MF
// with EF_ICCID, DF_TELECOM with EF_ADN (the SimCard's raw records), EF_EXT1 and EF_SMS (its
// messages as 176-byte records), and on a USIM also ADF.USIM with DF_PHONEBOOK, whose
// EF_PBR names the same EF_ADN and EF_EXT1, and its own EF_SMS (the same messages). Headers are the
// FCP template of a UICC (usim) or the GSM response of a SIM. Works on a SimCard it does
// not own; one thread at a time.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimCard.h"

namespace voryx::sim {

struct CardAnswer {
  std::uint16_t sw = 0x9000;
  std::string data;
};

class CardFiles {
 public:
  CardFiles(SimCard& sim, bool usim) : sim_(sim), usim_(usim) {}

  // `path` from the MF to the file itself: {3F00, 7F10, 6F3A}.
  CardAnswer header(const std::vector<std::uint16_t>& path) const;
  CardAnswer readRecord(const std::vector<std::uint16_t>& path, int number, int length) const;
  // True in `changed` when the SIM took it.
  CardAnswer updateRecord(const std::vector<std::uint16_t>& path, int number, std::string_view bytes, bool& changed);
  CardAnswer readBinary(const std::vector<std::uint16_t>& path, int offset, int length) const;

  // EF_SMS's record for a message, and the message a record holds (none: a free record).
  static std::string smsRecord(const SmsRecord& message);
  static std::optional<SmsRecord> messageOf(std::string_view record);
  // The USIM application's AID, as EF_DIR gives it.
  static const std::string& usimAid();
  bool usim() const { return usim_; }
  SimCard& sim() { return sim_; }

 private:
  enum class Kind { None, Df, Iccid, Dir, Adn, Ext1, Sms, Pbr };
  Kind kindOf(const std::vector<std::uint16_t>& path) const;
  std::uint16_t denied(Kind kind) const;  // the PIN's status word, or 0
  std::uint16_t notFound() const { return usim_ ? 0x6A82 : 0x9404; }

  SimCard& sim_;
  bool usim_;
};

}  // namespace voryx::sim
