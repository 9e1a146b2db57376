#pragma once
// What ModemManager's two clients here (ModemManager.cpp, MmMessaging.cpp) share of sd-bus:
// owners of a message and of a call's error, and the reading of a property's variant that
// skips a value of another type (a property of the wrong type is left as it was).
#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace voryx::modem::bus {

struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct CallError {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  CallError() = default;
  CallError(const CallError&) = delete;
  CallError& operator=(const CallError&) = delete;
  ~CallError() { sd_bus_error_free(&e); }
  bool is(const char* name) const { return sd_bus_error_has_name(&e, name) != 0; }
  // The error's message, else what the call's return value `r` names.
  std::string text(int r) const {
    return e.message != nullptr ? std::string(e.message) : std::string(std::strerror(-r));
  }
};

// The next item is a variant of exactly this signature.
inline bool variantHolds(sd_bus_message* m, std::string_view signature) {
  char type = 0;
  const char* contents = nullptr;
  return sd_bus_message_peek_type(m, &type, &contents) > 0 && type == 'v' && contents != nullptr &&
         signature == contents;
}

// A variant of a string-like type ('s', 'o') into `out`; any other is skipped.
inline int readVariant(sd_bus_message* m, std::string& out, char type = 's') {
  const char signature[2] = {type, '\0'};
  if (!variantHolds(m, signature)) return sd_bus_message_skip(m, "v");
  const char* s = nullptr;
  int r = sd_bus_message_enter_container(m, 'v', signature);
  if (r >= 0) r = sd_bus_message_read_basic(m, type, &s);
  if (r < 0) return r;
  out = s != nullptr ? s : "";
  return sd_bus_message_exit_container(m);
}

// A property map, a{sv}: `one(name)` reads (or skips) each value, the variant after its name.
// The first negative return ends the reading and is returned.
template <class F>
int readProperties(sd_bus_message* m, F&& one) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    r = sd_bus_message_read(m, "s", &key);
    if (r < 0) break;
    r = one(std::string_view(key != nullptr ? key : ""));
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  if (r >= 0) r = sd_bus_message_exit_container(m);
  return r;
}

inline int readVariant(sd_bus_message* m, std::uint32_t& out) {
  if (!variantHolds(m, "u")) return sd_bus_message_skip(m, "v");
  int r = sd_bus_message_enter_container(m, 'v', "u");
  if (r >= 0) r = sd_bus_message_read(m, "u", &out);
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace voryx::modem::bus
