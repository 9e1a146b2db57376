#pragma once
// AT command lines as V.250 defines them: "AT" (any case), then basic commands (a letter
// or '&' and a letter, with an optional number: E0, V1, &F, S7=60, S0?) and extended
// commands ("+NAME" with "=?", "?", "=<args>" or nothing), extended ones ended by ';'.
// Blanks outside quoted strings do not count: "AT V1E0" is V1 and E0.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voryx::sim {

struct AtCommand {
  enum class Form { Exec, Read, Test, Set };
  std::string name;  // upper case: "E", "&F", "S7", "+CPBR"
  Form form = Form::Exec;
  std::string args;  // Set: the text after '=' as sent (quotes kept); basic: the number
};

// The commands of one line (without its CR); an empty list for a bare "AT". None when the
// line does not start with "AT" or cannot be split (an open quote, a stray character).
std::optional<std::vector<AtCommand>> parseCommandLine(std::string_view line);

// One parameter of an extended command. `quoted` strings have their V.250 "\hh" escapes
// resolved; an omitted parameter (",,") is unquoted and empty.
struct AtArg {
  bool quoted = false;
  std::string text;
  bool omitted() const { return !quoted && text.empty(); }
};

// Splits "1,\"+3912\",145,\"41\"" into its parameters. None for an open quote, a bad
// escape, or text after a closing quote.
std::optional<std::vector<AtArg>> splitArgs(std::string_view args);
// A decimal parameter (unquoted, digits only, at most 9 of them).
std::optional<int> argInt(const AtArg& arg);

}  // namespace voryx::sim
