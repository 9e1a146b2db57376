#include "modem/ModemManager.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>

#include "modem/BusReading.h"

namespace voryx::modem {
namespace {

constexpr const char* kMmObject = "/org/freedesktop/ModemManager1";
constexpr const char* kModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* kMessagingInterface = "org.freedesktop.ModemManager1.Modem.Messaging";
constexpr const char* kUnauthorized = "org.freedesktop.ModemManager1.Error.Core.Unauthorized";
// ModemManager disables the modem and closes its ports before it answers InhibitDevice:
// a modem in the middle of a connection takes a while.
constexpr std::uint64_t kCallTimeoutUsec = 30'000'000;
// What a user can do when ModemManager cannot lend the modem.
constexpr const char* kStopAdvice =
    "stop ModemManager while Voryx works (sudo systemctl stop ModemManager) or keep it off "
    "this modem (a udev rule with ENV{ID_MM_DEVICE_IGNORE}=\"1\")";

struct BusClose {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using bus::CallError;
using bus::Message;
using bus::readVariant;
using bus::variantHolds;

Bus openBus(std::string& error) {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_system(&bus);
  if (r < 0) {
    error = std::string("no system bus (") + std::strerror(-r) + ")";
    return {};
  }
  sd_bus_set_method_call_timeout(bus, kCallTimeoutUsec);
  return Bus(bus);
}

// Asks the bus itself: never starts a ModemManager the system can start on demand.
bool managerRuns(sd_bus* bus, std::string& error) {
  CallError err;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", &err.e, &reply, "s", kMmService);
  const Message held(reply);
  if (r < 0) {
    error = "the system bus did not answer (" + err.text(r) + ")";
    return false;
  }
  int has = 0;
  r = sd_bus_message_read(reply, "b", &has);
  return r >= 0 && has != 0;
}

int readPorts(sd_bus_message* m, std::vector<ManagedPort>& out) {
  if (!variantHolds(m, "a(su)")) return sd_bus_message_skip(m, "v");
  int r = sd_bus_message_enter_container(m, 'v', "a(su)");
  if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "(su)");
  const char* name = nullptr;
  std::uint32_t type = 0;
  while (r >= 0 && (r = sd_bus_message_read(m, "(su)", &name, &type)) > 0) {
    out.push_back({name != nullptr ? name : "", type});
  }
  if (r >= 0) r = sd_bus_message_exit_container(m);
  if (r >= 0) r = sd_bus_message_exit_container(m);
  return r;
}

// A modem object's properties, a{sv}: the ones a borrow needs; the rest skipped.
int readModem(sd_bus_message* m, ManagedModem& modem) {
  return bus::readProperties(m, [&](std::string_view k) {
    return k == "Device"         ? readVariant(m, modem.device)
           : k == "Manufacturer" ? readVariant(m, modem.manufacturer)
           : k == "Model"        ? readVariant(m, modem.model)
           : k == "PrimaryPort"  ? readVariant(m, modem.primaryPort)
           : k == "Ports"        ? readPorts(m, modem.ports)
                                 : sd_bus_message_skip(m, "v");
  });
}

// GetManagedObjects' answer, a{oa{sa{sv}}}: the objects that carry the Modem interface.
int readObjects(sd_bus_message* m, std::vector<ManagedModem>& out) {
  int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    r = sd_bus_message_read(m, "o", &path);
    if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
    ManagedModem modem;
    modem.object = path != nullptr ? path : "";
    bool isModem = false;
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
      const char* iface = nullptr;
      r = sd_bus_message_read(m, "s", &iface);
      if (r < 0) break;
      if (iface != nullptr && std::strcmp(iface, kModemInterface) == 0) {
        isModem = true;
        r = readModem(m, modem);
      } else if (iface != nullptr && std::strcmp(iface, kMessagingInterface) == 0) {
        modem.messaging = true;
        r = sd_bus_message_skip(m, "a{sv}");
      } else {
        r = sd_bus_message_skip(m, "a{sv}");
      }
      if (r >= 0) r = sd_bus_message_exit_container(m);
    }
    if (r >= 0) r = sd_bus_message_exit_container(m);
    if (r >= 0) r = sd_bus_message_exit_container(m);
    if (r >= 0 && isModem && !modem.device.empty()) out.push_back(std::move(modem));
  }
  if (r >= 0) r = sd_bus_message_exit_container(m);
  return r;
}

ManagerSurvey survey(sd_bus* bus) {
  ManagerSurvey s;
  s.running = managerRuns(bus, s.error);
  if (!s.running) return s;
  CallError err;
  sd_bus_message* reply = nullptr;
  const int r = sd_bus_call_method(bus, kMmService, kMmObject, "org.freedesktop.DBus.ObjectManager",
                                   "GetManagedObjects", &err.e, &reply, "");
  const Message held(reply);
  if (r < 0) {
    s.error = "ModemManager did not list its modems (" + err.text(r) + ")";
    return s;
  }
  if (readObjects(reply, s.modems) < 0) {
    s.modems.clear();
    s.error = "ModemManager's list of modems could not be read";
  }
  return s;
}

}  // namespace

std::string_view ManagedPort::typeName() const {
  static constexpr std::array<std::string_view, 10> kNames{
      "unknown", "unknown", "net", "at", "qcdm", "qmi", "mbim", "gps", "audio", "ignored"};
  return type < kNames.size() ? kNames[type] : "unknown";
}

std::string ManagedModem::name() const {
  if (manufacturer.empty() && model.empty()) return object;
  if (manufacturer.empty() || model.find(manufacturer) != std::string::npos) return model;
  if (model.empty()) return manufacturer;
  return manufacturer + " " + model;
}

bool ManagedModem::holds(const std::filesystem::path& port) const {
  std::error_code ec;
  std::filesystem::path node = std::filesystem::weakly_canonical(port, ec);
  if (ec) node = port;
  const std::string full = node.string();
  const std::string underDev = full.rfind("/dev/", 0) == 0 ? full.substr(5) : full;
  const std::string base = node.filename().string();
  for (const ManagedPort& p : ports) {
    if (!p.name.empty() && (p.name == underDev || p.name == base)) return true;
  }
  if (device.empty() || base.empty()) return false;
  const std::filesystem::path sys =
      std::filesystem::canonical(std::filesystem::path("/sys/class/tty") / base, ec);
  return !ec && sys.string().rfind(device + "/", 0) == 0;
}

std::vector<std::filesystem::path> ManagedModem::atPorts() const {
  std::vector<std::filesystem::path> out;
  for (const ManagedPort& p : ports) {
    if (p.type != ManagedPort::kAt || p.name.empty()) continue;
    const std::filesystem::path node = std::filesystem::path("/dev") / p.name;
    if (p.name == primaryPort) {
      out.insert(out.begin(), node);
    } else {
      out.push_back(node);
    }
  }
  return out;
}

const ManagedModem* ManagerSurvey::holding(const std::filesystem::path& port) const {
  for (const ManagedModem& m : modems) {
    if (m.holds(port)) return &m;
  }
  return nullptr;
}

ManagerSurvey surveyModemManager() {
  std::string error;
  const Bus bus = openBus(error);
  if (!bus) return {.running = false, .modems = {}, .error = error};
  return survey(bus.get());
}

ModemLoan::~ModemLoan() { giveBack(); }

LoanOutcome ModemLoan::borrow(const std::filesystem::path& port) {
  giveBack();
  why_.clear();
  std::string error;
  Bus bus = openBus(error);
  if (!bus) return LoanOutcome::NotManaged;
  const ManagerSurvey found = survey(bus.get());
  const ManagedModem* modem = found.holding(port);
  if (modem == nullptr) return LoanOutcome::NotManaged;
  const LoanOutcome outcome = inhibit(bus.get(), *modem);
  if (outcome == LoanOutcome::Borrowed) bus_ = bus.release();
  return outcome;
}

LoanOutcome ModemLoan::borrow(const ManagedModem& modem) {
  giveBack();
  why_.clear();
  std::string error;
  Bus bus = openBus(error);
  if (!bus) {
    why_ = "ModemManager could not be asked for " + modem.name() + ": " + error;
    return LoanOutcome::Failed;
  }
  const LoanOutcome outcome = inhibit(bus.get(), modem);
  if (outcome == LoanOutcome::Borrowed) bus_ = bus.release();
  return outcome;
}

LoanOutcome ModemLoan::inhibit(sd_bus* bus, const ManagedModem& modem) {
  CallError err;
  const int r = sd_bus_call_method(bus, kMmService, kMmObject, kMmService, "InhibitDevice", &err.e,
                                   nullptr, "sb", modem.device.c_str(), 1);
  const std::string what = "ModemManager manages this modem (" + modem.name() + ")";
  if (r >= 0) {
    modem_ = modem;
    return LoanOutcome::Borrowed;
  }
  if (err.is(SD_BUS_ERROR_UNKNOWN_METHOD)) {
    why_ = what + " and is too old to lend it (version 1.10 and later can): " + kStopAdvice;
    return LoanOutcome::Unsupported;
  }
  if (err.is(SD_BUS_ERROR_ACCESS_DENIED)) {  // the bus's policy: InhibitDevice is root's
    why_ = what + " and lends it only to root here (" + err.text(r) +
           "): run Voryx as root (sudo), or allow InhibitDevice in ModemManager's D-Bus policy "
           "(/etc/dbus-1/system.d/org.freedesktop.ModemManager1.conf) and your user the polkit "
           "action " + kMmControlAction + "; or " + kStopAdvice;
    return LoanOutcome::Refused;
  }
  if (err.is(kUnauthorized)) {  // polkit's answer
    why_ = what + " and polkit did not let it lend it to you (" + err.text(r) +
           "): allow your user the polkit action " + kMmControlAction + ", or run Voryx as root (sudo); or " +
           kStopAdvice;
    return LoanOutcome::Refused;
  }
  why_ = what + " and did not let it go (" + err.text(r) + "): " + kStopAdvice;
  return LoanOutcome::Failed;
}

void ModemLoan::giveBack() {
  if (bus_ == nullptr) return;
  // Should the call fail, ending the connection gives the modem back all the same.
  CallError err;
  sd_bus_call_method(bus_, kMmService, kMmObject, kMmService, "InhibitDevice", &err.e, nullptr,
                     "sb", modem_.device.c_str(), 0);
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
}

}  // namespace voryx::modem
