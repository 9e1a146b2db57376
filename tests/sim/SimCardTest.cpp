// The SIM file: what is saved comes back, and a file with a bad line is refused whole.
#include <gtest/gtest.h>

#include "sim/SimCard.h"
#include "support/TempDir.h"

using namespace voryx::sim;

TEST(SimCardTest, RecordsHoldTheRawBytes) {
  SimCard sim(10, 14, 5);
  ASSERT_TRUE(sim.writeEntryText(2, "Иван", "+3912345"));
  EXPECT_EQ(sim.record(2), std::string("\x81\x04\x08\x98\xB2\xB0\xBD\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                       "\x05\x91\x93\x21\x43\xF5\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF",
                                       28));
  EXPECT_FALSE(sim.writeEntryText(3, "A very long name indeed", "1"));
  EXPECT_FALSE(sim.writeEntryText(3, "Bob", "12-34"));
  EXPECT_TRUE(sim.isEmpty(3));
}

TEST(SimCardTest, RefusesBadFiles) {
  const std::pair<std::string, std::string> kFiles[] = {
      {"sms 30\n", "the file lacks its phonebook or sms line"},
      {"phonebook 10 28\nsms 5\nadn 1 4142\n", "adn 1: location outside 1-10 or record not 28 bytes"},
      {"phonebook 10 28\nsms 5\nadn 11 " + std::string(56, 'F') + "\n", "adn 11: location outside 1-10 or record not 28 bytes"},
      {"phonebook 10 28\nadn 1 XYZ\n", "line 2: adn wants a location and the record in hex"},
      {"phonebook 10 28\nsms 5\nmsg 1 \"REC READ\" gsm \"+39\" \"\" \"open\n", "line 3: unterminated quote"},
      {"phonebook 10 28\nsms 5\nmsg 1 \"READ\" gsm \"+39\" \"\" \"x\"\n", "line 3: msg wants an index, a status (\"REC READ\", ...) and gsm or ucs2"},
      {"phonebook 10 28\nsms 5\nmsg 1 \"REC READ\" gsm \"39 1\" \"\" \"x\"\n", "line 3: number holds characters a SIM cannot store"},
      {"phonebook 10 28\nsms 5\nmsg 1 \"REC READ\" gsm \"39\" \"yesterday\" \"x\"\n", "line 3: time stamp is not yy/MM/dd,hh:mm:ss+zz"},
      {"phonebook 10 28\nsms 5\nmsg 1 \"REC READ\" gsm \"39\" \"\" \"\xC3\"\n", "line 3: text is not UTF-8"},
      {"phonebook 10 28\nsms 5\nmsg 9 \"REC READ\" gsm \"39\" \"\" \"x\"\n", "msg 9: index outside 1-5"},
      {"phonebook 10 28\nsms 5\nfoo\n", "line 3: expected phonebook, sms, iccid, imsi, adn, ext, book, rec or msg with their fields"},
      {"phonebook 10 28\nsms 5\nbook SM 10\n", "line 3: book wants a store (ON, FD, ME, EN or SDN) and a location count (1-254)"},
      {"phonebook 10 28\nsms 5\nbook FD 0\n", "line 3: book wants a store (ON, FD, ME, EN or SDN) and a location count (1-254)"},
      {"phonebook 10 28\nsms 5\nrec FD 1 FFFF\n", "rec FD 1: no such store, location outside it, or record not 28 bytes"},
      {"phonebook 10 28\nsms 5\nbook FD 2\nrec FD 3 " + std::string(56, 'F') + "\n",
       "rec FD 3: no such store, location outside it, or record not 28 bytes"},
      {"phonebook 10 28\nsms 5\niccid 8939010000123456\n", "line 3: iccid wants 18 to 20 digits (the last may be F)"},
      {"phonebook 10 28\nsms 5\niccid 893901000012345678901\n", "line 3: iccid wants 18 to 20 digits (the last may be F)"},
      {"phonebook 10 28\nsms 5\niccid 8939010000123456F7\n", "line 3: iccid wants 18 to 20 digits (the last may be F)"},
      {"phonebook 10 28\nsms 5\nimsi 22201\n", "line 3: imsi wants 6 to 15 digits"},
      {"phonebook 10 28\nsms 5\nimsi 2220155500012345\n", "line 3: imsi wants 6 to 15 digits"},
      {"phonebook 10 28\nsms 5\nimsi 22201x\n", "line 3: imsi wants 6 to 15 digits"},
  };
  for (const auto& [text, message] : kFiles) {
    SCOPED_TRACE(text);
    std::string error;
    EXPECT_FALSE(SimCard::fromText(text, error));
    EXPECT_EQ(error, message);
  }
}

TEST(SimCardTest, SavesAndLoads) {
  voryx::test::TempDir dir;
  const auto file = dir / "sim.txt";
  SimCard sim = SimCard::demo();
  sim.erase(1);
  std::string error;
  ASSERT_TRUE(sim.save(file, error)) << error;
  ASSERT_TRUE(sim.save(file, error)) << error;  // over an existing file
  auto loaded = SimCard::load(file, error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(*loaded, sim);  // every record and message, raw
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);  // no leftovers
  EXPECT_FALSE(SimCard::load(dir / "missing.txt", error));
  EXPECT_FALSE(sim.save(dir.path / "no" / "such" / "dir.txt", error));
}

// The identity is the file's: kept across a save, the old demo one for a file saved before
// files kept it, a new one for each new SIM (two files, two SIMs).
TEST(SimCardTest, KeepsItsIdentity) {
  std::string error;
  auto old = SimCard::fromText("phonebook 10 28\nsms 5\n", error);
  ASSERT_TRUE(old) << error;
  EXPECT_EQ(old->iccid(), "89390100001234567895");
  EXPECT_EQ(old->imsi(), "222015550001234");

  SimCard sim(10, 14, 5);
  EXPECT_FALSE(sim.setIdentity("12345", "222019999999999"));
  EXPECT_FALSE(sim.setIdentity("8939010000999999999", "2220"));
  EXPECT_EQ(sim.iccid(), "89390100001234567895");
  ASSERT_TRUE(sim.setIdentity("893901000099999999f", "222019999999999"));
  auto loaded = SimCard::fromText(sim.toText(), error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->iccid(), "893901000099999999F");
  EXPECT_EQ(loaded->imsi(), "222019999999999");
  EXPECT_EQ(*loaded, sim);

  SimCard a = SimCard::demo(), b = SimCard::demo();
  a.giveFreshIdentity();
  b.giveFreshIdentity();
  EXPECT_NE(a.iccid(), b.iccid());
  EXPECT_NE(a.imsi(), b.imsi());
  for (const SimCard& card : {a, b}) {
    EXPECT_TRUE(SimCard::isIccid(card.iccid())) << card.iccid();
    EXPECT_TRUE(SimCard::isImsi(card.imsi())) << card.imsi();
    // Luhn over all 20 digits, the check digit last.
    int sum = 0;
    for (std::size_t i = 0; i < card.iccid().size(); ++i) {
      int d = card.iccid()[card.iccid().size() - 1 - i] - '0';
      sum += i % 2 == 1 ? (d * 2 > 9 ? d * 2 - 9 : d * 2) : d;
    }
    EXPECT_EQ(sum % 10, 0) << card.iccid();
  }
}

// Whatever a message or a name holds, the file saved loads back equal.
TEST(SimCardTest, AwkwardTextsSurviveTheFile) {
  const std::pair<std::string, bool> kTexts[] = {
      {"two\nlines", false},
      {"carriage\rreturn\r\n", false},
      {"say \"hi\"", false},
      {"back\\slash \\n \\", false},
      {"tab\there # not a comment", true},
      {std::string("nul\0byte", 8), true},
      {"semi;colon; \"; #", false},
      {"emoji \U0001F600 \U0001F4F1", true},
      {"\"", false},
      {"\\", false},
      {"", false},
  };
  voryx::test::TempDir dir;
  const auto file = dir / "sim.txt";
  for (const auto& [text, ucs2] : kTexts) {
    SCOPED_TRACE(text);
    SimCard sim(10, 30, 5);
    ASSERT_TRUE(sim.addMessage({SmsStatus::RecRead, "+39123", "24/05/01,10:15:00+08", text, ucs2, {}}));
    sim.writeEntryText(1, text, "123");  // as a name too, where it fits
    std::string error;
    ASSERT_TRUE(sim.save(file, error)) << error;
    auto loaded = SimCard::load(file, error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(*loaded, sim);
  }
}
