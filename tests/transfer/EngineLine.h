#pragma once
// The virtual modem's engine on a scripted line with a virtual clock: what the jobs send
// is fed to the engine at once, and its echo and replies arrive with the modem's timing
// (reply delay, entry delay, chunks and gaps, late replies), one after the other as on a
// serial line. A whole job against it costs microseconds of real time, however many
// half-second windows it waits out.
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "modem/ScriptedLine.h"
#include "sim/ModemEngine.h"

namespace voryx::transfer::testing {

class EngineLine final : public modem::LineIo {
 public:
  // `card` must outlive the line; the engine changes it as a SIM would change.
  // `onCommand` hears every command line as the modem takes it (before it answers).
  EngineLine(sim::SimCard& card, sim::ModemOptions options,
             std::function<void(const std::string&)> onCommand = {})
      : options_(options), engine_(card, log_, options), onCommand_(std::move(onCommand)) {
    line_.onWrite = [this](std::string_view bytes, modem::testing::ScriptedLine& l) { fed(bytes, l); };
  }

  Wait waitReadable(std::chrono::microseconds timeout) override { return line_.waitReadable(timeout); }
  ssize_t read(std::span<char> into) override { return line_.read(into); }
  ssize_t write(std::span<const char> bytes) override {
    if (hungUpAt_ && line_.clock >= *hungUpAt_) return -1;  // EIO, as a pty after hang-up
    return line_.write(bytes);
  }
  std::chrono::microseconds now() const override { return line_.clock; }

  // Command lines the modem received (text after a prompt as "> text").
  const std::vector<std::string>& commandLog() const { return log_; }
  int commandCount(std::string_view prefix) const {
    return static_cast<int>(std::count_if(log_.begin(), log_.end(),
                                          [&](const std::string& l) { return l.starts_with(prefix); }));
  }

 private:
  using Kind = modem::testing::ScriptedLine::Kind;

  void fed(std::string_view bytes, modem::testing::ScriptedLine& l) {
    const std::size_t logged = log_.size();
    const std::vector<sim::Output> outputs = engine_.feed(bytes);
    if (onCommand_) {
      for (std::size_t i = logged; i < log_.size(); ++i) onCommand_(log_[i]);
    }
    for (const sim::Output& out : outputs) {
      auto at = std::max(l.clock, lineFree_);
      if (out.kind == sim::Output::Kind::HangUp) {
        l.arrive(at, "", Kind::HangUp);
        hungUpAt_ = at;
        return;
      }
      const bool reply = out.kind == sim::Output::Kind::Reply;
      if (reply) at += options_.replyDelay + out.delay;
      bool first = true;
      for (const sim::ReplyPart& part : out.parts) {
        if (part.entry) at += options_.entryDelay;
        const std::size_t chunk =
            reply && options_.chunkBytes ? options_.chunkBytes : std::max<std::size_t>(1, part.bytes.size());
        for (std::size_t i = 0; i < part.bytes.size(); i += chunk) {
          if (!first && reply && options_.chunkBytes) at += options_.chunkGap;
          first = false;
          l.arrive(at, part.bytes.substr(i, chunk));
        }
      }
      lineFree_ = at;
    }
  }

  sim::ModemOptions options_;
  std::vector<std::string> log_;
  sim::ModemEngine engine_;
  std::function<void(const std::string&)> onCommand_;
  modem::testing::ScriptedLine line_;
  std::chrono::microseconds lineFree_{0};
  std::optional<std::chrono::microseconds> hungUpAt_;
};

}  // namespace voryx::transfer::testing
