// The character set as a value: the modem's list, the choice, and names, numbers and
// message texts in each set.
#include "codec/Charset.h"
#include "transfer/CharsetChoice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace voryx::transfer {

using namespace codec;
namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;

struct ListCase {
  std::string reply;
  std::optional<Names> names;
};
// "AT+CSCS=?" as modems answer it.
const ListCase kLists[] = {
    {"\r\n+CSCS: (\"IRA\",\"GSM\",\"UCS2\")\r\n\r\nOK\r\n", Names{"IRA", "GSM", "UCS2"}},
    {"+CSCS: ( \"IRA\" , \"GSM\" , \"UCS2\" )\r\nOK\r\n", Names{"IRA", "GSM", "UCS2"}},
    {"+CSCS: \"GSM\",\"IRA\",\"HEX\"\r\nOK\r\n", Names{"GSM", "IRA", "HEX"}},
    {"+CSCS: (\"GSM\",\"IRA\",\r\n\"UCS2\")\r\nOK\r\n", Names{"GSM", "IRA", "UCS2"}},
    {"+CSCS: \"IRA\"\r\n+CSCS: \"UCS2\"\r\nOK\r\n", Names{"IRA", "UCS2"}},
    {"+CSCS: (\"ira\",\"gsm\",\"ucs2\")\r\nOK\r\n", Names{"IRA", "GSM", "UCS2"}},
    {"+CSCS: (IRA,GSM,UCS2)\r\n^RSSI:14\r\nOK\r\n", Names{"IRA", "GSM", "UCS2"}},
    {"+CSCS: (\"IRA\",\"GSM\",\"UCS2\",\"8859-1\",\"PCCP437\",\"UTF-8\")\r\nOK\r\n",
     Names{"IRA", "GSM", "UCS2", "8859-1", "PCCP437", "UTF-8"}},
    {"AT+CSCS=?\r\r\n+CSCS: (\"IRA\")\r\nOK\r\n", Names{"IRA"}},  // echo left on
    {"\r\nERROR\r\n", std::nullopt},
    {"+CME ERROR: 4\r\n", std::nullopt},
    {"+CSCS: (\"IRA\",\"GSM\"", std::nullopt},  // never ended
    {"+CSCS: ()\r\nOK\r\n", std::nullopt},
    {"+CSCS: #!, \"a b\", \x01\x02\r\nOK\r\n"s, std::nullopt},
    {"OK\r\n", std::nullopt},
    {"", std::nullopt},
};

TEST(CharsetTest, ReadsTheModemsList) {
  for (const ListCase& c : kLists) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(parseCscsTest(c.reply), c.names);
  }
}

struct ChoiceCase {
  const char* name;
  CharsetUse use;
  std::optional<Names> offered;
  CharsetPreference preference;
  std::vector<Charset> refusedByModem;
  std::vector<Charset> asked;  // in order
  std::optional<Charset> chosen;
};
using enum Charset;
const ChoiceCase kChoices[] = {
    {"all offered", CharsetUse::Phonebook, Names{"GSM", "IRA", "HEX", "UCS2"}, {}, {}, {Hex}, Hex},
    {"no HEX listed", CharsetUse::Phonebook, Names{"IRA", "UCS2"}, {}, {}, {Ucs2}, Ucs2},
    {"HEX listed but refused", CharsetUse::Phonebook, Names{"HEX", "UCS2", "IRA"}, {}, {Hex}, {Hex, Ucs2}, Ucs2},
    {"GSM before IRA", CharsetUse::Phonebook, Names{"IRA", "GSM"}, {}, {}, {Gsm}, Gsm},
    {"list unreadable", CharsetUse::Phonebook, std::nullopt, {}, {Hex, Ucs2}, {Hex, Ucs2, Gsm}, Gsm},
    {"list names none of ours", CharsetUse::Phonebook, Names{"PCCP437"}, {}, {Hex}, {Hex, Ucs2}, Ucs2},
    {"everything refused", CharsetUse::Phonebook, Names{"IRA"}, {}, {Ira}, {Ira}, std::nullopt},
    {"UCS2 first skips HEX", CharsetUse::Phonebook, Names{"HEX", "UCS2", "IRA"}, {.forced = std::nullopt, .ucs2First = true}, {}, {Ucs2}, Ucs2},
    {"forced", CharsetUse::Phonebook, Names{"HEX", "UCS2"}, {.forced = Gsm}, {}, {Gsm}, Gsm},
    {"forced and refused", CharsetUse::Phonebook, Names{"HEX", "UCS2"}, {.forced = Hex}, {Hex}, {Hex}, std::nullopt},
    {"SMS read", CharsetUse::SmsRead, Names{"GSM", "IRA", "UCS2", "UTF-8"}, {}, {}, {Utf8}, Utf8},
    {"SMS read without UTF-8", CharsetUse::SmsRead, Names{"IRA", "GSM", "UCS2"}, {}, {}, {Ucs2}, Ucs2},
    {"SMS read, UCS2 first", CharsetUse::SmsRead, Names{"UCS2", "UTF-8"}, {.forced = std::nullopt, .ucs2First = true}, {}, {Ucs2}, Ucs2},
    {"SMS write", CharsetUse::SmsWrite, Names{"HEX", "UCS2", "GSM", "IRA"}, {}, {}, {Gsm}, Gsm},
    {"SMS write without GSM", CharsetUse::SmsWrite, Names{"UCS2", "IRA"}, {}, {}, {Ira}, Ira},
    {"SMS write, nothing to write text in", CharsetUse::SmsWrite, Names{"UCS2"}, {}, {Gsm, Ira}, {Gsm, Ira}, std::nullopt},
};

TEST(CharsetTest, ChoosesInTheUsesOrderSkippingRefusedSets) {
  for (const ChoiceCase& c : kChoices) {
    SCOPED_TRACE(c.name);
    std::vector<Charset> asked;
    const Negotiated n = chooseCharset(c.use, c.offered, c.preference, [&](Charset cs) {
      asked.push_back(cs);
      const bool refused = std::find(c.refusedByModem.begin(), c.refusedByModem.end(), cs) != c.refusedByModem.end();
      return refused ? SetAnswer::Refused : SetAnswer::Taken;
    });
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(n.chosen, c.chosen);
    EXPECT_FALSE(n.ended);
  }
  // A line lost while asking ends the choice at once.
  int asked = 0;
  const Negotiated ended = chooseCharset(CharsetUse::Phonebook, std::nullopt, {}, [&](Charset) {
    ++asked;
    return SetAnswer::Ended;
  });
  EXPECT_TRUE(ended.ended);
  EXPECT_FALSE(ended.chosen);
  EXPECT_EQ(asked, 1);
}

struct NameCase {
  Charset cs;
  std::string field;  // as listed, quotes removed
  std::string name;
};
const NameCase kNames[] = {
    {Hex, "416e6e61ffffffff", "Anna"},
    {Hex, "810208C141", "\u0441A"},
    {Ucs2, "0041006E006E0061", "Anna"},
    {Ucs2, "041804320430043D", "Иван"},
    {Ucs2, "D83DDE00004A", "\U0001F600J"},      // a surrogate pair
    {Ucs2, "D83D0041", "\uFFFD" "A"},             // half a pair
    {Ucs2, "Anna", "Anna"},                       // not hexadecimal: as it stands
    {Ucs2, "004", "004"},
    {Gsm, "Office\\00Home", "Office@Home"},        // "@" is septet 00, escaped on the line
    {Gsm, "Bar \x1B\x65uro", "Bar €uro"},
    {Gsm, "\x5B\x7B\x7F", "Ääà"},
    {Gsm, "Say \\22hi\\22", "Say \"hi\""},
    {Gsm, "A\x1B", "A"},                           // an escape at the very end
    {Gsm, "\xC3\xA9", "\uFFFD\uFFFD"},             // not septets
    {Ira, "Anna \\5C Bob", "Anna \\ Bob"},
    {Ira, "Pay$ \\22Desk\\22", "Pay$ \"Desk\""},
    {Ira, "\\5", "\\5"},
    {Ira, "\xFF", "\uFFFD"},
};

TEST(CharsetTest, DecodesNamesInEachSet) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(std::string(charsetName(c.cs)) + " " + c.field);
    EXPECT_EQ(decodeName(c.field, c.cs), c.name);
  }
}

struct EncodeCase {
  Charset cs;
  std::string name;
  int maxSIMLen;
  std::string field;  // as sent
  std::string readBack;  // what the next read shows
};
const EncodeCase kEncodes[] = {
    {Hex, "Anna", 14, "416e6e61", "Anna"},
    {Ucs2, "Иван", 14, "041804320430043D", "Иван"},
    // (14 - 1) / 2 = 6 units; a pair that would straddle the end goes whole.
    {Ucs2, "Anna Bianchi", 14, "0041006E006E006100200042", "Anna B"},
    {Ucs2, "Hello\U0001F600", 14, "00480065006C006C006F", "Hello"},
    {Ucs2, "Hi\U0001F600!", 14, "00480069D83DDE000021", "Hi\U0001F600!"},
    {Ucs2, "Anna", 0, "", ""},
    {Gsm, "Office@Home", 14, "Office\\00Home", "Office@Home"},
    {Gsm, "Bar €uro", 14, "Bar \\1B\x65uro", "Bar €uro"},
    {Gsm, "Иван Ä", 14, "???? \x5B", "???? Ä"},
    {Gsm, "Say \"hi\"", 14, "Say \\22hi\\22", "Say \"hi\""},
    {Gsm, "Città", 14, "Citt\\7F", "Città"},
    {Gsm, "€€€€€€€€", 14, "\\1B\x65\\1B\x65\\1B\x65\\1B\x65\\1B\x65\\1B\x65\\1B\x65", "€€€€€€€"},
    {Ira, "Zoë \\o/", 14, "Zo? \\5Co/", "Zo? \\o/"},
    {Ira, "Anna Bianchi-Rossi", 14, "Anna Bianchi-R", "Anna Bianchi-R"},
    {Ira, "[a]", 4, "[a", "[a"},  // "[" takes two of the SIM's bytes
};

TEST(CharsetTest, EncodesNamesWithinWhatTheSimHolds) {
  for (const EncodeCase& c : kEncodes) {
    SCOPED_TRACE(std::string(charsetName(c.cs)) + " " + c.name);
    const std::string field = encodeName(c.name, c.cs, c.maxSIMLen);
    EXPECT_EQ(field, c.field);
    EXPECT_EQ(decodeName(field, c.cs), c.readBack);
  }
}

struct TextCase {
  Charset cs;
  std::string listed;
  std::string text;
};
const TextCase kNumbers[] = {
    {Ucs2, "002B00330039003300330033", "+39333"},
    {Ucs2, "002A00330031002300700031", "*31#p1"},
    {Ucs2, "0612", "0612"},          // plain digits: 0612 is no dial character
    {Ucs2, "00310032003", "00310032003"},
    {Ucs2, "004100420043", "004100420043"},  // "ABC" is no dial string
    {Ucs2, "+393331234567", "+393331234567"},
    {Gsm, "00310032", "00310032"},   // only under UCS2
    {Ira, "", ""},
};
const TextCase kTexts[] = {
    {Utf8, "Привет", "Привет"},
    {Ucs2, "041F04400438043204350442", "Привет"},
    {Ucs2, "D83DDE00", "\U0001F600"},
    {Ucs2, "Hello", "Hello"},  // not hexadecimal: as sent
    {Gsm, "Costa 5\x1B\x65 \x00"s, "Costa 5€ @"},
    {Hex, "48656C6C6F", "Hello"},
    {Ira, "Ciao", "Ciao"},
};

TEST(CharsetTest, DecodesNumbersAndMessageTexts) {
  for (const TextCase& c : kNumbers) {
    SCOPED_TRACE(std::string(charsetName(c.cs)) + " " + c.listed);
    EXPECT_EQ(decodeNumber(c.listed, c.cs), c.text);
  }
  for (const TextCase& c : kTexts) {
    SCOPED_TRACE(std::string(charsetName(c.cs)) + " " + c.listed);
    EXPECT_EQ(decodeMessageText(c.listed, c.cs), c.text);
  }
}

struct BodyCase {
  Charset cs;
  std::string text;
  std::optional<std::string> body;  // none: PDU mode
};
const BodyCase kBodies[] = {
    {Gsm, "Grüße @ home", "Gr\x7E\x1E" "e \x00 home"s},
    {Gsm, "Costa 5€", std::nullopt},   // the escape would cancel the entry
    {Gsm, "Città", std::nullopt},      // "à" is the line's delete
    {Ira, "Hello, world! 100%", "Hello, world! 100%"},
    {Ira, "Line one\nLine two", "Line one\nLine two"},
    {Ira, "mail@home", std::nullopt},  // modems convert "@" unreliably
    {Ira, "[x]", std::nullopt},
    {Ira, "Grüße", std::nullopt},
    {Ucs2, "Hello", std::nullopt},     // text mode goes in GSM or IRA only
};

TEST(CharsetTest, SendsTextModeBodiesOnlyInSetsThatCarryThemUnchanged) {
  for (const BodyCase& c : kBodies) {
    SCOPED_TRACE(std::string(charsetName(c.cs)) + " " + c.text);
    EXPECT_EQ(encodeMessageText(c.text, c.cs), c.body);
  }
}

TEST(CharsetTest, NamesTheSets) {
  for (Charset cs : {Hex, Ucs2, Gsm, Ira, Utf8}) EXPECT_EQ(charsetFromName(charsetName(cs)), cs);
  EXPECT_EQ(charsetFromName("ucs2"), Ucs2);
  EXPECT_EQ(charsetFromName("UTF8"), Utf8);
  EXPECT_FALSE(charsetFromName("8859-1"));
  EXPECT_FALSE(charsetFromName(""));
}

// What an edit keeps of a name: the budget of the set the write will store it in. Letters a
// set lacks stay (the write sends "?" for them, and the row then shows what the SIM took).
TEST(CharsetTest, EditsCutToTheBudgetOfTheSetTheWriteUses) {
  constexpr int kAll = kNameSetGsm | kNameSetIra | kNameSetUcs2;
  struct Case {
    const char* name;
    int sets;
    const char* kept;
  };
  const Case kCases[] = {
      {"Anna Plain", 0, "Anna Plain"},                      // not known: as HEX
      {"Anna Plain", kAll, "Anna Plain"},                   // GSM
      {"Anna Plain", kNameSetUcs2, "Anna P"},               // UCS2 only: 6 units
      {"Иван Новый", kNameSetHex, "Иван Новый"},            // the 81 form: 13 bytes
      {"Иван Новый", kAll, "Иван Н"},                       // UCS2
      {"Иван Новый", kNameSetGsm | kNameSetIra, "Иван Новый"},  // GSM: "?" a letter, 10 bytes
      {"Bar €uro long name", kAll, "Bar €uro long"},        // GSM: the escape pair takes two
      {"Zoë Ann", kAll, "Zoë An"},                          // UCS2: 6 units
  };
  for (const Case& c : kCases) EXPECT_EQ(fitNameForSets(c.name, 14, c.sets), c.kept) << c.name << " " << c.sets;
}

}  // namespace
}  // namespace voryx::transfer
