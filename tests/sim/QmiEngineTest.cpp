// The virtual modem's QMI face without a line: frames in, frames out; garbage survived.
#include <gtest/gtest.h>

#include "sim/QmiEngine.h"

using namespace voryx::sim;
using namespace std::string_literals;

namespace {

std::string le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string tlv(int type, const std::string& value) { return static_cast<char>(type) + le16(value.size()) + value; }
// A request as a client sends it: CTL with a 1-byte transaction, the others with 2.
std::string request(int service, int client, unsigned message, const std::string& tlvs, unsigned transaction = 7) {
  std::string sdu = "\x00"s + (service == 0 ? std::string(1, static_cast<char>(transaction)) : le16(transaction)) +
                    le16(message) + le16(tlvs.size()) + tlvs;
  return "\x01"s + le16(sdu.size() + 5) + "\x00"s + static_cast<char>(service) + static_cast<char>(client) + sdu;
}
const std::string kFile = tlv(2, "\x3A\x6F\x04\x00\x3F\x10\x7F"s);  // 6F3A under 3F00 7F10
const std::string kSession = tlv(1, "\x00\x00"s);

// The reply's message id and its result's error code, read from where the frame puts them.
struct Answer {
  unsigned message;
  unsigned error;
};
std::vector<Answer> answers(const QmiEngine::Output& out) {
  std::vector<Answer> a;
  for (const std::string& f : out.frames) {
    const std::size_t sdu = 6, header = f[4] == 0 ? 6 : 7;
    const std::size_t msg = sdu + (f[4] == 0 ? 2 : 3);
    auto u16 = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(f[at]) | static_cast<unsigned char>(f[at + 1]) << 8); };
    EXPECT_EQ(u16(1) + 1, f.size());
    EXPECT_EQ(f[sdu + header], '\x02');  // the result TLV first
    a.push_back({u16(msg), u16(sdu + header + 5)});
  }
  return a;
}

TEST(QmiEngineTest, AnswersFramesAndSurvivesGarbage) {
  const std::string allocate = request(0, 0, 0x22, tlv(1, "\x0B"s), 1);  // a UIM client: id 1
  const std::string read1 = request(0x0B, 1, 0x21, kSession + kFile + tlv(3, le16(1) + le16(28)));
  struct Case {
    const char* what;
    std::string input;  // after the allocation of client 1
    std::vector<Answer> expected;
  };
  const Case kCases[] = {
      {"a record read", read1, {{0x21, 0}}},
      {"split in two, and twice in one read", read1.substr(0, 9) + "" + read1.substr(9) + read1, {{0x21, 0}, {0x21, 0}}},
      {"garbage before a frame", "\xFF\x00\x7E garbage"s + read1, {{0x21, 0}}},
      {"a length too short for any frame, then a frame", "\x01\x03\x00\x00\x0B\x01"s + read1, {{0x21, 0}}},
      {"a length beyond any frame", "\x01\xFF\xFF\x00"s + read1, {{0x21, 0}}},
      {"the TLVs' length lies", read1.substr(0, 11) + "\x40"s + read1.substr(12), {{0x21, 0x01}}},
      {"a TLV's length runs past the frame",
       request(0x0B, 1, 0x21, kSession + "\x02\xFF\x00\x3A"s), {{0x21, 0x01}}},
      {"no file TLV", request(0x0B, 1, 0x21, kSession + tlv(3, le16(1) + le16(28))), {{0x21, 0x11}}},
      {"a path of odd length", request(0x0B, 1, 0x24, kSession + tlv(2, "\x3A\x6F\x03\x00\x3F\x10"s)), {{0x24, 0x11}}},
      {"a client id never given", request(0x0B, 9, 0x21, kSession + kFile + tlv(3, le16(1) + le16(28))), {{0x21, 0x07}}},
      {"an unknown service", request(0x42, 1, 0x01, ""), {{0x01, 0x47}}},
      {"an unknown UIM message", request(0x0B, 1, 0x7777, ""), {{0x7777, 0x47}}},
      {"an unknown CTL message", request(0, 0, 0x26, ""), {{0x26, 0x47}}},
      {"a response from the client side is not answered", [&] {
         std::string f = read1;
         f[6] = '\x02';
         return f;
       }(), {}},
      {"a write whose data length lies", request(0x0B, 1, 0x23, kSession + kFile + tlv(3, le16(1) + le16(28) + "abc")), {{0x23, 0x01}}},
      {"a record beyond the file: the card's status, no data", request(0x0B, 1, 0x21, kSession + kFile + tlv(3, le16(999) + le16(28))), {{0x21, 0x03}}},
      {"release a client id twice", request(0, 0, 0x23, tlv(1, "\x0B\x01"s)) + request(0, 0, 0x23, tlv(1, "\x0B\x01"s)), {{0x23, 0}, {0x23, 0x07}}},
      {"only a marker and half a length", "\x01\x20"s, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    SimCard card = SimCard::demo();
    QmiEngine engine{card, true, {}};
    ASSERT_EQ(answers(engine.feed(allocate)).size(), 1u);
    const auto got = answers(engine.feed(c.input));
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].message, c.expected[i].message) << i;
      EXPECT_EQ(got[i].error, c.expected[i].error) << i;
    }
    EXPECT_EQ(card.record(1), SimCard::demo().record(1));  // nothing written half-way
  }
  // Random bytes never crash it, and a good frame after them is still answered.
  std::string noise;
  for (int i = 0; i < 20000; ++i) noise += static_cast<char>((i * 7919 + i / 13) & 0xFF);
  SimCard card = SimCard::demo();
  QmiEngine engine{card, true, {}};
  engine.feed(allocate);
  engine.feed(noise);
  const auto after = answers(engine.feed(std::string(9000, '\0') + read1));
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back().message, 0x21u);
}

}  // namespace
