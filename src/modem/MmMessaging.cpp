#include "modem/MmMessaging.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include "base/DebugLog.h"
#include "modem/BusReading.h"

namespace voryx::modem {
namespace {

constexpr const char* kModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* kMessagingInterface = "org.freedesktop.ModemManager1.Modem.Messaging";
constexpr const char* kSmsInterface = "org.freedesktop.ModemManager1.Sms";
constexpr const char* kSimInterface = "org.freedesktop.ModemManager1.Sim";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr std::string_view kSmsPrefix = "/org/freedesktop/ModemManager1/SMS/";
// Storing a message on the SIM takes the modem a few seconds at most; a modem busy with a
// call may keep ModemManager's queue a while longer.
constexpr std::uint64_t kCallTimeoutUsec = 60'000'000;

using bus::CallError;
using bus::Message;
using bus::readVariant;
using bus::variantHolds;

int readBytes(sd_bus_message* m, std::string& out) {
  if (!variantHolds(m, "ay")) return sd_bus_message_skip(m, "v");
  int r = sd_bus_message_enter_container(m, 'v', "ay");
  const void* bytes = nullptr;
  std::size_t size = 0;
  if (r >= 0) r = sd_bus_message_read_array(m, 'y', &bytes, &size);
  if (r < 0) return r;
  out.assign(static_cast<const char*>(bytes), size);
  return sd_bus_message_exit_container(m);
}

// An Sms object's GetAll answer, a{sv}: the properties MmMessage keeps, the rest skipped.
// `whole`: Storage, State, PduType, Number and Text all came, each of its own type.
int readSms(sd_bus_message* m, MmMessage& sms, bool& whole) {
  int typed = 0;
  const int r = bus::readProperties(m, [&](std::string_view k) {
    const bool needed = k == "Storage" || k == "State" || k == "PduType" || k == "Number" || k == "Text";
    if (needed && variantHolds(m, k == "Number" || k == "Text" ? "s" : "u")) ++typed;
    return k == "Storage"     ? readVariant(m, sms.storage)
           : k == "State"     ? readVariant(m, sms.state)
           : k == "PduType"   ? readVariant(m, sms.pduType)
           : k == "Number"    ? readVariant(m, sms.number)
           : k == "Text"      ? readVariant(m, sms.text)
           : k == "SMSC"      ? readVariant(m, sms.smsc)
           : k == "Timestamp" ? readVariant(m, sms.timestamp)
           : k == "Data"      ? readBytes(m, sms.data)
                              : sd_bus_message_skip(m, "v");
  });
  whole = typed == 5;
  return r;
}

}  // namespace

std::optional<std::int32_t> smsObjectNumber(std::string_view path) {
  if (!path.starts_with(kSmsPrefix)) return std::nullopt;
  const std::string_view digits = path.substr(kSmsPrefix.size());
  std::int32_t n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() || n < 0) return std::nullopt;
  return n;
}

std::string smsObjectPath(std::int32_t n) { return std::string(kSmsPrefix) + std::to_string(n); }

MmMessaging::~MmMessaging() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

bool MmMessaging::connect(const ManagedModem& modem) {
  modem_ = modem;
  const int r = sd_bus_open_system(&bus_);
  if (r < 0) {
    bus_ = nullptr;
    gone_ = true;
    error_ = std::string("no system bus (") + std::strerror(-r) + ")";
    VORYX_LOG_IF(logging_, "mm bus |%s|\n", error_.c_str());
    return false;
  }
  sd_bus_set_method_call_timeout(bus_, kCallTimeoutUsec);
  VORYX_LOG_IF(logging_, "mm messaging |%s| %s\n", modem.object.c_str(), modem.device.c_str());
  return true;
}

bool MmMessaging::failed(int r, const void* error, const char* what) {
  const sd_bus_error* e = static_cast<const sd_bus_error*>(error);
  errorName_ = e->name != nullptr ? e->name : "";
  error_ = e->message != nullptr ? std::string(e->message) : std::string(std::strerror(-r));
  // No owner of the name (it stopped or crashed), no answer before it left, or the bus itself.
  gone_ = gone_ || sd_bus_error_has_name(e, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
          sd_bus_error_has_name(e, SD_BUS_ERROR_NAME_HAS_NO_OWNER) ||
          sd_bus_error_has_name(e, SD_BUS_ERROR_NO_REPLY) || sd_bus_error_has_name(e, SD_BUS_ERROR_DISCONNECTED) ||
          r == -ECONNRESET || r == -ENOTCONN || r == -EPIPE || r == -ETIMEDOUT;
  VORYX_LOG_IF(logging_, "mm error |%s| %s |%s|\n", what, errorName_.c_str(), error_.c_str());
  return false;
}

bool MmMessaging::simIdentity(std::string& iccid, std::string& imsi, bool& present) {
  iccid.clear();
  imsi.clear();
  present = false;
  if (bus_ == nullptr) return false;
  CallError err;
  sd_bus_message* reply = nullptr;
  VORYX_LOG_IF(logging_, "mm call |Get Sim| %s\n", modem_.object.c_str());
  int r = sd_bus_call_method(bus_, kMmService, modem_.object.c_str(), kProperties, "Get", &err.e, &reply, "ss",
                             kModemInterface, "Sim");
  Message held(reply);
  if (r < 0) return failed(r, &err.e, "Get Sim");
  std::string sim;
  if (readVariant(reply, sim, 'o') < 0) sim.clear();
  VORYX_LOG_IF(logging_, "mm reply |Sim| %s\n", sim.c_str());
  if (sim.empty() || sim == "/") return true;
  present = true;
  for (auto [name, out] : {std::pair<const char*, std::string*>{"SimIdentifier", &iccid}, {"Imsi", &imsi}}) {
    CallError e2;
    sd_bus_message* got = nullptr;
    r = sd_bus_call_method(bus_, kMmService, sim.c_str(), kProperties, "Get", &e2.e, &got, "ss", kSimInterface, name);
    Message keep(got);
    if (r < 0) return failed(r, &e2.e, name);
    if (readVariant(got, *out) < 0) out->clear();
  }
  VORYX_LOG_IF(logging_, "mm reply |SimIdentifier| %s |Imsi| %s\n", iccid.c_str(), imsi.c_str());
  return true;
}

bool MmMessaging::list(std::vector<MmMessage>& out) {
  out.clear();
  if (bus_ == nullptr) return false;
  CallError err;
  sd_bus_message* reply = nullptr;
  VORYX_LOG_IF(logging_, "mm call |List| %s\n", modem_.object.c_str());
  int r = sd_bus_call_method(bus_, kMmService, modem_.object.c_str(), kMessagingInterface, "List", &err.e, &reply, "");
  Message held(reply);
  if (r < 0) return failed(r, &err.e, "List");
  std::vector<std::string> paths;
  r = sd_bus_message_enter_container(reply, 'a', "o");
  const char* path = nullptr;
  while (r >= 0 && (r = sd_bus_message_read(reply, "o", &path)) > 0) paths.emplace_back(path != nullptr ? path : "");
  if (r < 0) {
    error_ = "ModemManager's list of messages could not be read";
    errorName_.clear();
    VORYX_LOG_IF(logging_, "mm error |List| unreadable\n");
    return false;
  }
  VORYX_LOG_IF(logging_, "mm reply |List| %d messages\n", static_cast<int>(paths.size()));
  for (const std::string& p : paths) {
    CallError e2;
    sd_bus_message* got = nullptr;
    r = sd_bus_call_method(bus_, kMmService, p.c_str(), kProperties, "GetAll", &e2.e, &got, "s", kSmsInterface);
    Message keep(got);
    // A message deleted meanwhile (by another program) is no longer there: left out.
    if (r < 0 && sd_bus_error_has_name(&e2.e, SD_BUS_ERROR_UNKNOWN_OBJECT)) continue;
    if (r < 0) return failed(r, &e2.e, "GetAll");
    MmMessage sms;
    sms.path = p;
    bool whole = false;
    if (readSms(got, sms, whole) < 0 || !whole) {
      // Not left out: it may be one of the SIM's, and a list without it would not be the SIM.
      error_ = "its message " + p + " could not be read (properties missing or not of ModemManager's types)";
      errorName_.clear();
      VORYX_LOG_IF(logging_, "mm reply |%s| unreadable\n", p.c_str());
      return false;
    }
    VORYX_LOG_IF(logging_, "mm reply |%s| storage %u state %u pdu %u |%s| |%s| |%s| data %d\n", p.c_str(),
                 sms.storage, sms.state, sms.pduType, sms.number.c_str(), sms.timestamp.c_str(), sms.text.c_str(),
                 static_cast<int>(sms.data.size()));
    out.push_back(std::move(sms));
  }
  return true;
}

bool MmMessaging::create(std::string_view number, std::string_view text, std::string& path) {
  path.clear();
  if (bus_ == nullptr) return false;
  const std::string n(number), t(text);
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &call, kMmService, modem_.object.c_str(), kMessagingInterface, "Create");
  Message callHeld(call);
  if (r >= 0) r = sd_bus_message_append(call, "a{sv}", 2, "number", "s", n.c_str(), "text", "s", t.c_str());
  CallError err;
  if (r < 0) return failed(r, &err.e, "Create");
  VORYX_LOG_IF(logging_, "mm call |Create| number |%s| text |%s|\n", n.c_str(), t.c_str());
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus_, call, 0, &err.e, &reply);
  Message held(reply);
  if (r < 0) return failed(r, &err.e, "Create");
  const char* p = nullptr;
  if (sd_bus_message_read(reply, "o", &p) < 0 || p == nullptr) {
    error_ = "ModemManager's answer to Create could not be read";
    errorName_.clear();
    return false;
  }
  path = p;
  VORYX_LOG_IF(logging_, "mm reply |Create| %s\n", path.c_str());
  return true;
}

bool MmMessaging::store(const std::string& path, MmStorage storage) {
  if (bus_ == nullptr) return false;
  CallError err;
  VORYX_LOG_IF(logging_, "mm call |Store| %s %u\n", path.c_str(), static_cast<unsigned>(storage));
  const int r = sd_bus_call_method(bus_, kMmService, path.c_str(), kSmsInterface, "Store", &err.e, nullptr, "u",
                                   static_cast<std::uint32_t>(storage));
  if (r < 0) return failed(r, &err.e, "Store");
  VORYX_LOG_IF(logging_, "mm reply |Store| %s ok\n", path.c_str());
  return true;
}

bool MmMessaging::remove(const std::string& path) {
  if (bus_ == nullptr) return false;
  CallError err;
  VORYX_LOG_IF(logging_, "mm call |Delete| %s\n", path.c_str());
  const int r = sd_bus_call_method(bus_, kMmService, modem_.object.c_str(), kMessagingInterface, "Delete", &err.e,
                                   nullptr, "o", path.c_str());
  if (r < 0) return failed(r, &err.e, "Delete");
  VORYX_LOG_IF(logging_, "mm reply |Delete| %s ok\n", path.c_str());
  return true;
}

}  // namespace voryx::modem
