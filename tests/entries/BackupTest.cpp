#include "entries/Backup.h"

#include <gtest/gtest.h>

#include "base/Text.h"
#include "entries/SmsArchive.h"

#include "support/TempDir.h"

namespace voryx::entries {
namespace {

const std::string kHead = R"({"format": "voryx-sim-backup", "version": 1, )";

TEST(BackupTest, ComesBackAsItWasWritten) {
  SimBackup backup;
  backup.sim = SimIdentity{"89390100001234567895", ""};
  backup.capacity = 250;
  backup.nameLength = 14;
  backup.smsCapacity = 30;
  backup.phonebook = {{1, "Anna", "+39333", 0}, {7, "Иван Петров", "0612", 0}, {9, "Bar €uro \"x\"", "", 0}};
  backup.sms = {{2, "Ciao\nriga\tdue\f", "+39333", 0}, {5, "Grüße", "SMART", 0}};
  // Each message also as the SIM holds it: its status byte and PDU, and its part.
  backup.smsRecords = {{5, std::string("\x01\x00\x04\x02\xD0\x00", 6)}, {2, std::string(1, '\x07')}};
  backup.smsParts = {{5, MessagePart{7, 2, 1}}};
  backup.books[Phonebook::FD] = {10, 14, {{2, "Casa", "0212", 0}}};
  backup.books[Phonebook::EN] = {5, 0, {{1, "", "112", 0}}};
  const std::string text = backupJson(backup, "2026-12-08T12:00:00Z");
  EXPECT_TRUE(text.starts_with("{\n\t\"format\": \"voryx-sim-backup\",\n\t\"version\": 1,")) << text;
  EXPECT_NE(text.find("\"nameBytes\": \"416E6E61\""), std::string::npos) << text;  // plain GSM
  EXPECT_NE(text.find("\"nameBytes\": \"810B08"), std::string::npos) << text;      // one Cyrillic window
  auto back = parseBackupJson(text);
  ASSERT_TRUE(back.ok()) << back.error().detail;
  EXPECT_EQ(back->sim, backup.sim);
  EXPECT_EQ(back->phonebook, backup.phonebook);
  EXPECT_EQ(back->sms, backup.sms);
  EXPECT_EQ(back->smsRecords, backup.smsRecords);
  EXPECT_EQ(back->smsParts, backup.smsParts);
  EXPECT_NE(text.find("\"status\": \"STO UNSENT\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"pdu\": \"000402D000\""), std::string::npos) << text;
  EXPECT_EQ((std::vector<int>{back->capacity, back->nameLength, back->smsCapacity}), (std::vector<int>{250, 14, 30}));
  EXPECT_EQ(back->books, backup.books);
}

// The archive's readable form: one mail a message; the time of a received message from its
// PDU when the bytes add up to one, else none (and nothing read past the record).
TEST(BackupTest, MessagesAsMailsForAPerson) {
  struct Case {
    std::string record;  // hexadecimal: status byte, service centre, TPDU
    std::string number, text;
    std::vector<std::string> held, absent;
  };
  // SMS-DELIVER from +3912, PID and DCS 00; then the time stamp.
  const std::string kDeliver = "01000404919321" "0000";
  const std::string kEpoch = " Thu Jan  1 00:00:00 1970\n";  // the archive's time, for none
  const Case kCases[] = {
      {kDeliver + "4250408000008000", "+3912", "Ciao",
       {"From +3912 Sat May  4 08:00:00 2024\n", "Date: Sat, 04 May 2024 08:00:00 +0200\n",
        "From: \"+3912\" <+3912@sms.invalid>\nTo: SIM <sim@sms.invalid>\n", "\n\nCiao\n\n"}, {}},
      {kDeliver + "425040800000" "0A" "00", "+3912", "x", {"Date: Sat, 04 May 2024 08:00:00 -0500\n"}, {}},
      {kDeliver + "4250", "+3912", "x", {"From +3912" + kEpoch}, {"Date:"}},           // cut short
      {"010004FF919321" "0000" "4250408000008000", "+3912", "x", {"From +3912" + kEpoch}, {"Date:"}},  // 255 digits
      {kDeliver + "4231408000008000", "+3912", "x", {}, {"Date:"}},                     // month 13
      {"05" "00" "01" "00" "04" "91" "9321" "0000", "0212 345", "Grüße\r\nFrom me\n>From you",
       {"From SIM" + kEpoch, "From: SIM <sim@sms.invalid>\nTo: \"0212 345\" <0212345@sms.invalid>\n",
        "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n", "\n\nGrüße\n>From me\n>>From you\n\n", "X-SMS-Status: STO SENT\n"},
       {"Date:"}},
      {kDeliver + "4250408000008000", "My \"Bank\"", "a",
       {"From My\"Bank\" Sat", "From: \"My \\\"Bank\\\"\" <MyBank@sms.invalid>\n"}, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.record);
    SimBackup messages;
    messages.sms = {{4, c.text, c.number, 0}};
    messages.smsRecords[4] = hexDecode(c.record).value();
    const std::string mbox = messagesMbox(messages, 0);
    EXPECT_TRUE(mbox.starts_with("From ")) << mbox;
    for (const std::string& h : c.held) EXPECT_NE(mbox.find(h), std::string::npos) << h << "\n" << mbox;
    for (const std::string& a : c.absent) EXPECT_EQ(mbox.find(a), std::string::npos) << a << "\n" << mbox;
  }
  struct Fill {
    int used, capacity;
    bool full;
  };
  for (const Fill f : {Fill{30, 30, true}, Fill{28, 30, true}, Fill{27, 30, false}, Fill{31, 30, true},
                       Fill{0, 2, false}, Fill{5, 0, false}}) {
    EXPECT_EQ(messageStoreFull(f.used, f.capacity), f.full) << f.used << " of " << f.capacity;
  }
  EXPECT_EQ(mboxBeside("/a/sms.json"), "/a/sms.mbox");
  EXPECT_EQ(mboxBeside("/a/sms.mbox"), "/a/sms.mbox.mbox");
}

// What a hand-edited or foreign file may hold: taken when it adds up, else refused whole
// with the reason.
TEST(BackupTest, ReadsWhatAddsUpAndSaysWhyNot) {
  struct Case {
    std::string text;
    std::string error;  // empty: read, with `names`
    std::vector<std::string> names = {};
  };
  const std::string book = R"("phonebooks": {"SM": {"entries": [)";
  const Case kCases[] = {
      {kHead + book + R"({"location": 2, "nameBytes": "8004100411FFFF", "number": "1"},
                         {"location": 1, "name": "Anna", "nameBytes": "00"}]}}})",
       "", {"Anna", "АБ"}},  // sorted by location; "name" wins over the bytes
      {kHead + R"("sms": {"messages": []}})", "", {}},
      {"", "not JSON"},
      {"[1, 2", "not JSON"},
      {"{\"format\": \"voryx-sim-backup\", \"version\": 1, \"x\": \"\xC3\"}", "not JSON"},  // bad UTF-8
      {R"({"format": "csv"})", "not a SIM backup"},
      {R"({"format": "voryx-sim-backup", "version": 2})", "a backup of version 2, which this program cannot read"},
      {R"({"format": "voryx-sim-backup"})", "no \"version\""},
      {kHead + R"("phonebooks": {"XY": {}}})", "phonebook XY: no such phonebook store (SM, ON, FD, ME, EN or SDN)"},
      {kHead + R"("phonebooks": {"fd": {}}})", "phonebook fd: no such phonebook store"},
      {kHead + R"("phonebooks": {"FD": {"entries": [{"location": 1}]}}})", "phonebook FD, entry 1: neither"},
      {kHead + R"("phonebooks": {"SM": []}})", "phonebook SM is no object"},
      {kHead + R"("phonebooks": []})", "the backup: \"phonebooks\" has the wrong type"},
      {kHead + book + R"(7]}}})", "phonebook SM: an entry is no object"},
      {kHead + book + R"({"name": "A"}]}}})", "phonebook SM, entry 1: no \"location\""},
      {kHead + book + R"({"location": "1", "name": "A"}]}}})", "phonebook SM, entry 1: \"location\" has the wrong type"},
      {kHead + book + R"({"location": 1.5, "name": "A"}]}}})", "phonebook SM, entry 1: \"location\" has the wrong type"},
      {kHead + book + R"({"location": 0, "name": "A"}]}}})", "phonebook SM, entry 1: \"location\" is out of range"},
      {kHead + book + R"({"location": 65536, "name": "A"}]}}})", "\"location\" is out of range"},
      {kHead + book + R"({"location": 3, "name": "A"}, {"location": 3, "name": "B"}]}}})",
       "phonebook SM, entry 2: location 3 appears twice"},
      {kHead + book + R"({"location": 1, "number": "1"}]}}})", "entry 1: neither \"name\" nor \"nameBytes\""},
      {kHead + book + R"({"location": 1, "nameBytes": "41G"}]}}})", "\"nameBytes\" is no hexadecimal text"},
      {kHead + book + R"({"location": 1, "name": "A\nB"}]}}})", "a control character in the name or number"},
      {kHead + book + R"({"location": 1, "name": "A", "number": "1\u0000"}]}}})", "a control character"},
      {kHead + R"("sms": {"messages": [{"index": 1, "text": ")" + std::string(161, 'x') + R"("}]}})",
       "message 1: longer than one message"},
      {kHead + R"("sms": {"messages": [{"index": 1}, {"index": 1}]}})", "message 2: index 1 appears twice"},
      {kHead + R"("sms": {"capacity": -1}})", "\"sms\": \"capacity\" is out of range"},
      {kHead + R"("sms": {"messages": [{"index": 1, "status": "READ", "pdu": "00"}]}})", "none of 27.005's"},
      {kHead + R"("sms": {"messages": [{"index": 1, "status": "REC READ", "pdu": "0G"}]}})", "no PDU in hexadecimal"},
      {kHead + R"("sms": {"messages": [{"index": 1, "status": "REC READ", "pdu": ")" + std::string(352, '0') +
           R"("}]}})", "no PDU in hexadecimal"},  // more than EF_SMS holds
      {kHead + R"("sms": {"messages": [{"index": 1, "part": {"total": 3, "part": 4}}]}})", "\"part\" is out of range"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    auto read = parseBackupJson(c.text);
    if (!c.error.empty()) {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.error().code, Errc::Invalid);
      EXPECT_NE(read.error().detail.find(c.error), std::string::npos) << read.error().detail;
      continue;
    }
    ASSERT_TRUE(read.ok()) << read.error().detail;
    std::vector<std::string> names;
    for (const SimEntry& e : read->phonebook) names.push_back(e.nome);
    EXPECT_EQ(names, c.names);
  }
}

// The marks a restore leaves over what the SIM in the copy holds: the writes then make it
// hold the backup and nothing else.
TEST(BackupTest, MarksWhatTheWritesMustChange) {
  const std::map<std::int32_t, SeenEntry> seen = {{1, {"Anna", "1"}}, {2, {"Bob", "2"}}, {4, {"Old", "4"}}};
  EXPECT_EQ(restoredRows({{3, "Carl", "3", 0}, {2, "Bob", "22", 0}, {1, "Anna", "1", 0}}, seen),
            (std::vector<SimEntry>{{1, "Anna", "1", kMarkInStep},
                                   {2, "Bob", "22", kMarkChanged},
                                   {3, "Carl", "3", kMarkNew},
                                   {4, "Old", "4", kMarkDeleted}}));
  EXPECT_EQ(restoredRows({}, seen).size(), 3u);
  EXPECT_EQ(restoredRows({{1, "Anna", "1", 0}}, seen, {4}),
            (std::vector<SimEntry>{{1, "Anna", "1", kMarkInStep}, {2, "Bob", "2", kMarkDeleted}, {4, "Old", "4", kMarkInStep}}));
  EXPECT_EQ(restoredRows({{5, "E", "5", 0}}, {}), (std::vector<SimEntry>{{5, "E", "5", kMarkNew}}));
}

class BackupFileTest : public test::ShippedDbTest {
 protected:
  Result<BackupRestore> restore(const std::string& text, int maxSIM = 0, int maxSMS = 0, bool discard = false) {
    test::writeFile(file_, text);
    return restoreBackup(file_, db_, maxSIM, maxSMS, discard);
  }
  std::filesystem::path file_ = dir_ / "sim.json";
};

// Both stores change together or not at all; the copy's SIM and what it held stay.
TEST_F(BackupFileTest, RestoresBothStoresOrNeither) {
  const SimIdentity newSim{"89390100009999999995", ""};
  ASSERT_TRUE(SimTable::open(db_, ListStore::Phonebook)->storeRead({{1, "Anna", "1", 0}, {5, "Eve", "5", 0}}, newSim, false).ok());
  ASSERT_TRUE(SimTable::open(db_, ListStore::Sms)->storeRead({{1, "hi", "9", 0}}, newSim, false).ok());
  const std::string text =
      kHead + R"("sim": {"iccid": "89390100001234567895"},
                 "phonebooks": {"SM": {"entries": [{"location": 1, "name": "Anna", "number": "1"},
                                                   {"location": 9, "name": "Zed", "number": "99"}]}},
                 "sms": {"messages": [{"index": 1, "text": "hello", "number": "9"}]}})";
  // Too small a SIM, a file cut short: nothing changes.
  struct Refusal {
    std::string text;
    int maxSIM, maxSMS;
    std::string why;
  };
  for (const Refusal& r : {Refusal{text, 8, 0, "the backup holds location 9, and this SIM has 8"},
                           Refusal{text.substr(0, 60), 0, 0, "sim.json: not JSON"}}) {
    auto refused = restore(r.text, r.maxSIM, r.maxSMS);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().detail.find(r.why), std::string::npos) << refused.error().detail;
    EXPECT_EQ(rows(), (std::vector<SimEntry>{{1, "Anna", "1", 0}, {5, "Eve", "5", 0}}));
  }
  auto restored = restore(text);
  ASSERT_TRUE(restored.ok()) << restored.error().detail;
  EXPECT_EQ(restored->entriesMarked, 1);
  EXPECT_EQ(restored->entriesErased, 1);
  EXPECT_EQ(restored->messagesMarked, 1);
  EXPECT_EQ(restored->messagesWithoutRecords, 1);  // a backup that kept its texts only
  EXPECT_EQ(restored->copySim, newSim);
  EXPECT_EQ(rows(), (std::vector<SimEntry>{{1, "Anna", "1", 0}, {5, "Eve", "5", 2}, {9, "Zed", "99", 1}}));
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "hello", "9", 3}}));
  EXPECT_EQ(*SimTable::open(db_, ListStore::Phonebook)->identity(), newSim);

  // Marked rows are kept unless the user gives them up.
  auto marked = restore(text);
  ASSERT_FALSE(marked.ok());
  EXPECT_NE(marked.error().detail.find("not yet written to the SIM"), std::string::npos);
  EXPECT_TRUE(restore(text, 0, 0, true).ok());
  EXPECT_FALSE(restore(kHead + R"("sms": {"messages": [{"index": 1}, {"index": 2}]}})", 0, 1, true).ok());

  // An entry whose number the SIM cannot hold is named and left out, and its location
  // keeps what the SIM holds; the rest go in as an edit stores them.
  auto mixed = restore(kHead + R"("phonebooks": {"SM": {"entries": [{"location": 1, "name": "Anna", "number": "1"},
      {"location": 5, "name": "Fiori", "number": "0800-FLOWERS"}, {"location": 6, "name": "Pia", "number": "1w2"},
      {"location": 9, "name": "Zed Zanetti Bellini", "number": "+49 (0) 30 1"}]}}})",
                       0, 0, true);
  ASSERT_TRUE(mixed.ok()) << mixed.error().detail;
  EXPECT_EQ(mixed->refused, (std::vector<std::string>{
                                "phonebook SM, location 5: 'F' cannot be stored in a SIM number.",
                                "phonebook SM, location 6: 'w' cannot be stored in a SIM number: a SIM holds a pause (p), not a wait."}));
  EXPECT_EQ(mixed->namesCut, 1);
  EXPECT_EQ(mixed->entriesMarked, 1);
  EXPECT_EQ(mixed->entriesErased, 0);
  EXPECT_EQ(rows(), (std::vector<SimEntry>{{1, "Anna", "1", 0}, {5, "Eve", "5", 0}, {9, "Zed Zanetti Be", "+49301", 1}}));
}

// The other stores: each restored over what its own last read saw, in the same
// transaction; the SIM's own stores (EN) are not restored; a store read from another SIM
// stays out of a backup.
TEST_F(BackupFileTest, TheOtherPhonebookStoresGoAlong) {
  const SimIdentity a{"89390100001234567895", ""}, other{"89390100009999999995", ""};
  auto open = [&](Phonebook book) { return SimTable::open(db_, ListStore::Phonebook, kShellBusy, book); };
  ASSERT_TRUE(open(Phonebook::SM)->storeRead({{1, "Anna", "1", 0}}, a, false).ok());
  ASSERT_TRUE(open(Phonebook::FD)->storeRead({{1, "Casa", "0212", 0}, {2, "Old", "9", 0}}, a, false).ok());
  ASSERT_TRUE(open(Phonebook::EN)->storeRead({{1, "", "112", 0}}, a, false).ok());
  ASSERT_TRUE(open(Phonebook::ON)->storeRead({{1, "Me", "333", 0}}, other, false).ok());
  auto copy = backupOfCopy(db_);
  ASSERT_TRUE(copy.ok()) << copy.error().detail;
  EXPECT_EQ(copy->books.count(Phonebook::ON), 0u);
  EXPECT_EQ(copy->books.count(Phonebook::ME), 0u);  // never read
  EXPECT_EQ(copy->books[Phonebook::FD].entries, (std::vector<SimEntry>{{1, "Casa", "0212", 0}, {2, "Old", "9", 0}}));

  const std::string text = kHead + R"("phonebooks": {"SM": {"entries": [{"location": 1, "name": "Anna", "number": "1"}]},
      "FD": {"entries": [{"location": 1, "name": "Casa", "number": "0212"}, {"location": 3, "name": "New", "number": "3"}]},
      "EN": {"entries": [{"location": 1, "name": "", "number": "911"}]}}})";
  ASSERT_TRUE(open(Phonebook::FD)->change({2, "Old", "8", 3}).ok());
  ASSERT_FALSE(restore(text).ok());  // the mark in FD holds it all back
  EXPECT_EQ(*open(Phonebook::FD)->countMarked(), 1);
  auto restored = restore(text, 0, 0, true);
  ASSERT_TRUE(restored.ok()) << restored.error().detail;
  EXPECT_EQ(restored->booksRestored, std::vector<Phonebook>{Phonebook::FD});
  EXPECT_EQ(restored->bookEntriesMarked, 1);
  EXPECT_EQ(restored->bookEntriesErased, 1);
  EXPECT_EQ(*open(Phonebook::FD)->list(),
            (std::vector<SimEntry>{{1, "Casa", "0212", 0}, {2, "Old", "9", 2}, {3, "New", "3", 1}}));
  EXPECT_EQ(*open(Phonebook::EN)->list(), (std::vector<SimEntry>{{1, "", "112", 0}}));
}

// The SMS store's archive: written and read back before anything is marked; refused
// whole while the list holds changes; restored, it gives back the messages and leaves the
// phonebook (and its marks) as they are.
TEST_F(BackupFileTest, ArchivesTheMessagesBeforeClearingThem) {
  const std::filesystem::path file = dir_ / "sms.json";
  auto unread = archiveMessages(file, db_, 3, true);
  ASSERT_FALSE(unread.ok());
  EXPECT_EQ(unread.error().detail, "the messages have not been read from a SIM");
  const SimIdentity a{"89390100001234567895", ""};
  ASSERT_TRUE(SimTable::open(db_, ListStore::Phonebook)->storeRead({{1, "Anna", "1", 0}}, a, false).ok());
  ASSERT_TRUE(SimTable::open(db_, ListStore::Sms)
                  ->storeRead({{1, "hi", "+3912", 0}, {2, "yo", "555", 0}}, a, false, {},
                              {{1, std::string("\x01\x00\x04\x02\x91\x21\x00\x00", 8)}})
                  .ok());
  ASSERT_TRUE(SimTable::open(db_, ListStore::Sms)->change({2, "changed", "555", 3}).ok());
  auto marked = archiveMessages(file, db_, 3, true);
  ASSERT_FALSE(marked.ok());
  EXPECT_NE(marked.error().detail.find("1 change not yet written"), std::string::npos) << marked.error().detail;
  EXPECT_FALSE(std::filesystem::exists(file));
  ASSERT_TRUE(SimTable::open(db_, ListStore::Sms)->change({2, "yo", "555", 0}).ok());
  EXPECT_FALSE(archiveMessages(dir_ / "missing" / "sms.json", db_, 3, true).ok());
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "hi", "+3912", 0}, {2, "yo", "555", 0}}));

  auto archived = archiveMessages(file, db_, 3, true);
  ASSERT_TRUE(archived.ok()) << archived.error().detail;
  EXPECT_EQ(archived->messages, 2);
  EXPECT_TRUE(archived->cleared);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "sms.mbox"));
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "hi", "+3912", 2}, {2, "yo", "555", 2}}));
  const std::string text = test::readFile(file);
  EXPECT_EQ(text.find("phonebooks"), std::string::npos) << text;

  ASSERT_TRUE(SimTable::open(db_, ListStore::Phonebook)->change({1, "Anna B", "1", 3}).ok());
  auto restored = restoreBackup(file, db_, 0, 0, true);
  ASSERT_TRUE(restored.ok()) << restored.error().detail;
  EXPECT_EQ(restored->entriesMarked + restored->entriesErased, 0);
  EXPECT_EQ(restored->backup.smsCapacity, 3);
  EXPECT_EQ(rows(), (std::vector<SimEntry>{{1, "Anna B", "1", 3}}));
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "hi", "+3912", 0}, {2, "yo", "555", 0}}));
}

TEST_F(BackupFileTest, BacksUpWhatTheSimHeldNotTheChanges) {
  EXPECT_FALSE(backupOfCopy(db_).ok());  // nothing read yet
  const SimIdentity a{"89390100001234567895", "222015550001234"};
  ASSERT_TRUE(SimTable::open(db_, ListStore::Phonebook)->storeRead({{1, "Anna", "1", 0}}, a, false).ok());
  ASSERT_TRUE(SimTable::open(db_, ListStore::Phonebook)->change({1, "Changed", "1", 3}).ok());
  auto copy = backupOfCopy(db_);
  ASSERT_TRUE(copy.ok()) << copy.error().detail;
  EXPECT_EQ(copy->phonebook, (std::vector<SimEntry>{{1, "Anna", "1", 0}}));
  EXPECT_EQ(copy->sim, a);
  ASSERT_TRUE(SimTable::open(db_, ListStore::Sms)->storeRead({}, {"89390100009999999995", ""}, false).ok());
  auto two = backupOfCopy(db_);
  ASSERT_FALSE(two.ok());
  EXPECT_EQ(two.error().detail, "the phonebook and the messages were read from two different SIMs");
  EXPECT_FALSE(writeBackup(dir_ / "missing" / "b.json", *copy).ok());
}

}  // namespace
}  // namespace voryx::entries
