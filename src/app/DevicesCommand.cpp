// voryx devices: the candidate ports of a modem and what each says to "AT", one a line as
// it is probed ("/dev/ttyUSB2: answers AT: Quectel EC25", "/dev/ttyUSB1: busy: held by
// another program (PID 812)"). Ports another program holds are left alone. The modems
// ModemManager manages come first, with their ports; those ports are not probed.
//
// Exit status: 0 a port answers; 3 none does, or there is no port.
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/ModemChoice.h"
#include "modem/Ports.h"

namespace voryx {
namespace {

int runDevices() {
  const std::vector<std::string> patterns = portPatterns();
  const std::vector<modem::Port> ports = modem::listPorts(patterns);
  if (ports.empty()) {
    std::cerr << "voryx devices: " << modem::scanFailure({}, patterns) << "\n";
    return 3;
  }
  bool answered = false, busy = false, denied = false;
  const modem::ManagerSurvey survey = modem::surveyModemManager();
  for (const modem::ManagedModem& m : survey.modems) {
    std::string list;
    for (const modem::ManagedPort& p : m.ports) {
      list += (list.empty() ? "" : ", ") + p.name + " (" + std::string(p.typeName()) +
              (p.name == m.primaryPort ? ", primary" : "") + ")";
    }
    std::cout << "ModemManager manages " << m.name() << " (" << m.device << "): "
              << (list.empty() ? "no ports" : list) << "\n";
    answered = answered || !m.atPorts().empty();
  }
  if (!survey.modems.empty()) {
    std::cout << "Voryx borrows such a modem for each transfer: ModemManager lets go of it and "
                 "takes it back when the transfer ends.\n";
  }
  modem::Channel channel;
  for (const modem::Port& port : ports) {
    // Not probed behind ModemManager's back.
    if (const modem::ManagedModem* m = survey.holding(port.path)) {
      std::cout << port.label() << ": managed by ModemManager (" << m->name() << ")" << std::endl;
      continue;
    }
    const modem::PortProbe probe = modem::probePort(channel, port, {.lockFolder = lockFolder()});
    // Each line as soon as its port is done: a silent port takes a second.
    std::cout << port.label() << ": " << probe.describe() << std::endl;
    answered = answered || probe.answers;
    busy = busy || probe.failure == modem::OpenFailure::Busy;
    denied = denied || probe.failure == modem::OpenFailure::Permission;
  }
  if (busy) std::cout << "A busy port: " << modem::kBusyAdvice << ".\n";
  if (denied) std::cout << "Permission denied: " << modem::kPermissionAdvice << ".\n";
  return answered ? 0 : 3;
}

}  // namespace

void addDevicesCommand(CLI::App& app, int& exitCode) {
  auto* sub = app.add_subcommand(
      "devices", "List the serial ports a modem may be on, and which of them answers AT");
  sub->footer(
      "The ports: /dev/serial/by-id/* (stable names; the port each names is not listed again), "
      "/dev/ttyUSB*, /dev/ttyACM*, /dev/wwan*at*, /dev/modem. Each is probed for about a "
      "second (two when it keeps talking); a port another program holds (its lock file in "
      "/var/lock, or opened exclusively) is not touched.\n"
      "Environment: VORYX_PORTS=PATTERN:PATTERN... probes these glob patterns instead; "
      "VORYX_LOCK_DIR=DIR keeps the lock files there.\n"
      "The modems ModemManager manages are listed first, with their ports; their ports are not "
      "probed, since read, write and info borrow such a modem for their run.\n"
      "Exit status: 0 a port answers (or ModemManager manages a modem with an AT port), 3 none does");
  sub->callback([&exitCode] { exitCode = runDevices(); });
}

}  // namespace voryx
