#pragma once
// The modem a command talks to, from its options: --simulate (or --sim-file) starts the
// in-process virtual modem and names its pseudo-terminal; --device PATH (or, when neither
// is given, VORYX_DEVICE) names a device; nothing leaves it to the port scan: the first
// candidate port that answers "AT", the port that last answered first. --device with
// --simulate or --sim-file is a usage error.
//
// The environment points the scan elsewhere (tests, unusual set-ups):
//   VORYX_PORTS     the candidate ports, glob patterns separated by ":" (default:
//                   /dev/serial/by-id/*:/dev/ttyUSB*:/dev/ttyACM*:/dev/wwan*at*:/dev/modem)
//   VORYX_LOCK_DIR  the folder of the UUCP lock files (default /var/lock)
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "modem/Channel.h"
#include "sim/VirtualCard.h"
#include "sim/VirtualModem.h"

namespace voryx {

// The virtual SIM's lock, identity and state, on `voryx serve` and `voryx modem-sim` only
// (the --pin of read and write is the user's PIN): --pin, --puk, --no-sim, --busy-seconds,
// --pin-counter, --iccid, --imsi, --no-identity.
struct SimStateArgs {
  std::string pin;    // empty: no PIN lock
  std::string puk = "12345678";
  bool noSim = false;
  int busySeconds = 0;
  std::string pinCounter = "cpinr";
  std::string iccid;  // empty: the SIM's own (from its file, else the demo's)
  std::string imsi;
  bool noIdentity = false;  // the modem refuses +CCID and +CIMI
};
void addSimStateOptions(CLI::App& command, SimStateArgs& args);
// Puts them on the card (its PIN lock and identity) and the modem's options. The options'
// checks have let only usable values through. True when the card's identity changed (a
// SIM file then keeps the new one).
bool applySimState(const SimStateArgs& args, sim::SimCard& card, sim::ModemOptions& options);

struct ModemArgs {
  std::string device;   // --device
  bool simulate = false;
  std::string simFile;  // --sim-file: the virtual SIM's state, loaded and saved back
  SimStateArgs simState;  // set by addSimStateOptions where a command has them
  std::string charsets;  // --charsets: the sets the virtual modem offers ("UCS2,IRA")
  bool hexNumbers = false;  // --hex-numbers: it lists numbers in hexadecimal under UCS2
  std::string reader;       // --reader: a card reader (by name, or a part of it) instead of a modem
  bool readerGiven = false; // --reader was given (an empty name: the reader with a card in it)
  bool simulateCard = false; // serve --simulate-card: the virtual SIM as a card in the virtual reader
  std::string qmi;          // --qmi: a QMI port, the SIM's files through qmi-proxy
};

// Adds --device, --simulate, --sim-file, --charsets, --hex-numbers, --reader and --qmi to a command.
void addModemOptions(CLI::App& command, ModemArgs& args);

struct ModemChoice {
  // --simulate: the virtual modem, serving until stopped or destroyed. Keep it alive
  // until every job that talks to it has ended.
  std::unique_ptr<sim::VirtualModem> simulation;
  // --simulate-card: the virtual SIM in vsmartcard's virtual reader, kept alive likewise.
  std::unique_ptr<sim::VirtualCard> card;
  modem::DeviceChoice device;
};

// With a SIM file, the virtual SIM is read from that file (a file that does not exist
// yet starts as the demo SIM) and every change is saved back to it. Nothing, and the
// reason on standard error under "voryx <command>: ", when the virtual modem could not
// start. `voryx serve` warns of a device that does not exist (it may be plugged in later).
// With a preferences file, the port that last answered ("device") is tried first, and
// every real port a job's handshake succeeds on is stored there (from the job's thread).
std::optional<ModemChoice> chooseModem(const ModemArgs& args, const char* command,
                                       const std::filesystem::path& preferences = {});

// Whether ModemManager manages the modem a job on `device` talks to (the device given, or
// with none the first candidate port's modem): such a modem is borrowed for the job.
bool managedByModemManager(const modem::DeviceChoice& device);

// With a card reader chosen (--reader, VORYX_READER), finds it now instead: the reader of
// that name, else the one reader whose name holds it ("" the one with a card in it), and
// says which ("voryx read: using the card reader Virtual PCD 00 00"); false, after saying
// which readers there are, when it is not exactly one.
// With a QMI port chosen (--qmi), says so ("voryx read: using QMI /dev/cdc-wdm0 through
// qmi-proxy"). A modem ModemManager manages that lists a QMI port is reached there (the
// chosen --device's modem, or the first candidate port's), when the build has QMI and
// `shareQmi`; without `shareQmi` a QMI port is never used.
// With no device chosen, looks for the modem now: probes the candidate ports (the
// remembered one first) and says on standard error which one answers, "voryx read: using
// /dev/ttyUSB2 (Quectel EC25)" (unless not `tell`), making it the port the jobs try first.
// False, after saying what each port said, when none answers. True at once when a
// device or the virtual modem is chosen. Main thread.
bool findModem(ModemChoice& choice, const char* command, bool tell = true, bool shareQmi = true);

// VORYX_PORTS split at ":", else the usual candidates.
std::vector<std::string> portPatterns();
// VORYX_LOCK_DIR, else /var/lock.
std::filesystem::path lockFolder();

}  // namespace voryx
