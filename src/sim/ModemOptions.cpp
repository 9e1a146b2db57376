#include "sim/ModemOptions.h"

#include <algorithm>
#include <charconv>

namespace voryx::sim {

std::optional<Profile> profileFromName(std::string_view name) {
  if (name == "default") return Profile::Default;
  if (name == "linebreak") return Profile::LineBreak;
  return std::nullopt;
}

std::string_view profileName(Profile profile) {
  return profile == Profile::LineBreak ? "linebreak" : "default";
}

std::optional<PinCounter> pinCounterFromName(std::string_view name) {
  if (name == "cpinr") return PinCounter::Cpinr;
  if (name == "huawei") return PinCounter::Huawei;
  if (name == "quectel") return PinCounter::Quectel;
  if (name == "none") return PinCounter::None;
  return std::nullopt;
}

bool parseFault(std::string_view text, Faults& faults) {
  if (text == "silence") return faults.silence = true;
  if (text == "huge-reply") return faults.hugeReply = true;
  if (text == "nul-bytes") return faults.nulBytes = true;
  if (text == "listing-error") return faults.listingError = true;
  if (text == "charset-test-error") return faults.charsetTestError = true;
  if (text == "crsm-error") return faults.crsmError = true;
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view name = text.substr(0, eq);
  const std::string_view value = text.substr(eq + 1);
  int k = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), k);
  if (ec != std::errc{} || end != value.data() + value.size() || k < 1) return false;
  if (name == "error-at-write") faults.errorAtWrite = k;
  else if (name == "mute-at-write") faults.muteAtWrite = k;
  else if (name == "hangup-at-write") faults.hangupAtWrite = k;
  else if (name == "late-at-write") faults.lateAtWrite = k;
  else if (name == "lost-at-write") faults.lostAtWrite = k;
  else return false;
  return true;
}

bool Charsets::takes(Charset cs) const {
  return std::find(listed.begin(), listed.end(), cs) != listed.end() &&
         std::find(refused.begin(), refused.end(), cs) == refused.end();
}

std::optional<std::vector<Charset>> parseCharsetList(std::string_view text) {
  std::vector<Charset> sets;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    auto cs = charsetFromName(text.substr(0, comma));
    if (!cs) return std::nullopt;
    if (std::find(sets.begin(), sets.end(), *cs) == sets.end()) sets.push_back(*cs);
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
  }
  if (sets.empty()) return std::nullopt;
  return sets;
}

}  // namespace voryx::sim
