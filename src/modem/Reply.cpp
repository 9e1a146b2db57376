#include "modem/Reply.h"

#include <array>
#include <charconv>

#include "base/Text.h"
#include "modem/ErrorText.h"

namespace voryx::modem {
namespace {

enum class Match { Line, Prefix };

struct FinalResult {
  std::string_view text;
  Match how;
  ReplyKind kind;
};

// The final result codes of the commands we send (27.007 §4.1, 27.005 §3.2.5). No dial
// command is ever sent, so "NO CARRIER", "BUSY" and "NO ANSWER" can only be unsolicited
// here (a call that ended); they are in the table below.
constexpr std::array kFinalResults{
    FinalResult{"OK", Match::Line, ReplyKind::Ok},
    FinalResult{"ERROR", Match::Line, ReplyKind::Error},
    FinalResult{"+CME ERROR:", Match::Prefix, ReplyKind::Error},
    FinalResult{"+CMS ERROR:", Match::Prefix, ReplyKind::Error},
};

// Unsolicited result codes that modems put between (and after) the lines of a reply.
constexpr std::array<std::string_view, 27> kUnsolicited{
    "RING",    "NO CARRIER", "BUSY",    "NO ANSWER", "+CMTI:",  "+CDSI:",  "+CBMI:",
    "+CDS:",   "+CRING:",    "+CLIP:",  "+CCWA:",    "+CREG:",  "+CGREG:", "+CEREG:",
    "+CUSD:",  "+CIEV:",     "+CSSI:",  "+CSSU:",    "+CGEV:",  "+PACSP",  "+QIND:",
    "^RSSI:",  "^BOOT:",     "^MODE:",  "^SRVST:",   "^SIMST:", "+QUSIM:",
};



const FinalResult* finalResult(std::string_view line) {
  line = trim(line, kLineBlanks);
  for (const FinalResult& r : kFinalResults) {
    if (r.how == Match::Line ? line == r.text : line.starts_with(r.text)) return &r;
  }
  return nullptr;
}

std::optional<int> errorNumber(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view text = trim(line.substr(colon + 1), kLineBlanks);
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

bool isFinalResult(std::string_view line) { return finalResult(line) != nullptr; }

bool isUnsolicited(std::string_view line) {
  line = trim(line, kLineBlanks);
  for (std::string_view code : kUnsolicited) {
    if (line.starts_with(code)) return true;
  }
  return false;
}

// "\r\n+CPBR: 1,\"123\",129,\"4142\"\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n" is Ok with one
// information line; "\r\n> " is Prompt; "\r\n+CPBR: 1,\"12" is Incomplete.
Reply classify(std::string_view reply) {
  Reply r;
  std::vector<std::string_view> lines;
  std::size_t begin = 0;
  while (begin < reply.size()) {
    const std::size_t lf = reply.find('\n', begin);
    const std::size_t end = lf == std::string_view::npos ? reply.size() : lf;
    const std::string_view line = trim(reply.substr(begin, end - begin), kLineBlanks);
    if (!line.empty() && !isUnsolicited(line)) lines.push_back(line);
    begin = lf == std::string_view::npos ? reply.size() : lf + 1;
  }
  // The SIM's state announced after the final result (a SIM that has just taken its PIN).
  while (lines.size() > 1 && lines.back().starts_with("+CPIN:") && finalResult(lines[lines.size() - 2])) {
    lines.pop_back();
  }
  if (lines.empty()) return r;
  // The text prompt: "> ", normally with no line end after it.
  if (lines.back() == ">") {
    r.kind = ReplyKind::Prompt;
    lines.pop_back();
    r.lines = std::move(lines);
    return r;
  }
  const FinalResult* last = finalResult(lines.back());
  if (!last) {
    r.lines = std::move(lines);
    return r;
  }
  r.final = lines.back();
  lines.pop_back();
  r.lines = std::move(lines);
  r.kind = last->kind;
  if (last->how == Match::Prefix) {
    r.errorSource = r.final.starts_with("+CME") ? ErrorSource::Equipment : ErrorSource::Messages;
    r.errorCode = errorNumber(r.final);
    if (!r.errorCode) r.errorCode = errorCodeOfText(r.errorSource, r.final.substr(r.final.find(':') + 1));
    if (r.errorSource == ErrorSource::Equipment && r.errorCode == 22) r.kind = ReplyKind::NotFound;
  }
  return r;
}

ReplyEnd replyEnd(std::string_view reply, std::string_view sent) {
  // The last lines are enough: they hold the final result and whatever followed it.
  constexpr std::size_t kTail = 1024;
  std::size_t from = 0;
  if (reply.size() > kTail) {
    from = reply.find('\n', reply.size() - kTail);
    if (from == std::string_view::npos) return ReplyEnd::Open;  // one long unfinished line
    ++from;
  }
  const std::string_view tail = reply.substr(from);
  const Reply r = classify(tail);
  if (r.kind == ReplyKind::Incomplete) return ReplyEnd::Open;
  if (r.kind != ReplyKind::Prompt) {
    // "+CME ERROR: 2" may still become "+CME ERROR: 21": only a whole line counts.
    const std::size_t finalEnd = static_cast<std::size_t>(r.final.data() - tail.data()) + r.final.size();
    if (tail.find('\n', finalEnd) == std::string_view::npos) return ReplyEnd::Open;
  }
  if (from != 0) return ReplyEnd::AfterLines;
  std::size_t info = r.lines.size();
  sent = trim(sent.substr(0, sent.find('\r')), kLineBlanks);
  if (info > 0 && !sent.empty() && r.lines.front() == sent) --info;
  return info == 0 ? ReplyEnd::Final : ReplyEnd::AfterLines;
}

bool onlyEcho(std::string_view reply, std::string_view sent) {
  const std::size_t end = reply.find_last_not_of("\r\n");
  if (end == std::string_view::npos) return false;
  sent = sent.substr(0, sent.find('\r'));
  return sent.starts_with(reply.substr(0, end + 1));
}

}  // namespace voryx::modem
