#pragma once
// One card's APDU channel: a command out, the response back. A PC/SC reader (PcscLink)
// is the real one; ApduFiles builds the SIM's commands on top. Used on one thread.
#include <optional>
#include <string>
#include <string_view>

namespace voryx::simfiles {

class CardLink {
 public:
  virtual ~CardLink() = default;
  // Sends one command APDU (raw bytes) and returns the response: its data, then SW1 SW2.
  // Nothing when no response came: the card was taken out, the reader went, the
  // connection broke (why() says which); the link stays broken, as a hung-up modem does.
  virtual std::optional<std::string> transmit(std::string_view apdu) = 0;
  // T=0: a response's data waits behind 61xx / 9Fxx for GET RESPONSE, and a wrong Le is
  // answered 6Cxx. Under T=1 the data comes with the response.
  virtual bool t0() const = 0;
  virtual std::string why() const = 0;
};

}  // namespace voryx::simfiles
