#include "codec/GsmAlphabet.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace voryx::codec {
namespace {

using namespace std::string_literals;

struct TextCase {
  std::string utf8;
  std::optional<std::string> septets;
};
const TextCase kTexts[] = {
    {"Hello", "Hello"},
    {"@$_è", "\x00\x02\x11\x04"s},
    {"ÄÖÑÜ§¿äöñüà", "\x5B\x5C\x5D\x5E\x5F\x60\x7B\x7C\x7D\x7E\x7F"},
    {"ΔΦΓΛΩΠΨΣΘΞ", "\x10\x12\x13\x14\x15\x16\x17\x18\x19\x1A"},
    {"[€]", "\x1B\x3C\x1B\x65\x1B\x3E"},
    {"^{}\\~|\f", "\x1B\x14\x1B\x28\x1B\x29\x1B\x2F\x1B\x3D\x1B\x40\x1B\x0A"},
    {"a\r\nb", "a\r\nb"},
    {"ð", std::nullopt},   // Latin-1, not in the alphabet
    {"`", std::nullopt},   // ASCII, not in the alphabet
    {"\t", std::nullopt},
    {"Иван", std::nullopt},
    {"\xFF", std::nullopt},  // not UTF-8
};

TEST(GsmAlphabetTest, EncodesTextAndTellsWhatItCannotHold) {
  for (const auto& c : kTexts) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(encodeGsmText(c.utf8), c.septets);
    EXPECT_EQ(fitsGsmAlphabet(c.utf8), c.septets.has_value());
    if (c.septets) {
      EXPECT_EQ(decodeGsmText(*c.septets), c.utf8);
    }
  }
}

TEST(GsmAlphabetTest, EverySeptetRoundTrips) {
  for (unsigned s = 0; s < 128; ++s) {
    if (s == kGsmEscape) continue;
    SCOPED_TRACE(s);
    auto code = gsmCode(gsmDefaultChar(static_cast<std::uint8_t>(s)));
    ASSERT_TRUE(code);
    EXPECT_EQ(code->septet, s);
    EXPECT_FALSE(code->extension);
  }
}

struct DecodeCase {
  std::string septets;
  std::string utf8;
};
const DecodeCase kOddSeptets[] = {
    {"A\x1B", "A"},                  // lone escape at the end
    {"\x1B\x1B" "A", " A"},          // escape to a table not defined: a space
    {"\x1B" "A", "A"},               // no extension character: the default one
    {"A\x80" "B", "A\uFFFD" "B"},    // not a septet
    {"\x1B\xC1", "\uFFFD"},
};

TEST(GsmAlphabetTest, DecodesOddSeptets) {
  for (const auto& c : kOddSeptets) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(decodeGsmText(c.septets), c.utf8);
  }
}

struct Utf8Case {
  std::string utf8;
  std::u32string codePoints;
};
const Utf8Case kUtf8[] = {
    {"A\u00E9\u20AC\U0001F600", U"A\u00E9\u20AC\U0001F600"},
    {"\xC3", U"\uFFFD"},                     // cut short
    {"\xE2\x82" "A", U"\uFFFD" "A"},         // cut short, next character kept
    {"\xC0\x80", U"\uFFFD"},                 // overlong NUL
    {"\xED\xA0\x80", U"\uFFFD"},             // encoded surrogate
    {"\xF4\x90\x80\x80", U"\uFFFD"},         // past U+10FFFF
    {"\x80\xFF", U"\uFFFD\uFFFD"},
    {"a\0b"s, U"a\0b"s},
};

TEST(GsmAlphabetTest, ReadsUtf8) {
  for (const auto& c : kUtf8) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(utf8ToCodePoints(c.utf8), c.codePoints);
  }
  EXPECT_EQ(toUtf16(U"\U0001F600"), u"\xD83D\xDE00");
  EXPECT_EQ(utf16ToUtf8(u"\xD83D\xDE00"), "\U0001F600");
  EXPECT_EQ(utf16ToUtf8(u"\u007F\u0080\u07FF\u0800\uFFFF"), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(utf16ToUtf8(u"\xD83D" "A\xDE00"), "\uFFFD" "A\uFFFD");
}

}  // namespace
}  // namespace voryx::codec
