#include "sim/PinLock.h"

#include <algorithm>

namespace voryx::sim {
namespace {

bool digits(std::string_view code, std::size_t least, std::size_t most) {
  return code.size() >= least && code.size() <= most &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool PinLock::isPin(std::string_view code) { return digits(code, 4, 8); }
bool PinLock::isPuk(std::string_view code) { return digits(code, 8, 8); }

std::optional<PinLock> PinLock::make(std::string_view pin, std::string_view puk) {
  if (!isPin(pin) || !isPuk(puk)) return std::nullopt;
  PinLock lock;
  lock.pin_ = pin;
  lock.puk_ = puk;
  return lock;
}

PinLock::State PinLock::state() const {
  if (!enabled() || verified_) return State::Ready;
  return pinTries_ > 0 ? State::Pin : State::Puk;
}

PinLock::Verdict PinLock::enterPin(std::string_view pin) {
  if (state() != State::Pin) return Verdict::NotAsked;
  if (pin == pin_) {
    pinTries_ = kPinTries;
    verified_ = true;
    return Verdict::Accepted;
  }
  --pinTries_;
  return Verdict::Wrong;
}

PinLock::Verdict PinLock::enterPuk(std::string_view puk, std::string_view newPin) {
  if (state() != State::Puk) return Verdict::NotAsked;
  if (pukTries_ == 0 || !isPin(newPin)) return Verdict::Wrong;
  if (puk != puk_) {
    --pukTries_;
    return Verdict::Wrong;
  }
  pin_ = newPin;
  pinTries_ = kPinTries;
  pukTries_ = kPukTries;
  verified_ = true;
  return Verdict::Accepted;
}

}  // namespace voryx::sim
