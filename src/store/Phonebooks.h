#pragma once
// The phonebook stores a modem may offer (27.007 +CPBS): the SIM phonebook and the others
// beside it. Each has a table of its own in the local database, with its own marks, its
// own capacity and name length in the preferences, and its own SIM identity; the SIM
// phonebook's table is `sim`, as it has always been, so that older databases open as
// they are.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voryx {

enum class Phonebook { SM, ON, FD, ME, EN, SDN };

struct PhonebookKind {
  Phonebook book;
  std::string_view code;   // as +CPBS names it
  std::string_view table;  // its table in the local database
  bool writable;           // EN and SDN are the SIM's own: read only
  bool pin2;               // writes need PIN2 (given with AT+CPBS)
  std::string_view title;  // the screen's and the shell's name for it
};

inline constexpr std::array<PhonebookKind, 6> kPhonebooks{{
    {Phonebook::SM, "SM", "sim", true, false, "SIM phonebook"},
    {Phonebook::ON, "ON", "sim_on", true, false, "Own numbers"},
    {Phonebook::FD, "FD", "sim_fd", true, true, "Fixed dialling"},
    {Phonebook::ME, "ME", "sim_me", true, false, "Phone memory"},
    {Phonebook::EN, "EN", "sim_en", false, false, "Emergency numbers"},
    {Phonebook::SDN, "SDN", "sim_sdn", false, false, "Service numbers"},
}};

inline const PhonebookKind& phonebookKind(Phonebook book) {
  return kPhonebooks[static_cast<std::size_t>(book)];
}

// "sm", "FD" ...: the store by its code, letter case ignored; nothing for another text.
inline std::optional<Phonebook> phonebookNamed(std::string_view code) {
  for (const PhonebookKind& kind : kPhonebooks) {
    if (kind.code.size() != code.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < code.size() && same; ++i) {
      const char c = code[i] >= 'a' && code[i] <= 'z' ? static_cast<char>(code[i] - 'a' + 'A') : code[i];
      same = c == kind.code[i];
    }
    if (same) return kind.book;
  }
  return std::nullopt;
}

// A preference kept per store: the SIM phonebook's key as it stands ("maxSIM"), another
// store's with its code ("maxSIM.FD").
inline std::string phonebookKey(std::string_view key, Phonebook book) {
  std::string out(key);
  if (book != Phonebook::SM) out += "." + std::string(phonebookKind(book).code);
  return out;
}

// The stores of a modem's list (parseCpbsTest) that this program knows, in the modem's
// order, as a preference keeps them: "SM,FD,ON".
inline std::string phonebookList(const std::vector<std::string>& codes) {
  std::string out;
  for (const std::string& code : codes) {
    if (!phonebookNamed(code)) continue;
    out += (out.empty() ? "" : ",") + std::string(phonebookKind(*phonebookNamed(code)).code);
  }
  return out;
}
// The stores of such a text; unknown names are skipped, each store taken once.
inline std::vector<Phonebook> phonebooksIn(std::string_view list) {
  std::vector<Phonebook> out;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const auto book = phonebookNamed(list.substr(0, comma));
    if (book && std::find(out.begin(), out.end(), *book) == out.end()) out.push_back(*book);
    list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
  }
  return out;
}

}  // namespace voryx
