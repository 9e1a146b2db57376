// The shell's manners, from the real binary: exit status and the first line it says.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/RunVoryx.h"
#include "sim/Gammu.h"
#include "sim/ModemPorts.h"
#include "sim/VirtualModem.h"
#include "support/ListIsSim.h"
#include "support/TempDir.h"

namespace voryx {
namespace {

using test::Env;
using test::Ran;
using test::runVoryx;

// gammu is installed with the build's dependencies (scripts/install-deps.sh): the checks
// that ask it are part of these tests, not optional.
constexpr const char* kGammuMissing = "gammu is not installed: run scripts/install-deps.sh";

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

struct Said {
  std::vector<std::string> args;
  int status;
  std::string said;  // how the first line of stderr (of stdout when stderr is empty) starts; "": empty
};

// Runs each command in turn in `home`, as a user would type them one after the other.
void expectSays(const test::TempDir& home, const std::vector<Said>& commands) {
  for (const Said& c : commands) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const Ran ran = runVoryx(home, c.args);
    EXPECT_EQ(ran.status, c.status);
    const std::string said = firstLine(ran.err.empty() ? ran.out : ran.err);
    EXPECT_TRUE(c.said.empty() ? said.empty() : said.starts_with(c.said)) << said;
  }
}

TEST(CommandLineTest, SaysWhatHappenedAndExitsAccordingly) {
  test::TempDir home;
  const std::string kEmpty = "voryx list: the local phonebook is empty";
  const std::string kEml = (home.path / "support.eml").string();
  expectSays(home, {
      {{"--version"}, 0, "voryx 0.1"},
      {{"foo"}, 2, "voryx: unknown command 'foo'; the commands are:"},
      {{"help", "nope"}, 2, "voryx: unknown command 'nope'; the commands are:"},
      {{"help", "read"}, 0, "Read the SIM's phonebook (or SMS store) into the local database"},
      {{"read", "--simulate", "--device", "/dev/null"}, 2, "--device excludes --simulate"},
      {{"read", "--device", "/dev/null"}, 3, "Read from SIM: No modem could be opened; the local list was kept."},
      {{"write", "--device", "/dev/ttyNONE9"}, 3, "Write to SIM: No modem could be opened; nothing was written."},
      {{"list"}, 0, kEmpty},
      // Replies end at the quiet window, as by default; the other runs here take --fast.
      {{"read", "--simulate"}, 0, "Read 36 entries (SIM capacity 250)"},
      {{"read", "--fast", "--simulate", "--quiet"}, 0, ""},
      // A modem without HEX: its UCS2 forced, or HEX forced and refused.
      {{"read", "--fast", "--simulate", "--charsets", "UCS2,IRA", "--hex-numbers", "--charset", "ucs2"}, 0,
       "Read 36 entries (SIM capacity 250)"},
      {{"read", "--fast", "--simulate", "--charsets", "UCS2,IRA", "--charset", "HEX"}, 1,
       "Read from SIM: The modem refused the character set"},
      {{"modem-sim", "--charsets", "UCS2,LATIN1"}, 2, "voryx modem-sim: unknown character sets \"UCS2,LATIN1\""},
      {{"modem-sim", "--qmi", "--fault", "error-at-write=2"}, 2,
       "voryx modem-sim: unknown fault \"error-at-write=2\" with --qmi (error-at-record=K"},
      {{"read", "--qmi", "/dev/null", "--simulate"}, 2, "--simulate excludes --qmi"},
      // The first line says which way the SIM is reached; no device there ends with 3.
      {{"read", "--qmi", "/dev/ttyNONE9"}, 3, "voryx read: using QMI /dev/ttyNONE9 through qmi-proxy"},
      {{"write", "--fast", "--simulate"}, 0, "Nothing to write"},
      {{"list", "--search", "zzz"}, 0, "voryx list: no entry matches \"zzz\""},
      // Editing from the shell: the list's format on stdout, a word on stderr.
      {{"add", "Zoe Zanetti Bellini", "+39 02-55 x"}, 1, "voryx add: 'x' cannot be stored in a SIM number."},
      {{"add", "Zoe", "123456789012345678901"}, 1, "voryx add: The number has 21 digits; a number on this SIM holds 20."},
      {{"add", "Zoe Zanetti Bellini", "+39 (0) 2-55 p1"}, 0, "voryx add: the name is cut to \"Zoe Zanetti Be\""},
      {{"list", "--search", "Zoe"}, 0, "voryx list: read from the SIM \u20264567895"},
      {{"edit", "37", "Zoe", "555"}, 0, "37\tZoe\t555\t3"},
      // What a write would send, and a write that only shows it.
      {{"status"}, 1, "1 change to write to the SIM \u20264567895: 1 changed"},
      {{"write", "--fast", "--simulate", "--dry-run"}, 0, "Dry run: nothing was written; 1 change command held back"},
      {{"diff", "--json"}, 1, "{"},
      {{"delete", "999"}, 1, "voryx delete: The change was not saved. "},
      {{"add", "--sms", "Ciao", "1"}, 0, "1\tCiao\t1\t1"},
      // The SMS store was never read: its size is not known, and every add finds a place.
      {{"add", "--sms", "Ciao", "1"}, 0, "2\tCiao\t1\t1"},
      {{"empty"}, 0, "voryx empty: every phonebook entry is marked for deletion"},
      {{"write", "--fast", "--simulate", "--quiet"}, 0, ""},
      {{"list"}, 0, kEmpty},
      {{"export"}, 0, "voryx export: 0 entries written to " + (home.path / "Documents" / "Voryx.csv").string()},
      {{"export", "--vcard"}, 0,
       "voryx export: 0 entries written to " + (home.path / "Documents" / "Voryx.vcf").string() + " (vCard 4.0)"},
      {{"export", "--vcard", "--vcard-version", "5.0"}, 2, "voryx export: --vcard-version takes 4.0, 3.0 or 2.1"},
      {{"restore", "/nonexistent.csv"}, 1, "voryx restore: nothing was restored: /nonexistent.csv: no such file"},
      {{"log", "start"}, 0, "voryx log: logging is on"},
      {{"list"}, 0, kEmpty},
      {{"log", "show"}, 0, "LOG START"},
      {{"log", "stop"}, 0, "voryx log: logging is off"},
      // The support mail: without a desktop only as a file; then logging is off.
      {{"log", "start"}, 0, "voryx log: logging is on"},
      {{"mail"}, 1, "voryx mail: no desktop mail client here"},
      {{"mail", "--eml", kEml}, 0, "voryx mail: the message to support@voryx.invalid is in " + kEml + "; logging is off"},
  });
  EXPECT_EQ(test::readFile(kEml).substr(0, 19), "MIME-Version: 1.0\r\n");
  EXPECT_FALSE(std::filesystem::exists(home.path / "state" / "logging-on"));
}

// An SMS write whose delete of a changed message's old copy the SIM refused: the new copy
// is stored, the shell says the old one stays and ends with 3; the next write deletes it.
TEST(CommandLineTest, AnSmsWriteThatKeptAnOldCopySaysSoAndEndsWithThree) {
  test::TempDir home;
  sim::SimCard card(10, 14, 10);
  card.setMessage(1, {sim::SmsStatus::StoSent, "555", "", "old text", false, {}});
  sim::ModemOptions options;
  options.faults.errorAtWrite = 2;  // the second write command: the delete of the old copy
  sim::VirtualModem modem{card, options};
  ASSERT_TRUE(modem.start());
  const std::string dev = modem.devicePath();
  expectSays(home, {
      {{"read", "--fast", "--sms", "--device", dev}, 0, "Read 1 message (SIM capacity 10)"},
      {{"edit", "--sms", "1", "new text", "555"}, 0, "1\tnew text\t555\t3"},
  });
  const Ran kept = runVoryx(home, {"write", "--fast", "--sms", "--device", dev});
  EXPECT_EQ(kept.status, 3);
  EXPECT_EQ(kept.err, "Wrote 1 message: 1 changed\nThe old copy of a changed message could not be deleted "
                      "and stays on the SIM; the next write deletes it.\n");
  expectSays(home, {{{"write", "--fast", "--sms", "--device", dev}, 0, "Wrote 1 message: 1 deleted"}});

  // A message the SIM refuses to store: the error names the SMS store.
  modem.stop();
  options.faults.errorAtWrite = 1;
  sim::VirtualModem refusing{modem.sim(), options};
  ASSERT_TRUE(refusing.start());
  expectSays(home, {
      {{"add", "--sms", "Ciao", "1"}, 0, "1\tCiao\t1\t1"},
      {{"write", "--fast", "--sms", "--device", refusing.devicePath()}, 1, "Error writing SMS: The modem refused"},
  });

  // A modem that falls silent mid-write is gone as far as the write can tell: exit 3. Without
  // --fast: the silence is judged by the quiet window alone.
  refusing.stop();
  options.faults = {};
  options.faults.muteAtWrite = 1;
  sim::VirtualModem mute{refusing.sim(), options};
  ASSERT_TRUE(mute.start());
  expectSays(home, {{{"write", "--sms", "--device", mute.devicePath()}, 3, "Error writing SMS: The modem stopped answering"}});
}

// A write killed (SIGKILL, or the SIGTERM of a shutdown) after the SIM stored a message
// and before its answer was read: the next write stores nothing twice, and the list is the
// SIM. Over the modem's message commands and over the SIM's records (AT+CRSM).
TEST(CommandLineTest, AWriteKilledMidMessageStoresNothingTwice) {
  for (const char* access : {"commands", "records"}) {
    for (const int signal : {SIGKILL, SIGTERM}) {
      SCOPED_TRACE(std::string(access) + (signal == SIGKILL ? ", SIGKILL" : ", SIGTERM"));
      test::TempDir home;
      sim::SimCard card(10, 14, 10);
      card.setMessage(1, {sim::SmsStatus::StoSent, "1", "", "Probe one", false, {}});
      std::atomic<pid_t> victim{0};
      std::atomic<bool> killed{false};
      sim::VirtualModem modem{card};
      // On the modem's thread, once the SIM holds the message and before its answer goes.
      modem.setOnChange([&](const sim::SimCard& now) {
        const bool stored = std::any_of(now.messages().begin(), now.messages().end(),
                                        [](const auto& m) { return m.second.text == "Probe two"; });
        if (!stored || killed) return;
        for (int i = 0; i < 5000 && victim == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds{1});
        killed = ::kill(victim, signal) == 0;
      });
      ASSERT_TRUE(modem.start());
      const std::string dev = modem.devicePath();
      expectSays(home, {{{"read", "--fast", "--sms", "--device", dev, "--access", access, "-q"}, 0, ""},
                        {{"add", "--sms", "Probe two", "555"}, 0, "2\tProbe two\t555\t1"}});
      test::Started write(home, {"write", "--fast", "--sms", "--device", dev, "--access", access, "-q"}, {});
      victim = write.pid();
      EXPECT_EQ(write.wait().status, -1);  // ended by the signal
      // The modem's thread may not have noted its kill yet when the run's end is seen.
      for (int i = 0; i < 5000 && !killed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds{1});
      EXPECT_TRUE(killed);
      expectSays(home, {{{"write", "--fast", "--sms", "--device", dev, "--access", access, "-q"}, 0, ""}});
      const sim::SimCard after = modem.sim();
      std::vector<std::string> texts;
      for (const auto& [index, m] : after.messages()) texts.push_back(m.text);
      EXPECT_EQ(texts, (std::vector<std::string>{"Probe one", "Probe two"}));
      EXPECT_TRUE(test::listIsSim(home / "data" / "Voryx.sqlitedb", ListStore::Sms, after));
    }
  }
}

// The modem's port when none is given, and what the modem says of itself: three ports of
// which the first is silent, the second held by a live program (the test's parent, by its
// lock file) and the third answers.
TEST(CommandLineTest, FindsTheModemAndTellsWhatItSays) {
  test::TempDir home;
  sim::ModemPorts ports{3};
  ASSERT_TRUE(ports.start());
  const std::vector<std::string> p = ports.paths();
  char lock[16];
  std::snprintf(lock, sizeof lock, "%10d\n", static_cast<int>(::getppid()));
  test::writeFile(home / ("LCK.." + std::filesystem::path(p[1]).filename().string()), lock);
  const Env scan{{"VORYX_PORTS", p[0] + ":" + p[1] + ":" + p[2]}, {"VORYX_LOCK_DIR", home.path}};
  const std::string busy = p[1] + ": busy: held by another program (PID " + std::to_string(::getppid()) + ")";
  sim::ModemOptions withoutSim;
  withoutSim.noSim = true;
  sim::VirtualModem noSim{sim::SimCard::demo(), withoutSim};
  ASSERT_TRUE(noSim.start());

  struct Case { std::vector<std::string> args; Env env; int status; std::string said; std::string out; };
  const Case kCases[] = {
      {{"devices"}, scan, 0, "",
       p[0] + ": no answer to AT\n" + busy + "\n" + p[2] + ": answers AT: Voryx virtual modem\n"},
      {{"devices"}, {{"VORYX_PORTS", "/dev/nonesuch*"}}, 3,
       "voryx devices: no serial port found (looked for /dev/nonesuch*); connect the modem, or give "
       "--device PATH, or --simulate", ""},
      {{"read"}, {{"VORYX_PORTS", p[0]}, {"VORYX_LOCK_DIR", home.path}}, 3,
       "voryx read: no port answered AT: " + p[0] + " no answer to AT", ""},
      {{"read", "--fast"}, scan, 0, "voryx read: using " + p[2] + " (Voryx virtual modem)", ""},
      {{"info", "--simulate"}, {}, 0, "",
       "Manufacturer: Voryx\nModel: Voryx virtual modem\nFirmware: 1.0\nIMEI: 356938035643809\n"
       "SIM status: READY\nIMSI: 222015550001234\nICCID: 89390100001234567895\n"
       "Phonebook capacity: 250\nName length: 14\nSMS capacity: 30\n"
       "Character sets: GSM, IRA, HEX, UCS2, UTF-8\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args[0] + (c.env.empty() ? "" : " " + c.env[0].second));
    const Ran ran = runVoryx(home, c.args, c.env);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(firstLine(ran.err), c.said);
    // After the "Port:" line (a pty of its own for --simulate), and up to the advice.
    const std::size_t from = c.args[0] == "info" ? ran.out.find('\n') + 1 : 0;
    EXPECT_EQ(ran.out.substr(from, c.out.size()), c.out);
  }
  // The port that answered is remembered; the exchange of info is in the debug log.
  EXPECT_NE(test::readFile(home / "config" / "preferences.json").find("\"device\": \"" + p[2] + "\""),
            std::string::npos);
  EXPECT_NE(test::readFile(home / "state" / "Voryx.log").find("info send |AT+CGMI|"), std::string::npos);

  // A refusal in words, and as the modem said it.
  const Ran refused = runVoryx(home, {"info", "--device", noSim.devicePath()});
  EXPECT_NE(refused.out.find("\nSIM status: There is no SIM in the modem. Insert the SIM (with the modem "
                             "off) and try again. (+CME ERROR: 10)\n"),
            std::string::npos) << refused.out;
}

// Two SIM files are two SIMs: each new one has an identity of its own, kept in the file,
// and a write never lands on the other; the identity given on the command line is checked.
TEST(CommandLineTest, TwoSimFilesAreTwoSims) {
  test::TempDir home;
  const std::string a = (home / "a.sim").string(), b = (home / "b.sim").string();
  expectSays(home, {
      {{"modem-sim", "--iccid", "8939"}, 2, "--iccid: an ICCID is 18 to 20 digits, the last may be F"},
      {{"modem-sim", "--imsi", "22201x"}, 2, "--imsi: an IMSI is 6 to 15 digits"},
      {{"read", "--fast", "--sim-file", a, "--quiet"}, 0, ""},
      {{"edit", "1", "Anna", "111"}, 0, "1\tAnna\t111\t3"},
  });
  auto iccidLine = [](const std::filesystem::path& file) {
    const std::string text = test::readFile(file);
    const std::size_t at = text.find("\niccid ");
    return at == std::string::npos ? std::string() : text.substr(at + 1, text.find('\n', at + 1) - at - 1);
  };
  const std::string iccid = iccidLine(a);
  EXPECT_TRUE(iccid.starts_with("iccid 893901")) << iccid;
  EXPECT_NE(iccid, "iccid 89390100001234567895");  // not the demo's
  EXPECT_EQ(runVoryx(home, {"write", "--fast", "--sim-file", b}).status, 5);
  EXPECT_NE(iccidLine(b), iccid);
  EXPECT_EQ(runVoryx(home, {"write", "--fast", "--sim-file", a, "--quiet"}).status, 0);
  EXPECT_EQ(iccidLine(a), iccid);  // the same SIM, changed and saved again
}

// A whole SIM moved onto a new one: its backup, the new SIM read, the backup restored and
// written; the new SIM then holds what the old one held (gammu lists the same phonebook)
// and no message the backup lacks.
TEST(CommandLineTest, ABackupMovesAWholeSimOntoANewOne) {
  sim::SimCard blank;
  blank.giveFreshIdentity();
  ASSERT_TRUE(blank.writeEntryText(40, "Not backed up", "123"));
  ASSERT_TRUE(blank.setMessage(9, {sim::SmsStatus::RecRead, "+3912", "24/05/04,08:00:00+08", "Not backed up", false, {}}));
  sim::VirtualModem old(sim::SimCard::demo()), fresh(blank);
  ASSERT_TRUE(old.start() && fresh.start());
  test::TempDir home;
  const std::string file = (home / "sim.json").string();
  const std::string a = old.devicePath(), b = fresh.devicePath();
  expectSays(home, {
      {{"backup", file, "--device", a, "-q", "--fast"}, 0, "voryx backup: 36 entries and 8 messages of SIM \u20264567895"},
      {{"restore-backup", (home / "none.json").string()}, 1, "voryx restore-backup: nothing was restored: "},
      {{"read", "--device", b, "-q", "--fast"}, 0, ""},
      {{"read", "--sms", "--device", b, "-q", "--fast"}, 0, ""},
      {{"restore-backup", file}, 0,
       "voryx restore-backup: 36 entries and 8 messages of SIM \u20264567895 restored; 36 entries and 8 "
       "messages to write, 1 entries and 1 messages the SIM holds and the backup has not marked deleted"},
      {{"restore-backup", file}, 1, "voryx restore-backup: nothing was restored: "},
      {{"write", "--device", a, "-q", "--fast"}, 5, "This is not the SIM the list was read from"},  // the old SIM
      {{"write", "--device", b, "-q", "--fast"}, 0, ""},
      {{"write", "--sms", "--device", b, "-q", "--fast"}, 0, ""},
      {{"status"}, 0, "Nothing to write (the list is as on the SIM \u2026" + fresh.sim().iccid().substr(13) + ")"},
  });
  const sim::SimCard after = fresh.sim();
  const std::filesystem::path database = home / "data" / "Voryx.sqlitedb";
  EXPECT_TRUE(test::listIsSim(database, ListStore::Phonebook, after));
  EXPECT_TRUE(test::listIsSim(database, ListStore::Sms, after));
  // gammu, a judge of its own, lists the same phonebook and messages (status, sender, time,
  // coding, the parts of a long one) on both SIMs.
  ASSERT_TRUE(test::gammuInstalled()) << kGammuMissing;
  EXPECT_EQ(test::runGammu(b, "getallmemory SM"), test::runGammu(a, "getallmemory SM"));
  EXPECT_EQ(test::runGammu(b, "getallsms"), test::runGammu(a, "getallsms"));
}

// A message store that is full: the read says so (and from two short of full); the
// archive holds every message (restore-backup gives the SIM the very same messages back,
// the mbox file shows each text) and only then is the store cleared, through the SMS
// write; an archive that cannot be written clears nothing.
TEST(CommandLineTest, AFullMessageStoreIsArchivedAndCleared) {
  const std::vector<sim::SmsRecord> kMessages{
      {sim::SmsStatus::RecRead, "+393331234567", "24/05/04,08:00:00+08", "From the bakery: bread is ready", false, {}},
      {sim::SmsStatus::StoSent, "0212345", "", "Grüße aus Köln\n>From here", false, {}},
      {sim::SmsStatus::RecRead, "+3912", "24/05/05,09:30:00+08", "Ciao", false, {}},
      {sim::SmsStatus::RecRead, "+3912", "24/05/06,10:00:00+08", "long one, first half", false, std::string("\x00\x03\x07\x02\x01", 5)},
      {sim::SmsStatus::RecRead, "+3912", "24/05/06,10:00:00+08", " and second half", false, std::string("\x00\x03\x07\x02\x02", 5)},
  };
  struct Fill {
    int messages;
    std::string warning;  // the line after the read's own; "": none
  };
  for (const Fill& f : {Fill{2, ""}, Fill{3, "The SIM's message store is nearly full (3 of 5): new messages will soon stop arriving."},
                        Fill{5, "The SIM's message store is full (5 of 5): new messages cannot arrive."}}) {
    SCOPED_TRACE(f.messages);
    sim::SimCard card(10, 14, 5);
    for (int i = 0; i < f.messages; ++i) ASSERT_TRUE(card.setMessage(i + 1, kMessages[static_cast<std::size_t>(i)]));
    sim::VirtualModem modem(card);
    ASSERT_TRUE(modem.start());
    test::TempDir home;
    const Ran read = runVoryx(home, {"read", "--sms", "--fast", "--device", modem.devicePath()});
    EXPECT_EQ(read.status, 0);
    const std::string second = read.err.substr(read.err.find('\n') + 1);
    EXPECT_EQ(firstLine(second), f.warning.empty() ? "" : f.warning + " (voryx sms --archive FILE --clear)") << read.err;
  }

  sim::SimCard card(10, 14, 5);
  ASSERT_TRUE(card.writeEntryText(1, "Anna", "0212"));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(card.setMessage(i + 1, kMessages[static_cast<std::size_t>(i)]));
  sim::VirtualModem modem(card);
  ASSERT_TRUE(modem.start());
  const std::string dev = modem.devicePath();
  ASSERT_TRUE(test::gammuInstalled()) << kGammuMissing;
  const std::string before = test::runGammu(dev, "getallsms");
  test::TempDir home;
  const std::filesystem::path database = home / "data" / "Voryx.sqlitedb";
  expectSays(home, {{{"read", "--device", dev, "-q", "--fast"}, 0, ""},
                    {{"read", "--sms", "--device", dev, "-q", "--fast"}, 0, "The SIM's message store is full (5 of 5)"}});
  // Files that cannot be written: nothing is marked, the SIM keeps every message.
  test::writeFile(home / "plain", "x");
  const std::vector<std::string> unwritable{(home / "missing" / "sms.json").string(),
                                            (home / "plain" / "sms.json").string()};
  for (const std::string& file : unwritable) {
    expectSays(home, {{{"sms", "--archive", file, "--clear", "--device", dev, "-q", "--fast"}, 1,
                       "voryx sms: nothing was cleared: the archive failed: "}});
    EXPECT_TRUE(test::listIsSim(database, ListStore::Sms, modem.sim()));
    EXPECT_EQ(modem.sim().messages().size(), 5u);
  }

  const std::filesystem::path archive = home / "sms.json";
  expectSays(home, {
      {{"sms", "--archive", archive.string(), "--clear", "--device", dev, "-q", "--fast"}, 0,
       "voryx sms: 5 messages archived in " + archive.string() + " (to read: " + (home / "sms.mbox").string() + ")"},
      {{"read", "--sms", "--device", dev, "--fast"}, 0, "Read 0 messages (SIM capacity 5)"},
  });
  EXPECT_TRUE(modem.sim().messages().empty());
  // The readable file: one mail a message, the parts of the long one joined, "From " lines
  // of a text quoted, a received message's time as its Date.
  const std::string mbox = test::readFile(home / "sms.mbox");
  for (const char* held :
       {"\n>From the bakery: bread is ready\n", "\nGrüße aus Köln\n>>From here\n", "\nCiao\n",
        "\nlong one, first half and second half (2 parts)\n", "\nDate: Sat, 04 May 2024 08:00:00 +0200\n",
        "From: \"+393331234567\" <+393331234567@sms.invalid>\n", "To: \"0212345\" <0212345@sms.invalid>\n"}) {
    EXPECT_NE(mbox.find(held), std::string::npos) << held << "\n" << mbox;
  }
  std::size_t mails = mbox.starts_with("From ") ? 1 : 0;
  for (std::size_t at = 0; (at = mbox.find("\nFrom ", at)) != std::string::npos; ++at) ++mails;
  EXPECT_EQ(mails, 4u) << mbox;

  // The archive gives the SIM its messages back as they were, and leaves the phonebook be.
  expectSays(home, {
      {{"restore-backup", archive.string()}, 0, "voryx restore-backup: 0 entries and 5 messages of SIM"},
      {{"status"}, 0, "Nothing to write"},
      {{"write", "--sms", "--device", dev, "-q", "--fast"}, 0, ""},
  });
  EXPECT_EQ(test::runGammu(dev, "getallsms"), before);
}

// The other phonebook stores from the shell: each read, listed, edited and exported on
// its own; fixed dialling written with PIN2 only; the SIM's own stores never changed.
TEST(CommandLineTest, TheOtherPhonebookStores) {
  sim::VirtualModem modem(sim::SimCard::demo());
  ASSERT_TRUE(modem.start());
  test::TempDir home;
  const std::string dev = modem.devicePath(), vcf = (home / "fd.vcf").string();
  expectSays(home, {
      {{"read", "--store", "fd", "--device", dev, "--fast"}, 0, "Read 2 entries of FD (SIM capacity 10)"},
      {{"read", "--store", "XX", "--device", dev}, 2, "--store: XX not in {SM,ON,FD,ME,EN,SDN}"},
      {{"read", "--sms", "--store", "FD", "--device", dev}, 2, "--sms excludes --store"},
      {{"read", "--store", "EN", "--device", dev, "--fast", "-q"}, 0, ""},
      {{"add", "--store", "EN", "X", "113"}, 1, "voryx add: Emergency numbers (EN): the SIM's own numbers"},
      {{"delete", "--store", "EN", "1"}, 1, "voryx delete: The change was not saved. Emergency numbers (EN)"},
      {{"write", "--store", "EN", "--device", dev, "--fast"}, 1, "Write to SIM: Emergency numbers (EN)"},
      {{"add", "--store", "FD", "Ufficio", "+390298765432"}, 0, "3\tUfficio\t+390298765432\t1"},
      {{"list"}, 0, "voryx list: the local phonebook is empty"},
      {{"write", "--store", "FD", "--device", dev, "--fast"}, 4,
       "voryx write: fixed dialling is written with PIN2: give --pin2"},
      {{"write", "--store", "FD", "--device", dev, "--fast", "--access", "records", "--pin2", "0000"}, 1,
       "Write to SIM: Through the SIM's files Voryx reaches the SIM phonebook only"},
      {{"write", "--store", "FD", "--device", dev, "--fast", "--pin2", "0000"}, 0, "Wrote 1 entry: 1 new"},
      {{"export", "--store", "FD", "--vcard", vcf}, 0, "voryx export: 3 entries written to " + vcf + " (vCard 4.0)"},
  });
  EXPECT_EQ(modem.sim().entry(3, "FD")->name, "Ufficio");
  EXPECT_EQ(modem.sim().usedLocations("EN"), 2);
  EXPECT_EQ(runVoryx(home, {"list", "--store", "FD"}).out,
            "1\tCasa\t+390212345678\t0\n2\tMamma\t+393351122334\t0\n3\tUfficio\t+390298765432\t0\n");
}

// The SIM's PIN and PUK from the shell, on two PIN-locked virtual SIMs (the second one
// blocked); stdin is no terminal, so nothing is asked there.
TEST(CommandLineTest, PinAndUnlock) {
  sim::SimCard card = sim::SimCard::demo();
  card.pinLock() = *sim::PinLock::make("2468");
  sim::SimCard blocked = card;
  for (int i = 0; i < 3; ++i) blocked.pinLock().enterPin("0000");
  sim::VirtualModem locked(card), puk(blocked);
  ASSERT_TRUE(locked.start() && puk.start());
  const std::string a = locked.devicePath(), b = puk.devicePath();
  test::TempDir home;
  expectSays(home, {
      {{"read", "--fast", "--device", a}, 4, "voryx read: the SIM asks for its PIN: give --pin"},
      {{"read", "--fast", "--device", a, "--pin", "1357"}, 4, "Read from SIM: The SIM refused the PIN."},
      {{"read", "--fast", "--device", a, "--pin", "2468", "--quiet"}, 0, ""},
      {{"unlock", "--device", a}, 0, "Unblock the SIM: The SIM is not blocked"},
      {{"write", "--fast", "--device", b, "--pin", "2468"}, 4, "Write to SIM: The SIM is blocked"},
      {{"unlock", "--device", b}, 4, "voryx unlock: the SIM asks for its PUK: give --puk and --new-pin"},
      {{"unlock", "--device", b, "--puk", "87654321", "--new-pin", "1111"}, 4, "Unblock the SIM: The SIM refused the PUK."},
      {{"unlock", "--device", b, "--puk", "12345678", "--new-pin", "11"}, 4, "Unblock the SIM: A PIN has 4 to 8 digits"},
      {{"unlock", "--device", b, "--puk", "12345678", "--new-pin", "1111"}, 0, "Unblock the SIM: The SIM is unblocked"},
      {{"modem-sim", "--pin", "12"}, 2, "--pin: a PIN is 4 to 8 digits"},
  });
}

// What the CSV file and the SIM cannot carry is said: a number with a wait at entry, the
// lines of the file that could not be read or taken at the restore (in full, on stderr); a
// message longer than one SMS is not stored.
TEST(CommandLineTest, SaysWhatTheFileCannotCarry) {
  test::TempDir home;
  const std::string in = (home.path / "in.csv").string();
  test::writeFile(in, "\xEF\xBB\xBFName;Number;Type\nSemi;colon;+3902\n\nAnna;1;2\nNo number here\n");
  expectSays(home, {
      {{"add", "A;b", "1;2"}, 1, "voryx add: ';' cannot be stored in a SIM number: a SIM holds a pause (p), not a wait."},
      {{"add", "A;b", "1p2"}, 0, "1\tA;b\t1,2\t1"},
      {{"export"}, 0, "voryx export: 1 entries written to " + (home.path / "Documents" / "Voryx.csv").string()},
  });
  const Ran restored = runVoryx(home, {"restore", "--discard-changes", in});
  EXPECT_EQ(restored.status, 0);
  EXPECT_EQ(restored.err, "voryx restore: 1 entries restored from " + in +
                              " (marked changed; \"voryx write\" puts them on the SIM)\nvoryx restore: 2 lines could "
                              "not be read: 1, 5\nvoryx restore: 1 line could not be taken: 4 (';' cannot be stored "
                              "in a SIM number: a SIM holds a pause (p), not a wait.)\n");
  expectSays(home, {
      {{"list"}, 0, "1\tSemi;colon\t+3902\t3"},
      {{"add", "--sms", std::string(80, 'x') + "{}", "1"}, 0, "1\t"},
      {{"add", "--sms", std::string(69, 'x') + "Жx", "1"}, 1, "voryx add: The text is longer than one message"},
  });
}

}  // namespace
}  // namespace voryx
