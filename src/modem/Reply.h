#pragma once
// What a modem's reply came to, decided in one place: every check of a reply (the
// handshake, the set-up commands, the listings, the writes) asks classify(). Pure, any
// thread; survives any bytes (NUL bytes are ordinary characters).
//
// A reply is a run of lines (ending in LF, a CR before it belonging to the line end).
// Its outcome is its last final result code, once blank lines and unsolicited result
// codes (an incoming SMS "+CMTI", a signal report "^RSSI", ...) are set aside: modems
// put those anywhere, also after the final result. A "+CPIN:" line right after a final
// result is the SIM's state announced on its own (a SIM that has just taken its PIN), not
// an information line. A reply whose last such line is not a final result code has not
// ended (yet): Incomplete.
#include <optional>
#include <string_view>
#include <vector>

namespace voryx::modem {

// Who refused: a bare "ERROR", the equipment ("+CME ERROR:") or the message service
// ("+CMS ERROR:"). Their numbers overlap, so a number means something only with its source.
enum class ErrorSource { None, Equipment, Messages };

enum class ReplyKind {
  Ok,          // "OK"
  Error,       // "ERROR", "+CME ERROR: <err>", "+CMS ERROR: <err>"
  NotFound,    // "+CME ERROR: 22" / "+CME ERROR: not found": e.g. an empty phonebook range
  Prompt,      // "> ": the modem waits for a message text
  Incomplete,  // no final result code (nothing at all, or a reply cut short)
};

struct Reply {
  ReplyKind kind = ReplyKind::Incomplete;
  std::string_view final;               // the final result line as sent, trimmed
  ErrorSource errorSource = ErrorSource::None;  // of an Error or NotFound reply
  std::optional<int> errorCode;         // the number of "+CME ERROR: 10", "+CMS ERROR: 500",
                                        // also when the modem gave its text ("SIM busy": 14)
  std::vector<std::string_view> lines;  // information lines before the final result:
                                        // no blank lines, no unsolicited codes
};

Reply classify(std::string_view reply);

// How far a reply collected so far has come, for replies that end at their final result
// code instead of at a quiet line.
enum class ReplyEnd {
  Open,        // no final result code yet, or its line end has not come
  Final,       // a final result code (or the text prompt) and nothing else: complete
  AfterLines,  // a final result code after information lines: complete unless more comes
               // at once (a message text of a listing may itself read "OK")
};
// Judged by classify() on the reply's last lines (a long listing is not read again
// whole after every chunk); unsolicited codes after the final result do not count, nor
// does a first line that only repeats `sent` (the modem's echo of the command, as sent
// without its CR): "AT+CPBW=3\r\r\nOK\r\n" is as complete as a bare "OK".
ReplyEnd replyEnd(std::string_view reply, std::string_view sent = {});
// Whether all that came of a reply so far is the modem's echo of `sent` (the command as
// sent, without its CR), or a beginning of it, with any line ends after it: "AT\r" for
// "AT". The echo comes as the modem takes the command, its answer only when it has one:
// the echo is not yet the answer.
bool onlyEcho(std::string_view reply, std::string_view sent);

// One line (without its line end) as the classifier sees it.
bool isFinalResult(std::string_view line);
bool isUnsolicited(std::string_view line);

}  // namespace voryx::modem
