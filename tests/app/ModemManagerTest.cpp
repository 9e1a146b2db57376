// Borrowing the modem from ModemManager, from the real binary: a private bus
// (dbus-daemon) with a stand-in ModemManager (mm_standin.py) that records every
// InhibitDevice call and every inhibiting client that leaves the bus.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/RunVoryx.h"
#include "sim/VirtualModem.h"
#include "support/ListIsSim.h"
#include "sim/VirtualQmi.h"

namespace voryx {
namespace {

using namespace std::chrono_literals;
using test::Env;
using test::Ran;

constexpr const char* kUid = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4";

// `quiet`: its stderr goes to /dev/null (dbus-daemon's complaint that it may not raise
// its file limit).
pid_t spawn(const std::vector<std::string>& args, bool quiet = false) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (quiet) ::dup2(::open("/dev/null", O_WRONLY), 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

void end(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

template <typename F>
bool waitUntil(F done, std::chrono::milliseconds bound = 10s) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// A private bus, and on it (unless `mode` is "none") a ModemManager that manages one
// modem whose AT port is `port` ("pts/7").
class StandIn {
 public:
  // `extra`: more of its options (--sim FILE and its faults).
  StandIn(const test::TempDir& home, const std::string& port, const std::string& mode,
          const std::vector<std::string>& extra = {})
      : socket_(home / "bus"), log_(home / "mm.log") {
    address_ = "unix:path=" + socket_.string();
    bus_ = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + address_}, true);
    if (!waitUntil([&] { return std::filesystem::exists(socket_); })) return;
    if (mode == "none") {
      ready_ = true;
      return;
    }
    std::vector<std::string> args{"/usr/bin/python3", std::string(VORYX_SOURCE_DIR) + "/tests/app/mm_standin.py",
                                  "--bus", address_, "--log", log_.string(), "--port", port, "--uid", kUid,
                                  "--mode", mode, "--lock",
                                  (home / ("LCK.." + std::filesystem::path(port).filename().string())).string()};
    args.insert(args.end(), extra.begin(), extra.end());
    service_ = spawn(args);
    ready_ = waitUntil([&] { return test::readFile(log_).find("ready\n") != std::string::npos; });
  }
  ~StandIn() {
    end(service_);
    end(bus_);
  }
  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }
  std::string log() const { return test::readFile(log_); }
  // What it recorded, the start left out; each client's name shown as "C" when it is the
  // first client's, else as it is.
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    std::string first;
    const std::string text = test::readFile(log_);
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
      std::string line = text.substr(at, nl - at);
      if (line == "ready" || line.starts_with("mm ")) continue;
      const std::size_t sender = line.rfind(' ');
      const std::string name = line.substr(sender + 1);
      if (first.empty()) first = name;
      if (name == first) line = line.substr(0, sender) + " C";
      out.push_back(line);
    }
    return out;
  }

 private:
  std::filesystem::path socket_, log_;
  std::string address_;
  pid_t bus_ = -1, service_ = -1;
  bool ready_ = false;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ModemManagerTest, BorrowsTheModemForTheRunAndGivesItBack) {
  sim::VirtualModem modem;
  ASSERT_TRUE(modem.start());
  const std::string pty = modem.devicePath();
  const std::string port = pty.substr(5);  // "pts/7", as the kernel names it
  sim::ModemOptions failing;
  failing.faults.listingError = true;
  sim::VirtualModem refusing{sim::SimCard::demo(), failing};
  ASSERT_TRUE(refusing.start());
  const std::string inhibit = std::string("inhibit ") + kUid + " C";
  const std::string uninhibit = std::string("uninhibit ") + kUid + " C";
  const std::string fallback =
      "stop ModemManager while Voryx works (sudo systemctl stop ModemManager) or keep it off this modem";
  struct Case {
    const char* what;
    std::string mode, managed;  // the stand-in's mode, and the port its modem has
    std::vector<std::string> args;
    Env env;
    int status;
    std::vector<std::string> said;  // parts of what it says (stderr, then stdout)
    std::vector<std::string> calls;
    bool modemTalkedTo;
  };
  const Env scan{{"VORYX_PORTS", pty}};
  const Case kCases[] = {
      {"read of the port given", "ok", port, {"read", "--fast", "--device", pty}, {}, 0,
       {"ModemManager is holding this modem; it gets it back when the read ends\n", "Read 36 entries"},
       {inhibit, uninhibit}, true},
      {"read with no port given", "ok", port, {"read", "--fast"}, scan, 0,
       {"voryx read: using " + pty + " (Quectel EC25, managed by ModemManager)\n",
        "voryx read: borrowing the modem from ModemManager", "Read 36 entries"},
       {inhibit, uninhibit}, true},
      {"info", "ok", port, {"info", "--device", pty}, {}, 0,
       {"ModemManager: borrowed from it (Quectel EC25); it gets the modem back when this command ends\n",
        "Messages: borrowing the modem from ModemManager"},
       {inhibit, uninhibit}, true},
      {"devices: listed, not probed", "ok", port, {"devices"}, scan, 0,
       {std::string("ModemManager manages Quectel EC25 (") + kUid + "): " + port + " (at, primary), cdc-wdm0 (qmi)\n",
        pty + ": managed by ModemManager (Quectel EC25)\n"},
       {}, false},
      {"the bus policy refuses", "denied", port, {"read", "--device", pty}, {}, 3,
       {"and lends it only to root here (Rejected send message", "run Voryx as root (sudo)", fallback},
       {}, false},
      {"polkit refuses", "polkit", port, {"read", "--device", pty}, {}, 3,
       {"polkit did not let it lend it to you (PolicyKit authorization failed",
        "allow your user the polkit action org.freedesktop.ModemManager1.Control", fallback},
       {}, false},
      {"a ModemManager before 1.10", "old", port, {"read", "--device", pty}, {}, 3,
       {"is too old to lend it (version 1.10 and later can): " + fallback}, {}, false},
      // Not known for ModemManager's: its port is busy, as any port another program holds.
      {"its modem list of the wrong types", "garbled", port, {"read", "--fast", "--device", pty}, {}, 3,
       {": in use by another program (PID "}, {}, false},
      {"another modem is managed", "ok", "ttyUSB9", {"read", "--fast", "--device", pty}, {}, 0,
       {"Read 36 entries"}, {}, true},
      {"no ModemManager on the bus", "none", port, {"read", "--fast", "--device", pty}, {}, 0, {"Read 36 entries"}, {}, true},
      {"a run that fails gives the modem back too", "ok", refusing.devicePath().substr(5),
       {"read", "--fast", "--device", refusing.devicePath()}, {}, 1, {"The SIM could not be listed"}, {inhibit, uninhibit},
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test::TempDir home;
    StandIn mm(home, c.managed, c.mode);
    ASSERT_TRUE(mm.ready());
    modem.clearLog();
    Env env = c.env;
    env.emplace_back("DBUS_SYSTEM_BUS_ADDRESS", mm.address());
    env.emplace_back("VORYX_LOCK_DIR", home.path.string());
    const Ran ran = test::runVoryx(home, c.args, env);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    for (const std::string& part : c.said) EXPECT_TRUE(has(ran.err + ran.out, part)) << ran.err << ran.out;
    EXPECT_EQ(mm.calls(), c.calls);
    EXPECT_EQ(!modem.commandLog().empty(), c.modemTalkedTo);
    if (c.calls.empty()) {  // it says it holds the modem only when it borrowed it
      EXPECT_FALSE(has(ran.err, "ModemManager is holding this modem"));
    }
  }
  // No system bus at all: as before.
  test::TempDir home;
  const Ran alone = test::runVoryx(home, {"read", "--fast", "--device", pty},
                                   {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (home / "none").string()}});
  EXPECT_EQ(alone.status, 0) << alone.err;
}

// The SIM's messages through ModemManager's Messaging interface: nothing is borrowed and the
// modem's port is never opened. The stand-in keeps its messages in a virtual SIM's file; each
// case reads, edits, writes, and ends with the promise checker on what the file holds.
TEST(ModemManagerTest, MessagesGoThroughItsMessaging) {
  sim::VirtualModem modem;  // the managed modem's port; only --access modem opens it
  ASSERT_TRUE(modem.start());
  const std::string pty = modem.devicePath();
  struct Case {
    const char* what;
    std::vector<std::string> standIn;               // the stand-in's faults
    const char* swapTo;  // after the edits, the SIM with this ICCID is in the modem; null: none
    std::vector<std::vector<std::string>> edits;    // after the read, before the write
    bool killAtStore;  // the write killed (-9) between Store and its answer, then run again
    std::vector<std::string> writeWith;  // more options of the write
    int status;        // the (last) write's
    std::vector<std::string> said;
    std::vector<std::pair<std::string, int>> held;  // texts and how often the SIM holds them after
    int marked;                                     // rows still marked after
  };
  const std::vector<std::string> addNew{"add", "--sms", "Nuovo messaggio", "+39021234"};
  const Case kCases[] = {
      {"read only", {}, nullptr, {}, false, {}, 0, {"through ModemManager's messaging (Quectel EC25"},
       {{"Ricordati il pane", 1}}, 0},
      {"a new message is stored as a draft", {}, nullptr, {addNew}, false, {}, 0, {"1 new"}, {{"Nuovo messaggio", 1}}, 0},
      {"a message received in parts is one row, deleted whole", {}, nullptr, {{"delete", "--sms", "5"}}, false, {}, 0,
       {"1 deleted"}, {{"a Marco abbiamo raccolto 15 euro a testa. A sabato!", 0}}, 0},
      {"a changed draft: the new one stored, the old one deleted", {}, nullptr,
       {{"edit", "--sms", "3", "Ricordati il latte", "+393331234567"}}, false, {}, 0, {"1 changed"},
       {{"Ricordati il latte", 1}, {"Ricordati il pane", 0}}, 0},
      {"a deleted one", {}, nullptr, {{"delete", "--sms", "4"}}, false, {}, 0, {"1 deleted"}, {{"Costa 5€ [sconto]", 0}}, 0},
      {"a changed received message cannot be stored as it was: it keeps its mark", {}, nullptr,
       {{"edit", "--sms", "0", "Ciao! Alle 9", "+393331234567"}}, false, {}, 1,
       {"ModemManager stores a new message only as a draft, and this one is a received message"},
       {{"Ciao! Ci vediamo alle 8?", 1}, {"Ciao! Alle 9", 0}}, 1},
      {"killed between Store and its answer, then written again: stored once", {"--store-delay", "30"}, nullptr, {addNew},
       true, {}, 0, {}, {{"Nuovo messaggio", 1}}, 0},
      {"another SIM in the modem: nothing written, marks kept", {}, "89390100000000000008", {addNew},
       false, {}, 5, {"This is not the SIM the list was read from"}, {{"Nuovo messaggio", 0}}, 1},
      {"read through ModemManager, written borrowing the modem: refused before anything opens", {}, nullptr,
       {{"delete", "--sms", "4"}}, false, {"--access", "modem"}, 1, {"numbers the messages its own way"},
       {{"Costa 5€ [sconto]", 1}}, 1},
      {"ModemManager gone mid-write: what it took is cleared, the rest stays marked", {"--exit-after", "2"}, nullptr,
       {addNew, {"add", "--sms", "Secondo", "+39021234"}}, false, {}, 3, {"ModemManager stopped answering"},
       {{"Nuovo messaggio", 1}, {"Secondo", 0}}, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test::TempDir home;
    const std::string file = (home / "sim").string();
    std::string error;
    ASSERT_TRUE(sim::SimCard::demo().save(file, error)) << error;
    std::vector<std::string> flags{"--sim", file, "--iccid-file", (home / "iccid").string()};
    flags.insert(flags.end(), c.standIn.begin(), c.standIn.end());
    StandIn mm(home, pty.substr(5), "ok", flags);
    ASSERT_TRUE(mm.ready());
    modem.clearLog();
    const Env env{{"DBUS_SYSTEM_BUS_ADDRESS", mm.address()}, {"VORYX_LOCK_DIR", home.path.string()}};
    const Ran read = test::runVoryx(home, {"read", "--sms", "--device", pty}, env);
    ASSERT_EQ(read.status, 0) << read.err;
    for (const auto& edit : c.edits) {
      const Ran ran = test::runVoryx(home, edit, env);
      ASSERT_EQ(ran.status, 0) << ran.err;
    }
    if (c.swapTo != nullptr) test::writeFile(home / "iccid", c.swapTo);
    std::vector<std::string> write{"write", "--sms", "--device", pty};
    write.insert(write.end(), c.writeWith.begin(), c.writeWith.end());
    if (c.killAtStore) {
      test::Started run(home, write, env);
      ASSERT_TRUE(waitUntil([&] { return has(mm.log(), "mm stored"); }));
      ::kill(run.pid(), SIGKILL);
      EXPECT_EQ(run.wait().status, -1);
      auto cut = sim::SimCard::load(file, error);
      ASSERT_TRUE(cut) << error;
      EXPECT_TRUE(test::listIsSimByContent(home / "data" / "Voryx.sqlitedb", *cut));
    }
    const Ran ran = test::runVoryx(home, write, env);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    for (const std::string& part : c.said) EXPECT_TRUE(has(read.err + ran.err + ran.out, part)) << ran.err << ran.out;
    auto after = sim::SimCard::load(file, error);
    ASSERT_TRUE(after) << error;
    for (const auto& [text, times] : c.held) {
      const auto n = std::count_if(after->messages().begin(), after->messages().end(),
                                   [&](const auto& m) { return m.second.text == text; });
      EXPECT_EQ(n, times) << text;
    }
    auto table = SimTable::open(home / "data" / "Voryx.sqlitedb", ListStore::Sms, kShellBusy);
    ASSERT_TRUE(table);
    auto marked = table->countMarked();
    ASSERT_TRUE(marked);
    EXPECT_EQ(*marked, c.marked);
    EXPECT_TRUE(test::listIsSimByContent(home / "data" / "Voryx.sqlitedb", *after));
    EXPECT_FALSE(has(mm.log(), "inhibit")) << mm.log();
    EXPECT_TRUE(modem.commandLog().empty());
  }
  // --access modem: borrowed and read over the modem's port, as before. And a message whose
  // properties are of the wrong types: the read fails, saying so, and keeps the local list.
  test::TempDir home;
  const std::string file = (home / "sim").string();
  std::string error;
  ASSERT_TRUE(sim::SimCard::demo().save(file, error)) << error;
  StandIn mm(home, pty.substr(5), "ok", {"--sim", file, "--garbled-sms"});
  ASSERT_TRUE(mm.ready());
  const Ran garbled = test::runVoryx(home, {"read", "--sms", "--device", pty}, {{"DBUS_SYSTEM_BUS_ADDRESS", mm.address()}});
  EXPECT_EQ(garbled.status, 1);
  EXPECT_TRUE(has(garbled.err, "its message /org/freedesktop/ModemManager1/SMS/1 could not be read")) << garbled.err;
  modem.clearLog();
  const Ran borrowed = test::runVoryx(home, {"read", "--sms", "--fast", "--access", "modem", "--device", pty},
                                      {{"DBUS_SYSTEM_BUS_ADDRESS", mm.address()}, {"VORYX_LOCK_DIR", home.path.string()}});
  EXPECT_EQ(borrowed.status, 0) << borrowed.err;
  EXPECT_TRUE(has(borrowed.err, "borrowing the modem from ModemManager")) << borrowed.err;
  EXPECT_EQ(mm.calls(), (std::vector<std::string>{std::string("inhibit ") + kUid + " C", std::string("uninhibit ") + kUid + " C"}));
  EXPECT_FALSE(modem.commandLog().empty());
  // A backup: the phonebook borrows the modem (ModemManager has no phonebook to offer), the
  // messages go through its messaging.
  test::TempDir other;
  const std::string otherFile = (other / "sim").string();
  ASSERT_TRUE(sim::SimCard::demo().save(otherFile, error)) << error;
  StandIn both(other, pty.substr(5), "ok", {"--sim", otherFile});
  ASSERT_TRUE(both.ready());
  const Ran backup = test::runVoryx(other, {"backup", "--fast", "--device", pty, (other / "backup.json").string()},
                                    {{"DBUS_SYSTEM_BUS_ADDRESS", both.address()}, {"VORYX_LOCK_DIR", other.path.string()}});
  EXPECT_EQ(backup.status, 0) << backup.err;
  EXPECT_TRUE(has(backup.err, "voryx read: through ModemManager's messaging")) << backup.err;
  ASSERT_FALSE(both.calls().empty());
  EXPECT_EQ(both.calls().front(), std::string("inhibit ") + kUid + " C");  // each phonebook store's read
  EXPECT_TRUE(has(test::readFile(other / "backup.json"), "Ricordati il pane"));
  EXPECT_TRUE(has(both.log(), "mm List"));
}

#if VORYX_QMI
// A modem ModemManager manages that lists a QMI port is shared through qmi-proxy: the SIM's
// files are reached there, the AT port is never opened and the modem never borrowed.
TEST(ModemManagerTest, SharesAQmiModemThroughTheProxy) {
  sim::VirtualModem at;
  ASSERT_TRUE(at.start());
  sim::VirtualQmi qmi;
  ASSERT_TRUE(qmi.start());
  const std::string pty = at.devicePath();
  const std::string shared = "voryx read: using QMI " + qmi.devicePath() + " through qmi-proxy (Quectel EC25, shared with ModemManager)\n";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    Env env;
    std::vector<std::string> said;
    bool messaging = false;  // the modem offers ModemManager's messaging too
  };
  const Case kCases[] = {
      {"read of the AT port given", {"read", "--fast", "--device", pty}, {}, {shared, "Read 36 entries"}},
      {"read with no port given", {"read", "--fast"}, {{"VORYX_PORTS", pty}}, {shared, "Read 36 entries"}},
      {"info", {"info", "--device", pty}, {}, {"Port: QMI " + qmi.devicePath() + " through qmi-proxy\n", "Card: UICC with a USIM\n"}},
      {"messages go through the messaging, not the SIM's files", {"read", "--sms", "--device", pty}, {},
       {"through ModemManager's messaging (Quectel EC25", "Read 6 messages"}, true},
      {"info says both ways", {"info", "--device", pty}, {},
       {"Port: QMI ", "Messages: through ModemManager's messaging"}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test::TempDir home;
    std::vector<std::string> flags{"--qmi-port", qmi.devicePath().substr(5)};
    if (c.messaging) {
      std::string error;
      ASSERT_TRUE(sim::SimCard::demo().save((home / "sim").string(), error)) << error;
      flags.insert(flags.end(), {"--sim", (home / "sim").string()});
    }
    StandIn mm(home, pty.substr(5), "ok", flags);
    ASSERT_TRUE(mm.ready());
    Env env = c.env;
    env.emplace_back("DBUS_SYSTEM_BUS_ADDRESS", mm.address());
    env.emplace_back("VORYX_LOCK_DIR", home.path.string());
    const Ran ran = test::runVoryx(home, c.args, env);
    EXPECT_EQ(ran.status, 0) << ran.err;
    for (const std::string& part : c.said) EXPECT_TRUE(has(ran.err + ran.out, part)) << ran.err << ran.out;
    EXPECT_EQ(mm.calls(), std::vector<std::string>{});
    EXPECT_TRUE(at.commandLog().empty());
  }
}

#endif

// The inhibition ends with the bus connection: a run ended by Ctrl-C or killed gives the
// modem back all the same. Without --fast: the slow replies and their quiet windows keep
// the read going until the signal comes.
TEST(ModemManagerTest, ARunEndedBySignalGivesTheModemBack) {
  sim::ModemOptions slow;
  slow.replyDelay = 100ms;
  sim::VirtualModem modem{sim::SimCard::demo(), slow};
  ASSERT_TRUE(modem.start());
  const std::string pty = modem.devicePath();
  for (const int signal : {SIGINT, SIGKILL}) {
    SCOPED_TRACE(signal);
    test::TempDir home;
    StandIn mm(home, pty.substr(5), "ok");
    ASSERT_TRUE(mm.ready());
    test::Started run(home, {"read", "--device", pty}, {{"DBUS_SYSTEM_BUS_ADDRESS", mm.address()},
                                                         {"VORYX_LOCK_DIR", home.path.string()}});
    ASSERT_TRUE(waitUntil([&] { return !mm.calls().empty() && !modem.commandLog().empty(); }));
    ::kill(run.pid(), signal);
    const Ran ran = run.wait();
    EXPECT_EQ(ran.status, -1);
    EXPECT_TRUE(waitUntil([&] { return mm.calls().size() == 2; }, 5s));
    EXPECT_EQ(mm.calls(), (std::vector<std::string>{std::string("inhibit ") + kUid + " C", "vanished C"}));
  }
}

}  // namespace
}  // namespace voryx
