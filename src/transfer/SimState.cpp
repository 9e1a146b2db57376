// The SIM's state before every job's dialogue, the PIN and PUK questions, and the unlock
// job (SimState.h): one dialogue, kept whole in one file.
#include "transfer/SimState.h"

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "base/Localized.h"
#include "base/DebugLog.h"
#include "modem/ErrorText.h"
#include "modem/Traffic.h"
#include "transfer/FieldCursor.h"
#include "transfer/JobSession.h"

namespace voryx::transfer {
namespace {

using modem::ErrorSource;
using modem::ReplyKind;
using Code = CodeQuestion::Code;

// A busy SIM is asked again this often.
constexpr std::chrono::milliseconds kBusyPause{1000};
// A state name longer than this is cut (a modem's garbage must not fill an alert).
constexpr std::size_t kLongestName = 32;

constexpr const char* kPinTitle = "SIM PIN";
constexpr const char* kPukTitle = "SIM PUK";
constexpr const char* kNewPinTitle = "New SIM PIN";
constexpr const char* kPin2Title = "SIM PIN2";
constexpr const char* kAskPin2 = "Fixed dialling is written only with the SIM's PIN2. Enter it.";
constexpr const char* kOnePin2TryLeft = "1 try left before PIN2 is blocked.";
constexpr const char* kPin2TriesLeft = "tries left before PIN2 is blocked.";
constexpr const char* kBadPin2 = "A PIN2 has 4 to 8 digits; nothing was sent to the SIM.";
constexpr const char* kNoPin2 = "Fixed dialling is written only with the SIM's PIN2; nothing was written.";
constexpr const char* kPin2Refused = "The SIM refused PIN2; nothing was written.";
constexpr const char* kPin2Blocked =
    "The SIM refused PIN2 and PIN2 is now blocked: its PUK2 unblocks it, with a phone.";
constexpr const char* kNoStore = "The modem has no such phonebook:";
constexpr const char* kAskPin = "Enter the SIM's PIN.";
constexpr const char* kAskPuk = "Enter the SIM's PUK (8 digits, printed on the card the SIM came on).";
constexpr const char* kAskNewPin = "Choose a new PIN for the SIM (4 to 8 digits).";
constexpr const char* kOneTryLeft = "1 try left before the SIM is blocked.";
constexpr const char* kTriesLeft = "tries left before the SIM is blocked.";
constexpr const char* kOnePukTryLeft = "1 PUK try left.";
constexpr const char* kPukTriesLeft = "PUK tries left.";
constexpr const char* kBadPin = "A PIN has 4 to 8 digits; nothing was sent to the SIM.";
constexpr const char* kBadPuk = "A PUK has 8 digits; nothing was sent to the SIM.";
constexpr const char* kPinRefused = "The SIM refused the PIN.";
constexpr const char* kNoRetry = "Voryx never tries a PIN again by itself: check it before the next try.";
constexpr const char* kPinBlocked = "The SIM refused the PIN and is now blocked.";
constexpr const char* kCodeUnanswered = "The modem did not answer the code.";
constexpr const char* kStillLocked = "The SIM took the code but still asks for one:";
constexpr const char* kOtherLock = "The SIM or the modem is locked:";
constexpr const char* kOtherLockHelp = "Unlock it with a phone or the modem maker's tool.";
constexpr const char* kNotBlocked = "The SIM is not blocked; there is nothing to unblock.";
constexpr const char* kAsksPin =
    "The SIM is not blocked: it asks for its PIN, which the next read or write asks for.";
constexpr const char* kPukRefused = "The SIM refused the PUK.";
constexpr const char* kPukNoRetry =
    "Check it before the next try: after ten wrong PUKs the SIM is blocked for good.";
constexpr const char* kUnblocked = "The SIM is unblocked; its PIN is now the new one.";

constexpr const char* kLockedElsewhere =
    "The SIM is locked: it waits for its PIN. ModemManager unlocks it (or the phone's own unlock "
    "screen); Voryx gives no PIN behind its back. Unlock it there, then try again.";
constexpr const char* kNoCardUnlock =
    "Voryx unblocks a SIM through a modem; put the SIM in a modem or a phone to unblock it.";

constexpr LineWording kUnlockWording{
    .title = "Unblock the SIM",
    .noDevice = "No modem could be opened; nothing was changed.",
    .noAnswer = "The modem did not answer; nothing was changed.",
    .lineLost = "The connection to the modem was lost.",
    .tooSlow = "The modem answers too slowly.",
    .noCharset = nullptr,  // the unlock sends no text: it agrees no character set
    .cardGone = "The card left the reader.",
    .borrowed = "ModemManager is holding this modem; it gets it back when the unblocking ends",
    .readerInUse = nullptr,  // a SIM in a card reader is not unblocked here (kNoCardUnlock)
};

// The value of a line "<prefix> a,"b",c" as its fields, blanks and quotes around each
// taken off; nothing when the line is not the prefix's.
std::vector<std::string_view> fields(std::string_view line, std::string_view prefix) {
  std::vector<std::string_view> out;
  FieldCursor cursor(line);
  if (!cursor.expect(prefix)) return out;
  while (cursor.more()) {
    const std::optional<Field> f = cursor.field();
    if (!f) break;
    out.push_back(f->text);
  }
  return out;
}

// A count of tries: one to three digits.
std::optional<int> tries(const std::vector<std::string_view>& f, std::size_t i) {
  if (i >= f.size() || f[i].empty() || f[i].size() > 3) return std::nullopt;
  int n = 0;
  for (char c : f[i]) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return out;
}

bool digits(std::string_view code, std::size_t least, std::size_t most) {
  if (code.size() < least || code.size() > most) return false;
  for (char c : code) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string triesText(std::optional<int> left, const char* one, const char* many) {
  if (!left) return {};
  return *left == 1 ? localized(one) : std::to_string(*left) + " " + localized(many);
}

std::string joined(std::string a, const std::string& b) {
  if (a.empty()) return b;
  return b.empty() ? a : a + " " + b;
}

// One command of the SIM check, logged as the set-up commands are.
bool ask(JobSession& s, std::string_view line) {
  modem::logSend(s.logging(), line);
  return s.exchange(line, true);
}

void stop(JobSession& s, const std::string& message) {
  s.simNotReady();
  s.alert(s.wording().title, message);
}

bool isCode(const modem::Reply& r, int equipment, int messages) {
  return r.errorCode && ((r.errorSource == ErrorSource::Equipment && *r.errorCode == equipment) ||
                         (r.errorSource == ErrorSource::Messages && *r.errorCode == messages));
}

// Errors as numbers ("+CME ERROR: 10"): many modems start with a bare "ERROR", which
// would not tell a missing SIM from a command the modem lacks. A modem that refuses it
// keeps its way; the replies are read either way.
bool numberedErrors(JobSession& s) { return ask(s, "AT+CMEE=1\r"); }

// The SIM's state, a busy SIM waited for (kBusyPause apart, up to the context's bound).
// False when the job must end: the line failed, or the SIM is missing, failed or stayed
// busy (the user told).
bool readState(JobSession& s, SimState& state) {
  const auto deadline = std::chrono::steady_clock::now() + s.context().simBusyWait;
  for (;;) {
    if (!ask(s, "AT+CPIN?\r")) return false;
    if (!isCode(s.answer(), 14, 314)) break;
    if (std::chrono::steady_clock::now() + kBusyPause > deadline) {
      modem::logRefusal(s.logging(), s.answer());
      stop(s, modem::refusalSentence(s.answer()));
      return false;
    }
    VORYX_LOG_IF(s.logging(), "sim busy, asked again in %d ms\n", static_cast<int>(kBusyPause.count()));
    std::this_thread::sleep_for(kBusyPause);
  }
  const modem::Reply& r = s.answer();
  state = SimState{SimState::Kind::Ready, "READY"};
  if (r.kind == ReplyKind::Ok) {
    const SimState read = parseCpinRead(r);
    if (read.kind != SimState::Kind::Unknown) state = read;
    else VORYX_LOG_IF(s.logging(), "sim state not in the reply; taken as ready\n");
    return true;
  }
  if (r.kind == ReplyKind::Incomplete) {
    VORYX_LOG_IF(s.logging(), "no answer to AT+CPIN?; taken as ready\n");
    return true;
  }
  modem::logRefusal(s.logging(), r);
  if (isCode(r, 11, 311)) state = SimState{SimState::Kind::Pin, "SIM PIN"};
  else if (isCode(r, 12, 316)) state = SimState{SimState::Kind::Puk, "SIM PUK"};
  else if (isCode(r, 10, 310) || isCode(r, 13, 313) || isCode(r, 15, 315)) {
    stop(s, modem::refusalSentence(r));
    return false;
  } else {
    VORYX_LOG_IF(s.logging(), "AT+CPIN? refused; taken as ready\n");
  }
  return true;
}

// The tries left for the PIN (or the PUK): the standard command first; the makers' own
// only when the modem refuses it. False when the line failed.
bool readTries(JobSession& s, Code code, std::optional<int>& left) {
  left.reset();
  struct Ask {
    TriesCommand command;
    const char* pinLine;
    const char* pukLine;
  };
  static constexpr std::array<Ask, 4> kAsks{{
      {TriesCommand::Cpinr, "AT+CPINR=\"SIM PIN\"\r", "AT+CPINR=\"SIM PUK\"\r"},
      {TriesCommand::Huawei, "AT^CPIN?\r", "AT^CPIN?\r"},
      {TriesCommand::Quectel, "AT+QPINC=\"SC\"\r", "AT+QPINC=\"SC\"\r"},
      {TriesCommand::Cpinc, "AT+CPINC?\r", "AT+CPINC?\r"},
  }};
  for (const Ask& a : kAsks) {
    if (!ask(s, code == Code::Puk ? a.pukLine : a.pinLine)) return false;
    const modem::Reply& r = s.answer();
    if (r.kind == ReplyKind::Ok) {
      const CodeTries found = parseCodeTries(a.command, r);
      left = code == Code::Puk ? found.puk : found.pin;
      return true;
    }
    if (r.kind != ReplyKind::Error) return true;  // silence: no count, and no more asking
  }
  return true;
}

// The state after a code was taken: the SIM may be busy for a few seconds, then ready.
bool readyAfterCode(JobSession& s) {
  SimState state;
  if (!readState(s, state)) return false;
  if (state.kind == SimState::Kind::Ready) return true;
  stop(s, localized(kStillLocked) + " " + state.name);
  return false;
}

// The user's PIN, asked once with the tries left; none when cancelled or not a PIN (the
// job then stops, the user told).
std::optional<std::string> askPin(JobSession& s, std::optional<int> left) {
  std::optional<std::string> pin = s.host().askCode({Code::Pin, left});
  if (!pin || pin->empty()) {
    VORYX_LOG_IF(s.logging(), "the PIN question was cancelled\n");
    s.simNotReady();
    return std::nullopt;
  }
  if (!digits(*pin, 4, 8)) {
    stop(s, localized(kBadPin));
    return std::nullopt;
  }
  return pin;
}

bool enterPin(JobSession& s) {
  std::optional<int> left;
  if (!readTries(s, Code::Pin, left)) return false;
  const std::optional<std::string> pin = askPin(s, left);
  if (!pin) return false;
  // No echo: the PIN must not come back on the line.
  if (!ask(s, "ATE0\r")) return false;
  const std::string command = *JobSession::command("AT+CPIN=\"%s\"\r", pin->c_str());
  if (!s.exchangeCode(command, "AT+CPIN=\"****\"\r")) return false;
  const modem::Reply& r = s.answer();
  if (r.kind == ReplyKind::Ok) return readyAfterCode(s);
  if (r.kind == ReplyKind::Incomplete) {
    stop(s, localized(kCodeUnanswered));
    return false;
  }
  modem::logRefusal(s.logging(), r);
  if (!readTries(s, Code::Pin, left)) return false;
  if (left == 0) {
    stop(s, joined(localized(kPinBlocked), localized(modem::errorSentenceKey(ErrorSource::Equipment, 12))));
  } else {
    stop(s, joined(joined(localized(kPinRefused), triesText(left, kOneTryLeft, kTriesLeft)), localized(kNoRetry)));
  }
  return false;
}

}  // namespace

SimState parseCpinRead(const modem::Reply& reply) {
  SimState state;
  for (std::string_view line : reply.lines) {
    const std::vector<std::string_view> f = fields(line, "+CPIN:");
    if (f.empty()) continue;
    std::string name;
    for (char c : f[0].substr(0, kLongestName)) name += c >= ' ' && c < 0x7f ? c : '?';
    name = upper(name);
    if (name.empty()) continue;
    state.kind = name == "READY"     ? SimState::Kind::Ready
                 : name == "SIM PIN" ? SimState::Kind::Pin
                 : name == "SIM PUK" ? SimState::Kind::Puk
                                     : SimState::Kind::Other;
    state.name = name;
    return state;
  }
  return state;
}

CodeTries parseCodeTries(TriesCommand command, const modem::Reply& reply) {
  CodeTries found;
  for (std::string_view line : reply.lines) {
    switch (command) {
      case TriesCommand::Cpinr: {
        const auto f = fields(line, "+CPINR:");
        if (f.empty()) break;
        const std::string code = upper(f[0]);
        if (code == "SIM PIN") found.pin = tries(f, 1);
        if (code == "SIM PUK") found.puk = tries(f, 1);
        if (code == "SIM PIN2") found.pin2 = tries(f, 1);
        break;
      }
      case TriesCommand::Huawei: {
        const auto f = fields(line, "^CPIN:");
        if (f.size() < 4) break;
        found.puk = tries(f, 2);
        found.pin = tries(f, 3);
        break;
      }
      case TriesCommand::Quectel: {
        const auto f = fields(line, "+QPINC:");
        if (f.size() < 3 || upper(f[0]) != "SC") break;
        found.pin = tries(f, 1);
        found.puk = tries(f, 2);
        break;
      }
      case TriesCommand::Cpinc: {
        const auto f = fields(line, "+CPINC:");
        if (f.size() < 3) break;
        found.pin = tries(f, 0);
        found.puk = tries(f, 2);
        break;
      }
    }
  }
  return found;
}

std::string codeQuestionTitle(const CodeQuestion& question) {
  switch (question.code) {
    case Code::Pin: return localized(kPinTitle);
    case Code::Puk: return localized(kPukTitle);
    case Code::NewPin: return localized(kNewPinTitle);
    case Code::Pin2: return localized(kPin2Title);
  }
  return {};
}

std::string codeQuestionText(const CodeQuestion& question) {
  switch (question.code) {
    case Code::Pin: return joined(localized(kAskPin), triesText(question.triesLeft, kOneTryLeft, kTriesLeft));
    case Code::Puk: return joined(localized(kAskPuk), triesText(question.triesLeft, kOnePukTryLeft, kPukTriesLeft));
    case Code::NewPin: return localized(kAskNewPin);
    case Code::Pin2: return joined(localized(kAskPin2), triesText(question.triesLeft, kOnePin2TryLeft, kPin2TriesLeft));
  }
  return {};
}

bool selectPhonebook(JobSession& s, Phonebook book, bool write) {
  if (book == Phonebook::SM) return s.exchange("AT+CPBS=\"SM\"\r", true);
  const PhonebookKind& kind = phonebookKind(book);
  const std::string select = "AT+CPBS=\"" + std::string(kind.code) + "\"";
  auto noStore = [&] {
    modem::logRefusal(s.logging(), s.answer());
    s.storeMissing();
    s.alert(s.wording().title, localized(kNoStore) + " " + localized(kind.title) + " (" +
                                   std::string(kind.code) + ").");
    return false;
  };
  if (!write || !kind.pin2) {
    if (!s.exchange(select + "\r", true)) return false;
    return s.answer().kind == ReplyKind::Ok || noStore();
  }
  std::optional<int> left;
  if (!ask(s, "AT+CPINR=\"SIM PIN2\"\r")) return false;
  if (s.answer().kind == ReplyKind::Ok) left = parseCodeTries(TriesCommand::Cpinr, s.answer()).pin2;
  const std::optional<std::string> pin2 = s.host().askCode({Code::Pin2, left});
  if (!pin2 || pin2->empty()) {
    VORYX_LOG_IF(s.logging(), "the PIN2 question was cancelled\n");
    stop(s, localized(kNoPin2));
    return false;
  }
  if (!digits(*pin2, 4, 8)) {
    stop(s, localized(kBadPin2));
    return false;
  }
  // No echo: the code must not come back on the line.
  if (!ask(s, "ATE0\r")) return false;
  if (!s.exchangeCode(select + ",\"" + *pin2 + "\"\r", select + ",\"****\"\r")) return false;
  const modem::Reply& r = s.answer();
  if (r.kind == ReplyKind::Ok) return true;
  if (r.kind == ReplyKind::Incomplete) {
    stop(s, localized(kCodeUnanswered));
    return false;
  }
  // 16 incorrect password, 17 SIM PIN2 required, 18 SIM PUK2 required.
  if (!isCode(r, 16, -1) && !isCode(r, 17, -1) && !isCode(r, 18, -1)) return noStore();
  modem::logRefusal(s.logging(), r);
  if (!ask(s, "AT+CPINR=\"SIM PIN2\"\r")) return false;
  left = s.answer().kind == ReplyKind::Ok ? parseCodeTries(TriesCommand::Cpinr, s.answer()).pin2 : std::nullopt;
  if (left == 0 || isCode(r, 18, -1)) {
    stop(s, localized(kPin2Blocked));
  } else {
    stop(s, joined(joined(localized(kPin2Refused), triesText(left, kOnePin2TryLeft, kPin2TriesLeft)),
                   localized(kNoRetry)));
  }
  return false;
}

bool checkSim(JobSession& s) {
  SimState state;
  if (!numberedErrors(s) || !readState(s, state)) return false;
  VORYX_LOG_IF(s.logging(), "sim state |%s|\n", state.name.c_str());
  switch (state.kind) {
    case SimState::Kind::Ready:
    case SimState::Kind::Unknown:
      return true;
    case SimState::Kind::Pin:
      return enterPin(s);
    case SimState::Kind::Puk:
      stop(s, localized(modem::errorSentenceKey(ErrorSource::Equipment, 12)));
      return false;
    case SimState::Kind::Other:
      // PIN2 guards other files than the phonebook and the messages: no reason to stop.
      if (state.name == "SIM PIN2" || state.name == "SIM PUK2") return true;
      stop(s, localized(kOtherLock) + " " + state.name + ". " + localized(kOtherLockHelp));
      return false;
  }
  return true;
}

bool checkCard(JobSession& s) {
  simfiles::SimFiles& files = *s.files();
  simfiles::CardResult state = files.pinStatus();
  VORYX_LOG_IF(s.logging(), "card pin state |%04X|\n", state.sw);
  if (s.cardEnded(state)) return false;
  using simfiles::CardOutcome;
  if (state.outcome == CardOutcome::Blocked) {
    stop(s, localized(modem::errorSentenceKey(ErrorSource::Equipment, 12)));
    return false;
  }
  if (state.outcome != CardOutcome::WrongPin) return true;  // none needed, or the card does not tell
  if (!files.unlocksHere()) {
    stop(s, localized(kLockedElsewhere));
    return false;
  }
  const std::optional<std::string> pin = askPin(s, state.triesLeft);
  if (!pin) return false;
  VORYX_LOG_IF(s.logging(), "send |VERIFY CHV1 ****|\n");
  const simfiles::CardResult r = files.verifyPin(*pin);
  VORYX_LOG_IF(s.logging(), "card answer |%04X|\n", r.sw);
  if (r.ok() || s.cardEnded(r)) return r.ok();
  std::optional<int> left = r.triesLeft;
  if (r.outcome == CardOutcome::Blocked || left == 0) {
    stop(s, joined(localized(kPinBlocked), localized(modem::errorSentenceKey(ErrorSource::Equipment, 12))));
  } else if (r.outcome == CardOutcome::WrongPin) {
    stop(s, joined(joined(localized(kPinRefused), triesText(left, kOneTryLeft, kTriesLeft)), localized(kNoRetry)));
  } else {
    stop(s, joined(localized(kPinRefused), simfiles::cardResultText(r)));
  }
  return false;
}

JobReport unlockSIM(JobHost& host, const JobContext& context) {
  JobSession s(host, context, kUnlockWording);
  JobReport report;
  if (context.device.reader) {
    s.alert(kUnlockWording.title, localized(kNoCardUnlock));
    report.outcome = JobOutcome::SimNotReady;
    return report;
  }
  SimState state;
  if (!s.openLine() || !numberedErrors(s) || !readState(s, state)) {
    report.outcome = s.failure();
    return report;
  }
  VORYX_LOG_IF(s.logging(), "sim state |%s|\n", state.name.c_str());
  if (state.kind != SimState::Kind::Puk) {
    s.alert(kUnlockWording.title, localized(state.kind == SimState::Kind::Pin ? kAsksPin : kNotBlocked));
    return report;
  }
  std::optional<int> left;
  if (!readTries(s, Code::Puk, left)) {
    report.outcome = s.failure();
    return report;
  }
  const std::optional<std::string> puk = host.askCode({Code::Puk, left});
  const std::optional<std::string> pin = puk && !puk->empty() ? host.askCode({Code::NewPin, {}}) : std::nullopt;
  if (!puk || !pin || puk->empty() || pin->empty()) {
    VORYX_LOG_IF(s.logging(), "the PUK question was cancelled\n");
    report.outcome = JobOutcome::SimNotReady;
    return report;
  }
  if (!digits(*puk, 8, 8) || !digits(*pin, 4, 8)) {
    stop(s, localized(digits(*puk, 8, 8) ? kBadPin : kBadPuk));
    report.outcome = s.failure();
    return report;
  }
  if (!ask(s, "ATE0\r")) {
    report.outcome = s.failure();
    return report;
  }
  const std::string command = *JobSession::command("AT+CPIN=\"%s\",\"%s\"\r", puk->c_str(), pin->c_str());
  if (!s.exchangeCode(command, "AT+CPIN=\"****\",\"****\"\r")) {
    report.outcome = s.failure();
    return report;
  }
  const modem::Reply& r = s.answer();
  if (r.kind == ReplyKind::Ok) {
    if (!readyAfterCode(s)) {
      report.outcome = s.failure();
      return report;
    }
    s.alert(kUnlockWording.title, localized(kUnblocked));
    return report;
  }
  if (r.kind == ReplyKind::Incomplete) {
    stop(s, localized(kCodeUnanswered));
  } else {
    modem::logRefusal(s.logging(), r);
    if (readTries(s, Code::Puk, left)) {
      stop(s, joined(joined(localized(kPukRefused), triesText(left, kOnePukTryLeft, kPukTriesLeft)),
                     localized(kPukNoRetry)));
    }
  }
  report.outcome = s.failure();
  return report;
}

}  // namespace voryx::transfer
