#pragma once
// The fields of one line of a modem's reply, read in turn: the listings and the SIM's
// state replies ("+CPBR: 1,"0123",129,"Anna"", "+CPINR: SIM PIN,3,3") share it. Pure,
// any thread.
#include <charconv>
#include <optional>
#include <string_view>

#include "base/Text.h"

namespace voryx::transfer {

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A whole field as a non-negative int; nullopt for anything else, a value too large
// for an int included.
inline std::optional<int> toInt(std::string_view s) {
  s = trim(s);
  if (s.empty() || s[0] < '0' || s[0] > '9') return std::nullopt;
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return value;
}

struct Field {
  std::string_view text;
  bool quoted = false;
};

// Reads one line field by field. Each reader skips blanks, takes its field and the comma
// after it; it fails when the previous field was not followed by a comma, so a line of
// the wrong shape fails at the first field that does not fit. A comma inside quotes is
// text.
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view line) : rest_(line) {}

  bool expect(std::string_view literal) {
    skipBlanks();
    if (rest_.substr(0, literal.size()) != literal) return false;
    rest_.remove_prefix(literal.size());
    more_ = true;
    return true;
  }

  // Digits up to the next comma, blank or other text (a value too large for an int
  // fails).
  std::optional<int> integer() {
    if (!more_) return std::nullopt;
    skipBlanks();
    std::size_t n = 0;
    while (n < rest_.size() && rest_[n] >= '0' && rest_[n] <= '9') ++n;
    auto value = toInt(rest_.substr(0, n));
    rest_.remove_prefix(n);
    endField();
    return value;
  }

  std::optional<std::string_view> quoted() {
    if (!more_) return std::nullopt;
    skipBlanks();
    if (rest_.empty() || rest_[0] != '"') return fail();
    const std::size_t close = rest_.find('"', 1);
    if (close == std::string_view::npos) return fail();
    const std::string_view value = rest_.substr(1, close - 1);
    rest_.remove_prefix(close + 1);
    endField();
    return value;
  }

  // Whether a comma followed the last field read.
  bool more() const { return more_; }

  // A quoted field (without its quotes) or the bare text up to the next comma.
  std::optional<Field> field() {
    if (!more_) return std::nullopt;
    skipBlanks();
    if (!rest_.empty() && rest_[0] == '"') {
      auto q = quoted();
      if (!q) return std::nullopt;
      return Field{*q, true};
    }
    const std::size_t comma = rest_.find(',');
    const std::string_view value = trim(rest_.substr(0, comma));
    rest_.remove_prefix(comma == std::string_view::npos ? rest_.size() : comma);
    endField();
    return Field{value, false};
  }

 private:
  void skipBlanks() {
    while (!rest_.empty() && isBlank(rest_.front())) rest_.remove_prefix(1);
  }
  void endField() {
    skipBlanks();
    more_ = !rest_.empty() && rest_.front() == ',';
    if (more_) rest_.remove_prefix(1);
  }
  std::nullopt_t fail() {
    more_ = false;
    return std::nullopt;
  }

  std::string_view rest_;
  bool more_ = false;
};

}  // namespace voryx::transfer
