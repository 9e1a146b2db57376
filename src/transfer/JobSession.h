#pragma once
// The frame the four transfer jobs share: the modem line with its opening and
// handshake, one command and its reply at a time, the progress texts, the job's alerts
// and its debug-log switch. One session per job, used on the job thread only; it owns
// the channel and closes it when it goes.
//
// Every command is judged by its own reply only: what the line holds before a command is
// drained (and logged) first, and a reply that does not end in a final result code is
// followed by a wait for late bytes. A modem that answers after the wait is too slow to
// talk to safely (its replies would be taken for the next command's): the session tells
// the user once and the dialogue ends, with nothing judged by a late reply.
#include <cstdarg>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modem/Channel.h"
#include "modem/MmMessaging.h"
#include "modem/Reply.h"
#include "simfiles/CardLink.h"
#include "simfiles/QmiFiles.h"
#include "simfiles/SimFiles.h"
#include "store/SimEntry.h"
#include "transfer/CharsetChoice.h"
#include "transfer/JobHost.h"
#include "codec/SimName.h"

namespace voryx::transfer {

// Every job's first command: verbose result codes (V1), no echo (E0). The blank after "AT"
// is kept as this command has always been sent, byte for byte, so that debug logs and
// captures of every version compare line by line; V.250 has a modem ignore blanks outside
// quoted strings, so it reads "ATV1E0".
inline constexpr const char* kVerboseNoEcho = "AT V1E0\r";

// Commands are formatted into a buffer of this size; one that would not fit is refused.
inline constexpr std::size_t kCommandBufSize = 1024;

// The alert texts (string-table keys) a session shows when the line fails.
struct LineWording {
  const char* title;
  const char* noDevice;  // nothing opened
  const char* noAnswer;  // the handshake gave up
  const char* lineLost;  // a write to the device failed or the modem hung up
  const char* tooSlow;   // a reply came after the wait, or never ended
  const char* noCharset; // the modem took none of the character sets asked for
  const char* cardGone;  // the card left the reader (or the reader went) mid-job
  const char* borrowed;  // the modem was borrowed from ModemManager for the job
  // Another program holds the card in the reader; follows "<reader>: ". Null: noDevice.
  const char* readerInUse;
  // The messages go through ModemManager's Messaging interface: the modem stays its own.
  const char* messaging = nullptr;
};

class JobSession {
 public:
  JobSession(JobHost& host, const JobContext& context, const LineWording& wording);
  ~JobSession();
  JobSession(const JobSession&) = delete;
  JobSession& operator=(const JobSession&) = delete;

  JobHost& host() { return host_; }
  const LineWording& wording() const { return wording_; }
  const JobContext& context() const { return context_; }
  int logging() const { return context_.createLog; }
  // The SMS jobs log always: switches the debug log on for the rest of the job.
  void startLogging() { context_.createLog = 1; }
  // The name codec's records go to the debug log while logging is on.
  codec::CodecLog codecLog() const;
  // The hardware model the device choice goes by ("hw.machine" unless the context names one).
  std::string machine() const;

  // Device choice, open and the bounded handshake, then the SIM's state (checkSim: a PIN
  // asked for through the host, a busy SIM waited for). False (and the user told, unless
  // the user cancelled the PIN question) when no modem or no SIM is ready; failure() says why.
  bool open();
  // Device choice, open and the handshake only (the unlock job reads the SIM's state itself).
  bool openLine();
  // Records access (context().records or a reader): the SIM's files, once open() succeeded;
  // null otherwise. Over a reader the session has no modem line at all.
  simfiles::SimFiles* files() { return files_.get(); }
  // Messages through ModemManager (context().messaging): its Messaging interface, once
  // open() succeeded; null otherwise. Such a session has no modem line at all.
  modem::MmMessaging* messaging() { return messaging_.get(); }
  // ModemManager failed a call: the user is told once (it went away: the line-lost wording
  // with its reason; otherwise `what` and its answer). True when it went away, which ends
  // the dialogue.
  bool messagingFailed(const char* what);
  // A card result that ends the dialogue (the card went: the user is told once). False for
  // any other result, which the caller judges.
  bool cardEnded(const simfiles::CardResult& result);
  // A dry run: a change the job would make, listed instead of made.
  void noteHeld(std::string text) { note(text, true); }
  bool holding() const { return holding_; }
  // Drains the line, sends one command line (its carriage return included) and collects
  // the reply; the reply is logged with "read |%s|\n" when `logReply`. False (and the
  // user told, once) when the dialogue must end: the line broke or the modem is too
  // slow (failure()). Otherwise answer() is the reply's outcome; Incomplete then means
  // nothing came at all (and nothing came late either). A reply that came late still
  // counts for its command; the next call then ends the dialogue.
  bool exchange(std::string_view line, bool logReply = false);
  // As exchange, for a command that carries a code of the SIM (PIN, PUK): the debug log
  // shows `masked` in its place, in this send and in anything the line gives back for
  // the rest of the session (an echo), replies included.
  bool exchangeCode(std::string_view line, std::string_view masked);
  // The SIM is not ready for the job (the user was told, or cancelled): failure() says so.
  void simNotReady() { simNotReady_ = true; }
  // The modem has no such phonebook store (the user was told): failure() says so.
  void storeMissing() { storeMissing_ = true; }
  // Collects one more reply to the line already sent (after the text prompt of
  // "AT+CMGW"). With `mustEnd`, a reply without a final result code is followed by the
  // wait for late bytes, as in exchange.
  bool readMore(bool mustEnd = false);
  // A dry run from here on: change commands (AT+CPBW, AT+CMGW, AT+CMGD and a message's
  // body) are held back instead of sent, each answered as a modem that took it answers.
  void holdChanges() { holding_ = true; }
  // Every command line so far (codes masked, without its carriage return) and whether it
  // was held back; kept only in a dry run.
  const std::vector<std::pair<std::string, bool>>& commands() const { return commands_; }
  // Reports the byte count of long replies (the listings) on the progress label.
  void showBytesReceived(bool on);
  // Replies end at their final result code: asked for, or the SIM's files are reached
  // through AT+CRSM (whose replies hold nothing that passes for one).
  bool fastReplies() const { return context_.fast || context_.records; }
  const modem::Reply& answer() const { return answer_; }
  // What an SMS read found of messages in parts, by index; the read stores it with the rows.
  MessageParts& messageParts() { return messageParts_; }
  // What an SMS read found of each message as the SIM holds it (status, PDU), by index.
  MessageRecords& messageRecords() { return messageRecords_; }
  // Why the dialogue ended: NoModem, TooSlow, CharsetRefused or SimNotReady.
  JobOutcome failure() const {
    return simNotReady_      ? JobOutcome::SimNotReady
           : storeMissing_   ? JobOutcome::StoreMissing
           : charsetRefused_ ? JobOutcome::CharsetRefused
           : tooSlow_      ? JobOutcome::TooSlow
                           : JobOutcome::NoModem;
  }

  // The job's character set, agreed once in its set-up: asks which sets the modem has
  // ("AT+CSCS=?") and sets the one chooseCharset picks for `use` and the context's
  // preference. False when the dialogue ended, or when the modem took no set and `use`
  // cannot go without one (the SMS write can, PDU mode needs none, unless the user forced
  // a set); the user is told and failure() says CharsetRefused. The debug log records
  // what the modem offered, what it refused and what was chosen.
  bool negotiateCharset(CharsetUse use);
  // What negotiateCharset chose; none before, or when the modem took none.
  std::optional<Charset> charset() const { return charset_; }
  // Whether the line may switch to `cs` (switchCharset): the modem listed it in its answer
  // to "AT+CSCS=?" and has not refused it, and the user forced no set. The set in use
  // always counts.
  bool mayUse(Charset cs) const;
  // Switches the line to `cs` with AT+CSCS; charset() then says `cs`. A refusal changes
  // nothing (and mayUse says no from then on). False when the dialogue ended.
  bool switchCharset(Charset cs);
  // The sets phonebook names may be stored in on this line (kNameSetHex ... bits): the
  // agreed set alone under HEX or a set the user chose, else every one of GSM, IRA and
  // UCS2 that mayUse allows.
  int nameSets() const;
  // Sends bytes that are not a command (message text, a PDU) without collecting.
  bool sendRaw(std::string_view bytes);
  // The last reply (with its late part, when it came late), and whether it was cut to
  // the channel's buffer.
  std::string_view reply() const { return replyText_; }
  bool replyTruncated() const { return channel_.truncated(); }
  // What the replies so far waited beyond their final result code (also after close()).
  std::chrono::milliseconds quietWaited() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(channel_.quietWaited());
  }
  void close() {
    messaging_.reset();
    qmi_ = nullptr;
    files_.reset();  // through qmi-proxy: the client id is released
    card_.reset();  // the reader's connection: the card is left as it is (its PIN stays given)
    channel_.CloseConn();
  }

  // "%@ %d": the looked-up text, a blank and the number, on the label or the caption.
  void progress(const char* key, int number);
  void step(int done, int total) { host_.updateProgress(done, total); }
  void caption(const char* key, int number);
  // An alert with the looked-up title and `message` as it stands.
  void alert(const char* titleKey, const std::string& message);
  // An alert under the session's title with the looked-up message.
  void alert(const char* messageKey);

  // Formats a command into the bounded buffer; nothing when it would not fit.
  static std::optional<std::string> command(const char* format, ...)
      __attribute__((format(printf, 1, 2)));

 private:
  bool lineLost();
  bool judge(bool mustEnd);
  bool openCard();
  enum class QmiOpen { Opened, Failed, Refused };
  QmiOpen openQmi();
  bool openRecords();
  bool openMessaging();
  void logDropped(const char* record, std::string bytes);
  void hideCodes(std::string& text) const;

  JobHost& host_;
  JobContext context_;
  LineWording wording_;
  modem::Channel channel_;
  std::string replyText_;
  modem::Reply answer_;  // views into replyText_
  bool lostTold_ = false;
  bool tooSlow_ = false;
  bool charsetRefused_ = false;
  bool simNotReady_ = false;
  bool storeMissing_ = false;
  std::vector<std::pair<std::string, std::string>> codes_;  // command sent, as logged
  std::optional<Charset> charset_;
  std::optional<std::vector<std::string>> offered_;  // the modem's list, when readable
  std::vector<Charset> refused_;                     // sets the modem refused to switch to
  bool holding_ = false;
  std::vector<std::pair<std::string, bool>> commands_;
  std::vector<std::string> heldReplies_;  // what the next readMore calls answer while holding
  std::unique_ptr<simfiles::CardLink> card_;   // over a reader
  std::unique_ptr<simfiles::SimFiles> files_;  // records access
  std::unique_ptr<modem::MmMessaging> messaging_;  // messages through ModemManager
  simfiles::QmiFiles* qmi_ = nullptr;          // files_, when they go through qmi-proxy
  MessageParts messageParts_;
  MessageRecords messageRecords_;
  void note(std::string_view line, bool held);
  bool holdBack(std::string_view line);
};

}  // namespace voryx::transfer
