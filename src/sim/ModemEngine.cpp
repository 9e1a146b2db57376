#include "sim/ModemEngine.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <utility>

#include "sim/alpha.h"
#include "sim/gsm7.h"
#include "sim/pdu.h"
#include "sim/simcrsm.h"
#include "sim/simlock.h"
#include "sim/text.h"

namespace voryx::sim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr std::size_t kMaxLine = 2048;  // longer command lines are refused whole
constexpr std::size_t kMaxText = 1024;  // bytes after the "> " prompt
constexpr std::size_t kHugeReply = 70000;
constexpr int kMaxNumberLength = SimCard::kMaxDigits;

struct ErrorText {
  int code;
  std::string_view text;
};
constexpr std::array<ErrorText, 37> kErrors{{
    {3, "operation not allowed"},        {4, "operation not supported"},
    {5, "PH-SIM PIN required"},          {10, "SIM not inserted"},
    {11, "SIM PIN required"},            {12, "SIM PUK required"},
    {13, "SIM failure"},                 {14, "SIM busy"},
    {15, "SIM wrong"},                   {16, "incorrect password"},
    {17, "SIM PIN2 required"},           {18, "SIM PUK2 required"},
    {20, "memory full"},                 {23, "memory failure"},
    {30, "no network service"},          {310, "SIM not inserted"},
    {311, "SIM PIN required"},           {313, "SIM failure"},
    {314, "SIM busy"},                   {316, "SIM PUK required"},
    {320, "memory failure"},
    {21, "invalid index"},               {22, "not found"},
    {24, "text string too long"},        {25, "invalid characters in text string"},
    {26, "dial string too long"},        {27, "invalid characters in dial string"},
    {50, "incorrect parameters"},        {100, "unknown"},
    {302, "operation not allowed"},      {303, "operation not supported"},
    {304, "invalid PDU mode parameter"}, {305, "invalid text mode parameter"},
    {321, "invalid memory index"},       {322, "memory full"},
    {500, "unknown error"},
}};

std::string_view errorText(int code) {
  for (const auto& e : kErrors) {
    if (e.code == code) return e.text;
  }
  return "unknown";
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return out;
}

bool received(const SmsRecord& m) {
  return m.status == SmsStatus::RecUnread || m.status == SmsStatus::RecRead;
}

// A dialling number as sent: optional '+', then what BCD can hold. None otherwise.
std::optional<std::string> checkNumber(std::string_view n, int& error) {
  std::string_view digits = n;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (!encodeBcd(digits)) {
    error = 27;
    return std::nullopt;
  }
  if (digits.size() > static_cast<std::size_t>(kMaxNumberLength)) {
    error = 26;
    return std::nullopt;
  }
  return std::string(n);
}

std::string withoutPlus(std::string_view n) {
  return std::string(!n.empty() && n.front() == '+' ? n.substr(1) : n);
}

int numberType(std::string_view n) {
  if (isAlphanumericAddress(n)) return kAlphanumericType;
  return !n.empty() && n.front() == '+' ? 145 : 129;
}

}  // namespace

std::string Output::bytes() const {
  std::string out;
  for (const auto& p : parts) out += p.bytes;
  return out;
}

// Collects the information responses of one command line in the layout of the session
// (verbose or numeric) and of the profile (listing entries apart by a blank line or not).
class ModemEngine::Reply {
 public:
  Reply(bool verbose, Profile profile) : verbose_(verbose), profile_(profile) {}
  void info(std::string_view text) { parts.push_back({frame(text, true), false}); }
  void entry(std::string_view text) {
    parts.push_back({frame(text, profile_ == Profile::Default || entries == 0), true});
    ++entries;
  }
  void raw(std::string bytes) { parts.push_back({std::move(bytes), false}); }
  std::size_t size() const {
    std::size_t n = 0;
    for (const auto& p : parts) n += p.bytes.size();
    return n;
  }

  std::vector<ReplyPart> parts;
  std::size_t entries = 0;

 private:
  std::string frame(std::string_view text, bool lead) const {
    return (verbose_ && lead ? "\r\n" : "") + std::string(text) + "\r\n";
  }
  bool verbose_;
  Profile profile_;
};

ModemEngine::ModemEngine(SimCard& sim, std::vector<std::string>& log, ModemOptions options)
    : sim_(sim), log_(log), options_(std::move(options)) {
  resetSettings();
}

// IRA at power-on (and after ATZ), as most modems start; a modem without it starts in the
// first set it takes.
void ModemEngine::resetSettings() {
  settings_ = Settings{};
  if (options_.charsets.takes(Charset::Ira)) return;
  for (Charset cs : options_.charsets.listed) {
    if (options_.charsets.takes(cs)) {
      settings_.charset = cs;
      return;
    }
  }
}

std::string ModemEngine::numberField(const std::string& number) const {
  if (!options_.charsets.hexNumbers || settings_.charset != Charset::Ucs2) return number;
  return teEncode(utf8Decode(number).value_or(U""), Charset::Ucs2);
}

bool ModemEngine::takeChanged() { return std::exchange(changed_, false); }

std::vector<Output> ModemEngine::feed(std::string_view bytes) {
  std::vector<Output> out;
  std::string echo;
  auto flushEcho = [&] {
    if (!echo.empty() && settings_.echo && !options_.faults.silence)
      out.push_back({Output::Kind::Echo, {{echo, false}}});
    echo.clear();
  };
  for (char c : bytes) {
    if (hungUp_) break;
    if (pending_) {  // text after the "> " prompt
      if (c == kCtrlZ || c == kEsc) {
        flushEcho();
        late_ = pending_->late;
        wrote_ = true;
        finishText(c == kCtrlZ, out);
        finishWrite(out);
      } else if (c == '\b' || c == 0x7F) {
        if (!text_.empty()) text_.pop_back();
      } else if (c == '\r' && !pending_->pduLength) {
        echo += c;
        text_ += '\n';
        flushEcho();
        if (!options_.faults.silence) out.push_back({Output::Kind::Reply, {{"\r\n> ", false}}});
      } else if (c != '\r' && c != '\n') {
        echo += c;
        if (text_.size() < kMaxText + 1) text_ += c;
      }
      continue;
    }
    if (c == '\r') {
      echo += c;
      flushEcho();
      std::string line;
      line.swap(line_);
      const bool tooLong = std::exchange(lineTooLong_, false);
      if (tooLong) {
        log_.push_back(line + "...");
        if (!options_.faults.silence)
          out.push_back({Output::Kind::Reply, {{finalText("ERROR"), false}}});
      } else {
        commandLine(line, out);
        finishWrite(out);
      }
    } else if (c == '\n' && line_.empty()) {
      // the LF of a CR LF line end
    } else if (c == '\b' || c == 0x7F) {
      if (!line_.empty()) line_.pop_back();
      echo += c;
    } else {
      echo += c;
      if (line_.size() < kMaxLine) line_ += c;
      else lineTooLong_ = true;
    }
  }
  flushEcho();
  return out;
}

void ModemEngine::commandLine(std::string_view line, std::vector<Output>& out) {
  // Blanks and stray control characters alone make no command: a real modem waits for "AT".
  if (std::all_of(line.begin(), line.end(), [](char c) {
        return static_cast<std::uint8_t>(c) <= ' ' && c != '\0';
      })) {
    return;
  }
  log_.emplace_back(line);
  justUnlocked_ = false;
  if (options_.faults.silence) return;
  Reply reply(settings_.verbose, options_.profile);
  auto commands = parseCommandLine(line);
  if (!commands) {
    out.push_back({Output::Kind::Reply, {{finalText("ERROR"), false}}});
    return;
  }
  for (std::size_t i = 0; i < commands->size(); ++i) {
    errorFinal_.clear();
    const Outcome outcome = execute((*commands)[i], reply);
    switch (outcome) {
      case Outcome::Ok:
        continue;
      case Outcome::Failed:
        out.push_back({Output::Kind::Reply, {{finalText(errorFinal_.empty() ? "ERROR" : errorFinal_), false}}});
        return;
      case Outcome::Silent:
        return;
      case Outcome::HangUp:
        hungUp_ = true;
        out.push_back({Output::Kind::HangUp, {}});
        return;
      case Outcome::Prompt:
        reply.raw("\r\n> ");
        out.push_back({Output::Kind::Reply, std::move(reply.parts)});
        return;
    }
  }
  reply.raw(finalText("OK"));
  // A SIM that has just taken its PIN says so on its own, after the result.
  if (std::exchange(justUnlocked_, false)) reply.raw(finalText("+CPIN: READY"));
  out.push_back({Output::Kind::Reply, std::move(reply.parts)});
}

std::string ModemEngine::finalText(std::string_view text) const {
  if (settings_.verbose) return "\r\n" + std::string(text) + "\r\n";
  if (text == "OK") return "0\r";
  if (text == "ERROR") return "4\r";
  return std::string(text) + "\r\n";
}

std::string ModemEngine::cmeError(int code) const {
  if (settings_.cmee == 0) return "ERROR";
  if (settings_.cmee == 1) return "+CME ERROR: " + std::to_string(code);
  return "+CME ERROR: " + std::string(errorText(code));
}

std::string ModemEngine::cmsError(int code) const {
  if (settings_.cmee == 0) return "ERROR";
  if (settings_.cmee == 1) return "+CMS ERROR: " + std::to_string(code);
  return "+CMS ERROR: " + std::string(errorText(code));
}

ModemEngine::Outcome ModemEngine::execute(const AtCommand& cmd, Reply& reply) {
  using Form = AtCommand::Form;
  auto fail = [this](std::string text) {
    errorFinal_ = std::move(text);
    return Outcome::Failed;
  };
  const std::string& n = cmd.name;
  const SimSlot slot{sim_.pinLock(), options_, simBusy_, &sim_.pin2Lock()};
  if (isLockCommand(n, options_.pinCounter)) {
    LockAnswer answer = lockCommand(cmd, slot);
    if (answer.cmeError) return fail(cmeError(*answer.cmeError));
    for (const std::string& line : answer.lines) reply.info(line);
    if (answer.unlocked) unlocked_ = justUnlocked_ = true;
    return Outcome::Ok;
  }
  if (n.empty() || n[0] != '+') return basic(cmd, reply);
  // The SIM's own commands wait for the SIM: inserted, started up and unlocked.
  static constexpr std::array<std::string_view, 12> kSimCommands{
      "+CPBS", "+CPBR", "+CPBW", "+CIMI", "+CCID", "+CPMS", "+CSCA", "+CMGL", "+CMGR", "+CMGW", "+CMGD", "+CRSM"};
  if (cmd.form != Form::Test && std::find(kSimCommands.begin(), kSimCommands.end(), n) != kSimCommands.end()) {
    if (auto refused = simGate(slot)) {
      return fail(n.starts_with("+CPB") || n == "+CIMI" || n == "+CCID" ? cmeError(*refused)
                                                                       : cmsError(messageErrorOf(*refused)));
    }
  }
  auto args = cmd.form == Form::Set ? splitArgs(cmd.args) : std::vector<AtArg>{};
  if (!args) return fail(n.starts_with("+CM") || n == "+CPMS" || n == "+CSDH" ? cmsError(302) : cmeError(50));

  // Identification and settings.
  struct Ident {
    std::string_view name1, name2, text;
  };
  static constexpr std::array<Ident, 4> kIdent{{{"+CGMI", "+GMI", "Voryx"},
                                                {"+CGMM", "+GMM", "Voryx virtual modem"},
                                                {"+CGMR", "+GMR", "1.0"},
                                                {"+CGSN", "+GSN", "356938035643809"}}};
  for (const auto& id : kIdent) {
    if (n == id.name1 || n == id.name2) {
      if (cmd.form == Form::Test) return Outcome::Ok;
      if (cmd.form != Form::Exec) return fail(cmeError(4));
      reply.info(std::string(id.text));
      return Outcome::Ok;
    }
  }
  // The SIM's own identity: EF_ICCID's digits and the IMSI.
  if (n == "+CCID" || n == "+CIMI") {
    if (options_.noIdentity) return fail(cmeError(4));
    if (cmd.form == Form::Test) return Outcome::Ok;
    if (cmd.form != Form::Exec) return fail(cmeError(4));
    reply.info(n == "+CCID" ? "+CCID: " + sim_.iccid() : sim_.imsi());
    return Outcome::Ok;
  }
  if (n == "+CMEE") {
    if (cmd.form == Form::Test) reply.info("+CMEE: (0-2)");
    if (cmd.form == Form::Read) reply.info("+CMEE: " + std::to_string(settings_.cmee));
    if (cmd.form == Form::Set) {
      auto v = args->empty() ? std::nullopt : argInt((*args)[0]);
      if (args->size() != 1 || !v || *v > 2) return fail(cmeError(50));
      settings_.cmee = *v;
    }
    return Outcome::Ok;
  }
  if (n == "+CSCS") {
    if (cmd.form == Form::Test) {
      if (options_.faults.charsetTestError) return fail("ERROR");
      reply.info("+CSCS: " + charsetList(options_.charsets.listed));
    }
    if (cmd.form == Form::Read) reply.info("+CSCS: \"" + std::string(charsetName(settings_.charset)) + "\"");
    if (cmd.form == Form::Set) {
      auto cs = args->size() == 1 ? charsetFromName((*args)[0].text) : std::nullopt;
      if (!cs || !options_.charsets.takes(*cs)) return fail(cmeError(4));
      settings_.charset = *cs;
    }
    return cmd.form == Form::Exec ? fail(cmeError(50)) : Outcome::Ok;
  }
  if (n == "+CPBS" || n == "+CPBR" || n == "+CPBW") return phonebook(cmd, *args, reply);
  if (n == "+CRSM") {
    if (cmd.form == Form::Test) return Outcome::Ok;
    if (cmd.form != Form::Set || options_.faults.crsmError) return fail(options_.faults.crsmError ? "ERROR" : cmeError(4));
    if (crsmWrites(*args)) {
      if (auto fault = writeFault(nullptr)) return *fault;
    }
    CardFiles files(sim_, options_.usim);
    bool took = false;
    auto line = crsmAnswer(files, *args, took);
    if (!line) return fail(cmeError(50));
    changed_ = changed_ || took;
    reply.info(*line);
    return Outcome::Ok;
  }
  if (n == "+CCLK") return clock(cmd, *args, reply);
  if (n == "+CPMS" || n == "+CMGF" || n == "+CSDH" || n == "+CSMP" || n == "+CSCA" ||
      n == "+CMGL" || n == "+CMGR" || n == "+CMGW" || n == "+CMGD") {
    return messages(cmd, *args, reply);
  }
  return fail(cmeError(4));
}

// The real-time clock, "yy/MM/dd,hh:mm:ss±zz" (zz in quarter hours). Setting it keeps
// the difference to the host's clock; the zone is shown as +00.
ModemEngine::Outcome ModemEngine::clock(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply) {
  using Form = AtCommand::Form;
  if (cmd.form == Form::Test) return Outcome::Ok;
  if (cmd.form == Form::Read) {
    const std::time_t now = std::time(nullptr) + static_cast<std::time_t>(clockOffset_);
    std::tm t{};
    gmtime_r(&now, &t);
    char text[40];
    std::snprintf(text, sizeof text, "+CCLK: \"%02d/%02d/%02d,%02d:%02d:%02d+00\"", t.tm_year % 100,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    reply.info(text);
    return Outcome::Ok;
  }
  std::tm t{};
  int zone = 0;
  char sign = 0, end = 0;
  const bool read = cmd.form == Form::Set && args.size() == 1 &&
                    std::sscanf(args[0].text.c_str(), "%2d/%2d/%2d,%2d:%2d:%2d%c%2d%c", &t.tm_year, &t.tm_mon,
                                &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &sign, &zone, &end) == 8;
  if (!read || (sign != '+' && sign != '-') || t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 ||
      t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 59 || zone > 96) {
    errorFinal_ = cmeError(50);
    return Outcome::Failed;
  }
  t.tm_year += 100;
  t.tm_mon -= 1;
  const long long utc = static_cast<long long>(timegm(&t)) - (sign == '+' ? 1 : -1) * zone * 15 * 60;
  clockOffset_ = utc - static_cast<long long>(std::time(nullptr));
  return Outcome::Ok;
}

ModemEngine::Outcome ModemEngine::basic(const AtCommand& cmd, Reply& reply) {
  auto flag = [&cmd](bool& setting) {
    if (cmd.args.empty() || cmd.args == "0" || cmd.args == "1") {
      setting = cmd.args == "1";
      return Outcome::Ok;
    }
    return Outcome::Failed;
  };
  const std::string& n = cmd.name;
  if (n == "E") return flag(settings_.echo);
  if (n == "V") return flag(settings_.verbose);
  if (n == "Z" || n == "&F") {
    resetSettings();
    return Outcome::Ok;
  }
  if (n == "I") {
    reply.info("Voryx virtual modem");
    return Outcome::Ok;
  }
  if (n == "Q") return cmd.args.empty() || cmd.args == "0" ? Outcome::Ok : Outcome::Failed;
  if (n == "&C" || n == "&D" || n == "&K" || n == "&W" || n == "X" || n == "L" || n == "M")
    return Outcome::Ok;
  if (n.size() > 1 && n[0] == 'S') {
    if (cmd.form == AtCommand::Form::Read) {
      static constexpr std::array<std::string_view, 6> kRegisters{"000", "000", "043", "013", "010", "008"};
      const int index = std::atoi(n.c_str() + 1);
      reply.info(index >= 0 && index < 6 ? kRegisters[static_cast<std::size_t>(index)] : "000");
    }
    return Outcome::Ok;
  }
  return Outcome::Failed;  // D, A, H, O and anything unknown: no calls on this modem
}

ModemEngine::Outcome ModemEngine::phonebook(const AtCommand& cmd, const std::vector<AtArg>& args,
                                            Reply& reply) {
  using Form = AtCommand::Form;
  auto fail = [this](int code) {
    errorFinal_ = cmeError(code);
    return Outcome::Failed;
  };
  const std::string& book = settings_.book;
  const std::string range = "(1-" + std::to_string(sim_.locations(book)) + ")";
  if (cmd.name == "+CPBS") {
    switch (cmd.form) {
      case Form::Test: {
        std::string list;
        for (const std::string& code : sim_.books()) list += (list.empty() ? "\"" : ",\"") + code + "\"";
        reply.info("+CPBS: (" + list + ")");
        return Outcome::Ok;
      }
      case Form::Read:
        reply.info("+CPBS: \"" + book + "\"," + std::to_string(sim_.usedLocations(book)) + "," +
                   std::to_string(sim_.locations(book)));
        return Outcome::Ok;
      case Form::Set:
        return selectBook(args);
      case Form::Exec:
        return fail(50);
    }
  }
  if (cmd.name == "+CPBR") {
    if (cmd.form == Form::Test) {
      reply.info("+CPBR: " + range + "," + std::to_string(kMaxNumberLength) + "," +
                 std::to_string(sim_.alphaLength()));
      return Outcome::Ok;
    }
    if (cmd.form != Form::Set) return fail(50);
    return cpbr(args, reply);
  }
  // +CPBW
  if (cmd.form == Form::Test) {
    reply.info("+CPBW: " + range + "," + std::to_string(kMaxNumberLength) + ",(129,145)," +
               std::to_string(sim_.alphaLength()));
    return Outcome::Ok;
  }
  if (cmd.form != Form::Set) return fail(50);
  return cpbw(args, reply);
}

// +CPBR=<first>[,<last>]: every used location in the range, e.g.
//   +CPBR: 3,"3912345",145,"414243"
ModemEngine::Outcome ModemEngine::cpbr(const std::vector<AtArg>& args, Reply& reply) {
  if (args.empty() || args.size() > 2) return errorFinal_ = cmeError(50), Outcome::Failed;
  auto first = argInt(args[0]);
  auto last = args.size() == 2 ? argInt(args[1]) : first;
  const std::string& book = settings_.book;
  if (!first || !last || *first < 1 || *last < *first || *last > sim_.locations(book))
    return errorFinal_ = cmeError(21), Outcome::Failed;
  if (options_.faults.listingError) return errorFinal_ = "ERROR", Outcome::Failed;
  const Charset cs = settings_.charset;
  for (int loc = *first; loc <= *last; ++loc) {
    auto e = sim_.entry(loc, book);
    if (!e) continue;
    const std::string rec = sim_.record(loc, book);
    const std::string_view alpha =
        std::string_view(rec).substr(0, static_cast<std::size_t>(sim_.alphaLength()));
    const std::string text = cs == Charset::Hex ? toHex(trimAlphaPadding(alpha))
                                                : quoteEscape(teEncode(decodeAlpha(alpha), cs));
    reply.entry("+CPBR: " + std::to_string(loc) + ",\"" + numberField(withoutPlus(e->number)) + "\"," +
                std::to_string(e->type) + ",\"" + text + "\"");
  }
  if (reply.entries == 0 && options_.profile == Profile::LineBreak) {
    errorFinal_ = "+CME ERROR: 22";
    return Outcome::Failed;
  }
  listingTail(reply, reply.entries);
  return Outcome::Ok;
}

// +CPBW=[<index>][,<number>[,<type>[,<text>]]]; only an index (or an empty number and
// text) erases the location; no index takes the first free one.
ModemEngine::Outcome ModemEngine::cpbw(const std::vector<AtArg>& args, Reply&) {
  auto fail = [this](int code) {
    errorFinal_ = cmeError(code);
    return Outcome::Failed;
  };
  if (args.empty() || args.size() > 4) return fail(50);
  auto arg = [&args](std::size_t i) { return i < args.size() ? args[i] : AtArg{}; };
  const std::string& book = settings_.book;
  // EN and SDN are the SIM's own; fixed dialling takes writes once PIN2 was given.
  if (!SimCard::writableBook(book)) return fail(3);
  if (book == "FD" && sim_.pin2Lock().state() != PinLock::State::Ready) {
    return fail(sim_.pin2Lock().state() == PinLock::State::Puk ? 18 : 17);
  }
  std::optional<int> location = argInt(arg(0));
  if (!arg(0).omitted() && (!location || *location < 1 || *location > sim_.locations(book)))
    return fail(21);
  const AtArg number = arg(1);
  const AtArg type = arg(2);
  const AtArg text = arg(3);
  const bool erase = number.text.empty() && text.text.empty();
  if (erase && !location) return fail(50);
  int error = 0;
  auto checked = checkNumber(number.text, error);
  if (!checked) return fail(error);
  std::optional<int> ton = type.omitted() ? std::optional<int>(numberType(number.text)) : argInt(type);
  if (!ton || *ton < 128 || *ton > 255) return fail(50);
  std::optional<std::string> alpha;
  if (settings_.charset == Charset::Hex) {
    alpha = fromHex(text.text);
    if (!alpha) return fail(25);
    if (alpha->size() > static_cast<std::size_t>(sim_.alphaLength())) return fail(24);
  } else {
    auto name = teDecode(text.text, settings_.charset);
    if (!name) return fail(25);
    alpha = encodeAlpha(*name, static_cast<std::size_t>(sim_.alphaLength()));
    if (!alpha) return fail(24);
  }
  if (!location) {
    location = sim_.firstFreeLocation(book);
    if (!location) return fail(20);
  }
  if (auto fault = writeFault(nullptr)) return *fault;
  if (erase) {
    sim_.erase(*location, book);
  } else if (!sim_.writeEntry(*location, *alpha, *checked, *ton, book)) {
    return fail(100);
  }
  changed_ = true;
  return Outcome::Ok;
}

// +CPBS=<store>[,<password>]: a store the card has; PIN2 given with "FD" is checked then
// (a wrong one costs a try), and any other selection forgets it.
ModemEngine::Outcome ModemEngine::selectBook(const std::vector<AtArg>& args) {
  auto fail = [this](int code) {
    errorFinal_ = cmeError(code);
    return Outcome::Failed;
  };
  if (args.empty() || args.size() > 2) return fail(50);
  const std::string code = upper(args[0].text);
  const std::vector<std::string> books = sim_.books();
  if (std::find(books.begin(), books.end(), code) == books.end()) return fail(3);
  PinLock& pin2 = sim_.pin2Lock();
  pin2.powerUp();
  if (args.size() == 2) {
    if (code != "FD") return fail(3);
    if (pin2.state() == PinLock::State::Puk) return fail(18);
    if (pin2.enterPin(args[1].text) != PinLock::Verdict::Accepted) return fail(16);
  }
  settings_.book = code;
  return Outcome::Ok;
}

void ModemEngine::finishWrite(std::vector<Output>& out) {
  const bool late = std::exchange(late_, false);
  const bool wrote = std::exchange(wrote_, false);
  if (out.empty() || out.back().kind != Output::Kind::Reply) return;
  if (late) out.back().delay = kLateReply;
  // Profile "linebreak": an incoming message is announced right after a write's result.
  if (wrote && options_.profile == Profile::LineBreak && out.back().bytes().ends_with("OK\r\n")) {
    out.back().parts.push_back({"\r\n+CMTI: \"SM\",1\r\n", false});
  }
}

std::optional<ModemEngine::Outcome> ModemEngine::writeFault(PendingWrite* pending) {
  ++writes_;
  wrote_ = !pending;
  const Faults& f = options_.faults;
  if (f.hangupAtWrite == writes_) return Outcome::HangUp;
  if (f.lateAtWrite == writes_) {
    if (pending) {
      pending->late = true;
    } else {
      late_ = true;
    }
  }
  if (f.errorAtWrite == writes_) {
    if (pending) {
      pending->fault = PendingWrite::Fault::Error;
      return std::nullopt;
    }
    errorFinal_ = "ERROR";
    return Outcome::Failed;
  }
  if (f.muteAtWrite == writes_) {
    if (pending) {
      pending->fault = PendingWrite::Fault::Mute;
      return std::nullopt;
    }
    return Outcome::Silent;
  }
  return std::nullopt;
}

// The end of a listing: an unsolicited line after the first entry (profile "linebreak"),
// NUL bytes between entries, filler lines that make the reply too large for any buffer.
void ModemEngine::listingTail(Reply& reply, std::size_t entries) {
  if (options_.profile == Profile::LineBreak && entries > 0) {
    const int index = std::max(1, std::min(sim_.smsCapacity(), 3));
    auto it = std::find_if(reply.parts.begin(), reply.parts.end(), [](const ReplyPart& p) { return p.entry; });
    reply.parts.insert(it + 1, {"+CMTI: \"SM\"," + std::to_string(index) + "\r\n", false});
  }
  if (options_.faults.nulBytes) {
    auto it = std::find_if(reply.parts.begin(), reply.parts.end(), [](const ReplyPart& p) { return p.entry; });
    reply.parts.insert(it == reply.parts.end() ? it : it + 1, {std::string("\0\0\0\0", 4), false});
  }
  if (options_.faults.hugeReply) {
    int line = 0;
    while (reply.size() <= kHugeReply) {
      std::string filler = "+FILLER: " + std::to_string(++line) + " ";
      filler.resize(100, '.');
      reply.info(filler);
    }
  }
}

ModemEngine::Outcome ModemEngine::messages(const AtCommand& cmd, const std::vector<AtArg>& args,
                                           Reply& reply) {
  using Form = AtCommand::Form;
  auto fail = [this](int code) {
    errorFinal_ = cmsError(code);
    return Outcome::Failed;
  };
  auto flag = [&](bool& setting, std::string_view name) {
    if (cmd.form == Form::Test) reply.info(std::string(name) + ": (0,1)");
    if (cmd.form == Form::Read) reply.info(std::string(name) + ": " + (setting ? "1" : "0"));
    if (cmd.form == Form::Set) {
      auto v = args.size() == 1 ? argInt(args[0]) : std::nullopt;
      if (!v || *v > 1) return fail(302);
      setting = *v == 1;
    }
    return Outcome::Ok;
  };
  const std::string& n = cmd.name;
  const std::string used = std::to_string(sim_.messages().size());
  const std::string total = std::to_string(sim_.smsCapacity());
  if (n == "+CMGF") return flag(settings_.textMode, "+CMGF");
  if (n == "+CSDH") return flag(settings_.showHeader, "+CSDH");
  if (n == "+CPMS") {
    if (cmd.form == Form::Test) reply.info("+CPMS: (\"SM\"),(\"SM\"),(\"SM\")");
    if (cmd.form == Form::Read)
      reply.info("+CPMS: \"SM\"," + used + "," + total + ",\"SM\"," + used + "," + total + ",\"SM\"," +
                 used + "," + total);
    if (cmd.form == Form::Set) {
      if (args.empty() || args.size() > 3) return fail(302);
      for (const auto& a : args) {
        if (upper(a.text) != "SM") return fail(302);
      }
      reply.info("+CPMS: " + used + "," + total + "," + used + "," + total + "," + used + "," + total);
    }
    return cmd.form == Form::Exec ? fail(302) : Outcome::Ok;
  }
  if (n == "+CSMP") {
    if (cmd.form == Form::Read)
      reply.info("+CSMP: " + std::to_string(settings_.smpFirstOctet) + "," +
                 std::to_string(settings_.smpValidity) + "," + std::to_string(settings_.smpPid) + "," +
                 std::to_string(settings_.smpDcs));
    if (cmd.form == Form::Set) {
      int* fields[] = {&settings_.smpFirstOctet, &settings_.smpValidity, &settings_.smpPid, &settings_.smpDcs};
      if (args.size() > 4) return fail(305);
      for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].omitted()) continue;
        auto v = argInt(args[i]);
        if (!v || *v > 255) return fail(305);
        *fields[i] = *v;
      }
    }
    return Outcome::Ok;
  }
  if (n == "+CSCA") {
    if (cmd.form == Form::Read) reply.info("+CSCA: \"" + std::string(kServiceCentre) + "\",145");
    return Outcome::Ok;
  }
  if (n == "+CMGL") {
    if (cmd.form == Form::Test) {
      reply.info(settings_.textMode
                     ? "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")"
                     : "+CMGL: (0-4)");
      return Outcome::Ok;
    }
    return cmgl(cmd, args, reply);
  }
  if (n == "+CMGR") {
    if (cmd.form == Form::Test) return Outcome::Ok;
    if (cmd.form != Form::Set) return fail(302);
    return cmgr(args, reply);
  }
  if (n == "+CMGW") {
    if (cmd.form == Form::Test || cmd.form == Form::Read) return fail(302);
    return cmgw(args, reply);
  }
  // +CMGD
  if (cmd.form == Form::Test) {
    std::string list;
    for (const auto& [index, m] : sim_.messages()) list += (list.empty() ? "" : ",") + std::to_string(index);
    reply.info("+CMGD: (" + list + "),(0-4)");
    return Outcome::Ok;
  }
  if (cmd.form != Form::Set) return fail(302);
  return cmgd(args, reply);
}

std::string ModemEngine::messageData(const SmsRecord& m) const {
  if (!m.header.empty()) {  // 27.005: with a header, the user data's octets in hexadecimal
    std::size_t udl = 0;
    return toHex(userData(m, udl));
  }
  auto text = utf8Decode(m.text).value_or(U"");
  if (m.ucs2 && settings_.charset != Charset::Utf8) return toHex(utf16Encode(text));
  return teEncode(text, settings_.charset);
}

// Text mode, 27.005 layout (type and length only with +CSDH=1):
//   +CMGL: 1,"REC READ","+393331234567",,"24/05/01,10:15:00+08",145,24<CR><LF>text
//   +CMGL: 4,"STO UNSENT","+393331234567",,,145,17<CR><LF>text
// PDU mode:
//   +CMGL: 1,1,,24<CR><LF>07919333...
std::string ModemEngine::cmglEntry(int index, const SmsRecord& m) const {
  if (!settings_.textMode) {
    const std::string pdu = encodeSmsPdu(m);
    return "+CMGL: " + std::to_string(index) + "," + std::to_string(static_cast<int>(m.status)) + ",," +
           std::to_string(tpduLength(pdu)) + "\r\n" + toHex(pdu);
  }
  std::string head = "+CMGL: " + std::to_string(index) + ",\"" + std::string(smsStatusName(m.status)) +
                     "\",\"" + numberField(m.number) + "\",," + (received(m) ? "\"" + m.timestamp + "\"" : "");
  if (settings_.showHeader) {
    auto text = utf8Decode(m.text).value_or(U"");
    const std::size_t length = m.ucs2 ? utf16Encode(text).size() : gsm7::septetCount(text).value_or(0);
    head += "," + std::to_string(numberType(m.number)) + "," + std::to_string(length);
  }
  return head + "\r\n" + messageData(m);
}

ModemEngine::Outcome ModemEngine::cmgl(const AtCommand& cmd, const std::vector<AtArg>& args,
                                       Reply& reply) {
  auto fail = [this](int code) {
    errorFinal_ = cmsError(code);
    return Outcome::Failed;
  };
  std::optional<int> wanted = static_cast<int>(SmsStatus::RecUnread);
  constexpr int kAll = 4;
  if (cmd.form == AtCommand::Form::Set) {
    if (args.size() != 1) return fail(settings_.textMode ? 305 : 304);
    if (settings_.textMode) {
      const std::string name = upper(args[0].text);
      auto status = smsStatusFromName(name);
      wanted = name == "ALL" ? std::optional<int>(kAll)
                             : status ? std::optional<int>(static_cast<int>(*status)) : std::nullopt;
    } else {
      wanted = argInt(args[0]);
    }
    if (!wanted || *wanted > kAll) return fail(settings_.textMode ? 305 : 304);
  } else if (cmd.form != AtCommand::Form::Exec) {
    return fail(302);
  }
  if (options_.faults.listingError) {
    errorFinal_ = "ERROR";
    return Outcome::Failed;
  }
  bool readNow = false;
  for (auto [index, m] : sim_.messages()) {
    if (*wanted != kAll && static_cast<int>(m.status) != *wanted) continue;
    reply.entry(cmglEntry(index, m));
    if (m.status == SmsStatus::RecUnread) {
      m.status = SmsStatus::RecRead;
      sim_.setMessage(index, m);
      readNow = true;
    }
  }
  changed_ = changed_ || readNow;
  listingTail(reply, reply.entries);
  return Outcome::Ok;
}

// +CMGR=<index>, text mode:
//   +CMGR: "REC READ","+393331234567",,"24/05/01,10:15:00+08"<CR><LF>text
ModemEngine::Outcome ModemEngine::cmgr(const std::vector<AtArg>& args, Reply& reply) {
  auto index = args.size() == 1 ? argInt(args[0]) : std::nullopt;
  if (!index || *index < 1 || *index > sim_.smsCapacity() || !sim_.message(*index)) {
    errorFinal_ = cmsError(321);
    return Outcome::Failed;
  }
  SmsRecord m = *sim_.message(*index);
  if (!settings_.textMode) {
    const std::string pdu = encodeSmsPdu(m);
    reply.info("+CMGR: " + std::to_string(static_cast<int>(m.status)) + ",," +
               std::to_string(tpduLength(pdu)) + "\r\n" + toHex(pdu));
  } else {
    std::string head = "+CMGR: \"" + std::string(smsStatusName(m.status)) + "\",\"" + m.number + "\",";
    if (received(m)) head += ",\"" + m.timestamp + "\"";
    if (settings_.showHeader) {
      auto text = utf8Decode(m.text).value_or(U"");
      const std::size_t length = m.ucs2 ? utf16Encode(text).size() : gsm7::septetCount(text).value_or(0);
      const std::string sca = ",\"" + std::string(kServiceCentre) + "\",145," + std::to_string(length);
      head += "," + std::to_string(numberType(m.number)) + (received(m) ? ",4,0," : ",1,0,") +
              (m.ucs2 ? "8" : "0") + (received(m) ? "" : ",") + sca;
    }
    reply.info(head + "\r\n" + messageData(m));
  }
  if (m.status == SmsStatus::RecUnread) {
    m.status = SmsStatus::RecRead;
    sim_.setMessage(*index, m);
    changed_ = true;
  }
  return Outcome::Ok;
}

// Text mode +CMGW[="<da>"[,<toda>[,"<stat>"]]], PDU mode +CMGW=<length>[,<stat>]; both
// answer "> " and take the text (or the PDU in hex) up to Ctrl-Z.
ModemEngine::Outcome ModemEngine::cmgw(const std::vector<AtArg>& args, Reply&) {
  auto fail = [this](int code) {
    errorFinal_ = cmsError(code);
    return Outcome::Failed;
  };
  PendingWrite write;
  if (settings_.textMode) {
    if (args.size() > 3) return fail(305);
    auto arg = [&args](std::size_t i) { return i < args.size() ? args[i] : AtArg{}; };
    int error = 0;
    auto number = checkNumber(arg(0).text, error);
    if (!number) return fail(305);
    auto type = arg(1).omitted() ? std::optional<int>(numberType(*number)) : argInt(arg(1));
    if (!type || *type < 128 || *type > 255) return fail(305);
    if ((*type & 0x70) == 0x10 && !number->empty() && number->front() != '+') number->insert(0, "+");
    auto status = arg(2).omitted() ? std::optional<SmsStatus>(SmsStatus::StoUnsent)
                                   : smsStatusFromName(upper(arg(2).text));
    if (!status) return fail(305);
    write.message.number = *number;
    write.message.status = *status;
  } else {
    std::optional<int> length;
    if (!args.empty()) length = argInt(args[0]);
    auto status = args.size() == 2 ? argInt(args[1]) : std::optional<int>(2);
    if (args.size() > 2 || !length || *length < 1 || *length > 176 || !status || *status > 3)
      return fail(304);
    write.pduLength = static_cast<std::size_t>(*length);
    write.message.status = static_cast<SmsStatus>(*status);
  }
  if (auto fault = writeFault(&write)) return *fault;
  pending_ = write;
  text_.clear();
  return Outcome::Prompt;
}

void ModemEngine::finishText(bool send, std::vector<Output>& out) {
  PendingWrite write = *pending_;
  pending_.reset();
  std::string text;
  text.swap(text_);
  log_.push_back("> " + text + (send ? "" : " <ESC>"));
  if (options_.faults.silence || write.fault == PendingWrite::Fault::Mute) return;
  auto answer = [&](const std::string& final, std::string info = {}) {
    Output o{Output::Kind::Reply, {}};
    if (!info.empty()) o.parts.push_back({(settings_.verbose ? "\r\n" : "") + info + "\r\n", false});
    o.parts.push_back({finalText(final), false});
    out.push_back(std::move(o));
  };
  if (!send) return answer("OK");
  if (write.fault == PendingWrite::Fault::Error) return answer("ERROR");
  const int badParameter = write.pduLength ? 304 : 305;
  if (text.size() > kMaxText) return answer(cmsError(badParameter));
  SmsRecord message = write.message;
  if (write.pduLength) {
    auto bytes = fromHex(text);
    auto decoded = bytes ? decodeSmsPdu(*bytes, write.pduLength) : std::nullopt;
    if (!decoded) return answer(cmsError(304));
    decoded->status = message.status;
    message = *decoded;
  } else {
    auto chars = teDecode(text, settings_.charset);
    if (!chars) return answer(cmsError(305));
    auto septets = gsm7::septetCount(*chars);
    message.ucs2 = !septets || (settings_.smpDcs & 0x0C) == 0x08;
    if (message.ucs2 ? utf16Encode(*chars).size() > 140 : *septets > 160) return answer(cmsError(305));
    message.text = utf8Encode(*chars);
  }
  auto index = sim_.addMessage(message);
  if (!index) return answer(cmsError(322));
  changed_ = true;
  answer("OK", "+CMGW: " + std::to_string(*index));
}

// +CMGD=<index>[,<delflag>]: flag 0 that index (empty is fine), 1 all read, 2 read and
// sent, 3 read, sent and unsent, 4 all.
ModemEngine::Outcome ModemEngine::cmgd(const std::vector<AtArg>& args, Reply&) {
  std::optional<int> index;
  if (!args.empty()) index = argInt(args[0]);
  auto flag = args.size() == 2 ? argInt(args[1]) : std::optional<int>(0);
  if (args.empty() || args.size() > 2 || !flag || *flag > 4 ||
      (*flag == 0 && (!index || *index < 1 || *index > sim_.smsCapacity()))) {
    errorFinal_ = cmsError(321);
    return Outcome::Failed;
  }
  if (auto fault = writeFault(nullptr)) return *fault;
  if (*flag == 0) {
    changed_ = sim_.deleteMessage(*index) || changed_;
    return Outcome::Ok;
  }
  std::vector<int> doomed;
  for (const auto& [i, m] : sim_.messages()) {
    const int s = static_cast<int>(m.status);
    const bool goes = *flag == 4 || (s == 1) || (*flag >= 2 && s == 3) || (*flag >= 3 && s == 2);
    if (goes) doomed.push_back(i);
  }
  for (int i : doomed) sim_.deleteMessage(i);
  changed_ = changed_ || !doomed.empty();
  return Outcome::Ok;
}

}  // namespace voryx::sim
