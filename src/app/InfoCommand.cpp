// voryx info: what the modem and its SIM say about themselves, one "Label: value" a line
// on standard output: "-" where the modem gives nothing, its refusal where it refuses.
// The whole exchange goes to the debug log too, whether logging is on or not: it is the
// first thing a support mail needs.
//
// Exit status: 0 the modem (or the card in a reader) answered; 2 usage; 3 no modem (none
// opened, or no answer) or no card.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Commands.h"
#include "app/ModemChoice.h"
#include "app/Startup.h"
#include "base/DebugLog.h"
#include "modem/ErrorText.h"
#include "modem/Ports.h"
#include "store/SimTable.h"
#include "codec/Charset.h"
#include "transfer/MessagingJobs.h"
#include "transfer/CharsetChoice.h"
#include "transfer/Listings.h"

namespace voryx {
namespace {

constexpr const char* kThroughMessaging =
    "through ModemManager's messaging (calls and mobile data go on; --access modem borrows the modem instead)";

// A reply may wait for a slow SIM; it ends at its final result code.
modem::ReplyCompletion infoCompletion() {
  modem::ReplyCompletion rule;
  rule.firstByte = std::chrono::seconds{5};
  rule.overall = std::chrono::seconds{10};
  rule.fast = true;
  return rule;
}

// Sends one command, logs it with its reply.
modem::Asked exchange(modem::Channel& ch, std::string_view command) {
  DebugLog::append("info send |%.*s|\n", static_cast<int>(command.size()), command.data());
  modem::Asked asked = modem::ask(ch, command);
  DebugLog::append("info read |%s|\n", asked.raw.c_str());
  return asked;
}

// "+CGMI:" for "AT+CGMI", "^ICCID:" for "AT^ICCID", "+CPIN:" for "AT+CPIN?".
std::string prefixOf(std::string_view command) {
  std::string_view name = command.substr(2);
  name = name.substr(0, name.find_first_of("?="));
  return std::string(name) + ":";
}

// The value of an answer: its text, "-" when it gave none, the refusal in words (and as
// the modem said it) when it refused.
std::string valueOf(const modem::Asked& asked, std::string_view command) {
  if (asked.kind == modem::ReplyKind::Error || asked.kind == modem::ReplyKind::NotFound) {
    const std::string words = modem::refusalSentence(modem::classify(asked.raw));
    return words.find(asked.final) == std::string::npos ? words + " (" + asked.final + ")" : words;
  }
  if (asked.kind != modem::ReplyKind::Ok) return "-";
  const std::string text = asked.text(prefixOf(command));
  return text.empty() ? "-" : text;
}

void line(const char* label, const std::string& value) {
  std::cout << label << ": " << value << "\n";
}

// The dialogue, on an open channel that answered the handshake. Answers the SIM's
// identity as far as the modem told it.
SimIdentity report(modem::Channel& ch) {
  SimIdentity sim;
  // Verbose result codes, no echo, and refusals by number: as the jobs talk.
  exchange(ch, "AT V1E0");
  exchange(ch, "AT+CMEE=1");
  struct Item { const char* label; const char* command; };
  constexpr Item kItems[] = {
      {"Manufacturer", "AT+CGMI"}, {"Model", "AT+CGMM"}, {"Firmware", "AT+CGMR"},
      {"IMEI", "AT+CGSN"},         {"SIM status", "AT+CPIN?"}, {"IMSI", "AT+CIMI"},
  };
  for (const Item& item : kItems) {
    const modem::Asked asked = exchange(ch, item.command);
    line(item.label, valueOf(asked, item.command));
    if (std::string_view(item.command) == "AT+CIMI" && asked.kind == modem::ReplyKind::Ok) {
      sim.imsi = transfer::parseCimiReply(asked.raw).value_or("");
    }
  }

  // The ICCID: the standard form, then the vendors' own; the first refusal is told when
  // every form is refused.
  std::optional<std::string> refused;
  std::optional<std::string> iccid;
  for (const char* command : {"AT+CCID", "AT+ICCID", "AT^ICCID", "AT+QCCID"}) {
    const modem::Asked asked = exchange(ch, command);
    const std::string value = valueOf(asked, command);
    if (asked.kind == modem::ReplyKind::Ok && value != "-") {
      iccid = value;
      break;
    }
    if (!refused && asked.kind != modem::ReplyKind::Ok) refused = value;
  }
  line("ICCID", iccid.value_or(refused.value_or("-")));
  if (iccid) sim.iccid = transfer::parseIccidReply(*iccid).value_or("");

  // +CPBR: (1-250),40,14
  const modem::Asked store = exchange(ch, "AT+CPBS=\"SM\"");
  std::string capacity = valueOf(store, "AT+CPBS"), nameLength = capacity;
  if (store.kind == modem::ReplyKind::Ok) {
    const modem::Asked range = exchange(ch, "AT+CPBR=?");
    capacity = nameLength = valueOf(range, "AT+CPBR");
    if (range.kind == modem::ReplyKind::Ok) {
      const transfer::CpbrRange parsed = transfer::parseCpbrTest(range.raw);
      capacity = parsed.maxSIM ? std::to_string(*parsed.maxSIM) : "-";
      nameLength = parsed.maxSIMLen ? std::to_string(*parsed.maxSIMLen) : "-";
    }
  }
  line("Phonebook capacity", capacity);
  line("Name length", nameLength);

  // +CPMS: "SM",3,30,"SM",3,30,"SM",3,30
  const modem::Asked sms = exchange(ch, "AT+CPMS?");
  std::string smsCapacity = valueOf(sms, "AT+CPMS?");
  if (sms.kind == modem::ReplyKind::Ok) {
    const auto parsed = transfer::parseCpmsRead(sms.raw).maxSMS;
    smsCapacity = parsed ? std::to_string(*parsed) : "-";
  }
  line("SMS capacity", smsCapacity);

  // +CSCS: ("GSM","IRA","UCS2")
  const modem::Asked sets = exchange(ch, "AT+CSCS=?");
  std::string offered = valueOf(sets, "AT+CSCS=?");
  if (auto names = transfer::parseCscsTest(sets.raw)) {
    offered.clear();
    for (const std::string& name : *names) offered += (offered.empty() ? "" : ", ") + name;
  }
  line("Character sets", offered);
  return sim;
}

// Whether the local copy of each store was read from the SIM in the modem.
void copyLines(const std::filesystem::path& database, const SimIdentity& inserted) {
  for (auto [label, store] : {std::pair{"Phonebook copy", ListStore::Phonebook}, std::pair{"SMS copy", ListStore::Sms}}) {
    auto table = SimTable::open(database, store);
    auto recorded = table ? table->identity() : Result<std::optional<SimIdentity>>(table.error());
    std::string said;
    if (!recorded) {
      said = recorded.error().code == Errc::NotFound ? "no local copy yet" : "-";
    } else if (!*recorded || !(*recorded)->known()) {
      said = "no read recorded its SIM";
    } else {
      switch (sameSim(**recorded, inserted)) {
        case SameSim::Yes: said = "read from this SIM"; break;
        case SameSim::No: said = "read from another SIM (" + shortSimName(**recorded) + ")"; break;
        case SameSim::Unknown: said = "read from the SIM " + shortSimName(**recorded) + "; this one does not tell"; break;
      }
    }
    line(label, said);
  }
}

int runInfo(const ModemArgs& args) {
  const Paths paths = startUp();
  std::optional<ModemChoice> modem = chooseModem(args, "info", paths.preferences);
  if (!modem || !findModem(*modem, "info")) return 3;
  if (modem->device.reader) {
    const std::optional<SimIdentity> card = cardInfo(*modem->device.reader);
    if (!card) return 3;
    copyLines(paths.database(), *card);
    return 0;
  }
  // Asked before the modem is borrowed: ModemManager lists no modem it has let go of.
  transfer::JobContext messages{paths.database(), modem->device};
  const std::optional<modem::ManagedModem> messaging = transfer::messagingModem(messages);
  if (modem->device.qmi) {
    bool refused = false;
    if (const std::optional<SimIdentity> sim = qmiInfo(*modem->device.qmi, refused)) {
      line("Messages", messaging ? kThroughMessaging
                                 : "through the SIM's files over QMI (calls and mobile data go on)");
      copyLines(paths.database(), *sim);
      return 0;
    }
    if (refused) {
      std::cerr << "voryx info: qmi-proxy does not serve this user (it serves root only): run voryx as root "
                   "(sudo) to share the modem with ModemManager; its AT port is used instead\n";
    }
    if (!refused && !modem->device.qmiFallback) return 3;
  }
  modem::Channel ch;
  const modem::OpenOutcome opened = modem::openForJob(ch, modem->device);
  if (opened == modem::OpenOutcome::NoDevice) {
    std::cerr << "voryx info: " << ch.openError() << "\n";
    return 3;
  }
  if (opened == modem::OpenOutcome::HandshakeFailed) {
    std::cerr << "voryx info: the modem did not answer\n";
    return 3;
  }
  const std::string port = ch.device().empty() ? std::string("-") : ch.device().string();
  DebugLog::append("info on |%s|\n", port.c_str());
  line("Port", port);
  if (const modem::ModemLoan* loan = ch.loan()) {
    line("ModemManager", "borrowed from it (" + loan->modem().name() + "); it gets the modem back when this command ends");
    line("Messages", messaging ? kThroughMessaging
                               : "borrowing the modem from ModemManager (calls and mobile data stop for the "
                                 "transfer)");
  } else if (!modem->simulation && modem::surveyModemManager().running) {
    line("ModemManager", "does not manage this modem");
  }
  ch.setCompletion(infoCompletion());
  const SimIdentity inserted = report(ch);
  ch.CloseConn();
  copyLines(paths.database(), inserted);
  if (modem->simulation) modem->simulation->stop();
  return 0;
}

}  // namespace

void addInfoCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<ModemArgs>();
  auto* sub = app.add_subcommand(
      "info", "Show what the modem and its SIM say about themselves (model, firmware, IMEI, "
              "SIM, capacities, character sets, and whether the local copy was read from this SIM)");
  addModemOptions(*sub, *args);
  sub->footer(
      "Each line is \"Label: value\": \"-\" where the modem gives nothing, its refusal where it "
      "refuses. The whole exchange is written to the debug log as well (voryx log path). While "
      "ModemManager runs, a \"ModemManager\" line says whether the modem was borrowed from it, and a "
      "\"Messages\" line which way read and write --sms reach the SIM's messages.\n"
      "Exit status: 0 the modem answered, 2 usage, 3 no modem answered");
  sub->callback([args, &exitCode] { exitCode = runInfo(*args); });
}

}  // namespace voryx
