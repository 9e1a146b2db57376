#pragma once
// The modem a command talks to, from its options: --simulate (or --sim-file) starts the
// in-process virtual modem and names its pseudo-terminal; --device PATH (or VORYX_DEVICE)
// names a device; neither leaves the choice to the hardware model, as the jobs make it.
#include <memory>
#include <optional>
#include <string>

#include "modem/Channel.h"
#include "sim/VirtualModem.h"

namespace voryx {

struct ModemChoice {
  // --simulate: the virtual modem, serving until stopped or destroyed. Keep it alive
  // until every job that talks to it has ended.
  std::unique_ptr<sim::VirtualModem> simulation;
  modem::DeviceChoice device;
};

// With `simFile`, the virtual SIM is read from that file (a file that does not exist yet
// starts as the demo SIM) and every change is saved back to it. Nothing, and the reason
// on standard error under "voryx <command>: ", when the virtual modem could not start.
std::optional<ModemChoice> chooseModem(bool simulate, const std::string& simFile,
                                       const std::string& device, const char* command);

}  // namespace voryx
