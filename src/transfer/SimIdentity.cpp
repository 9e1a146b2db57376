#include "transfer/SimIdentity.h"

#include "base/Localized.h"
#include "entries/DebugLog.h"
#include "transfer/Listings.h"

namespace voryx::transfer {

bool askIdentity(JobSession& s, SimIdentity& sim) {
  sim = {};
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
