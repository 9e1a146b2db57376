// The SIM's files through the real qmi-proxy (started by libqmi as it starts it for
// ModemManager) on the virtual modem speaking QMI on a real pseudo-terminal: a read and a
// write beside another client of the same modem, what they leave read back by qmicli, and
// the faults of a modem behind the proxy, every case ending with the promise checker.
#include <stdio.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>

#include "app/RunVoryx.h"
#include "simfiles/QmiFiles.h"
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

constexpr std::uint16_t kUimReadRecord = 0x0021, kUimWriteRecord = 0x0023, kUimVerifyPin = 0x0026;

// What qmicli reads of record `n` of EF_ADN under DF_TELECOM, as its hex "Read result".
std::string qmicliRecord(const std::string& device, int n) {
  const std::string command = "qmicli -p -d " + device + " --device-open-qmi --uim-read-record=record-number=" +
                              std::to_string(n) + ",record-length=28,file=0x3F00-0x7F10-0x6F3A 2>/dev/null";
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {};
  std::string out, bytes;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  const std::size_t at = out.find("Read result:");
  if (at == std::string::npos) return "(no read result) " + out;
  for (std::size_t i = at + 12; i + 1 < out.size(); ++i) {
    if (std::isxdigit(static_cast<unsigned char>(out[i])) && std::isxdigit(static_cast<unsigned char>(out[i + 1]))) {
      bytes += static_cast<char>(std::stoi(out.substr(i, 2), nullptr, 16));
      ++i;
    }
  }
  return bytes;
}

class QmiProxyTest : public JobFixture {
 protected:
  // A read, then (with `mark`) changes marked in the local list.
  void readAndMark(bool mark = true) {
    discardChanges = true;  // what an earlier case left marked goes
    ASSERT_EQ(read(0), JobOutcome::Done) << (host_.alerts.empty() ? "" : host_.alerts.front());
    ASSERT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
    discardChanges = false;
    if (!mark) return;
    exec("UPDATE sim SET desc = 'Zoë QMI', number = '+39 02 555', operazione = 3 WHERE entry = 1");
    exec("UPDATE sim SET operazione = 2 WHERE entry = 2");
    for (int n = 40; n < 46; ++n) insert("sim", {n, "Nuovo " + std::to_string(n), "0612" + std::to_string(n), kMarkNew});
  }
};

// A read and a write through the proxy, on a USIM and on a 2G SIM, while another client
// holds its own UIM client id and reads records all along: it is never disturbed, and what
// the write left is what qmicli reads back.
TEST_F(QmiProxyTest, ReadAndWriteBesideAnotherClient) {
  for (const bool usim : {true, false}) {
    SCOPED_TRACE(usim ? "USIM" : "SIM");
    useQmi(sim::SimCard::demo(), {}, std::chrono::seconds{10}, usim);
    const std::string device = qmi_->devicePath();
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, failures{0};
    std::thread other([&] {
      simfiles::QmiOpenFailure failure;
      auto files = simfiles::QmiFiles::open(device, failure);
      if (!files) {
        ++failures;
        return;
      }
      simfiles::FileInfo info;
      if (!files->select({simfiles::kMf, simfiles::kDfTelecom, simfiles::kEfAdn}, info).ok()) ++failures;
      for (int n = 1; !done; n = n % 200 + 1) {
        std::string bytes;
        (files->readRecord(n, info.recordLength, bytes).ok() ? reads : failures)++;
      }
    });
    readAndMark();
    ASSERT_EQ(write(0), JobOutcome::Done) << (host_.alerts.empty() ? "" : host_.alerts.front());
    EXPECT_EQ(host_.report.confirmed, 8);
    done = true;
    other.join();
    EXPECT_EQ(failures, 0);
    EXPECT_GT(reads, 0);
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
    EXPECT_EQ(qmi_->requestCount(sim::kQmiUim, kUimWriteRecord), 8);
    for (int n : {1, 2, 40, 45}) EXPECT_EQ(qmicliRecord(device, n), simNow().record(n)) << n;
    EXPECT_EQ(simNow().entry(1)->name, "Zoë QMI");
  }
}

// A modem that fails at its k-th record request (reads and writes counted together), a
// SIM that waits for its PIN: the job ends (or a write leaves the entry refused marked)
// with the user told, and the list is the SIM.
TEST_F(QmiProxyTest, FaultsBehindTheProxy) {
  struct Case {
    const char* what;
    const char* fault;  // as modem-sim --qmi --fault takes it
    bool write;
    const char* told;   // a part of the alert
    std::string pin = {};
  };
  const Case kCases[] = {
      {"read: the card's error at record 5", "error-at-record=5", false, "(6F00)"},
      {"read: silence at record 5", "silence-at-record=5", false, "onnection"},
      {"read: hang-up at record 5", "hangup-at-record=5", false, "onnection"},
      // A write reads EF_PBR and the ten EF_EXT1 records first: 14 falls amid the entries.
      {"write: the card's error at record 14", "error-at-record=14", true, "(6F00)"},
      {"write: silence at record 14", "silence-at-record=14", true, "onnection"},
      {"write: hang-up at record 14", "hangup-at-record=14", true, "onnection"},
      {"a SIM that waits for its PIN is not unlocked behind ModemManager", "", false, "ModemManager unlocks it", "1234"},
      {"no SIM in the modem", "no-sim", false, "There is no SIM in the modem."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    sim::QmiFaults faults;
    faults.noSim = std::string_view(c.fault) == "no-sim";
    ASSERT_TRUE(!*c.fault || faults.noSim || sim::parseQmiFault(c.fault, faults));
    useQmi(sim::SimCard::demo());
    readAndMark(c.write);
    sim::SimCard card = simNow();
    if (!c.pin.empty()) card.pinLock() = *sim::PinLock::make(c.pin);
    useQmi(card, faults, std::chrono::seconds{2});
    const JobOutcome outcome = c.write ? write(0) : read(0);
    EXPECT_TRUE(outcome != JobOutcome::Done || host_.report.unsent > 0);  // ended, or entries left marked
    std::string said = host_.report.refusal;
    for (const std::string& alert : host_.alerts) said += " | " + alert;
    EXPECT_NE(said.find(c.told), std::string::npos) << said;
    const int asked = qmi_->requestCount(sim::kQmiUim, kUimReadRecord) + qmi_->requestCount(sim::kQmiUim, kUimWriteRecord);
    if (*c.fault && !faults.noSim) {
      EXPECT_GE(asked, std::stoi(std::string(c.fault).substr(std::string(c.fault).find('=') + 1)));
    }
    EXPECT_EQ(qmi_->requestCount(sim::kQmiUim, kUimVerifyPin), 0);
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
  }
}

// qmi-proxy serves root only: a user it refuses is told so and what to do, and the modem's
// files are reached as without the proxy (the AT port, AT+CRSM); so too when the QMI port
// does not open. From the real binary.
TEST(QmiProxyUserTest, WhenTheProxyCannotServeTheModemIsReachedAsBefore) {
  constexpr int kNobody = 65534;
  sim::VirtualModem at;
  ASSERT_TRUE(at.start());
  sim::VirtualQmi qmi;
  ASSERT_TRUE(qmi.start());
  ASSERT_EQ(::chmod(at.devicePath().c_str(), 0666), 0);
  struct Case {
    const char* what;
    std::string port;
    int uid;
    std::string told;
  };
  const Case kCases[] = {
      {"a user the proxy refuses", qmi.devicePath(), kNobody,
       qmi.devicePath() + ": qmi-proxy does not serve this user (it serves root only). Run voryx as root"},
      {"a QMI port that is not there", "/dev/no-such-cdc-wdm", -1,
       "/dev/no-such-cdc-wdm: Couldn't query file info"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test::TempDir home;
    ASSERT_EQ(::chown(home.path.c_str(), kNobody, kNobody), 0);
    const int before = at.commandCount("AT+CRSM");
    const test::Ran ran = test::runVoryx(home, {"read", "--fast", "--qmi", c.port, "--device", at.devicePath()},
                                         {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (home / "no-bus").string()},
                                          {"VORYX_LOCK_DIR", home.path.string()}},
                                         c.uid);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.err.find(c.told), std::string::npos) << ran.err;
    EXPECT_NE((ran.err + ran.out).find("Read 36 entries"), std::string::npos) << ran.err << ran.out;
    EXPECT_GT(at.commandCount("AT+CRSM"), before);
  }
  EXPECT_EQ(qmi.requestCount(sim::kQmiUim, kUimReadRecord), 0);
}

}  // namespace
}  // namespace voryx::transfer
