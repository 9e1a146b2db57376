#pragma once
// The modem's port when none is given: the candidate ports and what each says to "AT".
// `voryx devices` probes them all; a job with no device opens the first that answers.
// Probing honours the UUCP locks and the exclusive claim of other programs (see
// Channel::InitConnPath) and restores each port as it found it. Any thread; one probe at
// a time per channel.
//
// Bounds: each "AT" waits 0.5 s for its first byte, twice; a port that keeps talking
// (a GPS port's NMEA sentences) is cut off after 1 s a command. A silent port costs
// about 1 s, one that chatters about 2 s; the identification adds two short commands.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modem/Channel.h"

namespace voryx::modem {

struct Port {
  std::filesystem::path path;    // as found: "/dev/serial/by-id/usb-Quectel_EC25-if02-port0"
  std::filesystem::path target;  // the node it leads to: "/dev/ttyUSB2" (path when not a link)
  // "path -> target", or the path alone.
  std::string label() const;
};

// The ports the glob patterns name, pattern by pattern (each pattern's matches sorted),
// every node once: a node reached by an earlier name (a stable by-id name) is not listed
// again. Names whose node does not exist (dangling links) are left out.
std::vector<Port> listPorts(const std::vector<std::string>& patterns);
// The ports a choice with no device tries: its preferred port (when it exists), then its
// candidates.
std::vector<Port> candidatePorts(const DeviceChoice& choice);

struct ProbeOptions {
  std::filesystem::path lockFolder = kLockFolder;
  bool identify = true;  // also ask AT+CGMI and AT+CGMM of a port that answers
  int attempts = 2;
  std::chrono::milliseconds wait{500};  // for the first byte of each answer
};

struct PortProbe {
  Port port;
  OpenFailure failure = OpenFailure::None;  // why it did not open
  std::optional<pid_t> holder;              // Busy: the PID its lock names
  std::string why;                          // the open's error text
  bool answers = false;                     // it answered "AT"
  std::string manufacturer, model;          // AT+CGMI, AT+CGMM, when asked and given

  // "Quectel EC25": the manufacturer and the model (the model alone when it names the
  // manufacturer already); empty when neither is known.
  std::string name() const;
  // "answers AT: Quectel EC25", "no answer to AT", "busy: held by another program (PID
  // 812)", "permission denied (dialout group)", ...
  std::string describe() const;
};

// Opens `port` on `ch` and asks "AT". A port that answers stays open when `keepOpen`;
// every other port is closed again (settings restored, lock given up). The channel's
// reply rule is back to the default afterwards.
PortProbe probePort(Channel& ch, const Port& port, const ProbeOptions& options,
                    bool keepOpen = false);
// Probes the ports one after another; with `firstOnly`, stops at the first that answers
// and leaves it open on `ch` (then it is the last probe returned).
std::vector<PortProbe> scanPorts(Channel& ch, const std::vector<Port>& ports,
                                 const ProbeOptions& options, bool firstOnly);
// The modem a job with no device borrows: the one ModemManager manages with an AT port
// that the first such candidate port belongs to; null when there is none.
const ManagedModem* managedCandidate(const ManagerSurvey& survey, const std::vector<Port>& ports);
// What a scan that found no modem tells the user: no port at all (and where it looked),
// or what each port said, with what to do about busy ports and permissions.
std::string scanFailure(const std::vector<PortProbe>& probes,
                        const std::vector<std::string>& patterns);

// One command and its reply, for the short dialogues of the scan and of `voryx info`.
struct Asked {
  std::string raw;  // the reply as collected (for the debug log)
  ReplyKind kind = ReplyKind::Incomplete;
  std::vector<std::string> lines;  // information lines; the command's echo left out
  std::string final;               // the final result line as sent: "OK", "+CME ERROR: 10"
  std::optional<int> errorCode;

  // The information lines joined by ", ", each without `prefix` ("+CGMI:") where it
  // starts with it, trimmed.
  std::string text(std::string_view prefix = {}) const;
};
// Drains the line, sends `command` (without its carriage return) and collects the reply
// by the channel's reply rule. Nothing came: kind Incomplete, raw empty.
Asked ask(Channel& ch, std::string_view command);

}  // namespace voryx::modem
