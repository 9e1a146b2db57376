#pragma once
// The SIM's files over a card's APDU link (a PC/SC reader): SELECT, READ/UPDATE RECORD,
// READ BINARY, VERIFY CHV1, with the card's class found once (00 for a UICC, A0 for a 2G
// SIM that refuses class 00), T=0 GET RESPONSE (61xx, 9Fxx) and a wrong Le answered
// 6Cxx resent with the card's length. 7FFF in a path selects ADF.USIM by its AID from
// EF_DIR.
#include <cstdint>
#include <optional>
#include <string>

#include "simfiles/CardLink.h"
#include "simfiles/SimFiles.h"

namespace voryx::simfiles {

class ApduFiles : public SimFiles {
 public:
  // `link` (not owned) must outlive this; `name` says which reader, for describe().
  ApduFiles(CardLink& link, std::string name);
  CardResult select(const FilePath& path, FileInfo& info) override;
  CardResult readRecord(int number, int length, std::string& bytes) override;
  CardResult updateRecord(int number, std::string_view bytes) override;
  CardResult pinStatus() override;
  CardResult verifyPin(std::string_view pin) override;
  bool usim() override;
  std::string describe() const override;

 protected:
  CardResult readBinaryPart(int offset, int length, std::string& part) override;

 private:
  CardResult command(std::string apdu, std::string& data);
  CardResult selectId(std::uint16_t id, std::string& header);
  CardResult selectUsim(std::string& header);
  bool findClass();
  std::string withLe(std::string apdu) const;

  CardLink& link_;
  std::string name_;
  std::optional<std::uint8_t> cla_;  // 00 (UICC) or A0 (SIM), found at the first command
  std::string usimAid_;
  bool removed_ = false;
};

}  // namespace voryx::simfiles
