// Reply collection, copies and the handshake on a scripted line with a virtual clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/Channel.h"
#include "modem/ScriptedLine.h"

namespace voryx::modem {
namespace {

using testing::ScriptedLine;
using std::chrono::milliseconds;
using namespace std::string_literals;

using Kind = ScriptedLine::Kind;
struct Arrival { int ms; std::string bytes; Kind kind = Kind::Data; };
struct Reply { std::string text; int endsAtMs; };  // endsAtMs: virtual time when ReadResp returns
// fast: the reply ends at its final result code (at once, or 40 ms after information lines).
// sent: a command written before the replies are read (the modem may echo it).
// quietMs: what the replies waited for the quiet window after their final result had come.
struct CollectCase {
  const char* name; std::vector<Arrival> script; std::vector<Reply> replies;
  bool hungUp = false, fast = false; const char* sent = nullptr; int quietMs = 0;
};

const std::string kEntry = "+CPBR: 1,\"0612345678\",129,\"4142434445\"\r\n";
std::string entries(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += kEntry;
  return out;
}

const CollectCase kCollectCases[] = {
    {"answers at once: complete 0.5 s after the last byte, not at OK", {{100, "\r\nOK\r\n"}}, {{"\r\nOK\r\n", 600}},
     false, false, nullptr, 500},
    {"silent: nothing after 1.5 s", {}, {{"", 1500}}},
    {"first byte late but inside 1.5 s", {{1400, "OK"}}, {{"OK", 1900}}},
    {"first byte after 1.5 s belongs to the next read", {{1600, "OK"}}, {{"", 1500}, {"OK", 2100}}},
    {"gaps under 0.5 s join the chunks",
     {{0, "+CPBR: 1,"}, {400, "\"123\",129"}, {800, ",\"41\"\r\n\r\nOK\r\n"}},
     {{"+CPBR: 1,\"123\",129,\"41\"\r\n\r\nOK\r\n", 1300}}, false, false, nullptr, 500},
    {"a gap over 0.5 s splits the reply", {{0, "AB"}, {700, "CD"}}, {{"AB", 500}, {"CD", 1200}}},
    {"NUL bytes are counted", {{0, "AB\0CD"s}}, {{"AB\0CD"s, 500}}},
    // The echo comes at once; the wait for the answer's first byte goes on past it.
    {"the echo, then the answer inside 1.5 s", {{0, "AT\r"}, {700, "\r\nOK\r\n"}}, {{"AT\r\r\nOK\r\n", 1200}},
     false, false, "AT\r", 500},
    {"an echo in two pieces, then the answer", {{0, "AT+CP"}, {300, "BW=3\r"}, {1400, "\r\nOK\r\n"}},
     {{"AT+CPBW=3\r\r\nOK\r\n", 1900}}, false, false, "AT+CPBW=3\r", 500},
    {"the echo, and the answer after 1.5 s belongs to the next read", {{0, "AT\r"}, {1600, "\r\nOK\r\n"}},
     {{"AT\r", 1500}, {"\r\nOK\r\n", 2100}}, false, false, "AT\r", 500},  // the echo alone is no answer
    {"what is not the echo starts the quiet window", {{0, "AT+X\r"}, {700, "\r\nOK\r\n"}},
     {{"AT+X\r", 500}, {"\r\nOK\r\n", 1200}}, false, false, "AT\r", 500},
    {"a failed read ends the reply keeping what came",
     {{0, "AB"}, {200, "", Kind::ReadError}, {300, "CD"}}, {{"AB", 200}, {"CD", 800}}},
    {"a hang-up ends the reply, and the next one at once",
     {{0, "AB"}, {100, "", Kind::HangUp}}, {{"AB", 100}, {"", 100}}, true},
    // Fast completion.
    {"fast: a bare final result ends the reply at once", {{100, "\r\nOK\r\n"}}, {{"\r\nOK\r\n", 100}}, false, true},
    {"fast: an error code is read whole, not at its first digit",
     {{100, "\r\n+CME ERROR: 2"}, {130, "1\r\n"}}, {{"\r\n+CME ERROR: 21\r\n", 130}}, false, true},
    {"fast: a listing ends 40 ms after its OK",
     {{100, "\r\n" + kEntry}, {200, "\r\nOK\r\n"}}, {{"\r\n" + kEntry + "\r\nOK\r\n", 240}}, false, true},
    {"fast: a long listing is judged by its last lines",
     {{100, entries(60)}, {200, "OK\r\n"}}, {{entries(60) + "OK\r\n", 240}}, false, true},
    {"fast: an unsolicited line after OK is kept without waiting the quiet window",
     {{100, kEntry + "OK\r\n"}, {120, "+CMTI: \"SM\",3\r\n"}}, {{kEntry + "OK\r\n+CMTI: \"SM\",3\r\n", 160}}, false, true},
    {"fast: a message text reading OK, more entries within the grace: one listing",
     {{100, "+CMGL: 1,\"REC READ\",\"+3912\"\r\nOK\r\n"}, {130, "+CMGL: 2,\"REC READ\",\"+3912\"\r\nHi\r\n\r\nOK\r\n"}},
     {{"+CMGL: 1,\"REC READ\",\"+3912\"\r\nOK\r\n+CMGL: 2,\"REC READ\",\"+3912\"\r\nHi\r\n\r\nOK\r\n", 170}}, false, true},
    {"fast: no final result falls back to the quiet window", {{100, kEntry}}, {{kEntry, 600}}, false, true},
    {"fast: one long unfinished line falls back to the quiet window",
     {{100, std::string(3000, 'A')}}, {{std::string(3000, 'A'), 600}}, false, true},
    {"fast: the text prompt ends the reply at once", {{100, "\r\n> "}}, {{"\r\n> ", 100}}, false, true},
    {"fast: the command's echo is no information line",
     {{100, "AT+CPBW=3\r\r\nOK\r\n"}}, {{"AT+CPBW=3\r\r\nOK\r\n", 100}}, false, true, "AT+CPBW=3\r"},
    {"fast: the echo, then the answer inside 1.5 s", {{0, "AT\r"}, {700, "\r\nOK\r\n"}},
     {{"AT\r\r\nOK\r\n", 700}}, false, true, "AT\r"},
    {"fast: the echo, and the answer after 1.5 s belongs to the next read", {{0, "AT\r"}, {1600, "\r\nOK\r\n"}},
     {{"AT\r", 1500}, {"\r\nOK\r\n", 1600}}, false, true, "AT\r"},
    {"fast: a line other than the echo waits the grace",
     {{100, "AT+CPBW=3\r\r\nOK\r\n"}}, {{"AT+CPBW=3\r\r\nOK\r\n", 140}}, false, true, "AT+CPBW=4\r"},
};

TEST(CollectTest, QuietWindowEndsEveryReply) {
  for (const auto& c : kCollectCases) {
    SCOPED_TRACE(c.name);
    ScriptedLine line;
    for (const auto& a : c.script) line.arrive(milliseconds(a.ms), a.bytes, a.kind);
    Channel ch;
    ch.attach(line);
    ReplyCompletion rule;
    rule.fast = c.fast;
    ch.setCompletion(rule);
    if (c.sent) {
      ASSERT_TRUE(ch.SendStrCmd(c.sent));
    }
    for (const auto& r : c.replies) {
      EXPECT_EQ(ch.ReadResp(), r.text.size());
      EXPECT_EQ(ch.reply(), r.text);
      EXPECT_EQ(ch.reply().data()[r.text.size()], '\0');
      EXPECT_EQ(line.clock, milliseconds(r.endsAtMs));
    }
    EXPECT_EQ(ch.hungUp(), c.hungUp);
    EXPECT_EQ(ch.broken(), c.hungUp);
    EXPECT_EQ(ch.quietWaited(), milliseconds(c.quietMs));
  }
}

TEST(CollectTest, ReadModemCopiesUpToNulAndNeverPastTheDestination) {
  struct Case { std::string reply; std::size_t destSize; std::string copy; };
  const Case cases[] = {
      {"\r\nOK\r\n", 165000, "\r\nOK\r\n"}, {"AB\0CD\r\nOK\r\n"s, 100, "AB"}, {"ABCDEFG", 4, "ABC"}, {"ABCDEFG", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply + " into " + std::to_string(c.destSize));
    ScriptedLine line;
    if (!c.reply.empty()) line.arrive(milliseconds(0), c.reply);
    Channel ch;
    ch.attach(line);
    std::vector<char> dest(c.destSize + 16, '#');  // guard bytes after the destination
    EXPECT_EQ(ch.ReadModem(std::span<char>(dest.data(), c.destSize)), c.reply.size());
    EXPECT_EQ(std::string(dest.data()), c.copy);
    for (std::size_t i = c.destSize; i < dest.size(); ++i) ASSERT_EQ(dest[i], '#') << i;
  }
}

TEST(CollectTest, OversizedReplyIsCutAndItsExcessDrained) {
  ScriptedLine line;
  // Arrives in pieces, as a modem sends it, and keeps coming after the buffer is full.
  const std::size_t total = kReadBufSize + 20000;
  for (std::size_t sent = 0, i = 0; sent < total; sent += 1000, ++i) {
    line.arrive(milliseconds(static_cast<int>(i)), std::string(1000, static_cast<char>('a' + i % 26)));
  }
  line.arrive(milliseconds(1000), "\r\nOK\r\n");
  Channel ch;
  ch.attach(line);

  std::vector<char> dest(65000);
  EXPECT_EQ(ch.ReadModem(dest), kReadBufSize - 1);
  EXPECT_TRUE(ch.truncated());
  EXPECT_FALSE(ch.hungUp());  // a full buffer never asks for zero bytes
  EXPECT_EQ(ch.reply().data()[kReadBufSize - 1], '\0');
  EXPECT_EQ(ch.reply().substr(0, 1000), std::string(1000, 'a'));
  EXPECT_EQ(dest.back(), '\0');
  // The excess was read and dropped while the line talked: the next reply is clean.
  EXPECT_EQ(ch.ReadResp(), 6u);
  EXPECT_EQ(ch.reply(), "\r\nOK\r\n");
  EXPECT_FALSE(ch.truncated());
}

// The modem answers attempt k (from 0) with replies[k]; "" is silence.
struct HandshakeCase { const char* name; std::vector<std::string> replies; int attempts; bool ok; int sent, elapsedMs; };

// A silent attempt costs the first-byte wait (1.5 s) and the wait for late bytes (1 s).
const HandshakeCase kHandshakeCases[] = {
    {"answers at once", {"\r\nOK\r\n"}, 10, true, 1, 500},
    {"answers the third time", {"", "", "AT\r\r\nOK\r\n"}, 10, true, 3, 5500},
    {"ERROR every time", std::vector<std::string>(10, "\r\nERROR\r\n"), 10, false, 10, 5000},
    {"OK after a NUL byte", {"\0\r\nOK\r\n"s}, 10, true, 1, 500},
    {"numeric results", {"0\r"}, 10, true, 1, 500},
    {"bound of three", {}, 3, false, 3, 7500},
};

TEST(HandshakeTest, RepeatsUntilOkWithinTheBound) {
  for (const auto& c : kHandshakeCases) {
    SCOPED_TRACE(c.name);
    ScriptedLine line;
    int sent = 0;
    line.onWrite = [&](std::string_view bytes, ScriptedLine& l) {
      EXPECT_EQ(bytes, "AT\r");
      const auto k = static_cast<std::size_t>(sent++);
      if (k < c.replies.size() && !c.replies[k].empty()) l.arrive(l.clock, c.replies[k]);
    };
    Channel ch;
    ch.attach(line);
    EXPECT_EQ(ch.AT(c.attempts), c.ok);
    EXPECT_FALSE(ch.late());
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(line.clock, milliseconds(c.elapsedMs));
  }
}

// A modem that answers after the wait would have every later reply taken for the next
// command's: the handshake stops at the first late answer, and says so. Bytes that wait
// on the line before an attempt are drained, never taken for its answer.
TEST(HandshakeTest, LateAnswerEndsItAndWaitingBytesAreDrained) {
  ScriptedLine late;
  late.onWrite = [](std::string_view, ScriptedLine& l) { l.arrive(l.clock + milliseconds(1600), "\r\nOK\r\n"); };
  Channel ch;
  ch.attach(late);
  EXPECT_FALSE(ch.AT(10));
  EXPECT_TRUE(ch.late());
  EXPECT_EQ(late.written, "AT\r");
  EXPECT_EQ(late.clock, milliseconds(2100));

  ScriptedLine stale;
  stale.arrive(std::chrono::microseconds(0), "\r\nOK\r\n");  // before anything was sent
  int sent = 0;
  stale.onWrite = [&](std::string_view, ScriptedLine&) { ++sent; };
  Channel ch2;
  ch2.attach(stale);
  EXPECT_FALSE(ch2.AT(2));
  EXPECT_EQ(sent, 2);
  EXPECT_FALSE(ch2.late());
}

}  // namespace
}  // namespace voryx::modem
