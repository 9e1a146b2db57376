// Transfer jobs against the in-process virtual modem with its default timing: a
// 250-entry phonebook read, a 250-entry write (every entry marked), a 30-message SMS
// read. Prints the wall time, the commands sent and the ratio of the wall time to
// commands x 0.5 s (the quiet window every reply ends with). Measures; never fails.
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "base/Paths.h"
#include "sim/VirtualModem.h"
#include "store/Database.h"
#include "BenchHost.h"
#include "transfer/TransferRunner.h"

namespace {

using namespace voryx;
using namespace voryx::transfer;

struct Bench {
  std::filesystem::path dir;
  std::filesystem::path database;
  BenchHost host;
  int maxSIM = 0;
};

void measure(Bench& b, sim::VirtualModem& modem, const char* name, bool write, int tipoDisplay) {
  modem.clearLog();
  modem::DeviceChoice device;
  device.device = modem.devicePath();
  JobContext context{b.database, device, 0};
  context.maxSIM = b.maxSIM;
  context.discardChanges = true;
  TransferRunner runner(b.host);
  const auto start = std::chrono::steady_clock::now();
  if (write ? !runner.save(tipoDisplay, context) : !runner.loadSIM(tipoDisplay, context)) return;
  const JobReport report = b.host.waitEnd();
  runner.wait();
  if (report.maxSIM) b.maxSIM = report.maxSIM->value;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int commands = 0;
  for (const std::string& line : modem.commandLog()) {
    if (line.rfind("> ", 0) != 0) ++commands;  // text after a prompt is not a command
  }
  std::printf("%-28s %8.2f s  %4d commands  ratio %.2f  (outcome %d)\n", name, seconds, commands,
              seconds / (commands * 0.5), static_cast<int>(report.outcome));
}

}  // namespace

int main() {
  Bench b;
  std::string pattern = (std::filesystem::temp_directory_path() / "voryx-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 0;
  b.dir = pattern;
  b.database = b.dir / Paths::kDatabaseName;
  std::filesystem::copy_file(Paths::fromEnvironment().shippedDatabase(), b.database);

  sim::SimCard card(250, 14, 30);
  for (int i = 1; i <= 250; ++i) {
    card.writeEntryText(i, (i % 3 == 0 ? "Иван " : "Contact ") + std::to_string(i),
                        "+39333" + std::to_string(1000000 + i));
  }
  for (int i = 1; i <= 30; ++i) {
    card.addMessage({sim::SmsStatus::RecRead, "+39333" + std::to_string(1000000 + i),
                     "24/05/01,10:15:00+08", "Message number " + std::to_string(i), false});
  }
  sim::VirtualModem modem(card);
  std::string error;
  if (!modem.start(&error)) {
    std::fprintf(stderr, "the virtual modem did not start: %s\n", error.c_str());
    return 0;
  }

  measure(b, modem, "phonebook read, 250 entries", false, 0);
  if (auto db = Database::open(b.database)) db->exec("UPDATE sim SET operazione=3");
  measure(b, modem, "phonebook write, 250 marked", true, 0);
  measure(b, modem, "SMS read, 30 messages", false, 1);

  modem.stop();
  std::error_code ec;
  std::filesystem::remove_all(b.dir, ec);
  return 0;
}
