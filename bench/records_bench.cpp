// Record access to a 250-record EF_ADN: through AT+CRSM on the in-process virtual modem
// with 20 ms before each reply (ratio to 250 x 20 ms), and through the virtual card in
// pcscd's virtual reader, 5 ms a command (ratio to 250 READ RECORD, then 250 UPDATE RECORD exchanges made
// by pyscard on the same card). The reader half needs pcscd running with vsmartcard-vpcd.
// Measures; never fails.
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "base/Paths.h"
#include "sim/VirtualCard.h"
#include "sim/VirtualModem.h"
#include "simfiles/PcscLink.h"
#include "store/Database.h"
#include "BenchHost.h"
#include "transfer/TransferRunner.h"

namespace {

using namespace voryx;
using namespace voryx::transfer;
using Clock = std::chrono::steady_clock;

// Seconds a job takes on `device` (a whole read or write of the phonebook).
double timed(const std::filesystem::path& database, const modem::DeviceChoice& device, bool write) {
  BenchHost host;
  JobContext context{database, device, 0};
  context.records = true;
  context.discardChanges = true;
  context.toOtherSim = true;
  TransferRunner runner(host);
  const auto start = Clock::now();
  if (write ? !runner.save(0, context) : !runner.loadSIM(0, context)) return 0;
  const JobReport report = host.waitEnd();
  runner.wait();
  if (report.outcome != JobOutcome::Done) std::fprintf(stderr, "outcome %d\n", static_cast<int>(report.outcome));
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds pyscard takes for 250 READ RECORD (or UPDATE RECORD) exchanges of EF_ADN.
double pyscard(bool update) {
  const std::string script = std::string(R"(
import time
from smartcard.System import readers
r = [x for x in readers() if str(x) == "Virtual PCD 00 00"][0]
c = r.createConnection(); c.connect()
for fid in (0x3F00, 0x7F10, 0x6F3A):
    d, s1, s2 = c.transmit([0, 0xA4, 0, 4, 2, fid >> 8, fid & 0xFF])
    if s1 == 0x61: c.transmit([0, 0xC0, 0, 0, s2])
start = time.monotonic()
for n in range(1, 251):
    )") + (update ? "c.transmit([0, 0xDC, n, 4, 28] + [0x41] * 14 + [2, 0x81, 0x21, 0x43] + [0xFF] * 10)"
                           : "c.transmit([0, 0xB2, n, 4, 28])") +
                             R"(
print(time.monotonic() - start)
)";
  const std::string command = "/usr/bin/python3 -c '" + script + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return 0;
  double seconds = 0;
  if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = 0;
  pclose(pipe);
  return seconds;
}

sim::SimCard fullSim() {
  sim::SimCard card(250, 14, 10);
  for (int i = 1; i <= 250; ++i) {
    card.writeEntryText(i, (i % 3 == 0 ? "Иван " : "Contact ") + std::to_string(i), "+39333" + std::to_string(1000000 + i));
  }
  return card;
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "voryx-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 0;
  const std::filesystem::path dir = pattern;
  const std::filesystem::path database = dir / Paths::kDatabaseName;
  std::filesystem::copy_file(Paths::fromEnvironment().shippedDatabase(), database);

  sim::ModemOptions slow;
  slow.replyDelay = std::chrono::milliseconds{20};
  sim::VirtualModem modem(fullSim(), slow);
  std::string error;
  if (modem.start(&error)) {
    modem::DeviceChoice device;
    device.device = modem.devicePath();
    const double read = timed(database, device, false);
    std::printf("AT+CRSM read, 250 records, 20 ms a reply   %6.2f s  ratio %.2f to 250 x 20 ms (%d commands)\n", read,
                read / 5.0, modem.commandCount("AT+CRSM"));
    modem.stop();
  }

  // A card that takes 5 ms over each command, as a real SIM takes some: the ratios then
  // weigh the exchanges, not the job's fixed costs.
  sim::CardOptions cardOptions;
  cardOptions.delay = std::chrono::milliseconds{5};
  sim::VirtualCard card(fullSim(), cardOptions, true);
  if (!simfiles::listReaders().error.empty() || !card.insert(sim::VirtualCard::kFirstPort, &error)) {
    std::printf("card reader: skipped (pcscd with vsmartcard-vpcd is not running)\n");
  } else {
    modem::DeviceChoice device;
    device.reader = sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort);
    std::this_thread::sleep_for(std::chrono::seconds{1});  // pcscd sees the card
    const double read = timed(database, device, false);
    const double pyRead = pyscard(false);
    std::printf("reader read, 250 records                  %6.2f s  ratio %.2f to pyscard's 250 READ RECORD (%.2f s)\n",
                read, read / pyRead, pyRead);
    if (auto db = Database::open(database)) db->exec("UPDATE sim SET desc = desc || 'x', operazione = 3");
    const int readsBefore = card.commandCount(0xB2), updatesBefore = card.commandCount(0xDC);
    const double write = timed(database, device, true);
    std::printf("  the write sent %d READ RECORD and %d UPDATE RECORD\n", card.commandCount(0xB2) - readsBefore,
                card.commandCount(0xDC) - updatesBefore);
    const double pyWrite = pyscard(true);
    std::printf("reader write, 250 changed                 %6.2f s  ratio %.2f to pyscard's 250 UPDATE RECORD (%.2f s)\n",
                write, write / pyWrite, pyWrite);
    // The same write of 100 records: what the 150 more cost is the write's own per-record cost.
    if (auto db = Database::open(database)) db->exec("UPDATE sim SET desc = desc || 'y', operazione = 3 WHERE entry <= 100");
    const double write100 = timed(database, device, true);
    std::printf("reader write, 100 changed                 %6.2f s  per record beyond: %.2f ms, pyscard's: %.2f ms\n",
                write100, (write - write100) / 150 * 1000, pyWrite / 250 * 1000);
    card.remove();
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
