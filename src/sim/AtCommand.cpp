#include "sim/AtCommand.h"

#include <cctype>

namespace voryx::sim {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '!' || c == '%' || c == '-' ||
         c == '.' || c == '/' || c == ':' || c == '_';
}

// The line without blanks outside quotes; none for an open quote.
std::optional<std::string> compact(std::string_view line) {
  std::string out;
  bool inQuote = false;
  for (char c : line) {
    if (c == '"') inQuote = !inQuote;
    if (inQuote || !isBlank(c)) out += c;
  }
  if (inQuote) return std::nullopt;
  return out;
}

int hexDigit(char c) {
  if (isDigit(c)) return c - '0';
  c = upper(c);
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

std::optional<std::vector<AtCommand>> parseCommandLine(std::string_view raw) {
  auto line = compact(raw);
  if (!line || line->size() < 2 || upper((*line)[0]) != 'A' || upper((*line)[1]) != 'T')
    return std::nullopt;
  const std::string& s = *line;
  std::vector<AtCommand> out;
  std::size_t i = 2;
  while (i < s.size()) {
    AtCommand cmd;
    const char c = s[i];
    if (c == ';') {
      ++i;
      continue;
    }
    if (c == '+' || c == '^' || c == '$' || c == '%' || c == '*') {
      std::size_t j = i + 1;
      while (j < s.size() && isNameChar(s[j])) ++j;
      if (j == i + 1) return std::nullopt;
      for (std::size_t k = i; k < j; ++k) cmd.name += upper(s[k]);
      if (s.compare(j, 2, "=?") == 0) {
        cmd.form = AtCommand::Form::Test;
        j += 2;
      } else if (j < s.size() && s[j] == '?') {
        cmd.form = AtCommand::Form::Read;
        j += 1;
      } else if (j < s.size() && s[j] == '=') {
        cmd.form = AtCommand::Form::Set;
        std::size_t k = ++j;
        bool inQuote = false;
        while (k < s.size() && (inQuote || s[k] != ';')) {
          if (s[k] == '"') inQuote = !inQuote;
          ++k;
        }
        cmd.args = s.substr(j, k - j);
        j = k;
      }
      if (j < s.size() && s[j] != ';') return std::nullopt;
      i = j;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '&') {
      std::size_t j = i + 1;
      cmd.name = std::string(1, upper(c));
      if (c == '&') {
        if (j >= s.size() || !std::isalpha(static_cast<unsigned char>(s[j]))) return std::nullopt;
        cmd.name += upper(s[j++]);
      }
      if (cmd.name == "D") {  // dial: the rest of the line is its argument
        cmd.args = s.substr(j);
        out.push_back(std::move(cmd));
        break;
      }
      const std::size_t digits = j;
      while (j < s.size() && isDigit(s[j])) ++j;
      if (cmd.name == "S") {  // S<n>=<v> or S<n>?
        if (j == digits) return std::nullopt;
        cmd.name += s.substr(digits, j - digits);
        if (j < s.size() && s[j] == '?') {
          cmd.form = AtCommand::Form::Read;
          ++j;
        } else if (j < s.size() && s[j] == '=') {
          cmd.form = AtCommand::Form::Set;
          const std::size_t v = ++j;
          while (j < s.size() && isDigit(s[j])) ++j;
          cmd.args = s.substr(v, j - v);
        } else {
          return std::nullopt;
        }
      } else {
        cmd.args = s.substr(digits, j - digits);
        if (cmd.args.size() > 3) return std::nullopt;
      }
      i = j;
    } else {
      return std::nullopt;
    }
    out.push_back(std::move(cmd));
  }
  return out;
}

std::optional<std::vector<AtArg>> splitArgs(std::string_view args) {
  std::vector<AtArg> out;
  std::size_t i = 0;
  for (;;) {
    AtArg arg;
    while (i < args.size() && isBlank(args[i])) ++i;
    if (i < args.size() && args[i] == '"') {
      arg.quoted = true;
      ++i;
      for (;;) {
        if (i >= args.size()) return std::nullopt;
        char c = args[i++];
        if (c == '"') break;
        if (c == '\\') {
          if (i + 1 >= args.size()) return std::nullopt;
          const int hi = hexDigit(args[i]);
          const int lo = hexDigit(args[i + 1]);
          if (hi < 0 || lo < 0) return std::nullopt;
          c = static_cast<char>(hi * 16 + lo);
          i += 2;
        }
        arg.text += c;
      }
      while (i < args.size() && isBlank(args[i])) ++i;
      if (i < args.size() && args[i] != ',') return std::nullopt;
    } else {
      const std::size_t end = args.find(',', i);
      std::string_view text = args.substr(i, end == std::string_view::npos ? args.size() - i : end - i);
      while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
      if (text.find('"') != std::string_view::npos) return std::nullopt;
      arg.text = std::string(text);
      i = end == std::string_view::npos ? args.size() : end;
    }
    out.push_back(std::move(arg));
    if (i >= args.size()) break;
    ++i;  // the comma
  }
  return out;
}

std::optional<int> argInt(const AtArg& arg) {
  if (arg.quoted || arg.text.empty() || arg.text.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : arg.text) {
    if (!isDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace voryx::sim
