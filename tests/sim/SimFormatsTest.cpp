// The SIM's own codecs: the GSM 7-bit alphabet, the alpha field forms of ETSI 102 221
// Annex A, BCD numbers and 23.040 PDUs.
#include <gtest/gtest.h>

#include <tuple>

#include "sim/AlphaId.h"
#include "sim/Gsm7.h"
#include "sim/Pdu.h"
#include "sim/Text.h"
#include "support/NameFields.h"

using namespace voryx::sim;

namespace {
std::u32string u32(std::string_view utf8) { return utf8Decode(utf8).value(); }
std::string hex(std::string_view bytes) { return toHex(bytes); }
std::string bytes(std::string_view hexText) { return fromHex(hexText).value(); }
}  // namespace

TEST(Gsm7Test, DefaultAndExtensionTableBothWays) {
  struct Case { std::string_view text, septets; };
  constexpr Case kCases[] = {{"@", "00"}, {"è", "04"}, {"Ä", "5B"}, {"à", "7F"}, {"Ω", "15"},
                             {"€", "1B65"}, {"\\", "1B2F"}, {"a{b}", "611B28621B29"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(hex(gsm7::encode(u32(c.text)).value()), c.septets);
    EXPECT_EQ(gsm7::decode(bytes(c.septets)), u32(c.text));
  }
  EXPECT_FALSE(gsm7::encode(U"ж"));
  EXPECT_FALSE(gsm7::decode("\x80"));
  EXPECT_EQ(gsm7::decode("\x1B\x41"), U"A");  // no extension character: the default one
}

// The packing of whole messages is pinned by the PDU tests; here, its edges.
TEST(Gsm7Test, PacksEightSeptetsIntoSevenOctets) {
  const std::string eight = gsm7::encode(U"12345678").value();
  EXPECT_EQ(gsm7::pack(eight).size(), 7u);
  EXPECT_EQ(gsm7::unpack(gsm7::pack(eight), 8), eight);
  EXPECT_EQ(gsm7::unpack("\xE8", 5).size(), 1u);  // runs out of octets
}

TEST(AlphaTest, DecodesEveryForm) {
  // The three UCS2 forms with carries and padding (tests/support/NameFields.h has ETSI
  // 102 221 Annex A's examples and the FF corners).
  const std::pair<std::string, std::string> kTable[] = {
      {"416E6E61FFFFFFFF", "Anna"},  {"00021104", "@$_è"},          {"5B1B651B3C", "Ä€["},
      {"8103135395A6FFFF", "Sকদ"},   {"810208C141", "сA"},          {"82020410C141", "ёA"},
      {"820104F0C1", "Ա"},           {"8000410042", "AB"},          {"FFFFFFFF", ""},  {"", ""},
      // Broken fields: counts beyond the field, cut headers, odd UCS2 bytes, non-septets.
      {"81FF08C1", "с"}, {"8102", ""}, {"82FF04", ""}, {"800041FF", "A"},
      {"8000", ""},      {"41C142", "A\xEF\xBF\xBD" "B"},
      // Surrogate pairs in the 80 form; escapes inside the 81 and 82 forms; an escape
      // with nothing after it (a name cut inside a pair) is dropped.
      {"80D83DDE000041", "\U0001F600" "A"}, {"80D83D0041", "\xEF\xBF\xBD" "A"},
      {"8103081B65C1", "€с"}, {"820304101B3CC1", "[ё"}, {"8102081B", ""}, {"411B", "A"}, {"1B", ""},
      // Counts of the 81 and 82 forms that take in FF bytes: characters, every one.
      {"81FF08C141FFFF", "сAѿѿ"}, {"8109080041FF", "@Aѿ"}, {"82FF0410C1FFFF", "ё\u048F\u048F"},
      {"8105", ""}, {"8205FFFF", ""},
  };
  for (const auto& [field, name] : kTable) {
    SCOPED_TRACE(field);
    EXPECT_EQ(utf8Encode(decodeAlpha(bytes(field))), name);
  }
  for (const auto& f : voryx::test::kNameFields) {
    SCOPED_TRACE(f.hex);
    EXPECT_EQ(utf8Encode(decodeAlpha(bytes(f.hex))), f.name);
  }
}

// What "HEX" lists of a record's field: the name's bytes without the padding, which read
// as the field does.
TEST(AlphaTest, ListsTheNamesBytes) {
  const std::pair<std::string, std::string> kTable[] = {
      {"805BFFFFFFFFFF", "805BFF"},   {"8000FFFF", "8000FF"},          {"80FFFF", "80"},
      {"8101FFFFFFFF", "8101FFFF"},   {"8105135395A6A6FFFF", "8105135395A6A6FF"},
      {"81FF08C1", "81FF08C1"},       {"8202", "8202"},                {"4142FFFF", "4142"},
      {"FFFFFFFF", ""},
  };
  for (const auto& [field, listed] : kTable) {
    SCOPED_TRACE(field);
    EXPECT_EQ(hex(alphaContent(bytes(field))), listed);
  }
  for (const auto& f : voryx::test::kNameFields) {
    SCOPED_TRACE(f.hex);
    EXPECT_EQ(decodeAlpha(alphaContent(bytes(f.hex))), decodeAlpha(bytes(f.hex)));
  }
}

TEST(AlphaTest, EncodesInTheShortestForm) {
  const std::pair<std::string, std::string> kTable[] = {
      {"Anna", "416E6E61"}, {"Bar €uro", "426172201B6575726F"}, {"Иван", "81040898B2B0BD"},
      {"Sকদ", "8103135395A6"}, {"山田", "805C717530"},
      {"Ωж", "81020815B6"},             // Ω is a GSM character, ж comes from the window
      {"Ґанна", "82050430E0808D8D80"},  // spans two half-pages: 16-bit base
      // A last byte FF: the shortest form still, which reads back whole.
      {"寿", "805BFF"}, {"ÿ", "8000FF"}, {"Sকদদ\u09FF", "8105135395A6A6FF"}, {"Иваѿ", "81040898B2B0FF"},
  };
  for (const auto& [name, field] : kTable) {
    SCOPED_TRACE(name);
    const auto encoded = encodeAlpha(u32(name), 14);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(hex(*encoded), field);
    EXPECT_EQ(utf8Encode(decodeAlpha(*encoded)), name);
  }
  EXPECT_FALSE(encodeAlpha(u32("Иван Петрович Сидоров"), 14));
  EXPECT_FALSE(encodeAlpha(u32("山田太郎山田太郎"), 14));
  for (const auto& f : voryx::test::kNameFields) {
    SCOPED_TRACE(f.name);
    const auto encoded = encodeAlpha(u32(f.name), 14);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(utf8Encode(decodeAlpha(*encoded + std::string(14 - encoded->size(), '\xFF'))), f.name);
  }
}

TEST(PduTest, Numbers) {
  EXPECT_EQ(hex(encodeBcd("*123#,9").value()), "1A32CBF9");
  EXPECT_EQ(decodeBcd(bytes("1A32CBF9FFFF")), "*123#,9");
  EXPECT_FALSE(encodeBcd("39 12"));
  EXPECT_FALSE(encodeBcd("+39"));
}

TEST(PduTest, RoundTripsDeliverAndSubmit) {
  const SmsRecord kMessages[] = {
      {SmsStatus::RecRead, "+393331234567", "24/05/01,10:15:00+08", "Grüße, Ärger? [ok] 5€", false, {}},
      {SmsStatus::RecUnread, "+79161234567", "24/12/31,23:59:59-16", "Привет! Как дела?", true, {}},
      {SmsStatus::StoUnsent, "0612345678", "", "Ricordati il pane", false, {}},
      {SmsStatus::StoSent, "+4930123", "", "Ωж", true, {}},
  };
  for (const auto& m : kMessages) {
    SCOPED_TRACE(m.text);
    const std::string pdu = encodeSmsPdu(m);
    auto back = decodeSmsPdu(pdu, tpduLength(pdu));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::tie(back->number, back->text, back->ucs2, back->timestamp),  // no status in a PDU
              std::tie(m.number, m.text, m.ucs2, m.timestamp));
  }
}

// A sender's name goes as packed septets with type D0, its length the semi-octets they
// fill; one as a network sends it decodes to the name.
TEST(PduTest, AlphanumericSenders) {
  const std::pair<std::string, std::string> kSenders[] = {
      {"SMART", "09D0D366504A05"}, {"Vodafone", "0ED0D637396C7EBBCB"}, {"InfoMsg", "0DD049B7F9DD9C9F01"}};
  for (const auto& [name, address] : kSenders) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(isAlphanumericAddress(name));
    const SmsRecord m{SmsStatus::RecRead, name, "24/05/04,08:00:00+08", "Promo", false, {}};
    const std::string pdu = encodeSmsPdu(m);
    EXPECT_NE(hex(pdu).find("04" + address + "00"), std::string::npos) << hex(pdu);
    auto back = decodeSmsPdu(pdu, tpduLength(pdu));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->number, name);
  }
  auto network = decodeSmsPdu(bytes("00040ED0D637396C7EBBCB0000425040800000800550F9BBFD06"), 25);
  ASSERT_TRUE(network);
  EXPECT_EQ(std::tie(network->number, network->text, network->timestamp),
            std::tie("Vodafone", "Promo", "24/05/04,08:00:00+08"));
  for (const char* number : {"+393331234567", "*123#", "39 1", "", "A very long sender"})
    EXPECT_FALSE(isAlphanumericAddress(number)) << number;
}

TEST(PduTest, RefusesEveryTruncation) {
  const std::string pdu = encodeSmsPdu({SmsStatus::RecRead, "+3933", "24/05/01,10:15:00+08", "Hi there", false, {}});
  for (std::size_t n = 0; n < pdu.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(decodeSmsPdu(pdu.substr(0, n), tpduLength(pdu)));
  }
  EXPECT_FALSE(decodeSmsPdu(pdu + "x", tpduLength(pdu)));
}
