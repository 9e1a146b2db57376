#include "simfiles/QmiFiles.h"

#if VORYX_QMI
#include <libqmi-glib.h>
#endif


namespace voryx::simfiles {
namespace {

// UIM message ids.
constexpr std::uint16_t kReadTransparent = 0x0020, kReadRecord = 0x0021, kWriteRecord = 0x0023,
                        kGetFileAttributes = 0x0024, kVerifyPin = 0x0026, kGetCardStatus = 0x002F;
// QMI error codes a UIM reply may carry without a status word.
constexpr std::uint16_t kIncorrectPin = 12, kPinBlocked = 35, kPinAlwaysBlocked = 36, kFileNotFound = 80;

void le16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

std::string tlv(std::uint8_t type, std::string_view value) {
  std::string out(1, static_cast<char>(type));
  le16(out, static_cast<unsigned>(value.size()));
  out += value;
  return out;
}

// The primary GW provisioning session with no AID: the USIM (or SIM) the modem registers
// with, as ModemManager and qmicli reach its files; MF-level files are reached through it too.
const std::string kSession = tlv(0x01, std::string("\x00\x00", 2));

// A failure without a status word, judged by its QMI error code (a build without QMI has
// no replies to judge).
[[maybe_unused]] CardResult judgeError(const QmiReply& reply) {
  switch (reply.error) {
    case kIncorrectPin: return {CardOutcome::WrongPin, 0, {}, {}};
    case kPinBlocked:
    case kPinAlwaysBlocked: return {CardOutcome::Blocked, 0, 0, {}};
    case kFileNotFound: return {CardOutcome::NotFound, 0, {}, {}};
    default: return {CardOutcome::Other, 0, {}, {}};
  }
}

}  // namespace

#if VORYX_QMI

struct QmiFiles::Impl {
  GMainContext* context = g_main_context_new();
  QmiDevice* device = nullptr;
  QmiClient* client = nullptr;
  guint timeout = 10;  // seconds, each request

  ~Impl() {
    if (client) g_object_unref(client);
    if (device) g_object_unref(device);
    // Whatever is still attached (a late reply's source) goes with the context.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
  }

  // One asynchronous call, run to its end on the object's context: `start` is given the
  // callback and its data, and the call's result comes back. A guard stands behind
  // libqmi's own timeout, so that nothing waits forever even where libqmi has none: when
  // its time runs out the call is cancelled, and its (cancelled) result comes back.
  struct Wait {
    GAsyncResult* result = nullptr;
  };
  template <typename Start>
  GAsyncResult* run(Start start, GCancellable* cancel) {
    g_main_context_push_thread_default(context);
    Wait wait;
    start(+[](GObject*, GAsyncResult* res, gpointer data) {
      static_cast<Wait*>(data)->result = G_ASYNC_RESULT(g_object_ref(res));
    }, &wait);
    GSource* guard = g_timeout_source_new_seconds(timeout + 2);
    struct Guard {
      GCancellable* cancel;
    } g{cancel};
    g_source_set_callback(guard, +[](gpointer data) -> gboolean {
      g_cancellable_cancel(static_cast<Guard*>(data)->cancel);
      return G_SOURCE_REMOVE;
    }, &g, nullptr);
    g_source_attach(guard, context);
    while (wait.result == nullptr) g_main_context_iteration(context, TRUE);
    g_source_destroy(guard);
    g_source_unref(guard);
    g_main_context_pop_thread_default(context);
    return wait.result;
  }
};

namespace {
// libqmi's own warnings ("couldn't detect transport type of port", which every port that is
// no cdc-wdm node gets) stay off the user's terminal: what went wrong comes back in the
// calls' errors.
void quietLibqmi() {
  static const bool once = [] {
    g_log_set_handler("Qmi", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                      +[](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    return true;
  }();
  (void)once;
}

std::string errorText(GError* error) {
  std::string text = error ? error->message : "no answer";
  if (error) g_error_free(error);
  return text;
}
}  // namespace

bool QmiFiles::built() { return true; }

QmiFiles::QmiFiles(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<QmiFiles> QmiFiles::open(const std::string& device, QmiOpenFailure& failure,
                                         std::chrono::seconds timeout) {
  quietLibqmi();
  auto impl = std::make_unique<Impl>();
  impl->timeout = static_cast<guint>(std::max<long long>(1, timeout.count()));
  GCancellable* cancel = g_cancellable_new();
  GError* error = nullptr;
  GFile* file = g_file_new_for_path(device.c_str());
  GAsyncResult* res = impl->run([&](GAsyncReadyCallback cb, gpointer data) { qmi_device_new(file, cancel, cb, data); }, cancel);
  impl->device = qmi_device_new_finish(res, &error);
  g_object_unref(res);
  g_object_unref(file);
  if (impl->device != nullptr) {
    // Through the proxy, and QMI whatever the port looks like (no MBIM, no guess by the
    // driver): as qmicli's --device-open-proxy --device-open-qmi.
    res = impl->run([&](GAsyncReadyCallback cb, gpointer data) {
      qmi_device_open(impl->device, QMI_DEVICE_OPEN_FLAGS_PROXY, impl->timeout, cancel, cb, data);
    }, cancel);
    const bool opened = qmi_device_open_finish(impl->device, res, &error);
    g_object_unref(res);
    if (!opened) {
      g_object_unref(impl->device);
      impl->device = nullptr;
    }
  }
  if (impl->device != nullptr) {
    res = impl->run([&](GAsyncReadyCallback cb, gpointer data) {
      qmi_device_allocate_client(impl->device, QMI_SERVICE_UIM, QMI_CID_NONE, impl->timeout, cancel, cb, data);
    }, cancel);
    impl->client = qmi_device_allocate_client_finish(impl->device, res, &error);
    g_object_unref(res);
  }
  g_object_unref(cancel);
  if (impl->client == nullptr) {
    // The proxy refuses a user it does not serve by dropping the connection at once
    // ("endpoint hangup" as the device opens).
    const bool proxyError = error != nullptr && (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED) ||
                                                 g_error_matches(error, G_IO_ERROR, G_IO_ERROR_BROKEN_PIPE) ||
                                                 g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED) ||
                                                 std::string(error->message).find("proxy") != std::string::npos ||
                                                 std::string(error->message).find("hangup") != std::string::npos);
    failure.why = errorText(error);
    failure.refused = proxyError && geteuid() != 0;
    return nullptr;
  }
  std::unique_ptr<QmiFiles> files(new QmiFiles(std::move(impl)));
  files->device_ = device;
  return files;
}

QmiFiles::~QmiFiles() {
  if (!impl_->device) return;
  if (impl_->client && !gone_) {
    GCancellable* cancel = g_cancellable_new();
    GAsyncResult* res = impl_->run([&](GAsyncReadyCallback cb, gpointer data) {
      qmi_device_release_client(impl_->device, impl_->client, QMI_DEVICE_RELEASE_CLIENT_FLAGS_RELEASE_CID,
                                impl_->timeout, cancel, cb, data);
    }, cancel);
    qmi_device_release_client_finish(impl_->device, res, nullptr);
    g_object_unref(res);
    g_object_unref(cancel);
  }
  GCancellable* cancel = g_cancellable_new();
  GAsyncResult* res = impl_->run([&](GAsyncReadyCallback cb, gpointer data) {
    qmi_device_close_async(impl_->device, 2, cancel, cb, data);
  }, cancel);
  qmi_device_close_finish(impl_->device, res, nullptr);
  g_object_unref(res);
  g_object_unref(cancel);
}

// One request of the UIM client and its reply, both raw: the message is built with
// libqmi's raw message API (the same path on every libqmi, Write Record included, which
// older ones have no binding for) and the reply read by parseQmiReply.
CardResult QmiFiles::exchange(std::uint16_t message, const std::string& tlvs, QmiReply& reply) {
  if (gone_) return cardRemoved();
  QmiMessage* request = qmi_message_new(QMI_SERVICE_UIM, qmi_client_get_cid(impl_->client),
                                        qmi_client_get_next_transaction_id(impl_->client), message);
  GError* error = nullptr;
  for (std::string_view rest = tlvs; rest.size() >= 3;) {
    const std::size_t n = static_cast<unsigned char>(rest[1]) | static_cast<unsigned char>(rest[2]) << 8;
    const gsize at = qmi_message_tlv_write_init(request, static_cast<guint8>(rest[0]), &error);
    for (std::size_t i = 0; i < n && error == nullptr; ++i) {
      qmi_message_tlv_write_guint8(request, static_cast<guint8>(rest[3 + i]), &error);
    }
    if (error == nullptr) qmi_message_tlv_write_complete(request, at, &error);
    if (error != nullptr) break;
    rest.remove_prefix(3 + n);
  }
  if (error != nullptr) {
    qmi_message_unref(request);
    why_ = errorText(error);  // a request too long for a QMI message
    return {CardOutcome::WrongLength, 0, {}, {}};
  }
  GCancellable* cancel = g_cancellable_new();
  GAsyncResult* res = impl_->run([&](GAsyncReadyCallback cb, gpointer data) {
    qmi_device_command_full(impl_->device, request, nullptr, impl_->timeout, cancel, cb, data);
  }, cancel);
  QmiMessage* response = qmi_device_command_full_finish(impl_->device, res, &error);
  g_object_unref(res);
  g_object_unref(cancel);
  qmi_message_unref(request);
  if (response == nullptr) {
    // A modem that does not answer in time, or a line gone: the dialogue is over.
    gone_ = true;
    why_ = errorText(error);
    return cardRemoved();
  }
  gsize length = 0;
  const guint8* raw = qmi_message_get_raw(response, &length, nullptr);
  std::optional<QmiReply> parsed =
      raw ? parseQmiReply(std::string_view(reinterpret_cast<const char*>(raw), length)) : std::nullopt;
  qmi_message_unref(response);
  if (!parsed || parsed->message != message) {
    gone_ = true;
    why_ = "the modem's reply could not be read";
    return cardRemoved();
  }
  reply = std::move(*parsed);
  if (auto sw = qmiCardResult(reply)) return judgeStatus(*sw);
  return reply.success ? CardResult{CardOutcome::Ok, 0x9000, {}, {}} : judgeError(reply);
}

#else  // without libqmi-glib

struct QmiFiles::Impl {};
bool QmiFiles::built() { return false; }
QmiFiles::QmiFiles(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
QmiFiles::~QmiFiles() = default;
std::unique_ptr<QmiFiles> QmiFiles::open(const std::string&, QmiOpenFailure& failure, std::chrono::seconds) {
  failure.why = "this build of voryx has no QMI (libqmi-glib)";
  return nullptr;
}
CardResult QmiFiles::exchange(std::uint16_t, const std::string&, QmiReply&) { return cardRemoved(); }

#endif

// The file TLV: the file id, then the DFs above it from the MF as little-endian pairs.
CardResult QmiFiles::fileRequest(std::uint16_t message, const std::string& extra, QmiReply& reply) {
  if (selected_.size() < 2) return {CardOutcome::NotFound, 0, {}, {}};
  std::string file;
  le16(file, selected_.back());
  file += static_cast<char>(2 * (selected_.size() - 1));
  for (std::size_t i = 0; i + 1 < selected_.size(); ++i) le16(file, selected_[i]);
  return exchange(message, kSession + tlv(0x02, file) + extra, reply);
}

CardResult QmiFiles::select(const FilePath& path, FileInfo& info) {
  info = {};
  if (path.size() < 2 || path.size() > 6 || path.front() != kMf) return {CardOutcome::NotFound, 0, {}, {}};
  const FilePath before = selected_;
  selected_ = path;
  QmiReply reply;
  CardResult r = fileRequest(kGetFileAttributes, {}, reply);
  bool fcp = false;
  std::optional<FileInfo> attributes = r.ok() ? qmiFileAttributes(reply, &fcp) : std::nullopt;
  if (!attributes) {
    selected_ = before;
    return r.ok() ? CardResult{CardOutcome::Other, r.sw, {}, {}} : r;
  }
  info = *attributes;
  return r;
}

CardResult QmiFiles::readRecord(int number, int length, std::string& bytes) {
  bytes.clear();
  if (number < 1 || number > 255 || length < 1 || length > 255) return {CardOutcome::WrongLength, 0, {}, {}};
  std::string record;
  le16(record, static_cast<unsigned>(number));
  le16(record, static_cast<unsigned>(length));
  QmiReply reply;
  CardResult r = fileRequest(kReadRecord, tlv(0x03, record), reply);
  if (!r.ok()) return r;
  std::optional<std::string> data = qmiReadResult(reply);
  if (!data || static_cast<int>(data->size()) != length) return {CardOutcome::WrongLength, r.sw, {}, {}};
  bytes = std::move(*data);
  return r;
}

CardResult QmiFiles::updateRecord(int number, std::string_view bytes) {
  if (number < 1 || number > 255 || bytes.empty() || bytes.size() > 255) return {CardOutcome::WrongLength, 0, {}, {}};
  std::string record;
  le16(record, static_cast<unsigned>(number));
  le16(record, static_cast<unsigned>(bytes.size()));
  record += bytes;
  QmiReply reply;
  return fileRequest(kWriteRecord, tlv(0x03, record), reply);
}

CardResult QmiFiles::readBinaryPart(int offset, int length, std::string& part) {
  part.clear();
  std::string read;
  le16(read, static_cast<unsigned>(offset));
  le16(read, static_cast<unsigned>(length));
  QmiReply reply;
  CardResult r = fileRequest(kReadTransparent, tlv(0x03, read), reply);
  if (!r.ok()) return r;
  std::optional<std::string> data = qmiReadResult(reply);
  if (!data || static_cast<int>(data->size()) != length) return {CardOutcome::WrongLength, r.sw, {}, {}};
  part = std::move(*data);
  return r;
}

CardResult QmiFiles::pinStatus() {
  QmiReply reply;
  CardResult r = exchange(kGetCardStatus, {}, reply);
  if (r.outcome == CardOutcome::Removed) return r;
  const std::optional<QmiCardStatus> status = r.ok() ? qmiCardStatus(reply) : std::nullopt;
  if (!status || status->cardState != 1) {
    noSim_ = status.has_value();
    why_ = status ? "no SIM in the modem" : "the modem did not tell the card's status";
    return {CardOutcome::Removed, 0, {}, {}};
  }
  usim_ = status->applicationType == 2;
  if (status->pin1State == 4 || status->pin1State == 5 || status->applicationState == 3 ||
      status->applicationState == 5) {
    return {CardOutcome::Blocked, 0, 0, {}};
  }
  if (status->applicationState == 2 || status->pin1State == 1) {
    return {CardOutcome::WrongPin, 0, status->pin1Retries, {}};
  }
  if (status->applicationState == 7) return {CardOutcome::Ok, 0x9000, {}, {}};
  return {CardOutcome::Other, 0, {}, {}};  // detected, not yet ready, or personalization
}

CardResult QmiFiles::verifyPin(std::string_view pin) {
  if (pin.empty() || pin.size() > 8) return {CardOutcome::WrongLength, 0, {}, {}};
  std::string info{'\x01', static_cast<char>(pin.size())};
  info += pin;
  QmiReply reply;
  CardResult r = exchange(kVerifyPin, kSession + tlv(0x02, info), reply);
  auto tries = reply.tlvs.find(0x10);
  if (r.outcome == CardOutcome::WrongPin && tries != reply.tlvs.end() && tries->second.size() == 2) {
    r.triesLeft = static_cast<unsigned char>(tries->second[0]);
  }
  return r;
}

bool QmiFiles::usim() {
  if (!usim_) pinStatus();
  return usim_.value_or(false);
}

std::string QmiFiles::describe() const { return "QMI " + device_ + " through qmi-proxy"; }

}  // namespace voryx::simfiles
