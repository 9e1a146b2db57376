// Replies to "AT+CPIN?" and to the commands that tell the tries left (+CPINR, ^CPIN,
// +QPINC, +CPINC) as the modem may send them, garbage included.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "modem/Reply.h"
#include "transfer/SimState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using voryx::transfer::TriesCommand;
  const voryx::modem::Reply reply = voryx::modem::classify({reinterpret_cast<const char*>(data), size});
  voryx::transfer::parseCpinRead(reply);
  for (TriesCommand command : {TriesCommand::Cpinr, TriesCommand::Huawei, TriesCommand::Quectel, TriesCommand::Cpinc}) {
    voryx::transfer::parseCodeTries(command, reply);
  }
  return 0;
}
