// The phonebook commands of the modem engine: +CPBS, +CPBR, +CPBW.
#include <algorithm>
#include <string>
#include <vector>

#include "sim/EngineParts.h"
#include "sim/ModemEngine.h"
#include "sim/AlphaId.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

std::string withoutPlus(std::string_view n) {
  return std::string(!n.empty() && n.front() == '+' ? n.substr(1) : n);
}

}  // namespace

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
    const std::string text = cs == Charset::Hex ? toHex(alphaContent(alpha))
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

}  // namespace voryx::sim
