#include "sim/SimCrsm.h"

#include "sim/Text.h"

namespace voryx::sim {
namespace {

constexpr int kReadBinary = 176, kReadRecord = 178, kGetResponse = 192, kUpdateBinary = 214,
              kUpdateRecord = 220, kStatus = 242;

std::optional<int> intAt(const std::vector<AtArg>& args, std::size_t i) {
  if (i >= args.size() || args[i].omitted()) return std::nullopt;
  return argInt(args[i]);
}

}  // namespace

bool crsmWrites(const std::vector<AtArg>& args) {
  const auto command = intAt(args, 0);
  return command == kUpdateBinary || command == kUpdateRecord;
}

std::optional<std::string> crsmAnswer(CardFiles& files, const std::vector<AtArg>& args, bool& changed) {
  changed = false;
  const auto command = intAt(args, 0);
  const auto fileId = intAt(args, 1);
  if (!command || (!fileId && *command != kStatus)) return std::nullopt;
  const int p1 = intAt(args, 2).value_or(0), p2 = intAt(args, 3).value_or(0), p3 = intAt(args, 4).value_or(0);
  if (p1 < 0 || p1 > 255 || p2 < 0 || p2 > 255 || p3 < 0 || p3 > 255) return std::nullopt;
  std::optional<std::string> data = args.size() > 5 ? fromHex(args[5].text) : std::string();
  std::optional<std::string> pathBytes = args.size() > 6 ? fromHex(args[6].text) : std::string();
  if (!data || !pathBytes || pathBytes->size() % 2 != 0) return std::nullopt;
  std::vector<std::uint16_t> path;
  for (std::size_t i = 0; i < pathBytes->size(); i += 2) {
    path.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>((*pathBytes)[i]) << 8 |
                                              static_cast<unsigned char>((*pathBytes)[i + 1])));
  }
  const auto id = static_cast<std::uint16_t>(fileId.value_or(0x3F00));
  if (path.empty() && id != 0x3F00) path.push_back(0x3F00);
  if (path.empty() || path.back() != id) path.push_back(id);

  CardAnswer answer;
  switch (*command) {
    case kGetResponse: answer = files.header(path); break;
    case kStatus: answer = files.header({0x3F00}); break;
    case kReadBinary: answer = files.readBinary(path, p1 << 8 | p2, p3); break;
    case kReadRecord:
      answer = p2 == 4 ? files.readRecord(path, p1, p3) : CardAnswer{0x6B00, {}};
      break;
    case kUpdateRecord:
      answer = p2 != 4 ? CardAnswer{0x6B00, {}}
               : static_cast<int>(data->size()) != p3 ? CardAnswer{0x6700, {}}
                                                      : files.updateRecord(path, p1, *data, changed);
      break;
    default: answer = {0x6D00, {}}; break;
  }
  std::string line = "+CRSM: " + std::to_string(answer.sw >> 8) + "," + std::to_string(answer.sw & 0xFF);
  if (!answer.data.empty()) line += ",\"" + toHex(answer.data) + "\"";
  return line;
}

}  // namespace voryx::sim
