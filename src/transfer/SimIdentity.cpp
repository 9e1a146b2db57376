#include "transfer/SimIdentity.h"

#include "base/Localized.h"
#include "base/DebugLog.h"
#include "transfer/Listings.h"
#include "transfer/SimRecords.h"

namespace voryx::transfer {

namespace {

// Records access: EF_ICCID (2FE2, ten bytes under the MF), readable without the PIN.
bool readIccidFile(JobSession& s, SimIdentity& sim) {
  simfiles::SimFiles& files = *s.files();
  simfiles::FileInfo info;
  simfiles::CardResult r = files.select({simfiles::kMf, simfiles::kEfIccid}, info);
  std::string bytes;
  if (r.ok()) r = files.readBinary(0, info.size > 0 && info.size < 10 ? info.size : 10, bytes);
  if (s.cardEnded(r)) return false;
  if (r.ok()) sim.iccid = decodeIccid(bytes);
  VORYX_LOG_IF(s.logging(), "sim identity |%s| (EF_ICCID %04X)\n", sim.iccid.c_str(), r.sw);
  return true;
}

}  // namespace

bool askIdentity(JobSession& s, SimIdentity& sim) {
  sim = {};
  if (s.files()) return readIccidFile(s, sim);
  if (modem::MmMessaging* mm = s.messaging()) {
    // The modem's Sim object, asked afresh: a SIM swapped since the job began shows here.
    bool present = false;
    std::string iccid, imsi;
    if (!mm->simIdentity(iccid, imsi, present)) {
      s.messagingFailed("ModemManager did not say which SIM is in the modem:");
      return false;
    }
    // In the forms the modem's own answers give, so that a list read one way is known for
    // the same SIM when it is written the other way; anything else counts as unknown.
    sim.iccid = parseIccidReply("\r\n+CCID: " + iccid + "\r\n\r\nOK\r\n").value_or("");
    sim.imsi = parseCimiReply("\r\n" + imsi + "\r\n\r\nOK\r\n").value_or("");
    VORYX_LOG_IF(s.logging(), "sim identity |%s|%s| (ModemManager)\n", sim.iccid.c_str(), sim.imsi.c_str());
    return true;
  }
  for (const char* command : {"AT+CCID\r", "AT+ICCID\r", "AT^ICCID\r", "AT+QCCID\r"}) {
    if (!s.exchange(command, true)) return false;
    if (s.answer().kind != modem::ReplyKind::Ok) continue;
    if (auto iccid = parseIccidReply(s.reply())) {
      sim.iccid = *iccid;
      break;
    }
  }
  if (!s.exchange("AT+CIMI\r", true)) return false;
  if (s.answer().kind == modem::ReplyKind::Ok) {
    if (auto imsi = parseCimiReply(s.reply())) sim.imsi = *imsi;
  }
  VORYX_LOG_IF(s.logging(), "sim identity |%s|%s|\n", sim.iccid.c_str(), sim.imsi.c_str());
  return true;
}

std::string otherSimMessage(const JobReport& report) {
  return localized("This is not the SIM the list was read from") + " (" + localized("read from") +
         " " + report.readFrom + ", " + localized("this SIM is") + " " + report.thisSim + ").";
}

}  // namespace voryx::transfer
