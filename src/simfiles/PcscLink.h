#pragma once
// A card in a PC/SC reader, through pcsc-lite (pcscd): the readers' list and one card's
// APDU link. A card taken out (or the reader unplugged) mid-pass ends the link as a
// hang-up ends a modem's line.
#include <memory>
#include <string>
#include <vector>

#include "simfiles/CardLink.h"

namespace voryx::simfiles {

struct ReaderInfo {
  std::string name;         // as pcscd names it: "Virtual PCD 00 00"
  bool cardPresent = false;
  std::string atr;          // the card's ATR bytes when one is in
};
struct ReaderList {
  std::vector<ReaderInfo> readers;
  std::string error;  // why the list is empty: pcscd not running, no reader
};
ReaderList listReaders();

// Why a connect failed.
struct ConnectFailure {
  std::string why;     // "Virtual PCD 00 00: no card in the reader", "no card reader holds a card" ...
  std::string reader;  // the reader it tried, when it got as far as one
  bool inUse = false;  // another program holds the card (or will not share it)
};

class PcscLink : public CardLink {
 public:
  // Connects to the card in `reader` (T=0 or T=1, as the card offers); an empty name takes
  // the first reader with a card in it. Nothing (and `failure` says why: no such reader, no
  // card, pcscd not running, the card held by another program) when it cannot.
  static std::unique_ptr<PcscLink> connect(const std::string& reader, ConnectFailure& failure);
  ~PcscLink() override;
  std::optional<std::string> transmit(std::string_view apdu) override;
  bool t0() const override;
  std::string why() const override;
  const std::string& reader() const;

 private:
  struct Handle;
  explicit PcscLink(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

}  // namespace voryx::simfiles
