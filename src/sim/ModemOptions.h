#pragma once
// How the virtual modem behaves on the line: its reply style (profile), its timing and
// the faults it injects. Plain values; copied into the modem at construction.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/TeCharset.h"

namespace voryx::sim {

enum class Profile {
  Default,    // listing entries separated by a blank line, empty range answered OK
  LineBreak,  // entries separated by one line break, empty range "+CME ERROR: 22",
              // unsolicited "+CMTI" lines mixed into listings and after a write's OK
};

// Faults. A "write" is one AT+CPBW, AT+CMGW or AT+CMGD; k counts from 1 since start().
struct Faults {
  bool silence = false;   // never answers anything, not even the echo
  int errorAtWrite = 0;   // the k-th write answers ERROR and changes nothing
  int muteAtWrite = 0;    // the k-th write gets no answer and changes nothing
  int hangupAtWrite = 0;  // the line is closed (pty master) when the k-th write arrives
  int lateAtWrite = 0;    // the k-th write is done, but its final reply comes kLateReply
                          // after the reply delay (past any sane wait for a first byte)
  int lostAtWrite = 0;    // the k-th write is done, then the line is closed before its reply:
                          // the SIM holds the change, the writer never hears of it (a
                          // modem unplugged, a writer killed mid-command)
  bool hugeReply = false; // listings carry more than 70000 bytes of filler lines
  bool nulBytes = false;  // listings carry NUL bytes between entries
  bool listingError = false;  // phonebook and SMS listings answer ERROR
  bool charsetTestError = false;  // "AT+CSCS=?" answers ERROR
  bool crsmError = false;  // "AT+CRSM" answers ERROR, as on modems without it
};

// The character sets of +CSCS, as real modems differ in them: many have no "HEX", some
// list a set they then refuse.
struct Charsets {
  // What "AT+CSCS=?" lists, in this order; "AT+CSCS=" takes no other set.
  std::vector<Charset> listed{Charset::Gsm, Charset::Ira, Charset::Hex, Charset::Ucs2, Charset::Utf8};
  std::vector<Charset> refused;  // listed, but "AT+CSCS=" answers ERROR all the same
  // Under UCS2, number fields of the listings (phonebook and messages) go out as 16-bit
  // units in hexadecimal, as some modems send them. Numbers written are taken plain.
  bool hexNumbers = false;
  bool takes(Charset cs) const;
};

inline constexpr std::chrono::milliseconds kLateReply{2000};

// How the modem tells the PIN tries left: the standard "+CPINR", a maker's own command
// (Huawei "^CPIN?", Quectel "+QPINC"), or not at all.
enum class PinCounter { Cpinr, Huawei, Quectel, None };

struct ModemOptions {
  Profile profile = Profile::Default;
  std::chrono::milliseconds replyDelay{0};  // before the first byte of each reply
  std::chrono::milliseconds entryDelay{0};  // before each entry of a listing
  std::size_t chunkBytes = 0;               // 0: a reply goes out in one write
  std::chrono::milliseconds chunkGap{0};    // pause between chunks
  Faults faults;
  Charsets charsets{};
  bool noSim = false;  // every SIM command answers "SIM not inserted"
  // Every SIM command answers "SIM busy" for this long after start() and after the SIM
  // took its PIN (or PUK), as SIMs do while they start up.
  std::chrono::milliseconds simBusy{0};
  PinCounter pinCounter = PinCounter::Cpinr;
  // +CCID and +CIMI answer "+CME ERROR: 4" (not supported), as many older modems do: the
  // SIM keeps its identity, the modem does not tell it.
  bool noIdentity = false;
  // The SIM is a UICC with a USIM: AT+CRSM answers FCP templates and reaches ADF.USIM.
  bool usim = false;
  // Messages in text mode only: "AT+CMGF=0" answers ERROR.
  bool textModeOnly = false;
};

// "default" or "linebreak".
std::optional<Profile> profileFromName(std::string_view name);
std::string_view profileName(Profile profile);

// "cpinr", "huawei", "quectel" or "none".
std::optional<PinCounter> pinCounterFromName(std::string_view name);

// One fault as written on the command line: "silence", "huge-reply", "nul-bytes",
// "listing-error", "charset-test-error",
// "error-at-write=K", "mute-at-write=K", "hangup-at-write=K", "late-at-write=K". False (faults unchanged)
// when the text is none of these.
bool parseFault(std::string_view text, Faults& faults);

// The sets "AT+CSCS=?" lists, as written on the command line: "UCS2,IRA" (any case, in
// the order given). None for an empty list or a name that is no set.
std::optional<std::vector<Charset>> parseCharsetList(std::string_view text);

}  // namespace voryx::sim
