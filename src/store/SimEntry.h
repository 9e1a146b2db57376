#pragma once
// One row of the list on the main screen, built from one row of `sim` or `simsms`.
// Never edited in place: a change builds a new entry and replaces the old one.
#include <cstdint>
#include <map>
#include <string>

namespace voryx {

// Change marks (column `operazione`).
enum Mark : std::int32_t {
  kMarkInStep = 0,   // as on the SIM
  kMarkNew = 1,      // to be written to its location
  kMarkDeleted = 2,  // location to be erased, row removed after the write
  kMarkChanged = 3,  // to be written to its location
};

// Which part of a message sent in parts an SMS holds, from its concatenation header:
// every part carries the sender's reference and the count of parts.
struct MessagePart {
  std::int32_t reference = 0;  // 0..65535
  std::int32_t total = 0;      // 2..255
  std::int32_t part = 0;       // 1..total
  bool operator==(const MessagePart&) const = default;
};
// The SMS that are parts of a long message, by index (`entry`).
using MessageParts = std::map<std::int32_t, MessagePart>;
// Each SMS as the SIM holds it, by index: EF_SMS's status byte, then the service centre's
// address and the TPDU, without padding (bytes, not text). Only the status byte when the
// modem told no more. A write keeps what the SIM knows of a message through it: its
// status, a received one's sender and time, a part's header.
using MessageRecords = std::map<std::int32_t, std::string>;

struct SimEntry {
  std::int32_t posizione = 0;   // SIM location or message index (`entry`)
  std::string nome;             // name or message text (`desc`), UTF-8
  std::string telefono;         // number (`number`)
  std::int32_t operazione = 0;  // change mark

  bool operator==(const SimEntry&) const = default;
};

}  // namespace voryx
