#include "transfer/JobSession.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>

#include "base/Localized.h"
#include "base/DebugLog.h"
#include "modem/ErrorText.h"
#include "modem/Traffic.h"
#include "simfiles/ApduFiles.h"
#include "simfiles/CrsmFiles.h"
#include "simfiles/PcscLink.h"
#include "transfer/SimState.h"

namespace voryx::transfer {

using namespace codec;
namespace {

constexpr const char* kBytesReceivedKey = "Bytes received from the modem:";
constexpr const char* kQmiUnreached = "The modem is reached through its AT port instead.";
constexpr const char* kQmiRefused =
    "qmi-proxy does not serve this user (it serves root only). Run voryx as root (sudo) to share the "
    "modem with ModemManager; this time the modem is reached through its AT port instead, as without the "
    "proxy (borrowed from ModemManager when it manages the modem).";

}  // namespace

JobSession::JobSession(JobHost& host, const JobContext& context, const LineWording& wording)
    : host_(host), context_(context), wording_(wording) {}

JobSession::~JobSession() { channel_.CloseConn(); }

CodecLog JobSession::codecLog() const {
  if (logging() == 0) return {};
  return [](const std::string& record) { DebugLog::append("%s", record.c_str()); };
}

std::string JobSession::machine() const {
  return context_.device.machine.empty() ? modem::getSysInfoByName("hw.machine")
                                         : context_.device.machine;
}

bool JobSession::open() {
  if (context_.messaging) return openMessaging();
  if (context_.device.reader) return openCard() && checkCard(*this);
  if (context_.device.qmi) {
    switch (openQmi()) {
      case QmiOpen::Opened: return checkCard(*this);
      case QmiOpen::Failed:
        if (!context_.device.qmiFallback) return false;
        break;
      case QmiOpen::Refused: break;
    }
    // The modem as without the proxy: borrowed, its files through AT+CRSM.
    context_.device.qmi.reset();
    context_.records = true;
  }
  return openLine() && checkSim(*this) && (!context_.records || openRecords());
}

bool JobSession::openCard() {
  simfiles::ConnectFailure failure;
  auto link = simfiles::PcscLink::connect(*context_.device.reader, failure);
  if (!link) {
    VORYX_LOG_IF(logging(), "card reader refused |%s|\n", failure.why.c_str());
    if (failure.inUse && wording_.readerInUse != nullptr) {
      alert(wording_.title, failure.reader + ": " + localized(wording_.readerInUse));
    } else {
      alert(wording_.title, localized(wording_.noDevice) + " (" + failure.why + ")");
    }
    return false;
  }
  VORYX_LOG_IF(logging(), "card reader |%s| %s\n", link->reader().c_str(), link->t0() ? "T=0" : "T=1");
  files_ = std::make_unique<simfiles::ApduFiles>(*link, link->reader());
  card_ = std::move(link);
  return true;
}

// The SIM's files through qmi-proxy: no AT port is opened, ModemManager keeps the modem.
JobSession::QmiOpen JobSession::openQmi() {
  simfiles::QmiOpenFailure failure;
  const std::string device = context_.device.qmi->string();
  auto files = simfiles::QmiFiles::open(device, failure, context_.device.qmiWait);
  if (!files) {
    VORYX_LOG_IF(logging(), "qmi-proxy refused |%s| %s\n", device.c_str(), failure.why.c_str());
    if (failure.refused) {
      host_.showNote(device + ": " + localized(kQmiRefused));
      return QmiOpen::Refused;
    }
    if (!context_.device.qmiFallback) {
      alert(wording_.title, localized(wording_.noDevice) + " (" + device + ": " + failure.why + ")");
    } else {
      host_.showNote(device + ": " + failure.why + ". " + localized(kQmiUnreached));
    }
    return QmiOpen::Failed;
  }
  VORYX_LOG_IF(logging(), "sim files |%s|\n", files->describe().c_str());
  qmi_ = files.get();
  files_ = std::move(files);
  return QmiOpen::Opened;
}

// AT+CRSM over the open line, each command logged with its reply. Verbose results and no
// echo first, as the phonebook commands have them: a reply is then the modem's own.
bool JobSession::openRecords() {
  // A reply to AT+CRSM is one line of digits and hexadecimal and its final result code:
  // nothing in it can pass for a final code, so it ends there, with no wait for more.
  modem::ReplyCompletion rule;
  rule.fast = true;
  rule.grace = std::chrono::microseconds{0};
  channel_.setCompletion(std::move(rule));
  if (!exchange(kVerboseNoEcho, true)) return false;
  files_ = std::make_unique<simfiles::CrsmFiles>([this](const std::string& line) -> std::optional<std::string> {
    if (!exchange(line, true)) return std::nullopt;
    return std::string(reply());
  });
  return true;
}

// ModemManager keeps the modem: only its bus is opened, and the SIM's presence asked.
bool JobSession::openMessaging() {
  auto messaging = std::make_unique<modem::MmMessaging>(logging());
  if (!messaging->connect(*context_.messaging)) {
    alert(wording_.title, localized(wording_.noDevice) + " (" + messaging->error() + ")");
    return false;
  }
  std::string iccid, imsi;
  bool present = false;
  messaging_ = std::move(messaging);
  if (!messaging_->simIdentity(iccid, imsi, present)) {
    messagingFailed("ModemManager did not say which SIM is in the modem:");
    return false;
  }
  if (!present) {
    simNotReady_ = true;
    alert(wording_.title, localized("ModemManager sees no SIM in the modem; nothing was read or written."));
    return false;
  }
  if (wording_.messaging != nullptr) host_.showNote(localized(wording_.messaging));
  return true;
}

bool JobSession::messagingFailed(const char* what) {
  const bool gone = messaging_ == nullptr || messaging_->gone();
  const std::string why = messaging_ != nullptr ? messaging_->error() : std::string();
  if (!lostTold_) {
    lostTold_ = true;
    if (gone) {
      alert(wording_.title, localized("ModemManager stopped answering.") + " " + localized(wording_.lineLost) +
                                (why.empty() ? "" : " (" + why + ")"));
    } else {
      alert(wording_.title, localized(what) + " " + why);
    }
  }
  return gone;
}

bool JobSession::cardEnded(const simfiles::CardResult& result) {
  if (result.outcome != simfiles::CardOutcome::Removed) return false;
  if (qmi_ != nullptr) {  // the modem went quiet or away behind qmi-proxy
    if (!lostTold_) {
      lostTold_ = true;
      VORYX_LOG_IF(logging(), "qmi gone |%s|\n", qmi_->why().c_str());
      if (qmi_->noSim()) {
        simNotReady_ = true;
        alert(wording_.title, localized(modem::errorSentenceKey(modem::ErrorSource::Equipment, 10)));
      } else {
        alert(wording_.title, localized(wording_.lineLost) + (qmi_->why().empty() ? "" : " (" + qmi_->why() + ")"));
      }
    }
    return true;
  }
  if (!card_) return true;  // AT+CRSM: the line's own end, told already
  if (!lostTold_) {
    lostTold_ = true;
    VORYX_LOG_IF(logging(), "card gone |%s|\n", card_->why().c_str());
    const std::string why = card_->why();
    alert(wording_.title, localized(wording_.cardGone) + (why.empty() ? "" : " (" + why + ")"));
  }
  return true;
}

bool JobSession::openLine() {
  // The handshake too; record access ends every reply at its final result code (see
  // openRecords).
  channel_.setCompletion({.fast = fastReplies(), .grace = modem::kGrace, .progress = {}});
  switch (modem::openForJob(channel_, context_.device)) {
    case modem::OpenOutcome::Ready:
      showBytesReceived(false);  // a port scan leaves its own rule behind
      if (const modem::ModemLoan* loan = channel_.loan()) {
        VORYX_LOG_IF(logging(), "borrowed from ModemManager |%s| %s\n", loan->modem().device.c_str(),
                     channel_.device().c_str());
        if (wording_.borrowed != nullptr) host_.showNote(localized(wording_.borrowed));
      }
      return true;
    case modem::OpenOutcome::NoDevice: {
      const std::string& why = channel_.openError();
      alert(wording_.title, localized(wording_.noDevice) + (why.empty() ? "" : " (" + why + ")"));
      return false;
    }
    case modem::OpenOutcome::HandshakeFailed:
      if (channel_.late()) {
        tooSlow_ = true;
        alert(wording_.tooSlow);
      } else {
        alert(channel_.broken() ? wording_.lineLost : wording_.noAnswer);
      }
      return false;
  }
  return false;
}

bool JobSession::lineLost() {
  channel_.CloseConn();
  if (!lostTold_) {
    lostTold_ = true;
    alert(tooSlow_ ? wording_.tooSlow : wording_.lineLost);
  }
  return false;
}

void JobSession::hideCodes(std::string& text) const {
  for (const auto& [sent, shown] : codes_) {
    for (std::size_t at = text.find(sent); at != std::string::npos; at = text.find(sent, at + shown.size())) {
      text.replace(at, sent.size(), shown);
    }
  }
}

bool JobSession::exchangeCode(std::string_view line, std::string_view masked) {
  const auto bare = [](std::string_view l) { return std::string(l.substr(0, l.find('\r'))); };
  codes_.emplace_back(bare(line), bare(masked));
  modem::logSend(logging(), masked);
  return exchange(line, true);
}

void JobSession::logDropped(const char* record, std::string bytes) {
  hideCodes(bytes);
  if (!bytes.empty()) {
    VORYX_LOG_IF(logging(), "%s |%.*s|\n", record, static_cast<int>(bytes.size()), bytes.data());
  }
}

// Classifies the reply just collected. One that did not end is followed by the wait for
// late bytes (when `mustEnd`, or when something came). Late bytes are still this
// command's own reply (nothing else was sent meanwhile), so it is judged by them; but
// the modem is too slow to go on with, and the next command ends the dialogue. A reply
// that never ends, or outlasts its overall bound, ends it at once.
bool JobSession::judge(bool mustEnd) {
  replyText_.assign(channel_.reply());
  hideCodes(replyText_);
  answer_ = modem::classify(replyText_);
  if (channel_.broken()) return lineLost();
  if (channel_.overran()) {
    tooSlow_ = true;
    return lineLost();
  }
  if (answer_.kind != modem::ReplyKind::Incomplete || (!mustEnd && replyText_.empty())) return true;
  std::string late = channel_.settle();
  hideCodes(late);
  logDropped("late", late);
  if (channel_.broken()) return lineLost();
  if (channel_.late()) {
    tooSlow_ = true;
    replyText_ += late;
    answer_ = modem::classify(replyText_);
    return answer_.kind == modem::ReplyKind::Incomplete ? lineLost() : true;
  }
  if (!replyText_.empty()) {  // a beginning that never ended
    tooSlow_ = true;
    return lineLost();
  }
  return true;
}

void JobSession::note(std::string_view line, bool held) {
  if (!context_.dryRun) return;
  std::string shown(line.substr(0, line.find_last_not_of("\r\n") + 1));
  hideCodes(shown);
  commands_.emplace_back(std::move(shown), held);
}

// While holding: a change command is noted, not sent, and answered as a modem that took
// it answers (the text prompt first for AT+CMGW, then the stored index after the body).
bool JobSession::holdBack(std::string_view line) {
  constexpr std::array kChanges{std::string_view("AT+CPBW="), std::string_view("AT+CMGW"),
                                std::string_view("AT+CMGD="), std::string_view("AT+CRSM=214"),
                                std::string_view("AT+CRSM=220")};
  if (!holding_ || std::none_of(kChanges.begin(), kChanges.end(),
                                [&](std::string_view c) { return line.starts_with(c); })) {
    return false;
  }
  note(line, true);
  const bool store = line.starts_with("AT+CMGW");
  replyText_ = store ? "\r\n> " : line.starts_with("AT+CRSM") ? "\r\n+CRSM: 144,0\r\n\r\nOK\r\n" : "\r\nOK\r\n";
  heldReplies_.clear();
  if (store) heldReplies_ = {"\r\n+CMGW: 0\r\n\r\nOK\r\n", ""};  // popped from the back
  answer_ = modem::classify(replyText_);
  VORYX_LOG_IF(logging(), "dry run, not sent |%.*s|\n", static_cast<int>(line.size()), line.data());
  return true;
}

bool JobSession::exchange(std::string_view line, bool logReply) {
  if (tooSlow_ || channel_.broken() || !channel_.isOpen()) return lineLost();
  if (holdBack(line)) return true;
  note(line, false);
  logDropped("drained", channel_.drain());
  if (channel_.broken() || !channel_.SendStrCmd(line)) return lineLost();
  channel_.ReadResp();
  if (logReply) {
    std::string shown(channel_.reply());
    hideCodes(shown);
    modem::logRead(logging(), shown);
  }
  return judge(true);
}

bool JobSession::readMore(bool mustEnd) {
  if (tooSlow_ || channel_.broken() || !channel_.isOpen()) return lineLost();
  if (holding_ && !heldReplies_.empty()) {
    replyText_ = std::move(heldReplies_.back());
    heldReplies_.pop_back();
    answer_ = modem::classify(replyText_);
    return true;
  }
  channel_.ReadResp();
  return judge(mustEnd);
}

bool JobSession::negotiateCharset(CharsetUse use) {
  const CharsetPreference& preference = context_.charset;
  std::optional<std::vector<std::string>> offered;
  if (!preference.forced) {
    if (!exchange("AT+CSCS=?\r")) return false;
    offered = parseCscsTest(reply());
    std::string list;
    for (const std::string& name : offered.value_or(std::vector<std::string>{})) {
      list += (list.empty() ? "" : ",") + name;
    }
    VORYX_LOG_IF(logging(), "charsets offered |%s|\n", offered ? list.c_str() : "(unreadable)");
  }
  const Negotiated agreed = chooseCharset(use, offered, preference, [this](Charset cs) {
    const std::string line = "AT+CSCS=\"" + std::string(charsetName(cs)) + "\"\r";
    if (!exchange(line)) return SetAnswer::Ended;
    return answer_.kind == modem::ReplyKind::Ok ? SetAnswer::Taken : SetAnswer::Refused;
  });
  if (agreed.ended) return false;
  std::string refused;
  for (Charset cs : agreed.refused) refused += (refused.empty() ? "" : ", ") + std::string(charsetName(cs));
  VORYX_LOG_IF(logging(), "charset refused |%s| chosen |%s|\n", refused.c_str(),
               agreed.chosen ? std::string(charsetName(*agreed.chosen)).c_str() : "");
  charset_ = agreed.chosen;
  offered_ = offered;
  refused_ = agreed.refused;
  if (charset_ || (use == CharsetUse::SmsWrite && !preference.forced)) return true;
  charsetRefused_ = true;
  alert(wording_.title, localized(wording_.noCharset) + " (" + refused + ")");
  return false;
}

bool JobSession::mayUse(Charset cs) const {
  if (charset_ == cs) return true;
  if (context_.charset.forced || !offered_) return false;
  if (std::find(refused_.begin(), refused_.end(), cs) != refused_.end()) return false;
  return std::find(offered_->begin(), offered_->end(), charsetName(cs)) != offered_->end();
}

int JobSession::nameSets() const {
  if (!charset_) return 0;
  if (*charset_ == Charset::Hex || context_.charset.forced || context_.charset.ucs2First) {
    return nameSetBit(*charset_);
  }
  int sets = 0;
  for (Charset cs : {Charset::Gsm, Charset::Ira, Charset::Ucs2}) {
    if (mayUse(cs)) sets |= nameSetBit(cs);
  }
  return sets;
}

bool JobSession::switchCharset(Charset cs) {
  if (charset_ == cs) return true;
  const std::string line = "AT+CSCS=\"" + std::string(charsetName(cs)) + "\"\r";
  if (!exchange(line, true)) return false;
  if (answer_.kind == modem::ReplyKind::Ok) {
    charset_ = cs;
  } else {
    refused_.push_back(cs);
  }
  VORYX_LOG_IF(logging(), "charset switch |%s| %s\n", std::string(charsetName(cs)).c_str(),
               charset_ == cs ? "taken" : "refused");
  return true;
}

void JobSession::showBytesReceived(bool on) {
  modem::ReplyCompletion rule{.fast = fastReplies(), .grace = modem::kGrace, .progress = {}};
  if (on) {
    rule.progress = [this](std::size_t received) {
      progress(kBytesReceivedKey, static_cast<int>(std::min<std::size_t>(received, INT_MAX)));
    };
  }
  channel_.setCompletion(std::move(rule));
}

bool JobSession::sendRaw(std::string_view bytes) {
  if (holding_) {  // a message's body after a held-back AT+CMGW: Ctrl-Z shown as ^Z
    std::string shown(bytes.substr(0, bytes.find('\x1a')));
    note(shown + "^Z", true);
    return true;
  }
  if (tooSlow_ || channel_.broken() || !channel_.isOpen() ||
      !channel_.SendCmd(bytes.data(), bytes.size())) {
    return lineLost();
  }
  return true;
}

void JobSession::progress(const char* key, int number) {
  host_.updateLabel(localized(key) + " " + std::to_string(number));
}

void JobSession::caption(const char* key, int number) {
  host_.updateCaption(localized(key) + " " + std::to_string(number));
}

void JobSession::alert(const char* titleKey, const std::string& message) {
  host_.showAlert(localized(titleKey), message);
}

void JobSession::alert(const char* messageKey) { alert(wording_.title, localized(messageKey)); }

std::optional<std::string> JobSession::command(const char* format, ...) {
  std::array<char, kCommandBufSize> buf{};
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf.data(), buf.size(), format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) return std::nullopt;
  return std::string(buf.data(), static_cast<std::size_t>(n));
}

}  // namespace voryx::transfer
