#include <gtest/gtest.h>

#include "sim/AtCommand.h"

using namespace voryx::sim;

namespace {
// "E:0 V:1 +CPBR=?:" style summary of a parsed line; "none" for a refused one.
std::string summary(std::string_view line) {
  auto cmds = parseCommandLine(line);
  if (!cmds) return "none";
  std::string out;
  for (const auto& c : *cmds) {
    static constexpr const char* kForm[] = {"", "?", "=?", "="};
    out += (out.empty() ? "" : " ") + c.name + kForm[static_cast<int>(c.form)] + ":" + c.args;
  }
  return out;
}
}  // namespace

TEST(AtLineTest, SplitsCommandLines) {
  const std::pair<std::string_view, std::string_view> kLines[] = {
      {"AT", ""},                      {"AT V1E0", "V:1 E:0"},                {"ate0v1", "E:0 V:1"},
      {"AT+CSCS?", "+CSCS?:"},         {"AT&F S0=1 S3?", "&F: S0=:1 S3?:"},   {"ATD+3912;", "D:+3912;"},
      {"AT$TSSPCSW=?", "$TSSPCSW=?:"}, {"AT+CMGL = \"ALL\"", "+CMGL=:\"ALL\""},
      {"AT+CPBS=\"SM\";+CPBR=?", "+CPBS=:\"SM\" +CPBR=?:"},
      {"AT+CPBW=1,\"12;3\",129,\"A B\"", "+CPBW=:1,\"12;3\",129,\"A B\""},
      {"", "none"},    {"A", "none"},   {"XT", "none"},           {"AT+", "none"},     {"AT\"", "none"},
      {"AT!", "none"}, {"ATS", "none"}, {"AT+CPBR=1,\"", "none"}, {"ATE1234", "none"},
  };
  for (const auto& [line, expected] : kLines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(summary(line), expected);
  }
}

TEST(AtLineTest, SplitsParameters) {
  auto args = splitArgs("1, \"+39\\22x\" ,,\"\",ALL");
  ASSERT_TRUE(args);
  ASSERT_EQ(args->size(), 5u);
  EXPECT_EQ(argInt((*args)[0]), 1);
  EXPECT_EQ((*args)[1].text, "+39\"x");
  EXPECT_TRUE((*args)[2].omitted());
  EXPECT_TRUE((*args)[3].quoted);
  EXPECT_EQ((*args)[4].text, "ALL");
  for (std::string_view bad : {"\"open", "\"a\"b", "\"\\2\"", "a\"b"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(splitArgs(bad));
  }
  EXPECT_FALSE(argInt(AtArg{false, "1234567890"}));
  EXPECT_FALSE(argInt(AtArg{true, "1"}));
}
