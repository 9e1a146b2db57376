#include "transfer/JobSession.h"

#include <array>
#include <cstdio>

#include "base/Localized.h"
#include "entries/DebugLog.h"
#include "modem/Traffic.h"

namespace voryx::transfer {

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
  switch (modem::openForJob(channel_, context_.device)) {
    case modem::OpenOutcome::Ready:
      return true;
    case modem::OpenOutcome::NoDevice:
      alert(wording_.noDevice);
      return false;
    case modem::OpenOutcome::HandshakeFailed:
      alert(channel_.broken() ? wording_.lineLost : wording_.noAnswer);
      return false;
  }
  return false;
}

bool JobSession::lineLost() {
  channel_.CloseConn();
  if (!lostTold_) {
    lostTold_ = true;
    alert(wording_.lineLost);
  }
  return false;
}

bool JobSession::exchange(std::string_view line, bool logReply) {
  if (channel_.broken() || !channel_.SendStrCmd(line)) return lineLost();
  channel_.ReadResp();
  if (logReply) modem::logRead(logging(), reply());
  // A modem that hung up while answering leaves nothing to talk to.
  if (channel_.broken()) return lineLost();
  return true;
}

bool JobSession::readMore() {
  if (channel_.broken()) return lineLost();
  channel_.ReadResp();
  if (channel_.broken()) return lineLost();
  return true;
}

bool JobSession::sendRaw(std::string_view bytes) {
  if (channel_.broken() || !channel_.SendCmd(bytes.data(), bytes.size())) return lineLost();
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
