#include "simfiles/CrsmFiles.h"

#include <cstdio>

#include "base/Text.h"
#include "simfiles/FileHeader.h"

namespace voryx::simfiles {
namespace {

// 27.007 §8.18's commands.
constexpr int kReadBinary = 176, kReadRecord = 178, kGetResponse = 192, kUpdateRecord = 220;

int hexValue(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::optional<int> number(std::string_view& rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  int value = 0;
  std::size_t n = 0;
  while (n < rest.size() && n < 4 && rest[n] >= '0' && rest[n] <= '9') value = value * 10 + (rest[n++] - '0');
  if (n == 0 || value > 255) return std::nullopt;
  rest.remove_prefix(n);
  return value;
}

}  // namespace

std::optional<CrsmReply> parseCrsm(std::string_view reply) {
  const std::size_t at = reply.find("+CRSM:");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = reply.substr(at + 6);
  rest = rest.substr(0, rest.find_first_of("\r\n"));
  CrsmReply out;
  auto sw1 = number(rest);
  if (!sw1 || rest.empty() || rest.front() != ',') return std::nullopt;
  rest.remove_prefix(1);
  auto sw2 = number(rest);
  if (!sw2) return std::nullopt;
  out.sw1 = *sw1;
  out.sw2 = *sw2;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty()) return out;
  if (rest.front() != ',') return std::nullopt;
  rest.remove_prefix(1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    const std::size_t close = rest.find('"');
    if (close == std::string_view::npos) return std::nullopt;
    rest = rest.substr(0, close);
  }
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
  if (rest.size() % 2 != 0) return std::nullopt;
  for (std::size_t i = 0; i < rest.size(); i += 2) {
    const int high = hexValue(rest[i]), low = hexValue(rest[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.response += static_cast<char>(high << 4 | low);
  }
  return out;
}

CrsmFiles::CrsmFiles(CrsmExchange exchange) : exchange_(std::move(exchange)) {}

CardResult CrsmFiles::send(int command, int p1, int p2, int p3, std::string_view data, std::string& response) {
  response.clear();
  if (selected_.empty()) return {CardOutcome::NotFound, 0, {}, {}};
  std::string path;
  for (std::size_t i = 0; i + 1 < selected_.size(); ++i) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", selected_[i]);
    path += id;
  }
  std::string line = "AT+CRSM=" + std::to_string(command) + "," + std::to_string(selected_.back()) + "," +
                     std::to_string(p1) + "," + std::to_string(p2) + "," + std::to_string(p3);
  if (!data.empty() || !path.empty()) line += ",";
  if (!data.empty()) line += "\"" + hexUpper(data) + "\"";
  if (!path.empty()) line += ",\"" + path + "\"";
  line += "\r";
  const std::optional<std::string> reply = exchange_(line);
  if (!reply) return cardRemoved();
  if (reply->find_first_not_of("\r\n ") == std::string::npos) return {CardOutcome::NoAnswer, 0, {}, {}};
  const std::optional<CrsmReply> parsed = parseCrsm(*reply);
  if (!parsed) {
    refusal_ = *reply;
    return {CardOutcome::Other, 0, {}, {}};
  }
  refusal_.clear();
  response = parsed->response;
  return judgeStatus(static_cast<std::uint16_t>(parsed->sw1 << 8 | parsed->sw2));
}

CardResult CrsmFiles::select(const FilePath& path, FileInfo& info) {
  info = {};
  const FilePath before = selected_;
  selected_ = path;  // every command names its file
  std::string response;
  // P3 15: the GSM response's length, which 2G modems want; a UICC's modem answers the
  // whole FCP all the same.
  CardResult r = send(kGetResponse, 0, 0, 15, {}, response);
  auto header = r.ok() ? parseFileHeader(response) : std::nullopt;
  if (!header) {
    selected_ = before;
    return r.ok() ? CardResult{CardOutcome::Other, r.sw, {}, {}} : r;
  }
  if (!response.empty()) usim_ = static_cast<unsigned char>(response[0]) == 0x62;
  info = *header;
  return r;
}

CardResult CrsmFiles::readRecord(int number, int length, std::string& bytes) {
  if (number < 1 || number > 255 || length < 1 || length > 255) return {CardOutcome::WrongLength, 0, {}, {}};
  CardResult r = send(kReadRecord, number, 4, length, {}, bytes);
  if (r.ok() && static_cast<int>(bytes.size()) != length) return {CardOutcome::WrongLength, r.sw, {}, {}};
  return r;
}

CardResult CrsmFiles::updateRecord(int number, std::string_view bytes) {
  if (number < 1 || number > 255 || bytes.empty() || bytes.size() > 255) return {CardOutcome::WrongLength, 0, {}, {}};
  std::string response;
  return send(kUpdateRecord, number, 4, static_cast<int>(bytes.size()), bytes, response);
}

CardResult CrsmFiles::readBinaryPart(int offset, int length, std::string& part) {
  return send(kReadBinary, offset >> 8, offset & 0xFF, length, {}, part);
}

// The modem keeps the PIN to itself (AT+CPIN).
CardResult CrsmFiles::pinStatus() { return {CardOutcome::Other, 0, {}, {}}; }
CardResult CrsmFiles::verifyPin(std::string_view) { return {CardOutcome::Other, 0, {}, {}}; }

bool CrsmFiles::usim() {
  if (!usim_) {
    // The MF's header tells: an FCP from a UICC, the GSM response from a SIM.
    FileInfo info;
    const FilePath before = selected_;
    select({kMf}, info);
    selected_ = before;
    if (!usim_) usim_ = false;
  }
  return *usim_;
}

std::string CrsmFiles::describe() const { return "AT+CRSM"; }

}  // namespace voryx::simfiles
