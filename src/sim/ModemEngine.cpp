#include "sim/ModemEngine.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <utility>

#include "sim/EngineParts.h"
#include "sim/AlphaId.h"
#include "sim/Gsm7.h"
#include "sim/Pdu.h"
#include "sim/SimCrsm.h"
#include "sim/SimLock.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr std::size_t kMaxLine = 2048;  // longer command lines are refused whole
constexpr std::size_t kHugeReply = 70000;

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

}  // namespace

std::string Output::bytes() const {
  std::string out;
  for (const auto& p : parts) out += p.bytes;
  return out;
}

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
        lost_ = pending_->lost;
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
  // The command groups, each in its own file.
  using Handler = Outcome (ModemEngine::*)(const AtCommand&, const std::vector<AtArg>&, Reply&);
  struct Group {
    std::string_view name;
    Handler handler;
  };
  static constexpr std::array<Group, 14> kGroups{{
      {"+CPBS", &ModemEngine::phonebook}, {"+CPBR", &ModemEngine::phonebook},
      {"+CPBW", &ModemEngine::phonebook}, {"+CRSM", &ModemEngine::crsm},
      {"+CCLK", &ModemEngine::clock},     {"+CPMS", &ModemEngine::messages},
      {"+CMGF", &ModemEngine::messages},  {"+CSDH", &ModemEngine::messages},
      {"+CSMP", &ModemEngine::messages},  {"+CSCA", &ModemEngine::messages},
      {"+CMGL", &ModemEngine::messages},  {"+CMGR", &ModemEngine::messages},
      {"+CMGW", &ModemEngine::messages},  {"+CMGD", &ModemEngine::messages},
  }};
  for (const Group& g : kGroups) {
    if (n == g.name) return (this->*g.handler)(cmd, *args, reply);
  }
  return fail(cmeError(4));
}

// +CRSM=<command>,<fileid>[,<P1>,<P2>,<P3>[,<data>]]: the SIM's files record by record.
ModemEngine::Outcome ModemEngine::crsm(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply) {
  using Form = AtCommand::Form;
  auto fail = [this](std::string text) {
    errorFinal_ = std::move(text);
    return Outcome::Failed;
  };
  if (cmd.form == Form::Test) return Outcome::Ok;
  if (cmd.form != Form::Set || options_.faults.crsmError) return fail(options_.faults.crsmError ? "ERROR" : cmeError(4));
  if (crsmWrites(args)) {
    if (auto fault = writeFault(nullptr)) return *fault;
  }
  CardFiles files(sim_, options_.usim);
  bool took = false;
  auto line = crsmAnswer(files, args, took);
  if (!line) return fail(cmeError(50));
  changed_ = changed_ || took;
  reply.info(*line);
  return Outcome::Ok;
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

void ModemEngine::finishWrite(std::vector<Output>& out) {
  const bool late = std::exchange(late_, false);
  const bool wrote = std::exchange(wrote_, false);
  if (std::exchange(lost_, false)) {
    // Done, and the line goes before the reply does.
    while (!out.empty() && out.back().kind == Output::Kind::Reply) out.pop_back();
    out.push_back({Output::Kind::HangUp, {}});
    hungUp_ = true;
    return;
  }
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
  if (f.lostAtWrite == writes_) {
    if (pending) {
      pending->lost = true;
    } else {
      lost_ = true;
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

}  // namespace voryx::sim
