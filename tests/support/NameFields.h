#pragma once
// Name fields as SIMs hold them and the names they read as: the three UCS2 forms' worked
// examples of ETSI TS 102 221 Annex A, and the corners where an FF byte is a character
// (the low byte of U+5BFF, U+00FF, U+7FFF; the window's last character inside an 81 or
// 82 count) rather than padding. One table for both codecs (the app's and the virtual
// SIM's) and for the reads over the phonebook listing and over the SIM's records.
#include <string_view>

namespace voryx::test {

struct NameField {
  std::string_view hex;   // the field's bytes
  std::string_view name;  // UTF-8
  // The field as the start of a record's alpha field, FF filling the rest, reads the
  // same: it goes on the virtual SIM in the listing and record reads.
  bool inRecord;
};

inline constexpr NameField kNameFields[] = {
    // Annex A, example 1 (80: three UCS2 characters, two FF of padding), example 2 (81:
    // five characters, the fifth the byte FF inside the count, i.e. U+09FF; one FF of
    // padding past it) and example 3 (82: base pointer 0530).
    {"800053099509A6FFFF", "Sকদ", true},
    {"8105135395A6A6FFFF", "Sকদদ\u09FF", true},
    {"820505302D82D32D31", "-Բփ-1", true},
    // 80: the bytes after the tag in pairs first; a pair FF FF ends the name, a lone last
    // byte is none.
    {"805BFFFFFF", "寿", true},
    {"804EFF", "仿", true},
    {"8000FF", "ÿ", true},
    {"8000FFFFFF", "ÿ", true},
    {"8000410042FF", "AB", true},
    {"80004100FFFF", "Aÿ", true},
    {"80004100", "A", false},  // a lone 00: in a record it pairs with the padding
    {"800041FFFF0042", "A", true},
    {"80", "", true},
    // 81 and 82: exactly the count's characters, FF included; past it, padding; a count
    // past the field's end gives the bytes present.
    {"8101FFFF", "\u7FFF", true},
    {"8101FFFFFFFF", "\u7FFF", true},
    {"810208C1FF", "с\u047F", true},
    {"810208C141FFFF", "сA", true},
    {"810508C141FFFFFF", "сA\u047F\u047F\u047F", true},
    {"810508C141", "сA", false},
    {"82020410FF41", "\u048FA", true},
    {"82FF0410C1", "ё", false},
    {"8100084141", "", true},
    // Plain: the GSM alphabet up to its FF padding.
    {"416E6E61FFFF", "Anna", true},
};

}  // namespace voryx::test
