// The SIM's messages through ModemManager's Messaging interface: the read dialogue and the
// write pass (WritePass.h) over modem/MmMessaging.
#include "transfer/MessagingJobs.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "base/DebugLog.h"
#include "base/Localized.h"
#include "modem/Ports.h"
#include "store/SimTable.h"
#include "transfer/SimRecords.h"
#include "transfer/WritePass.h"

namespace voryx::transfer {

using modem::MmMessage;
using modem::MmPduType;
using modem::MmSmsState;
using modem::MmStorage;

// What the write pass knows of ModemManager's messages: those on the SIM as the pass began,
// and what the table last saw at each location.
struct MessagingBook {
  std::map<std::int32_t, MmMessage> sim;
  std::map<std::int32_t, SeenEntry> seen;
};

namespace {

constexpr const char* kSmsProgressKey = "Reading sms entry nr.";
constexpr const char* kListFailed = "ModemManager did not list the modem's messages:";
constexpr const char* kMemoryFull = "org.freedesktop.ModemManager1.Error.Message.MemoryFull";
constexpr const char* kOnlyDrafts =
    "message %d: ModemManager stores a new message only as a draft, and this one is a %s message; it keeps its "
    "mark (borrow the modem with --access modem to store it as it is)";
constexpr const char* kNotAsRead =
    "message %d is no longer on the SIM as it was read (ModemManager numbers its messages anew when it starts "
    "again, and another program may have changed them); it keeps its mark: read the SIM first";

bool onSim(const MmMessage& m) { return m.storage == static_cast<std::uint32_t>(MmStorage::Sm); }

std::string withNumber(const char* key, int n) {
  std::string text = localized(key);
  if (auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(n));
  return text;
}

// The messages ModemManager keeps on the SIM, by their object number. False when the
// dialogue ended (user told).
bool listSim(JobSession& s, std::map<std::int32_t, MmMessage>& out) {
  std::vector<MmMessage> all;
  if (!s.messaging()->list(all)) {
    s.messagingFailed(kListFailed);
    return false;
  }
  for (MmMessage& m : all) {
    const auto n = modem::smsObjectNumber(m.path);
    if (!onSim(m)) continue;
    if (!n) {
      VORYX_LOG_IF(s.logging(), "mm message |%s| has no number, left out\n", m.path.c_str());
      continue;
    }
    out[*n] = std::move(m);
  }
  return true;
}

bool smsSetUp(JobSession& s, PassScope& scope) {
  auto book = std::make_shared<MessagingBook>();
  if (!listSim(s, book->sim)) return false;
  auto table = SimTable::open(s.context().database, ListStore::Sms, kShellBusy);
  if (table) {
    if (auto seen = table->seen()) book->seen = std::move(*seen);
  }
  scope.messaging = std::move(book);
  return true;
}

// The message a changed or deleted row stands for: ModemManager's message of the row's
// number, while it is still what the table last saw there. Nothing when it is not.
const MmMessage* oldMessage(const MessagingBook& book, const SimEntry& e) {
  auto at = book.sim.find(e.posizione);
  if (at == book.sim.end()) return nullptr;
  auto seen = book.seen.find(e.posizione);
  if (seen == book.seen.end()) return &at->second;  // a table from before what it saw was kept
  const bool same = at->second.text == seen->second.nome && sameParty(at->second.number, seen->second.telefono);
  return same ? &at->second : nullptr;
}

// A refusal by ModemManager (it stays on the bus): its answer is the refusal the user reads.
Verdict refusedBy(JobSession& s, PassScope& scope) {
  scope.refusal = "ModemManager: " + s.messaging()->error();
  // Create, Delete and Store are polkit's org.freedesktop.ModemManager1.Messaging action.
  if (s.messaging()->errorName() == "org.freedesktop.ModemManager1.Error.Core.Unauthorized") {
    scope.refusal += " (" + localized("allow your user the polkit action org.freedesktop.ModemManager1.Messaging, or "
                                      "write as root with --access modem") + ")";
  }
  return Verdict::Refused;
}

Verdict ended(JobSession& s, const char* what) {
  s.messagingFailed(what);
  return Verdict::Ended;
}

Verdict smsEntry(JobSession& s, PassScope& scope, const SimEntry& e, int index, std::string& lastNumber,
                 std::vector<Confirmed>& confirmed) {
  modem::MmMessaging& mm = *s.messaging();
  const int log = s.logging();
  const int n = index + 1;
  const MmMessage* old = nullptr;
  if (e.operazione == kMarkDeleted || e.operazione == kMarkChanged) {
    old = oldMessage(*scope.messaging, e);
    if (old == nullptr) {
      scope.skipped = withNumber(kNotAsRead, e.posizione);
      return Verdict::Skipped;
    }
  }
  // A dry run: what would be asked of ModemManager is listed instead.
  if (s.holding()) {
    const std::string what = e.operazione == kMarkDeleted ? "Delete " + old->path
                             : "Create and Store(sm) \"" + e.nome + "\" to " + e.telefono +
                                   (old != nullptr ? ", then Delete " + old->path : "");
    s.noteHeld(what);
    confirmed.push_back(Confirmed::of(e, e.operazione == kMarkDeleted ? Confirmed::What::Erased
                                                                       : Confirmed::What::Written));
    return Verdict::Go;
  }
  if (e.operazione == kMarkDeleted) {
    if (!mm.remove(old->path)) return mm.gone() ? ended(s, "") : refusedBy(s, scope);
    VORYX_LOG_IF(log, "sms %d deleted |%s|\n", n, old->path.c_str());
    confirmed.push_back(Confirmed::of(e, Confirmed::What::Erased));
    return Verdict::Go;
  }
  // The status the list has for the row; a new row has none and becomes a draft.
  auto held = scope.held.find(e.posizione);
  const int status = held == scope.held.end() || held->second.empty() ? statusByteOfStat(2)
                                                                      : static_cast<unsigned char>(held->second[0]) & 7;
  if (status != statusByteOfStat(2)) {
    const bool received = status == statusByteOfStat(0) || status == statusByteOfStat(1);
    scope.skipped = withNumber(kOnlyDrafts, e.posizione);
    const std::string kind = localized(received ? "received" : "sent");
    if (auto at = scope.skipped.find("%s"); at != std::string::npos) scope.skipped.replace(at, 2, kind);
    return Verdict::Skipped;
  }
  lastNumber = e.telefono;
  Confirmed stored = Confirmed::of(e, Confirmed::What::Written);
  stored.record = std::string(1, static_cast<char>(statusByteOfStat(2)));
  // Recorded before it is stored: a pass that ends before ModemManager's answer leaves the
  // next one to look for it on the SIM, by its text and number, instead of storing it twice.
  if (scope.intend) {
    Confirmed intent = stored;
    intent.pending = true;
    if (!scope.intend(intent)) return Verdict::Unrecorded;
  }
  std::string path;
  auto store = [&]() -> Verdict {
    if (!mm.create(e.telefono, e.nome, path)) return mm.gone() ? ended(s, "") : refusedBy(s, scope);
    if (mm.store(path, MmStorage::Sm)) return Verdict::Go;
    if (mm.gone()) return ended(s, "");
    const Verdict v = refusedBy(s, scope);
    // Created but not stored: it lives only in ModemManager's memory, and goes.
    const bool full = mm.errorName() == kMemoryFull;
    const std::string why = mm.error();
    (void)mm.remove(path);
    scope.refusal = "ModemManager: " + why;
    return full ? Verdict::Occupied : v;
  };
  Verdict v = store();
  if (v == Verdict::Occupied && e.operazione == kMarkChanged) {
    // A full store takes the new copy only once the old one is gone: the old one goes
    // first, and a store that fails then leaves the row new, with its text.
    VORYX_LOG_IF(log, "sms store full: sms %d deleted first |%s|\n", n, old->path.c_str());
    if (!mm.remove(old->path)) return mm.gone() ? ended(s, "") : refusedBy(s, scope);
    v = store();
    if (v == Verdict::Occupied) v = Verdict::Refused;
    if (v != Verdict::Go) {
      confirmed.push_back(Confirmed::of(e, Confirmed::What::Erased));
      return v;
    }
    stored.storedAt = modem::smsObjectNumber(path);
    confirmed.push_back(stored);
    return Verdict::Go;
  }
  if (v == Verdict::Occupied) v = Verdict::Refused;
  if (v != Verdict::Go) return v;
  stored.storedAt = modem::smsObjectNumber(path);
  if (!stored.storedAt) {
    // Stored, but under a name this program cannot follow: the pass ends with the message
    // still recorded as being stored, so the next pass looks for it by its text and number.
    s.alert(kWriteWording.title, localized("ModemManager stored the message under a name Voryx cannot follow:") +
                                     " " + path);
    return Verdict::Ended;
  }
  VORYX_LOG_IF(log, "sms %d stored on the sim |%s|\n", n, path.c_str());
  stored.oldKept = e.operazione == kMarkChanged;
  confirmed.push_back(stored);
  if (e.operazione != kMarkChanged) return Verdict::Go;
  if (mm.remove(old->path)) {
    confirmed.back().oldKept = false;
    VORYX_LOG_IF(log, "sms %d old copy deleted |%s|\n", n, old->path.c_str());
  } else if (mm.gone()) {
    return ended(s, "");
  }
  return Verdict::Go;
}

// An earlier pass's unsettled messages, looked for among those ModemManager keeps on the
// SIM by their text and number.
bool smsSettle(JobSession& s, PassScope& scope, const std::vector<SimEntry>& table,
               const std::vector<Confirmed>& unsettled, std::vector<Confirmed>& found) {
  VORYX_LOG_IF(s.logging(), "sms: %d unsettled by the last pass, looked for on the sim\n",
               static_cast<int>(unsettled.size()));
  std::map<std::int32_t, MmMessage> sim;
  if (!listSim(s, sim)) return false;
  std::map<int, std::pair<std::string, std::string>> held;
  for (const auto& [n, m] : sim) held[n] = {m.text, m.number};
  found = settledMessages(unsettled, held, table);
  // What the pass then finds on the SIM includes them.
  if (scope.messaging) scope.messaging->sim = std::move(sim);
  return true;
}

}  // namespace

const WritePass kMessagingSmsPass{ListStore::Sms, "Error writing sms", smsSetUp, smsEntry, false, smsSettle,
                                  Locations::ModemManager};

int statusByteOfMessage(std::uint32_t state, std::uint32_t pduType) {
  if (state == static_cast<std::uint32_t>(MmSmsState::Received) ||
      state == static_cast<std::uint32_t>(MmSmsState::Receiving) || pduType == static_cast<std::uint32_t>(MmPduType::Deliver)) {
    return statusByteOfStat(1);  // ModemManager does not tell read from unread
  }
  if (state == static_cast<std::uint32_t>(MmSmsState::Sent)) return statusByteOfStat(3);
  return statusByteOfStat(2);
}

std::optional<modem::ManagedModem> messagingModem(const JobContext& context) {
  const modem::DeviceChoice& device = context.device;
  // A QMI port ModemManager's modem lists (not one the user chose with --qmi) leaves the
  // messages to ModemManager: the SIM's files are only where its messaging is not offered.
  const bool qmiChosen = device.qmi && !device.qmiFallback;
  if (context.borrowModem || context.records || device.reader || qmiChosen || device.line != nullptr) {
    return std::nullopt;
  }
  const modem::ManagerSurvey survey = modem::surveyModemManager();
  if (!survey.running) return std::nullopt;
  const modem::ManagedModem* modem =
      device.device ? survey.holding(*device.device) : modem::managedCandidate(survey, modem::candidatePorts(device));
  if (modem == nullptr || !modem->messaging) return std::nullopt;
  return *modem;
}

JobOutcome messagingSmsDialogue(JobSession& s, JobReport&, std::vector<SimEntry>& rows, int& steps) {
  steps = 0;  // the progress is shown message by message
  std::map<std::int32_t, MmMessage> sim;
  if (!listSim(s, sim)) return s.messaging()->gone() ? s.failure() : JobOutcome::ListingFailed;
  int done = 0;
  for (const auto& [n, m] : sim) {
    s.progress(kSmsProgressKey, n);
    s.step(++done, static_cast<int>(sim.size()));
    rows.push_back({n, m.text, m.number, kMarkInStep});
    s.messageRecords()[n] = std::string(1, static_cast<char>(statusByteOfMessage(m.state, m.pduType)));
  }
  VORYX_LOG_IF(s.logging(), "entries parsed |%d|\n", static_cast<int>(rows.size()));
  return JobOutcome::Done;
}

}  // namespace voryx::transfer
