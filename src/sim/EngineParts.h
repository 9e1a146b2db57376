#pragma once
// What the modem engine's command files share (ModemEngine.cpp, ModemPhonebook.cpp,
// ModemMessages.cpp): the reply being collected and the checks of numbers. Internal to
// sim/.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ModemEngine.h"
#include "sim/AlphaId.h"
#include "sim/Pdu.h"

namespace voryx::sim {

inline constexpr std::size_t kMaxText = 1024;  // bytes after the "> " prompt
inline constexpr int kMaxNumberLength = SimCard::kMaxDigits;

inline std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return out;
}

// A dialling number as sent: optional '+', then what BCD can hold. None otherwise.
inline std::optional<std::string> checkNumber(std::string_view n, int& error) {
  std::string_view digits = n;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (!encodeBcd(digits)) {
    error = 27;
    return std::nullopt;
  }
  if (digits.size() > static_cast<std::size_t>(kMaxNumberLength)) {
    error = 26;
    return std::nullopt;
  }
  return std::string(n);
}

inline int numberType(std::string_view n) {
  if (isAlphanumericAddress(n)) return kAlphanumericType;
  return !n.empty() && n.front() == '+' ? 145 : 129;
}

// Collects the information responses of one command line in the layout of the session
// (verbose or numeric) and of the profile (listing entries apart by a blank line or not).
class ModemEngine::Reply {
 public:
  Reply(bool verbose, Profile profile) : verbose_(verbose), profile_(profile) {}
  void info(std::string_view text) { parts.push_back({frame(text, true), false}); }
  void entry(std::string_view text) {
    parts.push_back({frame(text, profile_ == Profile::Default || entries == 0), true});
    ++entries;
  }
  void raw(std::string bytes) { parts.push_back({std::move(bytes), false}); }
  std::size_t size() const {
    std::size_t n = 0;
    for (const auto& p : parts) n += p.bytes.size();
    return n;
  }

  std::vector<ReplyPart> parts;
  std::size_t entries = 0;

 private:
  std::string frame(std::string_view text, bool lead) const {
    return (verbose_ && lead ? "\r\n" : "") + std::string(text) + "\r\n";
  }
  bool verbose_;
  Profile profile_;
};

}  // namespace voryx::sim
