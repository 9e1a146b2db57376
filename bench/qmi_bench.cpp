// Record access to a 250-record EF_ADN through qmi-proxy: a whole phonebook read by Voryx on
// the virtual modem speaking QMI, 5 ms a request, against 250 UIM Read Record exchanges made
// by `qmicli -p` in a loop on the same modem, less qmicli's own start-up (a run that only
// allocates and releases its UIM client, --uim-noop) for each of them.
// Measures; never fails.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Paths.h"
#include "sim/VirtualQmi.h"
#include "BenchHost.h"
#include "transfer/TransferRunner.h"

namespace {

using namespace voryx;
using namespace voryx::transfer;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Seconds a whole read of the phonebook takes on `device`.
double timedRead(const std::filesystem::path& database, const modem::DeviceChoice& device) {
  BenchHost host;
  JobContext context{database, device, 0};
  context.discardChanges = true;
  TransferRunner runner(host);
  const auto start = Clock::now();
  if (!runner.loadSIM(0, context)) return 0;
  const JobReport report = host.waitEnd();
  runner.wait();
  if (report.outcome != JobOutcome::Done) std::fprintf(stderr, "outcome %d\n", static_cast<int>(report.outcome));
  return since(start);
}

// Seconds one qmicli run with these arguments takes on `device` (through the proxy).
double qmicli(const std::string& device, const std::string& what) {
  const std::string command = "qmicli -p -d " + device + " --device-open-qmi " + what + " >/dev/null 2>&1";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return since(start);
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

  sim::VirtualQmi modem(fullSim());
  modem.setDelay(std::chrono::milliseconds{5});
  std::string error;
  if (!modem.start(&error)) {
    std::printf("the virtual QMI modem did not start: %s\n", error.c_str());
    return 0;
  }
  const std::string device = modem.devicePath();
  modem::DeviceChoice choice;
  choice.qmi = device;
  timedRead(database, choice);  // the proxy started, as on a machine where ModemManager runs
  const int before = modem.requestCount(sim::kQmiUim, 0x0021);
  const double read = timedRead(database, choice);
  const int requests = modem.requestCount(sim::kQmiUim, 0x0021) - before;

  // Each Read Record run beside a run that only allocates and releases its client: the
  // start-up (some 20 ms, varying by a few) is taken off run by run, and the median of the
  // differences counts, so that the start-up's own jitter does not swamp 5 ms exchanges.
  std::vector<double> exchange;
  double loop = 0, startUp = 0;
  for (int n = 1; n <= 250; ++n) {
    const double bare = qmicli(device, "--uim-noop");
    const double one = qmicli(device, "--uim-read-record=record-number=" + std::to_string(n) +
                                          ",record-length=28,file=0x3F00-0x7F10-0x6F3A");
    loop += one;
    startUp += bare / 250;
    exchange.push_back(one - bare);
  }
  std::nth_element(exchange.begin(), exchange.begin() + 125, exchange.end());
  const double exchanges = 250 * exchange[125];
  std::printf("QMI read, 250 records, 5 ms a request     %6.2f s  (%d Read Record)\n", read, requests);
  std::printf("qmicli, 250 Read Record runs              %6.2f s, less %.1f ms of start-up each: %.2f s\n", loop,
              startUp * 1000, exchanges);
  std::printf("ratio %.2f (target: within 1.3)\n", exchanges > 0 ? read / exchanges : 0.0);
  modem.stop();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
