#pragma once
// The virtual SIM's PIN lock, as a card keeps it: its PIN and PUK, the tries left for
// each, and whether the PIN was given since the card was powered up. Without a PIN the
// lock is off and the SIM is always ready. Three wrong PINs in a row block the SIM until
// its PUK and a new PIN are given; ten wrong PUKs leave it blocked for good. A plain
// value, part of the SimCard.
#include <optional>
#include <string>
#include <string_view>

namespace voryx::sim {

class PinLock {
 public:
  static constexpr int kPinTries = 3;
  static constexpr int kPukTries = 10;
  static constexpr std::string_view kDefaultPuk = "12345678";

  enum class State { Ready, Pin, Puk };
  enum class Verdict { Accepted, Wrong, NotAsked };

  PinLock() = default;  // no PIN: always ready
  // The lock on, with `pin` (4 to 8 digits) and `puk` (8 digits); none when either is
  // not such a code.
  static std::optional<PinLock> make(std::string_view pin, std::string_view puk = kDefaultPuk);
  static bool isPin(std::string_view code);  // 4 to 8 digits
  static bool isPuk(std::string_view code);  // 8 digits

  bool enabled() const { return !pin_.empty(); }
  State state() const;
  int pinTries() const { return pinTries_; }
  int pukTries() const { return pukTries_; }

  // The PIN, asked for in state Pin: a wrong one costs a try (the last one blocks the SIM).
  Verdict enterPin(std::string_view pin);
  // The PUK and a new PIN, asked for in state Puk: the right PUK unblocks the SIM with the
  // new PIN; a wrong one costs a PUK try. A new PIN that is no PIN is refused at no cost.
  Verdict enterPuk(std::string_view puk, std::string_view newPin);
  // The card was powered up again: it asks for its PIN (when the lock is on).
  void powerUp() { verified_ = false; }

  bool operator==(const PinLock&) const = default;

 private:
  std::string pin_;
  std::string puk_;
  int pinTries_ = kPinTries;
  int pukTries_ = kPukTries;
  bool verified_ = false;
};

}  // namespace voryx::sim
