// The SIM-files layer's pure parts: status words, file headers, the modem's "+CRSM:" line,
// the records' codec; every parser against garbage.
#include <gtest/gtest.h>

#include "simfiles/CardResult.h"
#include "simfiles/CrsmFiles.h"
#include "simfiles/FileHeader.h"
#include "simfiles/QmiReply.h"
#include "transfer/SimRecords.h"

namespace voryx::simfiles {
namespace {

std::string bytes(std::string_view spaced) {
  std::string hex, out;
  for (char c : spaced) if (c != ' ') hex += c;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

TEST(SimFilesTest, StatusWordsOfBothClasses) {
  struct Case {
    std::uint16_t sw;
    CardOutcome outcome;
    std::optional<int> tries;
  };
  const Case kCases[] = {
      {0x9000, CardOutcome::Ok, {}},         {0x9123, CardOutcome::Ok, {}},
      {0x63C2, CardOutcome::WrongPin, 2},    {0x63C0, CardOutcome::Blocked, 0},
      {0x6983, CardOutcome::Blocked, 0},     {0x9840, CardOutcome::Blocked, 0},
      {0x6982, CardOutcome::NotAllowed, {}}, {0x9804, CardOutcome::NotAllowed, {}},
      {0x6A82, CardOutcome::NotFound, {}},   {0x9404, CardOutcome::NotFound, {}},
      {0x6C1C, CardOutcome::WrongLength, {}}, {0x6F00, CardOutcome::Other, {}},
  };
  for (const Case& c : kCases) {
    const CardResult r = judgeStatus(c.sw);
    EXPECT_EQ(r.outcome, c.outcome) << std::hex << c.sw;
    EXPECT_EQ(r.triesLeft, c.tries) << std::hex << c.sw;
  }
  EXPECT_EQ(judgeStatus(0x6C1C).exactLength, 0x1C);
  EXPECT_NE(cardResultText(judgeStatus(0x6982)).find("(6982)"), std::string::npos);
}

TEST(SimFilesTest, FileHeadersInBothForms) {
  // A USIM's EF_ADN (FCP: linear fixed, 28-byte records, 250 of them) and a SIM's (GSM
  // response: 7000 bytes of 28-byte records); EF_ICCID transparent; a DF.
  const auto fcp = parseFileHeader(bytes("621E8205422100" "1CFA83026F3AA5038001718A01058B036F06038002" "1B58"));
  ASSERT_TRUE(fcp);
  EXPECT_EQ(fcp->structure, FileInfo::Structure::LinearFixed);
  EXPECT_EQ(fcp->recordLength, 28);
  EXPECT_EQ(fcp->records, 250);
  const auto gsm = parseFileHeader(bytes("00001B586F3A040011FF2201020" "11C"));
  ASSERT_TRUE(gsm);
  EXPECT_EQ(gsm->records, 250);
  EXPECT_EQ(gsm->recordLength, 28);
  const auto iccid = parseFileHeader(bytes("62198202412183022FE2A5038001718A01058B032F06038002000A"));
  ASSERT_TRUE(iccid);
  EXPECT_EQ(iccid->structure, FileInfo::Structure::Transparent);
  EXPECT_EQ(iccid->size, 10);
  for (const char* garbage : {"", "62", "6205820142", "00", "000000006F3A04", "62FF82"}) {
    auto parsed = parseFileHeader(bytes(garbage));
    if (parsed) {
      EXPECT_GE(parsed->records, 0) << garbage;
    }
  }
}

// A UIM response frame around `tlvs` (hex), its result TLV first: success, or `error`.
std::string qmiFrame(unsigned message, std::string_view tlvs, unsigned error = 0) {
  auto le16 = [](std::size_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; };
  const std::string body = std::string("\x02\x04\x00", 3) + le16(error ? 1 : 0) + le16(error) + bytes(tlvs);
  const std::string sdu = std::string("\x02\x07\x00", 3) + le16(message) + le16(body.size()) + body;
  return std::string("\x01", 1) + le16(sdu.size() + 5) + std::string("\x80\x0B\x02", 3) + sdu;
}

// A TLV in hex, its length counted: T(0x11, "414243") is "11 0300 414243".
std::string T(int type, const std::string& hex) {
  std::size_t n = 0;
  for (char c : hex) n += c != ' ';
  char head[16];
  std::snprintf(head, sizeof head, "%02X%02X%02X", type, static_cast<unsigned>(n / 2 & 0xFF), static_cast<unsigned>(n / 2 >> 8));
  return head + hex;
}

// The modem's UIM replies, as they come and as they lie: a length that runs past the
// frame or falls short gives nothing, never a read past the bytes.
TEST(SimFilesTest, QmiReplies) {
  const std::string attributes = "581B" "3A6F" "02" "1C00" "FA00" "000000" "000000" "000000" "000000" "000000";
  struct Case {
    const char* what;
    std::string frame;
    bool parses;
    std::optional<std::uint16_t> sw{};
    std::optional<std::string> data{};  // the read result
    std::optional<int> records{};       // the file attributes' record count
    std::optional<int> appState{};      // the card status's application state
  };
  const std::string okFrame = qmiFrame(0x21, "10020090 00" + T(0x11, "0300 414243"));
  const Case kCases[] = {
      {"a record read", okFrame, true, 0x9000, "ABC"},
      {"the frame's length lies", std::string("\x01\x40", 2) + okFrame.substr(3), false},
      {"cut short", okFrame.substr(0, okFrame.size() - 1), false},
      {"a TLV runs past the frame", qmiFrame(0x21, "1002009000110900030041"), false},
      {"the read result's length lies", qmiFrame(0x21, "100200 9000" + T(0x11, "0900 414243")), true, 0x9000, std::nullopt},
      {"a card result of three bytes", qmiFrame(0x21, "100300 900000" + T(0x11, "0300 414243")), true, std::nullopt, "ABC"},
      {"no result TLV", std::string("\x01\x0C\x00\x80\x0B\x02\x02\x07\x00\x21\x00\x00\x00", 13), false},
      {"a CTL frame", std::string("\x01\x0B\x00\x80\x00\x00\x01\x01\x22\x00\x00\x00", 12), false},
      {"a failure with the card's status", qmiFrame(0x21, "100200 6A83", 3), true, 0x6A83},
      {"file attributes with a raw FCP", qmiFrame(0x24, "100200 9000" + T(0x11, attributes + "1100 620F82054221001CFA83024F3A80021B58")), true, 0x9000, {}, 250},
      {"file attributes without a raw header: the modem's fields", qmiFrame(0x24, "100200 9000" + T(0x11, attributes + "0000")), true, 0x9000, {}, 250},
      {"file attributes whose raw length lies", qmiFrame(0x24, "100200 9000" + T(0x11, attributes + "3000 62018201")), true, 0x9000, {}, std::nullopt},
      {"file attributes of 0-byte records", qmiFrame(0x24, "100200 9000" + T(0x11, "0000 3A6F 02 0000 FA00" + std::string(30, '0') + "0000")), true, 0x9000, {}, std::nullopt},
      {"a card status", qmiFrame(0x2F, T(0x10, "0000FFFFFFFFFFFF 01 0100000000 01 0207020000 00 00 00 03030A 03030A")), true, std::nullopt, {}, {}, 7},
      {"a card status whose AID length lies", qmiFrame(0x2F, T(0x10, "0000FFFFFFFFFFFF 01 0100000000 01 0207020000 00 40 00 03030A 03030A")), true},
      {"a card status of more cards than it holds", qmiFrame(0x2F, T(0x10, "0000FFFFFFFFFFFF 09 01")), true},
      // No SIM: no primary application, the slot's card absent and without applications.
      {"a card status with no primary application", qmiFrame(0x2F, T(0x10, "FFFFFFFFFFFFFFFF 01 0000000000 00")), true,
       std::nullopt, {}, {}, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const auto reply = parseQmiReply(c.frame);
    ASSERT_EQ(reply.has_value(), c.parses);
    if (!reply) continue;
    EXPECT_EQ(qmiCardResult(*reply), c.sw);
    EXPECT_EQ(qmiReadResult(*reply), c.data);
    const auto file = qmiFileAttributes(*reply);
    EXPECT_EQ(file ? std::optional<int>(file->records) : std::nullopt, c.records);
    const auto status = qmiCardStatus(*reply);
    EXPECT_EQ(status ? std::optional<int>(status->applicationState) : std::nullopt, c.appState);
  }
}

TEST(SimFilesTest, CrsmLines) {
  auto ok = parseCrsm("\r\n+CRSM: 144,0,\"4A6f65FF\"\r\n\r\nOK\r\n");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->sw1, 144);
  EXPECT_EQ(ok->response, bytes("4A6F65FF"));
  auto bare = parseCrsm("+CRSM: 106,130\r\nOK");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->sw2, 130);
  EXPECT_TRUE(bare->response.empty());
  EXPECT_TRUE(parseCrsm("+CRSM: 144,0,4A6F\r\n"));  // unquoted, as some modems send it
  for (const char* bad : {"OK", "+CRSM:", "+CRSM: 144", "+CRSM: 999,0", "+CRSM: 144,0,\"4A6\"", "+CRSM: 144,0,\"ZZ\"",
                          "+CRSM: 144,0,\"4A"}) {
    EXPECT_FALSE(parseCrsm(bad)) << bad;
  }
}

TEST(SimFilesTest, RecordsCodec) {
  using namespace transfer;
  // A record from the standard's layout: "Anna", +39021234, no extension.
  const std::string anna = bytes("416E6E61FFFFFFFFFFFFFFFFFFFF" "0591" "93202143FFFFFFFFFFFFFFFF");
  auto decoded = decodeAdn(anna, {});
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->name, "Anna");
  EXPECT_EQ(decoded->number, "+39021234");
  EXPECT_FALSE(decodeAdn(emptyAdnRecord(28), {}));
  // A chain that points at itself ends; an unreadable extension ends the number.
  std::string looped = bytes("41FFFFFFFFFFFFFFFFFFFFFFFFFF" "0B81" "21436587092143658709" "FF01");
  const ExtensionReader self = [](int) { return bytes("020121FFFFFFFFFFFFFFFFFF01"); };
  EXPECT_EQ(decodeAdn(looped, self)->number, "1234567890123456789012");
  EXPECT_EQ(decodeAdn(looped, {})->number, "12345678901234567890");
  EXPECT_EQ(adnExtensions(looped, self), std::vector<int>{1});
  // Round trips through the extension records, and numbers no record holds.
  for (std::string number : {"", "1", "+1234567890123456789", "123456789012345678901", "*31#,5",
                             "+1234567890123456789012345678901234567890"}) {
    auto encoded = encodeAdn("Zoë", number, 28, {3, 4});
    ASSERT_TRUE(encoded) << number;
    EXPECT_EQ(encoded->record.size(), 28u);
    std::map<int, std::string> ext(encoded->extensions.begin(), encoded->extensions.end());
    auto back = decodeAdn(encoded->record, [&](int n) { return ext.count(n) ? ext[n] : std::string(); });
    ASSERT_TRUE(back);
    EXPECT_EQ(back->number, number);
    EXPECT_EQ(back->name, "Zoë");
  }
  EXPECT_FALSE(encodeAdn("x", "1234567890123456789012", 28, {}));  // no free extension record
  // EF_SMS: a DELIVER from an alphanumeric sender with a concatenation header, in GSM
  // 7-bit (the header's fill bits skipped), and a SUBMIT in UCS2.
  const std::string deliver = bytes("03" "00" "44" "09D0D366504A05" "00" "00" "62101021000000" "0A" "05000301020190E910");
  auto sms = decodeSmsRecord(deliver + std::string(176 - deliver.size() - 0, '\xFF'));
  ASSERT_TRUE(sms);
  EXPECT_EQ(sms->number, "SMART");
  EXPECT_EQ(sms->text, "Hi!");
  EXPECT_EQ(sms->status, 3);
  // A row's message as the SIM is to hold it: the record it was read as, while its text and
  // number are as read; else the text coded anew with the record's status (a received one
  // with its time stamp), sent when nothing is known.
  const std::string received = deliver.substr(0, sms->length);
  struct Stored {
    const char* name;
    std::string like;
    std::string number, text;
    int status;
    bool asLike;
  };
  const Stored kStored[] = {
      {"as read", received, "SMART", "Hi!", 3, true},
      {"received, text changed", received, "SMART", "Hi again", 3, false},
      {"a draft known by its status only", std::string(1, '\x07'), "+3933312", "Привет", 7, false},
      {"nothing known", "", "3933312", "Привет", 5, false},
  };
  for (const Stored& c : kStored) {
    SCOPED_TRACE(c.name);
    const int type = c.number == "SMART" ? 0xD0 : c.number.starts_with("+") ? 145 : 129;
    const std::string record = messageRecord(c.number, type, c.text, c.like);
    if (c.asLike) {
      EXPECT_EQ(record, c.like);
    }
    auto back = decodeSmsRecord(record);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->length, record.size());
    EXPECT_EQ(back->status, c.status);
    EXPECT_EQ(back->text, c.text);
    EXPECT_TRUE(sameParty(back->number, c.number));
    if (c.status == 3) {
      EXPECT_EQ(back->timestamp, sms->timestamp);
    }
  }
  EXPECT_FALSE(decodeSmsRecord(freeSmsRecord()));
  for (const char* garbage : {"01", "0100", "01FF11", "0100440A", "01000100FF", "0305FFFFFF"}) decodeSmsRecord(bytes(garbage));
  // EF_PBR with two sets; EF_ICCID.
  auto sets = parsePbr({bytes("A80AC0034F3A01C4034F250AAA04C2024F4AFFFF"), bytes("A805C0034F3B02FFFF"), bytes("FFFF")});
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].adn, 0x4F3A);
  EXPECT_EQ(sets[0].ext1, 0x4F4A);
  EXPECT_EQ(sets[1].adn, 0x4F3B);
  EXPECT_EQ(decodeIccid(bytes("98931000002143658759")), "89390100001234567895");
  EXPECT_EQ(decodeIccid(bytes("9893A010")), "");
}

}  // namespace
}  // namespace voryx::simfiles
