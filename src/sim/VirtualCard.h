#pragma once
// The virtual SIM in a virtual card reader: the card side of vsmartcard's vpcd, the
// pcscd driver whose reader ("Virtual PCD 00 00") holds a card while a program is
// connected to its TCP port (35963 for the first slot). Each message either way is a
// 2-byte big-endian length and its bytes; from the reader, one byte is a control (00 power
// off, 01 power on, 02 reset, 04 the ATR, which is answered) and more is a command APDU,
// answered with the response APDU. The SIM state is safe to use from any thread.
//
//   sim::VirtualCard card{sim::SimCard::demo(), {}, /*usim=*/true};
//   ASSERT_TRUE(card.insert(35963, &error));   // "Virtual PCD 00 00" now holds a card
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "sim/CardApdu.h"
#include "sim/SimCard.h"

namespace voryx::sim {

class VirtualCard {
 public:
  static constexpr int kFirstPort = 35963;

  VirtualCard(SimCard card, CardOptions options, bool usim);
  ~VirtualCard();  // remove()
  VirtualCard(const VirtualCard&) = delete;
  VirtualCard& operator=(const VirtualCard&) = delete;

  // Puts the card in the reader on `port` (connects, retrying for `patience` while the
  // reader is not there yet) and answers it on its own thread. False with `error` set
  // when no reader listens there.
  bool insert(int port = kFirstPort, std::string* error = nullptr,
              std::chrono::milliseconds patience = std::chrono::seconds{5});
  // Takes the card out (closes the connection). Harmless when it is out.
  void remove();
  // In the reader: inserted, and not taken out by a fault.
  bool inserted() const;

  SimCard sim() const;
  void modifySim(const std::function<void(SimCard&)>& change);
  // Called on the card's thread after every change of the SIM (set before insert()).
  void setOnChange(std::function<void(const SimCard&)> onChange);
  // How many command APDUs of this instruction (B2 READ RECORD, DC UPDATE RECORD, ...)
  // the card has answered since it was made.
  int commandCount(std::uint8_t ins) const;

  // The reader's name for a port of vpcd's default configuration.
  static std::string readerName(int port);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voryx::sim
