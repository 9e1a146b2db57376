#pragma once
// A modem's messages through ModemManager's own Messaging interface, over the system
// D-Bus (sd-bus; the bus DBUS_SYSTEM_BUS_ADDRESS names, else the system's): the modem
// stays ModemManager's, calls and mobile data go on. Each message is an
// org.freedesktop.ModemManager1.Sms object (/org/freedesktop/ModemManager1/SMS/N) with its
// storage ("sm" is the SIM's), state and PDU type; a long message received in parts is one
// object with the joined text. A message is created (always as a message to send: an
// SMS-SUBMIT), stored to a storage, or deleted (all its parts with it).
//
// Every call and its answer go to the debug log while `logging` is on. One thread at a time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modem/ModemManager.h"

struct sd_bus;

namespace voryx::modem {

// MMSmsStorage: where a message is kept.
enum class MmStorage : std::uint32_t { Unknown = 0, Sm = 1, Me = 2, Mt = 3, Sr = 4, Bm = 5, Ta = 6 };
// MMSmsState.
enum class MmSmsState : std::uint32_t { Unknown = 0, Stored = 1, Receiving = 2, Received = 3, Sending = 4, Sent = 5 };
// MMSmsPduType (the 3GPP ones; CDMA types are 4 and up).
enum class MmPduType : std::uint32_t { Unknown = 0, Deliver = 1, Submit = 2, StatusReport = 3 };

// One Sms object's properties, as far as the SIM's messages need them.
struct MmMessage {
  std::string path;                 // "/org/freedesktop/ModemManager1/SMS/7"
  std::uint32_t storage = 0;        // MmStorage
  std::uint32_t state = 0;          // MmSmsState
  std::uint32_t pduType = 0;        // MmPduType
  std::string number, text, smsc;   // the sender (received) or recipient; the text, UTF-8
  std::string timestamp;            // ISO 8601 as ModemManager gives it; empty when none
  std::string data;                 // an 8-bit message's bytes (its Text is then empty)
};

// The object number of an Sms path ("/org/freedesktop/ModemManager1/SMS/7": 7); none for any
// other path or a number beyond int32.
std::optional<std::int32_t> smsObjectNumber(std::string_view path);
// The path of Sms object `n`.
std::string smsObjectPath(std::int32_t n);

class MmMessaging {
 public:
  explicit MmMessaging(int logging = 0) : logging_(logging) {}
  ~MmMessaging();
  MmMessaging(const MmMessaging&) = delete;
  MmMessaging& operator=(const MmMessaging&) = delete;

  // Opens the bus for `modem` (a survey's). False, and error() says why, when no bus.
  bool connect(const ManagedModem& modem);
  const ManagedModem& modem() const { return modem_; }

  // The SIM in the modem now (the modem's Sim property, read afresh): its SimIdentifier
  // (the ICCID) and Imsi. False when the call failed; a modem without a SIM ("/") gives
  // true, `present` false.
  bool simIdentity(std::string& iccid, std::string& imsi, bool& present);
  // Every message ModemManager lists for the modem, whatever its storage.
  bool list(std::vector<MmMessage>& out);
  // Creates a message to `number` holding `text`; `path` names it. It has no storage yet.
  bool create(std::string_view number, std::string_view text, std::string& path);
  // Stores a created message in `storage`.
  bool store(const std::string& path, MmStorage storage);
  // Deletes a message (from its storage too).
  bool remove(const std::string& path);

  // The last failure, for the user: ModemManager's own message, or the bus's.
  const std::string& error() const { return error_; }
  // The last failure's D-Bus error name ("" when it was no D-Bus error).
  const std::string& errorName() const { return errorName_; }
  // ModemManager is no longer on the bus (it stopped, crashed), or the bus connection broke:
  // nothing more can be asked of it.
  bool gone() const { return gone_; }

 private:
  bool failed(int r, const void* error, const char* what);

  int logging_ = 0;
  sd_bus* bus_ = nullptr;
  ManagedModem modem_;
  std::string error_, errorName_;
  bool gone_ = false;
};

}  // namespace voryx::modem
