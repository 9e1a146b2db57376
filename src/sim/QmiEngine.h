#pragma once
// The virtual modem's QMI face: QMUX frames in, QMUX frames out, on the virtual SIM's
// files. The control service (CTL) hands out client ids (Allocate CID, Release CID),
// tells its versions (Get Version Info) and answers Sync; the UIM service reads and writes
// the SIM's files (Get File Attributes, Read Record, Write Record, Read Transparent) and
// tells and takes its PIN (Get Card Status, Verify PIN). The files are the ones the card
// reader and AT+CRSM reach (CardFiles), so no face can disagree with another.
//
// A frame: 01, its length (2 bytes, little-endian, the marker not counted), flags (80 from
// the modem), service, client id, then the service's message: flags, transaction (1 byte
// for CTL, 2 for the others), message id, the TLVs' length and the TLVs (type, 2-byte
// length, value). Every reply carries TLV 02: status (0 success, 1 failure) and error code.
//
// Garbage is survived: bytes before a marker are dropped, a frame whose length cannot be
// is dropped byte by byte until the next marker, and a frame whose TLVs lie is answered
// with "malformed message"; unknown services and messages are answered with "invalid QMI
// command". One thread at a time (the server's).
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/CardFiles.h"
#include "sim/SimCard.h"

namespace voryx::sim {

// Faults, counted over the UIM record requests (Read Record and Write Record together)
// since the engine was made: the k-th one answers the card's 6F00 and changes nothing
// (error), gets no answer at all (silence), or closes the line as it arrives (hang-up).
// noSim: no SIM in the modem (the card status says absent, the files are not there).
struct QmiFaults {
  int errorAtRecord = 0;
  int silenceAtRecord = 0;
  int hangupAtRecord = 0;
  bool noSim = false;
};
// "error-at-record=K", "silence-at-record=K", "hangup-at-record=K"; false for anything else.
bool parseQmiFault(std::string_view text, QmiFaults& faults);

inline constexpr std::uint8_t kQmiCtl = 0x00;
inline constexpr std::uint8_t kQmiUim = 0x0B;

class QmiEngine {
 public:
  QmiEngine(SimCard& card, bool usim, QmiFaults faults) : files_(card, usim), faults_(faults) {}

  struct Output {
    std::vector<std::string> frames;  // the replies, in order
    bool hangUp = false;              // close the line after them
  };
  // Takes bytes from the line (any split) and answers every whole frame among them.
  Output feed(std::string_view bytes);
  // Whether the SIM changed since the last call.
  bool takeChanged() {
    const bool c = changed_;
    changed_ = false;
    return c;
  }
  // Requests of this service and message answered (or faulted) since the engine was made.
  int requestCount(std::uint8_t service, std::uint16_t message) const;

 private:
  struct Request {
    std::uint8_t service = 0;
    std::uint8_t client = 0;
    std::uint16_t transaction = 0;
    std::uint16_t message = 0;
    std::map<std::uint8_t, std::string> tlvs;
  };
  enum class Fate { Answer, Silence, HangUp };
  // One whole frame's bytes; an answer, none (dropped), or a fault.
  Fate frame(std::string_view bytes, std::string& reply);
  std::string control(const Request& r);
  Fate uim(const Request& r, std::string& reply);
  std::string respond(const Request& r, std::uint16_t error, std::string tlvs = {}) const;

  CardFiles files_;
  QmiFaults faults_;
  std::string pending_;
  std::map<std::uint8_t, std::set<std::uint8_t>> clients_;  // service -> client ids given out
  std::uint8_t nextClient_ = 1;
  std::map<std::pair<std::uint8_t, std::uint16_t>, int> counts_;
  int records_ = 0;
  bool changed_ = false;
};

}  // namespace voryx::sim
