// The message commands of the modem engine: +CPMS, +CMGF, +CSDH, +CSMP, +CSCA, +CMGL,
// +CMGR, +CMGW, +CMGD, and the text taken after the "> " prompt.
#include <algorithm>
#include <string>
#include <vector>

#include "sim/EngineParts.h"
#include "sim/ModemEngine.h"
#include "sim/AlphaId.h"
#include "sim/Gsm7.h"
#include "sim/Pdu.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

bool received(const SmsRecord& m) {
  return m.status == SmsStatus::RecUnread || m.status == SmsStatus::RecRead;
}

}  // namespace

ModemEngine::Outcome ModemEngine::messages(const AtCommand& cmd, const std::vector<AtArg>& args,
                                           Reply& reply) {
  using Form = AtCommand::Form;
  auto fail = [this](int code) {
    errorFinal_ = cmsError(code);
    return Outcome::Failed;
  };
  auto flag = [&](bool& setting, std::string_view name) {
    if (cmd.form == Form::Test) reply.info(std::string(name) + ": (0,1)");
    if (cmd.form == Form::Read) reply.info(std::string(name) + ": " + (setting ? "1" : "0"));
    if (cmd.form == Form::Set) {
      auto v = args.size() == 1 ? argInt(args[0]) : std::nullopt;
      if (!v || *v > 1) return fail(302);
      setting = *v == 1;
    }
    return Outcome::Ok;
  };
  const std::string& n = cmd.name;
  const std::string used = std::to_string(sim_.messages().size());
  const std::string total = std::to_string(sim_.smsCapacity());
  if (n == "+CMGF") {
    // A modem with text mode only refuses PDU mode (and its test lists just 1).
    if (options_.textModeOnly && cmd.form == Form::Set && cmd.args != "1") return Outcome::Failed;
    return flag(settings_.textMode, "+CMGF");
  }
  if (n == "+CSDH") return flag(settings_.showHeader, "+CSDH");
  if (n == "+CPMS") {
    if (cmd.form == Form::Test) reply.info("+CPMS: (\"SM\"),(\"SM\"),(\"SM\")");
    if (cmd.form == Form::Read)
      reply.info("+CPMS: \"SM\"," + used + "," + total + ",\"SM\"," + used + "," + total + ",\"SM\"," +
                 used + "," + total);
    if (cmd.form == Form::Set) {
      if (args.empty() || args.size() > 3) return fail(302);
      for (const auto& a : args) {
        if (upper(a.text) != "SM") return fail(302);
      }
      reply.info("+CPMS: " + used + "," + total + "," + used + "," + total + "," + used + "," + total);
    }
    return cmd.form == Form::Exec ? fail(302) : Outcome::Ok;
  }
  if (n == "+CSMP") {
    if (cmd.form == Form::Read)
      reply.info("+CSMP: " + std::to_string(settings_.smpFirstOctet) + "," +
                 std::to_string(settings_.smpValidity) + "," + std::to_string(settings_.smpPid) + "," +
                 std::to_string(settings_.smpDcs));
    if (cmd.form == Form::Set) {
      int* fields[] = {&settings_.smpFirstOctet, &settings_.smpValidity, &settings_.smpPid, &settings_.smpDcs};
      if (args.size() > 4) return fail(305);
      for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].omitted()) continue;
        auto v = argInt(args[i]);
        if (!v || *v > 255) return fail(305);
        *fields[i] = *v;
      }
    }
    return Outcome::Ok;
  }
  if (n == "+CSCA") {
    if (cmd.form == Form::Read) reply.info("+CSCA: \"" + std::string(kServiceCentre) + "\",145");
    return Outcome::Ok;
  }
  if (n == "+CMGL") {
    if (cmd.form == Form::Test) {
      reply.info(settings_.textMode
                     ? "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")"
                     : "+CMGL: (0-4)");
      return Outcome::Ok;
    }
    return cmgl(cmd, args, reply);
  }
  if (n == "+CMGR") {
    if (cmd.form == Form::Test) return Outcome::Ok;
    if (cmd.form != Form::Set) return fail(302);
    return cmgr(args, reply);
  }
  if (n == "+CMGW") {
    if (cmd.form == Form::Test || cmd.form == Form::Read) return fail(302);
    return cmgw(args, reply);
  }
  // +CMGD
  if (cmd.form == Form::Test) {
    std::string list;
    for (const auto& [index, m] : sim_.messages()) list += (list.empty() ? "" : ",") + std::to_string(index);
    reply.info("+CMGD: (" + list + "),(0-4)");
    return Outcome::Ok;
  }
  if (cmd.form != Form::Set) return fail(302);
  return cmgd(args, reply);
}

std::string ModemEngine::messageData(const SmsRecord& m) const {
  if (!m.header.empty()) {  // 27.005: with a header, the user data's octets in hexadecimal
    std::size_t udl = 0;
    return toHex(userData(m, udl));
  }
  auto text = utf8Decode(m.text).value_or(U"");
  if (m.ucs2 && settings_.charset != Charset::Utf8) return toHex(utf16Encode(text));
  return teEncode(text, settings_.charset);
}

// Text mode, 27.005 layout (type and length only with +CSDH=1):
//   +CMGL: 1,"REC READ","+393331234567",,"24/05/01,10:15:00+08",145,24<CR><LF>text
//   +CMGL: 4,"STO UNSENT","+393331234567",,,145,17<CR><LF>text
// PDU mode:
//   +CMGL: 1,1,,24<CR><LF>07919333...
std::string ModemEngine::cmglEntry(int index, const SmsRecord& m) const {
  if (!settings_.textMode) {
    const std::string pdu = encodeSmsPdu(m);
    return "+CMGL: " + std::to_string(index) + "," + std::to_string(static_cast<int>(m.status)) + ",," +
           std::to_string(tpduLength(pdu)) + "\r\n" + toHex(pdu);
  }
  std::string head = "+CMGL: " + std::to_string(index) + ",\"" + std::string(smsStatusName(m.status)) +
                     "\",\"" + numberField(m.number) + "\",," + (received(m) ? "\"" + m.timestamp + "\"" : "");
  if (settings_.showHeader) {
    auto text = utf8Decode(m.text).value_or(U"");
    const std::size_t length = m.ucs2 ? utf16Encode(text).size() : gsm7::septetCount(text).value_or(0);
    head += "," + std::to_string(numberType(m.number)) + "," + std::to_string(length);
  }
  return head + "\r\n" + messageData(m);
}

ModemEngine::Outcome ModemEngine::cmgl(const AtCommand& cmd, const std::vector<AtArg>& args,
                                       Reply& reply) {
  auto fail = [this](int code) {
    errorFinal_ = cmsError(code);
    return Outcome::Failed;
  };
  std::optional<int> wanted = static_cast<int>(SmsStatus::RecUnread);
  constexpr int kAll = 4;
  if (cmd.form == AtCommand::Form::Set) {
    if (args.size() != 1) return fail(settings_.textMode ? 305 : 304);
    if (settings_.textMode) {
      const std::string name = upper(args[0].text);
      auto status = smsStatusFromName(name);
      wanted = name == "ALL" ? std::optional<int>(kAll)
                             : status ? std::optional<int>(static_cast<int>(*status)) : std::nullopt;
    } else {
      wanted = argInt(args[0]);
    }
    if (!wanted || *wanted > kAll) return fail(settings_.textMode ? 305 : 304);
  } else if (cmd.form != AtCommand::Form::Exec) {
    return fail(302);
  }
  if (options_.faults.listingError) {
    errorFinal_ = "ERROR";
    return Outcome::Failed;
  }
  bool readNow = false;
  for (auto [index, m] : sim_.messages()) {
    if (*wanted != kAll && static_cast<int>(m.status) != *wanted) continue;
    reply.entry(cmglEntry(index, m));
    if (m.status == SmsStatus::RecUnread) {
      m.status = SmsStatus::RecRead;
      sim_.setMessage(index, m);
      readNow = true;
    }
  }
  changed_ = changed_ || readNow;
  listingTail(reply, reply.entries);
  return Outcome::Ok;
}

// +CMGR=<index>, text mode:
//   +CMGR: "REC READ","+393331234567",,"24/05/01,10:15:00+08"<CR><LF>text
ModemEngine::Outcome ModemEngine::cmgr(const std::vector<AtArg>& args, Reply& reply) {
  auto index = args.size() == 1 ? argInt(args[0]) : std::nullopt;
  if (!index || *index < 1 || *index > sim_.smsCapacity() || !sim_.message(*index)) {
    errorFinal_ = cmsError(321);
    return Outcome::Failed;
  }
  SmsRecord m = *sim_.message(*index);
  if (!settings_.textMode) {
    const std::string pdu = encodeSmsPdu(m);
    reply.info("+CMGR: " + std::to_string(static_cast<int>(m.status)) + ",," +
               std::to_string(tpduLength(pdu)) + "\r\n" + toHex(pdu));
  } else {
    std::string head = "+CMGR: \"" + std::string(smsStatusName(m.status)) + "\",\"" + m.number + "\",";
    if (received(m)) head += ",\"" + m.timestamp + "\"";
    if (settings_.showHeader) {
      auto text = utf8Decode(m.text).value_or(U"");
      const std::size_t length = m.ucs2 ? utf16Encode(text).size() : gsm7::septetCount(text).value_or(0);
      const std::string sca = ",\"" + std::string(kServiceCentre) + "\",145," + std::to_string(length);
      head += "," + std::to_string(numberType(m.number)) + (received(m) ? ",4,0," : ",1,0,") +
              (m.ucs2 ? "8" : "0") + (received(m) ? "" : ",") + sca;
    }
    reply.info(head + "\r\n" + messageData(m));
  }
  if (m.status == SmsStatus::RecUnread) {
    m.status = SmsStatus::RecRead;
    sim_.setMessage(*index, m);
    changed_ = true;
  }
  return Outcome::Ok;
}

// Text mode +CMGW[="<da>"[,<toda>[,"<stat>"]]], PDU mode +CMGW=<length>[,<stat>]; both
// answer "> " and take the text (or the PDU in hex) up to Ctrl-Z.
ModemEngine::Outcome ModemEngine::cmgw(const std::vector<AtArg>& args, Reply&) {
  auto fail = [this](int code) {
    errorFinal_ = cmsError(code);
    return Outcome::Failed;
  };
  PendingWrite write;
  if (settings_.textMode) {
    if (args.size() > 3) return fail(305);
    auto arg = [&args](std::size_t i) { return i < args.size() ? args[i] : AtArg{}; };
    int error = 0;
    auto number = checkNumber(arg(0).text, error);
    if (!number) return fail(305);
    auto type = arg(1).omitted() ? std::optional<int>(numberType(*number)) : argInt(arg(1));
    if (!type || *type < 128 || *type > 255) return fail(305);
    if ((*type & 0x70) == 0x10 && !number->empty() && number->front() != '+') number->insert(0, "+");
    auto status = arg(2).omitted() ? std::optional<SmsStatus>(SmsStatus::StoUnsent)
                                   : smsStatusFromName(upper(arg(2).text));
    if (!status) return fail(305);
    write.message.number = *number;
    write.message.status = *status;
  } else {
    std::optional<int> length;
    if (!args.empty()) length = argInt(args[0]);
    auto status = args.size() == 2 ? argInt(args[1]) : std::optional<int>(2);
    if (args.size() > 2 || !length || *length < 1 || *length > 176 || !status || *status > 3)
      return fail(304);
    write.pduLength = static_cast<std::size_t>(*length);
    write.message.status = static_cast<SmsStatus>(*status);
  }
  if (auto fault = writeFault(&write)) return *fault;
  pending_ = write;
  text_.clear();
  return Outcome::Prompt;
}

void ModemEngine::finishText(bool send, std::vector<Output>& out) {
  PendingWrite write = *pending_;
  pending_.reset();
  std::string text;
  text.swap(text_);
  log_.push_back("> " + text + (send ? "" : " <ESC>"));
  if (options_.faults.silence || write.fault == PendingWrite::Fault::Mute) return;
  auto answer = [&](const std::string& final, std::string info = {}) {
    Output o{Output::Kind::Reply, {}};
    if (!info.empty()) o.parts.push_back({(settings_.verbose ? "\r\n" : "") + info + "\r\n", false});
    o.parts.push_back({finalText(final), false});
    out.push_back(std::move(o));
  };
  if (!send) return answer("OK");
  if (write.fault == PendingWrite::Fault::Error) return answer("ERROR");
  const int badParameter = write.pduLength ? 304 : 305;
  if (text.size() > kMaxText) return answer(cmsError(badParameter));
  SmsRecord message = write.message;
  if (write.pduLength) {
    auto bytes = fromHex(text);
    auto decoded = bytes ? decodeSmsPdu(*bytes, write.pduLength) : std::nullopt;
    if (!decoded) return answer(cmsError(304));
    decoded->status = message.status;
    message = *decoded;
  } else {
    auto chars = teDecode(text, settings_.charset);
    if (!chars) return answer(cmsError(305));
    auto septets = gsm7::septetCount(*chars);
    message.ucs2 = !septets || (settings_.smpDcs & 0x0C) == 0x08;
    if (message.ucs2 ? utf16Encode(*chars).size() > 140 : *septets > 160) return answer(cmsError(305));
    message.text = utf8Encode(*chars);
  }
  auto index = sim_.addMessage(message);
  if (!index) return answer(cmsError(322));
  changed_ = true;
  answer("OK", "+CMGW: " + std::to_string(*index));
}

// +CMGD=<index>[,<delflag>]: flag 0 that index (empty is fine), 1 all read, 2 read and
// sent, 3 read, sent and unsent, 4 all.
ModemEngine::Outcome ModemEngine::cmgd(const std::vector<AtArg>& args, Reply&) {
  std::optional<int> index;
  if (!args.empty()) index = argInt(args[0]);
  auto flag = args.size() == 2 ? argInt(args[1]) : std::optional<int>(0);
  if (args.empty() || args.size() > 2 || !flag || *flag > 4 ||
      (*flag == 0 && (!index || *index < 1 || *index > sim_.smsCapacity()))) {
    errorFinal_ = cmsError(321);
    return Outcome::Failed;
  }
  if (auto fault = writeFault(nullptr)) return *fault;
  if (*flag == 0) {
    changed_ = sim_.deleteMessage(*index) || changed_;
    return Outcome::Ok;
  }
  std::vector<int> doomed;
  for (const auto& [i, m] : sim_.messages()) {
    const int s = static_cast<int>(m.status);
    const bool goes = *flag == 4 || (s == 1) || (*flag >= 2 && s == 3) || (*flag >= 3 && s == 2);
    if (goes) doomed.push_back(i);
  }
  for (int i : doomed) sim_.deleteMessage(i);
  changed_ = changed_ || !doomed.empty();
  return Outcome::Ok;
}

}  // namespace voryx::sim
