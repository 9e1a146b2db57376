// The SIM file: what is saved comes back, and a file with a bad line is refused whole.
#include <gtest/gtest.h>

#include "sim/SimCard.h"
#include "store/TempDir.h"

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
      {"phonebook 10 28\nsms 5\nfoo\n", "line 3: expected phonebook, sms, adn or msg with their fields"},
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
