#pragma once
// The modem's command interpreter, without any line or clock: bytes in, echo and replies
// out. Keeps the settings of one session (echo, verbose results, error mode, character
// set, SMS mode) and works on a SimCard it does not own. Pure apart from the SimCard and
// the log it is given; one thread at a time (VirtualModem holds its lock while feeding).
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/ModemOptions.h"
#include "sim/SimCard.h"
#include "sim/AtCommand.h"
#include "sim/TeCharset.h"

namespace voryx::sim {

struct ReplyPart {
  std::string bytes;
  bool entry = false;  // one listing entry: the per-entry delay goes before it
};

struct Output {
  enum class Kind { Echo, Reply, HangUp };
  Kind kind = Kind::Reply;
  std::vector<ReplyPart> parts;
  std::chrono::milliseconds delay{0};  // on top of the reply delay (a late reply)
  std::string bytes() const;  // the parts joined
};

class ModemEngine {
 public:
  ModemEngine(SimCard& sim, std::vector<std::string>& log, ModemOptions options);

  // Takes whatever arrived on the line and returns what goes back, in order. After a
  // HangUp output nothing more is answered.
  std::vector<Output> feed(std::string_view bytes);
  // True once after every change of the SIM.
  bool takeChanged();
  // The SIM is still starting up: its commands answer "SIM busy" (VirtualModem sets this
  // before every feed, by its clock).
  void setSimBusy(bool busy) { simBusy_ = busy; }
  // True once after the SIM took its PIN (or PUK): it starts up again.
  bool takeUnlocked() { return std::exchange(unlocked_, false); }
  bool hungUp() const { return hungUp_; }

 private:
  enum class Outcome { Ok, Failed, Silent, HangUp, Prompt };
  struct Settings {
    bool echo = true;
    bool verbose = true;
    int cmee = 0;
    Charset charset = Charset::Ira;
    bool textMode = false;  // +CMGF=1
    std::string book = "SM";  // +CPBS: the phonebook store the phonebook commands use
    bool showHeader = false;  // +CSDH=1
    int smpFirstOctet = 17, smpValidity = 167, smpPid = 0, smpDcs = 0;
  };
  struct PendingWrite {  // +CMGW waiting for its text
    SmsRecord message;
    std::size_t pduLength = 0;
    enum class Fault { None, Error, Mute } fault = Fault::None;
    bool late = false;
    bool lost = false;
  };
  class Reply;

  void commandLine(std::string_view line, std::vector<Output>& out);
  void finishText(bool send, std::vector<Output>& out);
  Outcome execute(const AtCommand& cmd, Reply& reply);
  Outcome basic(const AtCommand& cmd, Reply& reply);
  Outcome clock(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply);
  Outcome crsm(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply);
  Outcome phonebook(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply);
  Outcome messages(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply);
  Outcome cpbr(const std::vector<AtArg>& args, Reply& reply);
  Outcome cpbw(const std::vector<AtArg>& args, Reply& reply);
  Outcome selectBook(const std::vector<AtArg>& args);
  Outcome cmgl(const AtCommand& cmd, const std::vector<AtArg>& args, Reply& reply);
  Outcome cmgr(const std::vector<AtArg>& args, Reply& reply);
  Outcome cmgw(const std::vector<AtArg>& args, Reply& reply);
  Outcome cmgd(const std::vector<AtArg>& args, Reply& reply);
  // After a command line or a message text: the late write's final reply goes out
  // kLateReply after the reply delay; profile "linebreak" follows a write's OK with an
  // unsolicited line.
  void finishWrite(std::vector<Output>& out);
  // What a write command (by its count) must do instead of its work, if anything.
  std::optional<Outcome> writeFault(PendingWrite* pending);

  void resetSettings();
  // A number of a listing as the line shows it in the current set.
  std::string numberField(const std::string& number) const;
  std::string cmeError(int code) const;
  std::string cmsError(int code) const;
  std::string finalText(std::string_view text) const;
  std::string messageData(const SmsRecord& m) const;
  std::string cmglEntry(int index, const SmsRecord& m) const;
  void listingTail(Reply& reply, std::size_t entries);

  SimCard& sim_;
  std::vector<std::string>& log_;
  ModemOptions options_;
  Settings settings_;
  std::string line_;
  bool lineTooLong_ = false;
  std::optional<PendingWrite> pending_;  // set while taking text after "> "
  std::string text_;
  int writes_ = 0;
  bool simBusy_ = false;
  bool unlocked_ = false;      // since takeUnlocked()
  bool justUnlocked_ = false;  // by the command line being answered
  bool changed_ = false;
  bool hungUp_ = false;
  bool late_ = false;   // the command being answered is the late write
  bool lost_ = false;   // the command being answered is the write whose reply is lost
  bool wrote_ = false;  // the command being answered is a write
  std::string errorFinal_;  // the final result of the failing command
  long long clockOffset_ = 0;  // seconds between the clock AT+CCLK set and the host's
};

}  // namespace voryx::sim
