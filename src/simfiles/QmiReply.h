#pragma once
// The replies of a modem's UIM service (QMI), taken apart: the QMUX frame, the result TLV
// (02) and the message's own TLVs, as the modem sent them. Pure and defensive: a frame or a
// TLV whose length lies gives nothing, never a read past the bytes.
//
//   01 1F 00 80 0B 02 02 01 00 21 00 13 00  02 04 00 00 00 00 00  10 02 00 90 00  11 ...
//   marker, length, flags, UIM, client 2; response, transaction 1, Read Record, TLVs
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "simfiles/SimFiles.h"

namespace voryx::simfiles {

struct QmiReply {
  std::uint8_t service = 0;
  std::uint16_t message = 0;
  bool success = false;
  std::uint16_t error = 0;  // the QMI error code; 0 on success
  std::map<std::uint8_t, std::string> tlvs;
};
// A whole frame of a response of a service other than CTL (2-byte transaction): nothing
// when it is not one, or a length in it does not match the bytes, or it has no result TLV.
std::optional<QmiReply> parseQmiReply(std::string_view frame);

// The card's status word (TLV 10, SW1 SW2), when the reply has one of that size.
std::optional<std::uint16_t> qmiCardResult(const QmiReply& reply);
// The bytes read (TLV 11: a 2-byte length, then that many bytes).
std::optional<std::string> qmiReadResult(const QmiReply& reply);
// The file's header (TLV 11 of Get File Attributes): its raw FCP or GSM header when the
// modem gave one that parses (FileHeader), else the fields the modem decoded itself.
// `fcp` says whether the raw header was a UICC's FCP.
std::optional<FileInfo> qmiFileAttributes(const QmiReply& reply, bool* fcp = nullptr);

// Get Card Status (TLV 10): the primary GW application's state and its PIN1.
struct QmiCardStatus {
  int cardState = 0;        // 0 absent, 1 present, 2 error
  int applicationType = 0;  // 1 SIM, 2 USIM, ...
  int applicationState = 0; // 2 PIN1 wanted, 3 PUK1 wanted, 7 ready, ...
  int pin1State = 0;        // 1 enabled and not verified, 2 verified, 3 disabled, 4 blocked, 5 for good
  int pin1Retries = 0;
  int puk1Retries = 0;
};
std::optional<QmiCardStatus> qmiCardStatus(const QmiReply& reply);

}  // namespace voryx::simfiles
