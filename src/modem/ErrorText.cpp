#include "modem/ErrorText.h"

#include <array>

#include "base/Localized.h"

namespace voryx::modem {
namespace {

constexpr const char* kModemFailure = "The modem reported a failure. Restart the modem and try again.";
constexpr const char* kNotAllowed =
    "The modem did not allow this command. Try again; if it keeps happening, restart the modem.";
constexpr const char* kNotSupported = "The modem does not support this command.";
constexpr const char* kPhSim =
    "The modem is locked to another SIM (PH-SIM PIN). Unlock the modem with its maker's tool, or "
    "use the SIM it is locked to.";
constexpr const char* kNoSim = "There is no SIM in the modem. Insert the SIM (with the modem off) and try again.";
constexpr const char* kPinRequired = "The SIM asks for its PIN. Try again and enter the PIN.";
constexpr const char* kPukRequired =
    "The SIM is blocked after too many wrong PINs. Unblock it with its PUK (printed on the card the "
    "SIM came on): \"voryx unlock\" in a terminal, or a phone.";
constexpr const char* kSimFailure =
    "The SIM does not respond. Take it out, check its contacts, put it back and restart the modem.";
constexpr const char* kSimBusy = "The SIM is busy (it may still be starting). Wait a few seconds and try again.";
constexpr const char* kSimWrong = "The modem does not accept this SIM. Try the SIM in another modem or a phone.";
constexpr const char* kWrongCode = "The SIM refused the code: it is not the right one.";
constexpr const char* kPin2 = "The SIM asks for its PIN2, which Voryx does not handle. Enter it with a phone.";
constexpr const char* kPuk2 = "The SIM's PIN2 is blocked and needs its PUK2. Unblock it with a phone.";
constexpr const char* kSimFull = "The SIM's memory is full. Delete entries and write again.";
constexpr const char* kBadIndex =
    "The SIM has no such location. Read the SIM again to learn its size, then write again.";
constexpr const char* kNotFound = "The SIM holds nothing at that location.";
constexpr const char* kMemoryFailure =
    "The SIM's memory failed. Try again; if it keeps happening, the SIM may be damaged.";
constexpr const char* kNameTooLong = "A name is too long for the SIM. Shorten it and write again.";
constexpr const char* kNameChars = "A name holds characters the SIM cannot store. Change it and write again.";
constexpr const char* kNumberTooLong = "A number is too long for the SIM. Shorten it and write again.";
constexpr const char* kNumberChars =
    "A number holds characters the SIM cannot store (only digits, +, * and #). Change it and write again.";
constexpr const char* kNoNetwork =
    "The modem has no network service. Check its antenna or move to better coverage, then try again.";
constexpr const char* kUnknown =
    "The modem reported an unknown error. Try again; if it keeps happening, restart the modem.";
constexpr const char* kBadPdu =
    "The modem refused the message as encoded. It may be too long: shorten it and write again.";
constexpr const char* kBadText =
    "The modem refused the message's text or number. Shorten the text or check the number, then write again.";
constexpr const char* kBadMessageIndex =
    "The SIM has no such message location. Read the messages again, then write again.";
constexpr const char* kMessagesFull = "The SIM's message store is full. Delete messages and write again.";
constexpr const char* kRefusedKey = "The modem refused the command:";
constexpr const char* kRefusedBare = "The modem refused the command without saying why.";

using enum ErrorSource;

struct ErrorRow {
  ErrorSource source;
  int code;
  std::string_view text;  // as modems print it after AT+CMEE=2, in lower case
  const char* sentence;
};

// A code may have more than one row: the first row of a code holds its usual text, later
// ones the other wordings modems use.
constexpr std::array kErrors{
    ErrorRow{Equipment, 0, "phone failure", kModemFailure},
    ErrorRow{Equipment, 3, "operation not allowed", kNotAllowed},
    ErrorRow{Equipment, 4, "operation not supported", kNotSupported},
    ErrorRow{Equipment, 5, "ph-sim pin required", kPhSim},
    ErrorRow{Equipment, 10, "sim not inserted", kNoSim},
    ErrorRow{Equipment, 11, "sim pin required", kPinRequired},
    ErrorRow{Equipment, 12, "sim puk required", kPukRequired},
    ErrorRow{Equipment, 13, "sim failure", kSimFailure},
    ErrorRow{Equipment, 14, "sim busy", kSimBusy},
    ErrorRow{Equipment, 15, "sim wrong", kSimWrong},
    ErrorRow{Equipment, 16, "incorrect password", kWrongCode},
    ErrorRow{Equipment, 17, "sim pin2 required", kPin2},
    ErrorRow{Equipment, 18, "sim puk2 required", kPuk2},
    ErrorRow{Equipment, 20, "memory full", kSimFull},
    ErrorRow{Equipment, 21, "invalid index", kBadIndex},
    ErrorRow{Equipment, 22, "not found", kNotFound},
    ErrorRow{Equipment, 23, "memory failure", kMemoryFailure},
    ErrorRow{Equipment, 24, "text string too long", kNameTooLong},
    ErrorRow{Equipment, 25, "invalid characters in text string", kNameChars},
    ErrorRow{Equipment, 26, "dial string too long", kNumberTooLong},
    ErrorRow{Equipment, 27, "invalid characters in dial string", kNumberChars},
    ErrorRow{Equipment, 30, "no network service", kNoNetwork},
    ErrorRow{Equipment, 100, "unknown", kUnknown},
    ErrorRow{Equipment, 100, "unknown error", kUnknown},
    ErrorRow{Messages, 300, "me failure", kModemFailure},
    ErrorRow{Messages, 302, "operation not allowed", kNotAllowed},
    ErrorRow{Messages, 303, "operation not supported", kNotSupported},
    ErrorRow{Messages, 304, "invalid pdu mode parameter", kBadPdu},
    ErrorRow{Messages, 304, "invalid pdu mode", kBadPdu},
    ErrorRow{Messages, 305, "invalid text mode parameter", kBadText},
    ErrorRow{Messages, 305, "invalid text mode", kBadText},
    ErrorRow{Messages, 310, "sim not inserted", kNoSim},
    ErrorRow{Messages, 311, "sim pin required", kPinRequired},
    ErrorRow{Messages, 311, "sim pin necessary", kPinRequired},
    ErrorRow{Messages, 312, "ph-sim pin required", kPhSim},
    ErrorRow{Messages, 312, "ph-sim pin necessary", kPhSim},
    ErrorRow{Messages, 313, "sim failure", kSimFailure},
    ErrorRow{Messages, 314, "sim busy", kSimBusy},
    ErrorRow{Messages, 315, "sim wrong", kSimWrong},
    ErrorRow{Messages, 316, "sim puk required", kPukRequired},
    ErrorRow{Messages, 317, "sim pin2 required", kPin2},
    ErrorRow{Messages, 318, "sim puk2 required", kPuk2},
    ErrorRow{Messages, 320, "memory failure", kMemoryFailure},
    ErrorRow{Messages, 321, "invalid memory index", kBadMessageIndex},
    ErrorRow{Messages, 322, "memory full", kMessagesFull},
    ErrorRow{Messages, 322, "sim memory full", kMessagesFull},
    ErrorRow{Messages, 500, "unknown error", kUnknown},
    ErrorRow{Messages, 500, "unknown", kUnknown},
};

// No table text is longer; a longer text is no text of the table.
constexpr std::size_t kLongestText = 64;

// Lower case, '_' as '-' ("PH_SIM PIN required"), runs of blanks as one, no blanks or
// full stop at the ends. Empty when the text is longer than any in the table.
std::string normalized(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (out.size() > kLongestText) return {};
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    out += c == '_' ? '-' : c;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

const char* sentenceKey(const Reply& reply) {
  if (reply.kind != ReplyKind::Error && reply.kind != ReplyKind::NotFound) return nullptr;
  if (reply.errorSource == ErrorSource::None || !reply.errorCode) return nullptr;
  return errorSentenceKey(reply.errorSource, *reply.errorCode);
}

}  // namespace

std::optional<int> errorCodeOfText(ErrorSource source, std::string_view text) {
  const std::string key = normalized(text);
  if (key.empty()) return std::nullopt;
  for (const ErrorRow& row : kErrors) {
    if (row.source == source && row.text == key) return row.code;
  }
  return std::nullopt;
}

const char* errorSentenceKey(ErrorSource source, int code) {
  for (const ErrorRow& row : kErrors) {
    if (row.source == source && row.code == code) return row.sentence;
  }
  return nullptr;
}

std::string refusalSentence(const Reply& reply) {
  if (reply.kind != ReplyKind::Error && reply.kind != ReplyKind::NotFound) return {};
  if (const char* key = sentenceKey(reply)) return localized(key);
  if (reply.errorSource == ErrorSource::None) return localized(kRefusedBare);
  return localized(kRefusedKey) + " " + std::string(reply.final);
}

std::string refusalSentenceForLog(const Reply& reply) {
  if (reply.kind != ReplyKind::Error && reply.kind != ReplyKind::NotFound) return {};
  if (const char* key = sentenceKey(reply)) return key;
  if (reply.errorSource == ErrorSource::None) return kRefusedBare;
  return std::string(kRefusedKey) + " " + std::string(reply.final);
}

}  // namespace voryx::modem
