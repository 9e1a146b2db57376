// voryx info --reader (and --qmi): what a card in a reader (or behind a QMI port) says about
// itself, in the lines of the modem's info: the reader and its protocol (or the QMI port),
// the card's kind, the PIN, the ICCID and the files' capacities (headers only: nothing that
// needs the PIN).
#include <iostream>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "base/Text.h"
#include "base/DebugLog.h"
#include "simfiles/ApduFiles.h"
#include "simfiles/PcscLink.h"
#include "simfiles/QmiFiles.h"
#include "transfer/SimRecords.h"

namespace voryx {
namespace {

void line(const char* label, const std::string& value) { std::cout << label << ": " << value << "\n"; }

// The header of the first of `paths` the card has.
std::optional<simfiles::FileInfo> firstFile(simfiles::SimFiles& files,
                                            std::initializer_list<simfiles::FilePath> paths) {
  for (const simfiles::FilePath& path : paths) {
    simfiles::FileInfo info;
    if (files.select(path, info).ok() && info.recordLength > 0) return info;
  }
  return std::nullopt;
}

SimIdentity filesInfo(simfiles::SimFiles& files);

}  // namespace

std::optional<SimIdentity> qmiInfo(const std::filesystem::path& port, bool& refused) {
  simfiles::QmiOpenFailure failure;
  auto files = simfiles::QmiFiles::open(port.string(), failure);
  refused = failure.refused;
  if (!files) {
    if (!refused) std::cerr << "voryx info: " << port.string() << ": " << failure.why << "\n";
    return std::nullopt;
  }
  DebugLog::append("info on |%s|\n", files->describe().c_str());
  line("Port", files->describe());
  line("ModemManager", "keeps the modem; the SIM's files are read beside it");
  return filesInfo(*files);
}

std::optional<SimIdentity> cardInfo(const std::string& reader) {
  simfiles::ConnectFailure failure;
  auto link = simfiles::PcscLink::connect(reader, failure);
  if (!link) {
    std::cerr << "voryx info: " << failure.why << "\n";
    return std::nullopt;
  }
  DebugLog::append("info on reader |%s|\n", link->reader().c_str());
  simfiles::ApduFiles files(*link, link->reader());
  line("Reader", link->reader());
  line("Protocol", link->t0() ? "T=0" : "T=1");
  for (const simfiles::ReaderInfo& r : simfiles::listReaders().readers) {
    if (r.name == link->reader() && !r.atr.empty()) line("ATR", hexUpper(r.atr));
  }
  return filesInfo(files);
}

namespace {

SimIdentity filesInfo(simfiles::SimFiles& files) {
  const simfiles::CardResult pin = files.pinStatus();
  line("Card", files.usim() ? "UICC with a USIM" : "SIM");
  line("SIM status", pin.ok() ? "READY"
                     : pin.outcome == simfiles::CardOutcome::WrongPin
                         ? "SIM PIN" + (pin.triesLeft ? " (" + std::to_string(*pin.triesLeft) + " tries left)" : std::string())
                     : pin.outcome == simfiles::CardOutcome::Blocked ? "SIM PUK"
                                                                      : simfiles::cardResultText(pin));
  SimIdentity sim;
  simfiles::FileInfo iccidFile;
  std::string bytes;
  if (files.select({simfiles::kMf, simfiles::kEfIccid}, iccidFile).ok() && files.readBinary(0, 10, bytes).ok()) {
    sim.iccid = transfer::decodeIccid(bytes);
  }
  line("ICCID", sim.iccid.empty() ? "-" : sim.iccid);
  using simfiles::kMf;
  const auto adn = firstFile(files, {{kMf, simfiles::kDfTelecom, simfiles::kEfAdn}});
  line("Phonebook capacity", adn ? std::to_string(adn->records) : "-");
  line("Name length", adn && adn->recordLength > transfer::kAdnNumberBytes
                          ? std::to_string(adn->recordLength - transfer::kAdnNumberBytes)
                          : "-");
  const auto sms = firstFile(files, {{kMf, simfiles::kAdfUsim, simfiles::kEfSms}, {kMf, simfiles::kDfTelecom, simfiles::kEfSms}});
  line("SMS capacity", sms ? std::to_string(sms->records) : "-");
  return sim;
}

}  // namespace

}  // namespace voryx
