#include "codec/SmsPdu.h"

#include "transfer/Listings.h"
#include "transfer/SmsParts.h"

#include <gtest/gtest.h>

#include <string>

namespace voryx::codec {
namespace {

using namespace transfer;

struct PduCase {
  std::string number;
  int type;
  std::string text;
  std::string hex;
};
const PduCase kPdus[] = {
    // Texts the GSM alphabet holds: packed septets (DCS 00); any other: UCS2 (DCS 08).
    {"393331234567", 145, "Ciao", "0001000C91933313325476000004C374F80D"},
    {"1", 129, "hellohello", "0001000181F100000A" "E8329BFD4697D9EC37"},
    {"1", 129, "5€", "0001000181F1000003" "B54D19"},  // the escape pair counts two
    {"12345", 129, "\u0416", "00010005812143F500080204" "16"},
    {"*100#", 129, "", "00010005811A00FB000000"},
    {"", 129, "A", "000100008100000141"},
    {"+39 (333) p1", 145, "", "0001000691933313000000"},  // only digits reach the address
    {"1", 129, "\U0001F600", "0001000181F1000804D83DDE00"},
    // A sender's name: packed septets, type D0, the semi-octets they fill.
    {"Vodafone", 208, "Hi", "0001000ED0D637396C7EBBCB000002C834"},
    {"SMART", 208, "", "00010009D0D366504A050000" "00"},
    {"+39 SMART", 208, "", "0001000281" "93000000"},  // not a name: its digits
};

TEST(SmsPduTest, EncodesSubmit) {
  for (const auto& c : kPdus) {
    SCOPED_TRACE(c.number + " " + c.text);
    auto pdu = encodeSubmitPdu(c.number, c.type, c.text);
    EXPECT_EQ(pdu.hex, c.hex);
    EXPECT_EQ(pdu.tpduLength, static_cast<int>(c.hex.size() / 2 - 1));
  }
}

TEST(SmsPduTest, CutsToOneMessageWithoutSplittingAPair) {
  const std::string digits = "12";
  std::string zhe;
  for (int i = 0; i < 80; ++i) zhe += "\u0436";
  auto full = encodeSubmitPdu(digits, 129, zhe);
  EXPECT_EQ(full.hex.substr(16, 2), "8C");  // 70 units
  EXPECT_EQ(full.hex.size(), 18u + 280u);

  auto pair = encodeSubmitPdu(digits, 129, zhe.substr(0, 69 * 2) + "\U0001F600");
  EXPECT_EQ(pair.hex.substr(16, 2), "8A");  // 69 units: the pair would straddle the end
  EXPECT_EQ(pair.hex.substr(pair.hex.size() - 4), "0436");

  EXPECT_EQ(encodeSubmitPdu(digits, 129, std::string(170, 'a')).hex.substr(16, 2), "A0");  // 160 septets
  // 159 septets: the escape pair of "€" would straddle the end.
  EXPECT_EQ(encodeSubmitPdu(digits, 129, std::string(159, 'a') + "€").hex.substr(16, 2), "9F");

  // What the write stores of a text, and so what its row holds afterwards: the same cut.
  const std::pair<std::string, std::string> kCuts[] = {
      {zhe, zhe.substr(0, 70 * 2)},
      {zhe.substr(0, 69 * 2) + "\U0001F600", zhe.substr(0, 69 * 2)},
      {std::string(170, 'a'), std::string(160, 'a')},
      {std::string(159, 'a') + "€", std::string(159, 'a')},
      {std::string(158, 'a') + "€b", std::string(158, 'a') + "€"},
      {"short ж", "short ж"},
  };
  for (const auto& [text, kept] : kCuts) EXPECT_EQ(oneMessageText(text), kept) << text;

  auto longNumber = encodeSubmitPdu(std::string(30, '1'), 129, "");
  EXPECT_EQ(longNumber.hex.substr(6, 2), "14");  // 20 digits
}

struct ModeCase {
  std::string text;
  bool pdu;
};
const ModeCase kModes[] = {
    {"Hello @home, 5$", false}, {"Caffè", false}, {"Привет", true},
    {"già", true},    // "à" is 7F: the line's delete would take it
    {"però", true},   // "ò" is 08: backspace
    {"5€", true},     // escape pair: ESC would cancel the text entry
    {"ΞΣ", true},     // Ξ is 1A: Ctrl-Z would end it
    {"tab\there", true},
};

TEST(SmsPduTest, ChoosesPduModeForTextsTextModeCannotCarry) {
  for (const auto& c : kModes) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(needsPduMode(c.text), c.pdu);
  }
  for (const char* name : {"SMART", "Vodafone", "INFO-SMS", "DHL24"}) EXPECT_TRUE(isAlphanumericSender(name)) << name;
  for (const char* number : {"+393331234567", "0612 p 1", "12w3", "+SMART", "Twelve chars", "", "Привет"})
    EXPECT_FALSE(isAlphanumericSender(number)) << number;
}

// The concatenation element among a header's elements, and the text-mode bodies that are a
// part's user data in hex; what does not add up is no part.
TEST(SmsPartsTest, FindsTheConcatenationOfAPart) {
  using std::string_literals::operator""s;
  struct Case {
    std::string header;
    std::optional<MessagePart> part;
  };
  const Case kCases[] = {
      {"\x00\x03\x2A\x03\x01"s, MessagePart{0x2A, 3, 1}},
      {"\x08\x04\x12\x34\x02\x02"s, MessagePart{0x1234, 2, 2}},
      {"\x24\x01\x01\x00\x03\x07\x05\x05"s, MessagePart{7, 5, 5}},  // after a national shift element
      {"\x00\x03\x2A\x01\x01"s, std::nullopt},                      // one part: no long message
      {"\x00\x03\x2A\x03\x00"s, std::nullopt},                      // part 0
      {"\x00\x03\x2A\x03\x04"s, std::nullopt},                      // part above the count
      {"\x00\x04\x2A\x03\x01\x00"s, std::nullopt},                  // the element's length is wrong
      {"\x00\x03\x2A\x03"s, std::nullopt},                          // cut short
      {"\x05\x04\x0B\x84\x23\xF0"s, std::nullopt},                  // a port element only
      {"\xFF\xFF"s, std::nullopt},
      {""s, std::nullopt},
  };
  for (const Case& c : kCases) EXPECT_EQ(concatenationOf(c.header), c.part) << c.header.size();
}

TEST(SmsPartsTest, ReadsAPduModeListing) {
  const std::string listing =
      "\r\n+CMGL: 1,1,,24\r\n0791933395690600440C91\r\n+CMGL: 2,5,,3\r\n00\r\n+CMGL: x,1,,3\r\n0011\r\n"
      "+CMGL: 3,0,\"alpha\",3\r\nGG\r\n+CMGL: 4,3,,1\r\n\r\n+CMGL: 5,2,,1\r\n0a\r\n\r\nOK\r\n";
  const std::vector<PduRow> rows = parsePduCmglListing(listing);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].index, 1);
  EXPECT_EQ(rows[0].status, 1);
  EXPECT_EQ(rows[0].pdu, "0791933395690600440C91");
  EXPECT_EQ(rows[1].index, 5);
  EXPECT_EQ(rows[1].pdu, "0a");
  EXPECT_TRUE(parsePduCmglListing("+CMGL: 1,1,,24\r\nOK\r\n").empty());
}

}  // namespace
}  // namespace voryx::codec
