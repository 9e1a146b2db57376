#include "transfer/Listings.h"

#include "codec/Charset.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace voryx::transfer {

using namespace codec;
namespace {

using namespace std::string_literals;

struct RangeCase {
  std::string reply;
  bool found;
  std::optional<int> maxSIM;
  std::optional<int> maxSIMLen;
  std::optional<int> maxNumberLen = 40;
};
// Numbers as the capacity replies give them: blanks skipped, read up to the first
// character that is no digit, 0 when there is none; a value too large for an int is none.
const RangeCase kRanges[] = {
    {"\r\n+CPBR: (1-250),40,14\r\n\r\nOK\r\n", true, 250, 14},
    {"+CPBR: ( 1 - 250 ) , 40 , 14\r\nOK\r\n", true, 250, 14},
    {"+CPBR: (1-250),40,14,0,0\r\nOK\r\n", true, 250, 14},
    {"+CPBR:(1-250),40,18\r\nOK\r\n", true, 250, 18},
    {"^BOOT:20,0,0,0,72\r\n+CPBR:  ( 1-250 ), 40, 18, \"\", 0\r\n^RSSI:14\r\nOK\r\n", true, 250, 18},
    {"+CPBR: (1-250),40,14OK", true, 250, 14},
    {"RING\r\n+CPBR: (1-100),20,18\r\nOK\r\n", true, 100, 18, 20},
    {"+CPBR: (1-250),,14\r\nOK\r\n", true, 250, 14, std::nullopt},  // the number's length left out
    {"+CPBR: (1-250),80\r\nOK\r\n", true, 250, std::nullopt, 80},
    {"+CPBR: (1-)\r\nOK\r\n", true, 0, std::nullopt, std::nullopt},
    {"+CPBR: (1-250x),40,14\r\n", true, 250, 14},
    {"+CPBR: (1-250)\r\nOK\r\n", true, 250, std::nullopt, std::nullopt},
    {"+CPBR: (1250),40,14\r\n", true, std::nullopt, std::nullopt, std::nullopt},
    {"+CPBR: (1-250", true, std::nullopt, std::nullopt, std::nullopt},
    {"+CPBR: (1-abc),40,x\r\n", true, 0, 0},
    {"+CPBR: (1-99999999999),40,14\r\n", true, std::nullopt, std::nullopt, std::nullopt},
    {"+CPBR: (1-250),40,99999999999\r\n", true, 250, std::nullopt},
    {"+CPBR: (1-250),99999999999,14\r\n", true, 250, 14, std::nullopt},
    {"OK\r\n", false, std::nullopt, std::nullopt, std::nullopt},
    {"+CME ERROR: 10\r\n", false, std::nullopt, std::nullopt, std::nullopt},
    {"", false, std::nullopt, std::nullopt, std::nullopt},
};

TEST(ListingsTest, ParsesTheLocationRange) {
  for (const auto& c : kRanges) {
    SCOPED_TRACE(c.reply);
    auto r = parseCpbrTest(c.reply);
    EXPECT_EQ(r.found, c.found);
    EXPECT_EQ(r.maxSIM, c.maxSIM);
    EXPECT_EQ(r.maxSIMLen, c.maxSIMLen);
    EXPECT_EQ(r.maxNumberLen, c.maxNumberLen);
  }
}

struct CpbrCase {
  std::string listing;
  std::vector<std::string> rows;  // "location|number|type|name"
};
const CpbrCase kPhonebooks[] = {
    {"+CPBR: 3,\"3912345\",145,\"414243\"\r\n\r\nOK\r\n", {"3|+3912345|145|414243"}},
    {"+CPBR: 3,\"3912345\",129,\"414243\"\r\n\r\nOK\r\n", {"3|3912345|129|414243"}},
    {"+CPBR: 3,\"+3912345\",145,\"41\"\r\n", {"3|+3912345|145|41"}},
    // Blank line or single line break between entries; unsolicited codes in between.
    {"\r\n+CPBR: 1,\"1\",129,\"41\"\r\n\r\n+CPBR: 2,\"2\",129,\"42\"\r\n\r\nOK\r\n",
     {"1|1|129|41", "2|2|129|42"}},
    {"+CPBR: 1,\"1\",129,\"41\"\r\n+CPBR: 2,\"2\",129,\"42\"\r\nOK\r\n",
     {"1|1|129|41", "2|2|129|42"}},
    {"+CPBR: 1,\"1\",129,\"41\"\r\n+CMTI: \"SM\",3\r\nRING\r\n\r\n+CPBR: 2,\"2\",129,\"42\"\nOK",
     {"1|1|129|41", "2|2|129|42"}},
    // Extra fields after the name, an empty name and number, blanks.
    {"+CPBR: 7,\"\",129,\"\",0\r\n+CPBR:  8 , \"5\" , 129 , \"43\"\r\n", {"7||129|", "8|5|129|43"}},
    // As real modems list: "+" already there, out of order, status lines between the
    // entries, blanks after commas, fields after the name, lower-case FF padding, an
    // empty name left unquoted or left out.
    {"+CPBR: 5,\"+3912\",145,\"41\",0\r\n^RSSI:14\r\n+CPBR: 2, \"2\", 129, \"416e6e61ffffffff\",\"\",129,\"\"\r\n"
     "^BOOT:20,0,0,0,72\r\n+CMTI: \"SM\",1\r\n+CPBR: 3,\"3\",129,\r\n+CPBR: 4,\"4\",129\r\n\r\nOK\r\n",
     {"5|+3912|145|41", "2|2|129|416e6e61ffffffff", "3|3|129|", "4|4|129|"}},
    // NUL bytes do not end the listing.
    {"+CPBR: 1,\"1\",129,\"41\"\r\n\0\r\n+CPBR: 2,\"2\",129,\"42\"\r\n"s,
     {"1|1|129|41", "2|2|129|42"}},
    // Lines that do not fit are skipped: truncated, garbage, over-long location.
    {"+CPBR: 1,\"1\",129,\"41\"\r\n+CPBR: 2,\"2\",129,\"4", {"1|1|129|41"}},
    {"+CPBR: 99999999999,\"1\",129,\"41\"\r\n+CPBR: x,\"1\",129,\"41\"\r\n+CPBR: 4,5,129,\"41\"\r\n"
     "+CPBR: -1,\"1\",129,\"41\"\r\n+CPBR: 9\r\n+CPBR: 6,\"6\"\r\n+CPBR:\r\n",
     {}},
    {"OK\r\n", {}},
    {"", {}},
};

TEST(ListingsTest, ParsesEveryPhonebookLine) {
  for (const auto& c : kPhonebooks) {
    SCOPED_TRACE(c.listing);
    std::vector<std::string> rows;
    for (const auto& r : parseCpbrListing(c.listing)) {
      rows.push_back(std::to_string(r.location) + "|" + r.number + "|" + r.type + "|" + r.name);
    }
    EXPECT_EQ(rows, c.rows);
  }
}

struct CpmsCase {
  std::string reply;
  bool found;
  std::optional<int> maxSMS;
};
const CpmsCase kStores[] = {
    {"\r\n+CPMS: 3,30,3,30,3,30\r\n\r\nOK\r\n", true, 30},
    {"+CPMS: \"SM\",3,30,\"SM\",3,30\r\nOK\r\n", true, 30},
    {"+CPMS: 3\r\n", true, std::nullopt},
    {"+CPMS: 3, 30x,3\r\n", true, 30},
    {"+CPMS: 3,99999999999,3\r\n", true, std::nullopt},
    {"OK\r\n", false, std::nullopt},
};

TEST(ListingsTest, ParsesTheStoreSize) {
  for (const auto& c : kStores) {
    SCOPED_TRACE(c.reply);
    auto s = parseCpmsRead(c.reply);
    EXPECT_EQ(s.found, c.found);
    EXPECT_EQ(s.maxSMS, c.maxSMS);
  }
}

struct CmglCase {
  std::string listing;
  std::vector<std::string> rows;  // "index|status|number|text"
};
const CmglCase kMessages[] = {
    // Blank-line separated, type fourth.
    {"+CMGL: 4,\"STO UNSENT\",\"3331234567\",145,\r\nHello\r\n\r\n"
     "+CMGL: 5,\"STO SENT\",\"123\",129,\r\nBye\r\n\r\nOK\r\n",
     {"4|STO UNSENT|+3331234567|Hello", "5|STO SENT|123|Bye"}},
    {"+CMGL: 4,\"STO UNSENT\",\"3331234567\",,\r\nHello\r\n\r\nOK\r\n",
     {"4|STO UNSENT|3331234567|Hello"}},
    // 27.005 layouts: a comma inside the time stamp; the number's own "+" without a type.
    {"\r\n+CMGL: 1,\"REC READ\",\"+393331234567\",,\"24/01/05,10:20:30+04\"\r\nCiao\r\n"
     "+CMGL: 2,\"REC UNREAD\",\"393331234567\",\"Anna\",\"24/01/05,10:21:00+04\"\r\nSecond\r\n"
     "\r\nOK\r\n",
     {"1|REC READ|+393331234567|Ciao", "2|REC UNREAD|393331234567|Second"}},
    {"+CMGL: 1,\"REC READ\",\"393331234567\",,\"24/01/05,10:20:30+04\",145,4\r\nCiao\r\n"
     "+CMGL: 2,\"STO UNSENT\",\"555\",,,129,2\r\nHi\r\nOK\r\n",
     {"1|REC READ|+393331234567|Ciao", "2|STO UNSENT|555|Hi"}},
    // A blank line, an "OK" line and an "ERROR" line inside texts stay there.
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nline1\r\n\r\nline2\r\n\r\nOK\r\n",
     {"1|REC READ|1|line1\r\n\r\nline2"}},
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nOK\r\n+CMGL: 2,\"REC READ\",\"2\",,\r\nERROR\r\nOK\r\n",
     {"1|REC READ|1|OK", "2|REC READ|2|ERROR"}},
    // Unsolicited codes before a header or the final result are not text.
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nHello\r\n\r\n+CMTI: \"SM\",3\r\n\r\n"
     "+CMGL: 2,\"REC READ\",\"2\",,\r\nBye\r\nRING\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",4\r\n",
     {"1|REC READ|1|Hello", "2|REC READ|2|Bye"}},
    // NUL filler after a message is no part of its text.
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nHello\r\n\0\0\0\0\r\n+CMGL: 2,\"REC READ\",\"2\",,\r\nBye\r\n\0\0\0\0\r\n\r\nOK\r\n"s,
     {"1|REC READ|1|Hello", "2|REC READ|2|Bye"}},
    // Line feeds only, an empty text, a NUL byte in a text.
    {"+CMGL: 1,\"REC READ\",\"1\",,\na\nb\n+CMGL: 2,\"REC READ\",\"2\",,\n\n+CMGL: 3,\"REC READ\",\"3\",,\nx\0y\nOK\n"s,
     {"1|REC READ|1|a\nb", "2|REC READ|2|", "3|REC READ|3|x\0y"s}},
    // Truncated: the text so far; a cut header gives no row and no text to the one before.
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nHel", {"1|REC READ|1|Hel"}},
    {"+CMGL: 1,\"REC READ\",\"1\"\r\nNo alpha\r\nOK\r\n", {"1|REC READ|1|No alpha"}},  // nothing after the number
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nHello\r\n+CMGL: 2,\"REC RE", {"1|REC READ|1|Hello"}},
    {"+CMGL: 99999999999,\"REC READ\",\"1\",,\r\nlost\r\n+CMGL: x\r\nlost\r\n+CMGL: -1,\"REC READ\",\"1\",,\r\nlost\r\nOK\r\n", {}},
    {"OK\r\n", {}},
    {"+CMS ERROR: 321\r\n", {}},
    {"", {}},
};

TEST(ListingsTest, ParsesEveryMessage) {
  for (const auto& c : kMessages) {
    SCOPED_TRACE(c.listing);
    std::vector<std::string> rows;
    for (const auto& r : parseCmglListing(c.listing)) {
      rows.push_back(std::to_string(r.index) + "|" + r.status + "|" + r.number + "|" + r.text);
    }
    EXPECT_EQ(rows, c.rows);
  }
}

// Senders as modems list them: numbers plain or as UCS2 hex, names ("SMART") plain or as
// UCS2 hex, with the +CSDH=1 type (208 = 0xD0, alphanumeric) or without any. What the
// SMS read stores: decodeSender, then "+" for type 145.
TEST(ListingsTest, ReadsEverySender) {
  struct Case {
    Charset cs;
    std::string listing;
    std::vector<std::string> senders;
  };
  const Case kCases[] = {
      // Quectel, UCS2 with +CSDH=1: name and numbers in hex, the types after the stamp.
      {Charset::Ucs2,
       "+CMGL: 1,\"REC READ\",\"0053004D004100520054\",,\"24/05/04,08:00:00+08\",208,5\r\n00500072006F006D006F\r\n"
       "+CMGL: 2,\"REC READ\",\"002B00330039003300330033\",,\"24/05/04,08:00:00+08\",145,2\r\n00480069\r\n"
       "+CMGL: 3,\"REC READ\",\"00330039003300330033\",,\"24/05/04,08:00:00+08\",145,2\r\n00480069\r\n"
       "+CMGL: 4,\"REC READ\",\"041C04220421\",,\"24/05/04,08:00:00+08\",208,3\r\n00480069\r\nOK\r\n",
       {"SMART", "+39333", "+39333", "МТС"}},
      // Huawei, UCS2 without +CSDH: no type; a name has hex letters, a number stays a number.
      {Charset::Ucs2,
       "+CMGL: 1,\"REC UNREAD\",\"0056006F006400610066006F006E0065\",,\"24/05/04,08:00:00+08\"\r\n0041\r\n\r\n"
       "+CMGL: 2,\"REC READ\",\"1234\",,\"24/05/04,08:00:00+08\"\r\n0041\r\n\r\n"
       "+CMGL: 3,\"REC READ\",\"12345678\",\"\",\"24/05/04,08:00:00+08\"\r\n0041\r\n\r\n"
       "+CMGL: 4,\"REC READ\",\"0041004200430044\",,\"24/05/04,08:00:00+08\"\r\n0041\r\n\r\n"
       "+CMGL: 5,\"REC READ\",\"ABCDEF12\",,\"24/05/04,08:00:00+08\"\r\n0041\r\n\r\nOK\r\n",
       {"Vodafone", "1234", "12345678", "0041004200430044", "ABCDEF12"}},
      // Digits only with the alphanumeric type: ASCII units are a name, others a number.
      {Charset::Ucs2,
       "+CMGL: 1,\"REC READ\",\"0041004200430044\",,\"24/05/04,08:00:00+08\",208,1\r\n0041\r\n"
       "+CMGL: 2,\"REC READ\",\"1234\",,\"24/05/04,08:00:00+08\",208,1\r\n0041\r\n"
       "+CMGL: 3,\"REC READ\",\"1234\",,\"24/05/04,08:00:00+08\",129,1\r\n0041\r\nOK\r\n",
       {"ABCD", "1234", "1234"}},
      // Modems that list names plain under UCS2, type fourth; and under IRA, GSM, UTF-8.
      {Charset::Ucs2, "+CMGL: 1,\"REC READ\",\"SMART\",208,\r\n0041\r\nOK\r\n", {"SMART"}},
      {Charset::Ira, "+CMGL: 1,\"REC READ\",\"SMART\",,\"24/05/04,08:00:00+08\",208,1\r\nA\r\nOK\r\n", {"SMART"}},
      {Charset::Gsm, "+CMGL: 1,\"REC READ\",\"Info\x11" "24\",,\"24/05/04,08:00:00+08\",208,1\r\nA\r\nOK\r\n", {"Info_24"}},
      {Charset::Utf8, "+CMGL: 1,\"REC READ\",\"Vodafone\",,\"24/05/04,08:00:00+08\",208,1\r\nA\r\n"
                      "+CMGL: 2,\"REC READ\",\"393331234567\",,\"24/05/04,08:00:00+08\",145,1\r\nA\r\nOK\r\n",
       {"Vodafone", "+393331234567"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.listing);
    std::vector<std::string> senders;
    for (const SmsRow& r : parseCmglListing(c.listing)) {
      senders.push_back(numberWithPlus(decodeSender(r.listedNumber, r.type, c.cs), r.type));
    }
    EXPECT_EQ(senders, c.senders);
  }
}

// +CMGW: 5
TEST(ListingsTest, ReadsTheStoredIndex) {
  EXPECT_EQ(parseCmgwWrite("\r\n+CMGW: 5\r\n\r\nOK\r\n"), 5);
  EXPECT_EQ(parseCmgwWrite("\r\n+CMTI: \"SM\",2\r\n+CMGW: 12\r\nOK\r\n"), 12);
  EXPECT_EQ(parseCmgwWrite("\r\nOK\r\n"), std::nullopt);
  EXPECT_EQ(parseCmgwWrite("+CMGW: x\r\nOK\r\n"), std::nullopt);
  EXPECT_EQ(parseCmgwWrite("+CMGW: 99999999999\r\n"), std::nullopt);
}

// Which SIM: the ICCID in the standard and the makers' reply forms, the IMSI; garbage
// and refusals give nothing.
TEST(ListingsTest, ReadsTheSimsIdentity) {
  struct Case { const char* reply; std::optional<std::string> iccid, imsi; };
  const std::string kIccid = "89390100001234567895";
  const Case kCases[] = {
      {"\r\n+CCID: 89390100001234567895\r\n\r\nOK\r\n", kIccid, std::nullopt},
      {"AT+CCID\r\r\n+CCID: \"89390100001234567895\"\r\nOK\r\n", kIccid, std::nullopt},  // echo on
      {"\r\n89390100001234567895\r\nOK\r\n", kIccid, std::nullopt},
      {"\r\n+QCCID: 8939010000123456789F\r\nOK\r\n", "8939010000123456789", std::nullopt},
      {"\r\n^ICCID: 98931000002143658759\r\nOK\r\n", kIccid, std::nullopt},  // digit pairs swapped
      {"\r\n222015550001234\r\n\r\nOK\r\n", std::nullopt, "222015550001234"},
      {"\r\n+CIMI: 222015550001234\r\nOK\r\n", std::nullopt, "222015550001234"},
      {"\r\n+CME ERROR: 10\r\n", std::nullopt, std::nullopt},
      {"\r\nERROR\r\n", std::nullopt, std::nullopt},
      {"\r\n+CCID: 8939XYZ\r\nOK\r\n", std::nullopt, std::nullopt},
      {"\r\n+CCID: 893901000012345678951234\r\nOK\r\n", std::nullopt, std::nullopt},  // too long
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(parseIccidReply(c.reply), c.iccid);
    if (!c.iccid) {
      EXPECT_EQ(parseCimiReply(c.reply), c.imsi);
    }
  }
}

}  // namespace
}  // namespace voryx::transfer
