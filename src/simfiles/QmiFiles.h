#pragma once
// The SIM's files through a modem's QMI port (/dev/cdc-wdm0) and qmi-proxy, the way
// ModemManager itself reaches the modem: any number of programs share the port through the
// proxy at once, so a transfer runs while ModemManager keeps the modem. The UIM service's
// Get File Attributes, Read Record, Write Record and Read Transparent, on the primary GW
// provisioning session; Get Card Status tells the PIN's state and the card's kind.
//
// The SIM's PIN is never given through here: a locked SIM is ModemManager's (or the phone's
// unlock screen's) to unlock, behind whose back nothing is done (unlocksHere() is false).
//
// Built with libqmi-glib (VORYX_QMI); without it open() says so. The GLib calls run on a
// main context of the object's own, iterated by the calling thread until each reply comes
// or its time is up: a silent or hung-up modem ends in a result (Removed), never a hang.
// One object per job, on the job thread only; the client id is released when it goes.
#include <chrono>
#include <memory>
#include <string>

#include "simfiles/QmiReply.h"
#include "simfiles/SimFiles.h"

namespace voryx::simfiles {

struct QmiOpenFailure {
  std::string why;
  // The proxy would not serve this user (it serves root, or the user libqmi was built
  // for): nothing was wrong with the modem.
  bool refused = false;
};

class QmiFiles : public SimFiles {
 public:
  // Opens `device` through qmi-proxy (starting the proxy when none runs, as libqmi does)
  // and allocates a UIM client. Null with `failure` set when that fails within `timeout`.
  static std::unique_ptr<QmiFiles> open(const std::string& device, QmiOpenFailure& failure,
                                        std::chrono::seconds timeout = std::chrono::seconds{10});
  // Whether this build reaches QMI modems at all.
  static bool built();
  ~QmiFiles() override;

  CardResult select(const FilePath& path, FileInfo& info) override;
  CardResult readRecord(int number, int length, std::string& bytes) override;
  CardResult updateRecord(int number, std::string_view bytes) override;
  // Ok when no PIN is wanted; WrongPin with the tries left while the SIM waits for its PIN;
  // Blocked when the PUK is wanted; Removed when no card answers.
  CardResult pinStatus() override;
  CardResult verifyPin(std::string_view pin) override;
  bool usim() override;
  std::string describe() const override;
  bool unlocksHere() const override { return false; }
  // Why the modem stopped answering (for the alert), once it did.
  const std::string& why() const { return why_; }
  // The card status said no SIM is there (pinStatus answered Removed for it).
  bool noSim() const { return noSim_; }

 protected:
  CardResult readBinaryPart(int offset, int length, std::string& part) override;

 private:
  struct Impl;
  explicit QmiFiles(std::unique_ptr<Impl> impl);
  CardResult exchange(std::uint16_t message, const std::string& tlvs, QmiReply& reply);
  CardResult fileRequest(std::uint16_t message, const std::string& extra, QmiReply& reply);
  std::unique_ptr<Impl> impl_;
  std::string device_;
  std::string why_;
  bool gone_ = false;
  bool noSim_ = false;
  std::optional<bool> usim_;
};

}  // namespace voryx::simfiles
