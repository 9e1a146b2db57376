#pragma once
// The virtual SIM as a card in a reader answers it: command APDUs in, response APDUs out,
// on the virtual SIM's files. A SIM profile takes class A0 only and keeps a response
// behind 9Fxx (TS 51.011); a USIM profile takes class 00, reaches ADF.USIM by its AID and
// keeps a response behind 61xx under T=0, or gives it at once under T=1 (TS 102 221).
//
//   CardApdu card{files, {}};
//   card.answer("\xA0\xA4\x00\x00\x02\x3F\x00")   ->   "\x9F\x16"
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/CardFiles.h"
#include "sim/ModemOptions.h"

namespace voryx::sim {

struct CardOptions {
  bool t1 = false;  // the card offers T=1 in its ATR (a response comes without GET RESPONSE)
  // Faults, counted from power-up: errorAtWrite answers the k-th UPDATE RECORD 6F00 and
  // keeps the record; hangupAtWrite takes the card out as it arrives; lostAtWrite writes the
  // record, then takes the card out before it answers; removeAtRead
  // likewise at the k-th READ RECORD; wrongLength answers every READ RECORD 6Cxx once
  // before it gives the record (a card that wants its Le from the answer).
  Faults faults;
  int removeAtRead = 0;
  bool wrongLength = false;
  // How long the card takes over each command APDU (a real SIM: some milliseconds).
  std::chrono::milliseconds delay{0};
};

class CardApdu {
 public:
  CardApdu(CardFiles& files, CardOptions options) : files_(files), options_(std::move(options)) {}

  // The answer to one command APDU; none when the card is taken out by a fault.
  std::optional<std::string> answer(std::string_view apdu);
  // The card was powered (again): the MF is selected, the PIN wanted again, faults count anew.
  void powerUp();
  std::string atr() const;
  // Whether the last answer changed the SIM.
  bool changed() const { return changed_; }
  std::chrono::milliseconds delay() const { return options_.delay; }

 private:
  using Path = std::vector<std::uint16_t>;
  std::string reply(std::uint16_t sw, std::string data = {});
  std::string select(std::uint8_t cla, int p1, int p2, std::string_view data, bool wantsData);
  std::string verify(std::uint8_t cla, int p2, std::string_view data);
  std::uint16_t wrongLength(std::uint8_t cla, std::size_t correct) const;

  CardFiles& files_;
  CardOptions options_;
  Path df_{0x3F00};
  Path ef_;
  std::string pending_;  // the response that waits for GET RESPONSE
  int reads_ = 0;
  int updates_ = 0;
  bool lengthTold_ = false;
  bool changed_ = false;
};

}  // namespace voryx::sim
