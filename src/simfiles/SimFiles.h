#pragma once
// The SIM's files, record by record: the layer under the record-level read and write.
// Two transports implement it: a card in a PC/SC reader (ApduFiles over a CardLink) and
// the modem's restricted SIM access, AT+CRSM (CrsmFiles). One object per job, used on the
// job thread only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simfiles/CardResult.h"

namespace voryx::simfiles {

// File identifiers (TS 51.011 §10, TS 31.102 §4, TS 102 221 §13).
inline constexpr std::uint16_t kMf = 0x3F00;
inline constexpr std::uint16_t kEfIccid = 0x2FE2;
inline constexpr std::uint16_t kEfDir = 0x2F00;
inline constexpr std::uint16_t kDfTelecom = 0x7F10;
inline constexpr std::uint16_t kDfGsm = 0x7F20;
inline constexpr std::uint16_t kAdfUsim = 0x7FFF;  // the current application (ADF.USIM)
inline constexpr std::uint16_t kDfPhonebook = 0x5F3A;
inline constexpr std::uint16_t kEfPbr = 0x4F30;
inline constexpr std::uint16_t kEfAdn = 0x6F3A;
inline constexpr std::uint16_t kEfExt1 = 0x6F4A;
inline constexpr std::uint16_t kEfSms = 0x6F3C;

// A file by its path from the MF, the MF included: {3F00, 7F10, 6F3A}. 7FFF stands for
// ADF.USIM (selected by its AID from EF_DIR where the transport needs it).
using FilePath = std::vector<std::uint16_t>;

struct FileInfo {
  enum class Structure { Transparent, LinearFixed, Cyclic, Other };
  Structure structure = Structure::Other;
  int size = 0;          // the file's body in bytes
  int recordLength = 0;  // linear fixed and cyclic files
  int records = 0;       // size / recordLength
};

class SimFiles {
 public:
  virtual ~SimFiles() = default;

  // Selects an EF (the DFs on its path first) and reads its header: the FCP template of a
  // UICC (class 00) or the GSM response of a SIM (class A0).
  virtual CardResult select(const FilePath& path, FileInfo& info) = 0;
  // The selected EF's record `number` (from 1), `length` bytes (its record length).
  virtual CardResult readRecord(int number, int length, std::string& bytes) = 0;
  // Overwrites record `number` of the selected EF with exactly its record length of bytes.
  virtual CardResult updateRecord(int number, std::string_view bytes) = 0;
  // The selected transparent EF's bytes from `offset`, in parts of at most 255 bytes.
  CardResult readBinary(int offset, int length, std::string& bytes);
  // CHV1 (the PIN): Ok when none is needed (disabled or already verified); WrongPin with
  // the tries left when one must be given; Blocked; Other when the transport cannot tell
  // (the modem's AT+CPIN? tells instead).
  virtual CardResult pinStatus() = 0;
  // Presents the PIN once (never again by itself: a SIM blocks after three wrong ones).
  virtual CardResult verifyPin(std::string_view pin) = 0;
  // A UICC with a USIM application (class 00), rather than a 2G SIM (class A0).
  virtual bool usim() = 0;
  // How the files are reached, for the debug log: "reader Virtual PCD 00 00", "AT+CRSM".
  virtual std::string describe() const = 0;
  // Whether a PIN the SIM waits for may be given through here. Not through a modem that
  // another program keeps (qmi-proxy): the SIM is unlocked where that program unlocks it.
  virtual bool unlocksHere() const { return true; }
  // The EF the last select() that succeeded chose (what record commands work on).
  const FilePath& selected() const { return selected_; }

 protected:
  // One READ BINARY of at most 255 bytes from `offset`.
  virtual CardResult readBinaryPart(int offset, int length, std::string& part) = 0;

  FilePath selected_;
};

}  // namespace voryx::simfiles
