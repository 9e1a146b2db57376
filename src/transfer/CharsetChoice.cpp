#include "transfer/CharsetChoice.h"

#include <algorithm>

#include "modem/Reply.h"

namespace voryx::transfer {
namespace {

using codec::charsetFromName;

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The order a use asks the sets in.
std::vector<Charset> candidates(CharsetUse use, bool ucs2First) {
  using enum Charset;
  switch (use) {
    case CharsetUse::Phonebook:
      return ucs2First ? std::vector{Ucs2, Gsm, Ira} : std::vector{Hex, Ucs2, Gsm, Ira};
    case CharsetUse::SmsRead:
      return ucs2First ? std::vector{Ucs2, Utf8, Gsm, Ira} : std::vector{Utf8, Ucs2, Gsm, Ira};
    case CharsetUse::SmsWrite:
      break;
  }
  return {Gsm, Ira};
}

}  // namespace

// +CSCS: ("IRA","GSM","UCS2")      +CSCS: "IRA","GSM"      +CSCS: (ira, gsm)
std::optional<std::vector<std::string>> parseCscsTest(std::string_view reply) {
  const modem::Reply answer = modem::classify(reply);
  if (answer.kind != modem::ReplyKind::Ok) return std::nullopt;
  std::vector<std::string> names;
  for (std::string_view line : answer.lines) {
    if (line.starts_with("AT") || line.starts_with("at")) continue;  // an echo
    if (line.starts_with("+CSCS:")) line.remove_prefix(6);
    while (!line.empty()) {
      const std::size_t comma = line.find(',');
      std::string_view item = line.substr(0, comma);
      line.remove_prefix(comma == std::string_view::npos ? line.size() : comma + 1);
      constexpr std::string_view kFrame = " \t()\"";
      item.remove_prefix(std::min(item.size(), item.find_first_not_of(kFrame)));
      const std::size_t last = item.find_last_not_of(kFrame);
      item = last == std::string_view::npos ? std::string_view{} : item.substr(0, last + 1);
      // A set's name: letters, digits and '-', '_', '.'; anything else is not one.
      const bool name = !item.empty() && item.size() <= 32 &&
                        std::all_of(item.begin(), item.end(), [](char c) {
                          return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                 (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
                        });
      if (!name) continue;
      std::string set = upper(item);
      if (std::find(names.begin(), names.end(), set) == names.end()) names.push_back(std::move(set));
    }
  }
  if (names.empty()) return std::nullopt;
  return names;
}

Negotiated chooseCharset(CharsetUse use, const std::optional<std::vector<std::string>>& offered,
                         const CharsetPreference& preference,
                         const std::function<SetAnswer(Charset)>& trySet) {
  std::vector<Charset> order = candidates(use, preference.ucs2First);
  if (preference.forced) {
    order = {*preference.forced};
  } else if (offered) {
    std::vector<Charset> listed;
    for (Charset cs : order) {
      const bool named = std::any_of(offered->begin(), offered->end(), [cs](const std::string& n) {
        return charsetFromName(n) == cs;
      });
      if (named) listed.push_back(cs);
    }
    if (!listed.empty()) order = std::move(listed);
  }
  Negotiated result;
  for (Charset cs : order) {
    switch (trySet(cs)) {
      case SetAnswer::Taken:
        result.chosen = cs;
        return result;
      case SetAnswer::Refused:
        result.refused.push_back(cs);
        break;
      case SetAnswer::Ended:
        result.ended = true;
        return result;
    }
  }
  return result;
}

}  // namespace voryx::transfer
