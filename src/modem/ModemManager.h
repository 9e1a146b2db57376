#pragma once
// ModemManager, the modem daemon of Linux desktops and phones, over the system D-Bus
// (sd-bus): which modems it manages, and borrowing one for a transfer. ModemManager keeps
// a modem's ports open; its InhibitDevice method (1.10 and later) makes it let go of the
// modem for as long as the caller's bus connection holds the inhibition, and take it back
// when the caller says so or the connection ends (the process exits, crashes or is
// killed). The bus is the one DBUS_SYSTEM_BUS_ADDRESS names, else the system's.
//
// Nothing here starts ModemManager: a stopped one stays stopped. One thread at a time
// per ModemLoan.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sd_bus;

namespace voryx::modem {

inline constexpr const char* kMmService = "org.freedesktop.ModemManager1";
// The polkit action ModemManager checks before it lets go of a modem.
inline constexpr const char* kMmControlAction = "org.freedesktop.ModemManager1.Control";

// One of a modem's ports as ModemManager lists it: the kernel's name and its use.
struct ManagedPort {
  std::string name;   // "ttyUSB2", "cdc-wdm0", "wwan0at0"
  unsigned type = 0;  // MMModemPortType: 3 AT, 5 QMI, 6 MBIM, 7 GPS, ...
  static constexpr unsigned kAt = 3;
  // "at", "qmi", "net", ...; "unknown" for a type this code does not know.
  std::string_view typeName() const;
};

struct ManagedModem {
  std::string object;  // "/org/freedesktop/ModemManager1/Modem/0"
  std::string device;  // the physical device's sysfs path: the uid InhibitDevice takes
  std::string manufacturer, model, primaryPort;
  std::vector<ManagedPort> ports;
  // It offers the Messaging interface (org.freedesktop.ModemManager1.Modem.Messaging): its
  // messages, the SIM's among them, can be listed, stored and deleted without borrowing it.
  bool messaging = false;

  // "Quectel EC25", or the object path when the modem names neither.
  std::string name() const;
  // The port is one of the modem's: by its kernel name (a /dev/serial/by-id link is
  // followed first) or because its sysfs device lies under the modem's.
  bool holds(const std::filesystem::path& port) const;
  // The modem's AT ports as device nodes, the primary port first: "/dev/ttyUSB2".
  std::vector<std::filesystem::path> atPorts() const;
};

struct ManagerSurvey {
  bool running = false;  // ModemManager holds its name on the bus
  std::vector<ManagedModem> modems;
  std::string error;  // why the survey could not be made (no bus, a listing refused)
  // The managed modem `port` belongs to; null when none.
  const ManagedModem* holding(const std::filesystem::path& port) const;
};
// What ModemManager manages now. Not running, or no bus: no modems, and no harm.
ManagerSurvey surveyModemManager();

enum class LoanOutcome {
  NotManaged,   // ModemManager does not run or does not manage this modem: nothing to do
  Borrowed,     // it let go of the modem; it gets it back at giveBack() or the end
  Refused,      // not allowed: the bus policy or polkit said no (why() says what to do)
  Unsupported,  // a ModemManager older than 1.10, without InhibitDevice
  Failed,       // any other error of the call, or the bus broke
};

// A modem borrowed from ModemManager: the bus connection that holds the inhibition.
class ModemLoan {
 public:
  ModemLoan() = default;
  ~ModemLoan();  // gives the modem back
  ModemLoan(const ModemLoan&) = delete;
  ModemLoan& operator=(const ModemLoan&) = delete;

  // Borrows the modem `port` belongs to, when ModemManager manages it.
  LoanOutcome borrow(const std::filesystem::path& port);
  // Borrows a modem a survey found.
  LoanOutcome borrow(const ManagedModem& modem);
  // Asks ModemManager to take the modem back and ends the connection. Harmless when
  // nothing is borrowed.
  void giveBack();
  bool held() const { return bus_ != nullptr; }
  const ManagedModem& modem() const { return modem_; }
  // Refused, Unsupported, Failed: what went wrong and what the user can do.
  const std::string& why() const { return why_; }

 private:
  LoanOutcome inhibit(sd_bus* bus, const ManagedModem& modem);

  sd_bus* bus_ = nullptr;
  ManagedModem modem_;
  std::string why_;
};

}  // namespace voryx::modem
