#pragma once
// The SIM's files through the modem's restricted SIM access (27.007 §8.18):
//   AT+CRSM=178,28474,5,4,28,,"3F007F10"    READ RECORD of 6F3A, record 5, 28 bytes
//   +CRSM: 144,0,"4A6F65FFFF...."
// The path of the selected EF goes with every command (GET RESPONSE 192 reads its
// header); the PIN is the modem's business (AT+CPIN), so pinStatus says Other.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "simfiles/SimFiles.h"

namespace voryx::simfiles {

//   +CRSM: 144,0,"62178202412183026F3AA5038001718A01058B036F06038002015E"
struct CrsmReply {
  int sw1 = 0;
  int sw2 = 0;
  std::string response;  // the response's bytes (the hex decoded); empty when none
};
// Nothing when the reply holds no "+CRSM:" line, or its fields are not of that form.
std::optional<CrsmReply> parseCrsm(std::string_view reply);

// Sends one command line ("AT+CRSM=...\r") and returns the modem's reply text; nothing
// when the dialogue ended (the line broke, the modem is too slow). A reply without a
// "+CRSM:" line (ERROR, "+CME ERROR: ...") comes back as it is.
using CrsmExchange = std::function<std::optional<std::string>(const std::string& line)>;

class CrsmFiles : public SimFiles {
 public:
  explicit CrsmFiles(CrsmExchange exchange);
  CardResult select(const FilePath& path, FileInfo& info) override;
  CardResult readRecord(int number, int length, std::string& bytes) override;
  CardResult updateRecord(int number, std::string_view bytes) override;
  CardResult pinStatus() override;
  CardResult verifyPin(std::string_view pin) override;
  bool usim() override;
  std::string describe() const override;
  // The modem's own reply to the last command when it had no "+CRSM:" line (it refused
  // AT+CRSM itself): for the refusal the user is told.
  const std::string& refusal() const { return refusal_; }

 protected:
  CardResult readBinaryPart(int offset, int length, std::string& part) override;

 private:
  CardResult send(int command, int p1, int p2, int p3, std::string_view data, std::string& response);
  CrsmExchange exchange_;
  std::string refusal_;
  std::optional<bool> usim_;  // the header form seen: FCP
};

}  // namespace voryx::simfiles
