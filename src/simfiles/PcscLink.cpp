#include "simfiles/PcscLink.h"

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <array>
#include <vector>

namespace voryx::simfiles {
namespace {

std::string pcscError(LONG rv) {
  switch (rv) {
    case SCARD_E_NO_SERVICE:
    case SCARD_E_SERVICE_STOPPED:
      return "the smart card service is not running (sudo systemctl start pcscd)";
    case SCARD_E_NO_READERS_AVAILABLE: return "no card reader is connected";
    case SCARD_E_UNKNOWN_READER: return "no such card reader";
    case SCARD_E_NO_SMARTCARD:
    case SCARD_W_REMOVED_CARD: return "no card in the reader";
    case SCARD_E_SHARING_VIOLATION: return "another program is using the card";
    // pcscd's access rules (polkit) refused this user.
    case SCARD_W_SECURITY_VIOLATION: return "pcscd does not let this user use the card reader (its polkit rules)";
    case SCARD_W_UNRESPONSIVE_CARD:
    case SCARD_W_UNPOWERED_CARD: return "the card does not answer";
    case SCARD_E_READER_UNAVAILABLE: return "the card reader went away";
    case SCARD_W_RESET_CARD: return "another program reset the card";
    default: return pcsc_stringify_error(rv);
  }
}

// The context of one use: released when it goes.
struct Context {
  SCARDCONTEXT handle = 0;
  LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle);
  ~Context() {
    if (rv == SCARD_S_SUCCESS) SCardReleaseContext(handle);
  }
};

std::vector<std::string> readerNames(SCARDCONTEXT context, LONG& rv) {
  DWORD length = 0;
  rv = SCardListReaders(context, nullptr, nullptr, &length);
  if (rv != SCARD_S_SUCCESS || length == 0) return {};
  std::string buffer(length, '\0');
  rv = SCardListReaders(context, nullptr, buffer.data(), &length);
  if (rv != SCARD_S_SUCCESS) return {};
  std::vector<std::string> names;
  for (std::size_t at = 0; at < buffer.size() && buffer[at] != '\0';) {
    const std::size_t end = buffer.find('\0', at);
    names.push_back(buffer.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

}  // namespace

struct PcscLink::Handle {
  Context context;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  std::string reader;
  std::string why;
  bool broken = false;
};

ReaderList listReaders() {
  ReaderList list;
  Context context;
  if (context.rv != SCARD_S_SUCCESS) {
    list.error = pcscError(context.rv);
    return list;
  }
  LONG rv = SCARD_S_SUCCESS;
  for (const std::string& name : readerNames(context.handle, rv)) {
    SCARD_READERSTATE state{};
    state.szReader = name.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    ReaderInfo info{name, false, {}};
    if (SCardGetStatusChange(context.handle, 0, &state, 1) == SCARD_S_SUCCESS) {
      info.cardPresent = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
      if (info.cardPresent) info.atr.assign(reinterpret_cast<const char*>(state.rgbAtr), state.cbAtr);
    }
    list.readers.push_back(std::move(info));
  }
  if (list.readers.empty()) list.error = pcscError(rv == SCARD_S_SUCCESS ? SCARD_E_NO_READERS_AVAILABLE : rv);
  return list;
}

PcscLink::PcscLink(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

std::unique_ptr<PcscLink> PcscLink::connect(const std::string& reader, ConnectFailure& failure) {
  failure = {};
  auto handle = std::make_unique<Handle>();
  if (handle->context.rv != SCARD_S_SUCCESS) {
    failure.why = pcscError(handle->context.rv);
    return nullptr;
  }
  std::string name = reader;
  if (name.empty()) {
    for (const ReaderInfo& r : listReaders().readers) {
      if (r.cardPresent) {
        name = r.name;
        break;
      }
    }
    if (name.empty()) {
      failure.why = "no card reader holds a card";
      return nullptr;
    }
  }
  // Exclusive: no other program's commands come between a write's. A card another program
  // has connected (exclusively, or shared while we ask for it alone) is refused with a
  // sharing violation.
  const LONG rv = SCardConnect(handle->context.handle, name.c_str(), SCARD_SHARE_EXCLUSIVE,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle->card, &handle->protocol);
  if (rv != SCARD_S_SUCCESS) {
    failure.why = name + ": " + pcscError(rv);
    failure.reader = name;
    failure.inUse = rv == SCARD_E_SHARING_VIOLATION;
    return nullptr;
  }
  handle->reader = name;
  return std::unique_ptr<PcscLink>(new PcscLink(std::move(handle)));
}

// The card is reset as it is let go: a PIN given for this job does not stay given for
// whatever program takes the card next. A card that went is only let go (a reset of it
// fails, and leaves some readers blind to the next card for seconds).
PcscLink::~PcscLink() { SCardDisconnect(handle_->card, handle_->broken ? SCARD_LEAVE_CARD : SCARD_RESET_CARD); }

std::optional<std::string> PcscLink::transmit(std::string_view apdu) {
  if (handle_->broken) return std::nullopt;
  std::array<unsigned char, 260> response{};
  DWORD length = response.size();
  const SCARD_IO_REQUEST* pci = handle_->protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  const LONG rv = SCardTransmit(handle_->card, pci, reinterpret_cast<const unsigned char*>(apdu.data()),
                                static_cast<DWORD>(apdu.size()), nullptr, response.data(), &length);
  if (rv != SCARD_S_SUCCESS || length < 2) {  // no status word: the card went mid-exchange
    handle_->broken = true;
    handle_->why = rv != SCARD_S_SUCCESS ? pcscError(rv) : "the card gave no answer";
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(response.data()), length);
}

bool PcscLink::t0() const { return handle_->protocol == SCARD_PROTOCOL_T0; }
std::string PcscLink::why() const { return handle_->why; }
const std::string& PcscLink::reader() const { return handle_->reader; }

}  // namespace voryx::simfiles
