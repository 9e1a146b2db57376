#include "codec/SimName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/NameFields.h"

namespace voryx::codec {
namespace {

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct DecodeCase {
  std::string hex;
  std::string name;
};
const DecodeCase kDecodes[] = {
    {"414243", "ABC"},
    {"8000410042", "AB"},
    {"810208C141", "\u0441A"},
    {"82020410C141", "\u0451A"},
    {"820104F0C1", "\u0531"},  // the carry reaches the high byte
    {"", ""},
    // Plain form: the SIM alphabet, 0xFF padding, Latin-1 for bytes with the top bit set.
    {"00021104", "@$_è"},
    {"5B1B3C", "Ä["},
    {"1B65", "€"},
    {"4142FFFFFFFF", "AB"},
    {"41FF42", "A"},
    {"E9", "é"},
    {"4180", "A\u0080"},  // 80 too is Latin-1, not the alphabet's @
    {"FFFF", ""},
    // 80 form (tests/support/NameFields.h has the FF corners): in pairs from the tag.
    {"8003A90436FFFFFFFF", "Ωж"},
    {"8003a9FF", "Ω"},
    {"80D83DDE00", "\U0001F600"},
    {"80D83D", "\uFFFD"},  // unpaired surrogate
    // 81 and 82 forms: every byte inside the count is a character; past it, padding.
    {"810308C1FF41", "\u0441\u047FA"},
    {"81FF08C141FFFF", "\u0441A\u047F\u047F"},
    {"810308" "1B3CC1", "[\u0441"},
    {"8103081B65C1", "€\u0441"},
    {"820304101B3CC1", "[\u0451"},
    {"8102081B", ""},  // an escape with nothing after it: dropped, here and at the end
    {"411B", "A"},
    {"8101", ""},
    {"8201", ""},
    {"8202FFFFFF41", "\u007EA"},  // base FFFF + 7F wraps within 16 bits
    // Odd digit count: the lone last digit has no byte.
    {"4142434", "ABC"},
    {"8", ""},
    // A pair that is not hexadecimal gives U+FFFD for the character it belongs to.
    {"41ZZ43", "A\uFFFD" "C"},
    {"80004100ZZ", "A\uFFFD"},
    {"8102ZZC141", "\uFFFD" "A"},
    {"81ZZ08C141", "\u0441A"},
    {"81ZZ08C141FFFF", "\u0441A"},  // no count to bound the name: FF at the end pads it
    {"81ZZ08FFFF", ""},              // ... down to no character at all
    {"ZZ41", "\uFFFD" "A"},
    {std::string("41\0" "042", 6), "A\uFFFD" "B"},
    // Long names come whole; an 81 count stops at 255.
    {repeat("41", 300), std::string(300, 'A')},
    {"80" + repeat("0436", 300), repeat("ж", 300)},
    {"81FF08" + repeat("B6", 300), repeat("ж", 255)},
};

TEST(SimNameTest, Decodes) {
  for (const auto& c : kDecodes) {
    SCOPED_TRACE(c.hex.substr(0, 20));
    EXPECT_EQ(decodeSimName(c.hex), c.name);
  }
  for (const auto& f : test::kNameFields) {
    SCOPED_TRACE(f.hex);
    EXPECT_EQ(decodeSimName(f.hex), f.name);
  }
}

struct EncodeCase {
  std::string name;
  int maxSIMLen;
  std::string hex;
};
// The most compact form that holds the whole name; a cut only when none does.
const EncodeCase kEncodes[] = {
    {"Anna", 14, "416e6e61"},
    {"Иван", 14, "81040898B2B0BD"},
    {"Ω", 14, "15"},  // in the default alphabet
    {"Ωж", 14, "81020815B6"},
    {"", 14, ""},
    // Plain form through the SIM alphabet; an escape pair takes two bytes, never split.
    {"@$_è", 14, "00021104"},
    {"Ä[", 14, "5b1b3c"},
    {"ABCDEFGHIJKLMNOPQRST", 14, "4142434445464748494a4b4c4d4e"},
    {"ABCDEFGHIJKLM[", 14, "4142434445464748494a4b4c4d"},
    // Latin-1 letters outside the alphabet: the 81 form's window at U+0080 holds them
    // with the default characters, where the 80 form would cut the name.
    {"Zoë Müller", 14, "810A015A6FEB204D7E6C6C6572"},
    {"Søren ð", 14, "810701530C72656E20F0"},
    // One character: the 80 form is the shortest, also when its last byte is FF.
    {"ð", 14, "8000f0FFFFFFFFFFFFFFFF"},
    {"寿", 14, "805bffFFFFFFFFFFFFFFFF"},
    {"ÿ", 3, "8000ff"},
    // A window form whose last character is the byte FF: the count says it is one.
    {"Sকদদ\u09FF", 14, "8105135395A6A6FF"},
    {"Иваѿ", 14, "81040898B2B0FF"},
    // Windows: 81 aligned below U+8000, 82 anywhere, 80 when none holds every character.
    {"Ґа", 14, "8004900430FFFFFFFF"},
    {"ҐаҐаҐа", 14, "82060430E080E080E080"},
    {"中文", 14, "804e2d6587FFFFFFFF"},
    {"體體體", 14, "82039AD4808080"},
    {"Иван@", 14, "81050898B2B0BD00"},
    {"Иван[", 14, "80041804320430043d005b"},
    {"Иванð", 14, "80041804320430043d00f0"},
    // Length budget: the longest beginning a form holds.
    {"ИИИИИИИИИИИИИИ", 14, "810B089898989898989898989898"},
    {"ΩжΩжΩжΩж", 14, "81080815B615B615B615B6"},
    {"ИванИванИван中", 14, "80041804320430043d04180432"},  // 80 only: cut as that form cuts
    {"\U0001F600", 14, "80d83dde00FFFFFFFF"},
    {"A\U0001F600", 2, "41"},  // the cut does not leave half a pair
    {"\U0001F600", 4, "80FFFF"},
    {"Anna", 0, ""},
    {"Anna", -5, ""},
    // 300-character names keep the budget in every form.
    {std::string(300, 'A'), 241, repeat("41", 241)},
    {repeat("ж", 300), 241, "81EE08" + repeat("B6", 238)},
    {repeat("ж", 300), 300, "81FF08" + repeat("B6", 255)},
    {repeat("中文", 150), 241, "80" + repeat("4e2d6587", 60)},
};

TEST(SimNameTest, Encodes) {
  for (const auto& c : kEncodes) {
    SCOPED_TRACE(c.name.substr(0, 20) + " " + std::to_string(c.maxSIMLen));
    EXPECT_EQ(encodeSimName(c.name, c.maxSIMLen), c.hex);
  }
}

TEST(SimNameTest, WrittenNamesReadBack) {
  const char* names[] = {"Anna", "Straße 1", "Иван Петров", "Ґанна", "Ωмега", "中文名字",
                         "José & Zoë", "[work] €", "Μαρία", "\U0001F600 ok", "ҐаҐаҐа",
                         "體體體", "Zoë Müller", "Zoÿ", "仿仿", "\u7FFF\u7FFF"};
  for (std::string_view name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(decodeSimName(encodeSimName(name, 241)), name);
  }
  for (const auto& f : test::kNameFields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(decodeSimName(encodeSimName(f.name, 14)), f.name);
  }
}

// What an edit keeps of a name is what the write will store: never more, never less.
TEST(SimNameTest, FitsNamesToWhatTheSimHolds) {
  for (const auto& c : kEncodes) {
    SCOPED_TRACE(c.name.substr(0, 20) + " " + std::to_string(c.maxSIMLen));
    const std::string fitted = fitSimName(c.name, c.maxSIMLen);
    EXPECT_TRUE(c.name.starts_with(fitted));
    EXPECT_EQ(decodeSimName(encodeSimName(fitted, c.maxSIMLen)), fitted);
    EXPECT_EQ(fitted, decodeSimName(c.hex));
  }
  struct Fit {
    std::string name;
    int maxSIMLen;
    std::string fitted;
  };
  const Fit kFits[] = {
      {"Alessandro Manzoni", 14, "Alessandro Man"},  // 14 characters of the plain form
      {"Александр Пушкин", 14, "Александр П"},       // 81: 3 bytes, then 11 characters
      {"[Pay] {€}", 14, "[Pay] {€}"},                // 14 bytes with its 4 escape pairs
      {"ab[[", 3, "ab"},                             // never half an escape pair
      {"@home 0", 14, "@home 0"},                    // '@' is the alphabet's 0x00
      {"中文名字中文名字", 14, "中文名字中文"},         // 80: 1 + 2 a character
  };
  for (const auto& f : kFits) EXPECT_EQ(fitSimName(f.name, f.maxSIMLen), f.fitted) << f.name;
}

// The codec's trace reaches the debug log's sink from both directions.
TEST(SimNameTest, SendsDebugRecordsToTheSink) {
  std::vector<std::string> records;
  CodecLog log = [&records](const std::string& r) { records.push_back(r); };
  encodeSimName("Иван", 14, log);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back(), "ucs21 |81040898B2B0BD|\n");
  decodeSimName("810208C141", log);
  EXPECT_EQ(records.back(), "81 nomeucs2[3] |193| puntatore |0|\n");
}

struct NumberCase {
  std::string number;
  std::string filtered;
  std::string withPlus;
  int type;
};
const NumberCase kNumbers[] = {
    {"+39 (02) 123-456", "3902123456", "+3902123456", 145},
    {"0039021234", "0039021234", "0039021234", 129},
    {"12p34w5;6,7#*", "12345;6,7#*", "12345;6,7#*", 129},
    {"1+2", "12", "1+2", 129},
    {" +39", "39", "+39", 129},
    {"", "", "", 129},
};

TEST(SimNameTest, FiltersNumbers) {
  for (const auto& c : kNumbers) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(filterNumber(c.number, false), c.filtered);
    EXPECT_EQ(filterNumber(c.number, true), c.withPlus);
    EXPECT_EQ(numberType(c.number), c.type);
  }
}

}  // namespace
}  // namespace voryx::codec
