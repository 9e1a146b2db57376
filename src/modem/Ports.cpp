#include "modem/Ports.h"

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "base/Text.h"

namespace voryx::modem {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// A command's reply ends at its final result code; one that keeps coming is cut off here.
constexpr milliseconds kProbeQuiet{150};
constexpr milliseconds kProbeBound{1000};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

std::vector<std::string> defaultPortPatterns() {
  return {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/wwan*at*", "/dev/modem"};
}

std::string Port::label() const {
  return target == path ? path.string() : path.string() + " -> " + target.string();
}

std::vector<Port> listPorts(const std::vector<std::string>& patterns) {
  std::vector<Port> ports;
  std::set<fs::path> seen;
  for (const std::string& pattern : patterns) {
    glob_t g{};
    if (::glob(pattern.c_str(), 0, nullptr, &g) == 0) {
      for (std::size_t i = 0; i < g.gl_pathc; ++i) {
        const fs::path path = g.gl_pathv[i];
        std::error_code ec;
        const fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path, ec) : path;
        if (ec || !fs::exists(target, ec)) continue;
        if (seen.insert(fs::canonical(target, ec)).second) ports.push_back({path, target});
      }
    }
    ::globfree(&g);
  }
  return ports;
}

std::vector<Port> candidatePorts(const DeviceChoice& choice) {
  std::vector<std::string> patterns;
  if (choice.preferred) patterns.push_back(choice.preferred->string());
  patterns.insert(patterns.end(), choice.ports.begin(), choice.ports.end());
  return listPorts(patterns);
}

std::string PortProbe::name() const {
  if (manufacturer.empty()) return model;
  if (model.empty()) return manufacturer;
  return startsWithNoCase(model, manufacturer) ? model : manufacturer + " " + model;
}

std::string PortProbe::describe() const {
  switch (failure) {
    case OpenFailure::None:
      if (!answers) return "no answer to AT";
      return name().empty() ? "answers AT" : "answers AT: " + name();
    case OpenFailure::Busy:
      return "busy: held by another program" +
             (holder ? " (PID " + std::to_string(*holder) + ")" : std::string());
    case OpenFailure::Permission:
      return "permission denied (dialout group)";
    case OpenFailure::Missing:
      return "no such device";
    case OpenFailure::NotSerial:
      return "not a serial port";
    case OpenFailure::Other:
      break;
  }
  // The channel's text names the path first: "/dev/ttyUSB0: <why>".
  const std::size_t colon = why.find(": ");
  return colon == std::string::npos ? why : why.substr(colon + 2);
}

PortProbe probePort(Channel& ch, const Port& port, const ProbeOptions& options, bool keepOpen) {
  PortProbe probe;
  probe.port = port;
  ch.setLockFolder(options.lockFolder);
  if (ch.InitConnPath(port.path, kSpeed) < 0) {
    probe.failure = ch.openFailure();
    probe.holder = ch.lockHolder();
    probe.why = ch.openError();
    return probe;
  }
  ReplyCompletion rule;
  rule.firstByte = options.wait;
  rule.quiet = kProbeQuiet;
  rule.overall = kProbeBound;
  rule.fast = true;
  ch.setCompletion(rule);
  for (int i = 0; i < options.attempts && !probe.answers && !ch.broken(); ++i) {
    probe.answers = answersAT(classify(ask(ch, "AT").raw));
  }
  if (probe.answers && options.identify) {
    const Asked manufacturer = ask(ch, "AT+CGMI");
    if (manufacturer.kind == ReplyKind::Ok) probe.manufacturer = manufacturer.text("+CGMI:");
    const Asked model = ask(ch, "AT+CGMM");
    if (model.kind == ReplyKind::Ok) probe.model = model.text("+CGMM:");
  }
  ch.setCompletion({});
  if (!probe.answers || !keepOpen) ch.CloseConn();
  return probe;
}

const ManagedModem* managedCandidate(const ManagerSurvey& survey, const std::vector<Port>& ports) {
  for (const Port& port : ports) {
    const ManagedModem* modem = survey.holding(port.path);
    if (modem != nullptr && !modem->atPorts().empty()) return modem;
  }
  return nullptr;
}

std::vector<PortProbe> scanPorts(Channel& ch, const std::vector<Port>& ports,
                                 const ProbeOptions& options, bool firstOnly) {
  std::vector<PortProbe> probes;
  for (const Port& port : ports) {
    probes.push_back(probePort(ch, port, options, firstOnly));
    if (firstOnly && probes.back().answers) break;
  }
  return probes;
}

std::string scanFailure(const std::vector<PortProbe>& probes,
                        const std::vector<std::string>& patterns) {
  if (probes.empty()) {
    std::string looked;
    for (const std::string& p : patterns) looked += (looked.empty() ? "" : ", ") + p;
    return "no serial port found (looked for " + looked +
           "); connect the modem, or give --device PATH, or --simulate";
  }
  std::string text = "no port answered AT: ";
  bool busy = false, denied = false;
  for (std::size_t i = 0; i < probes.size(); ++i) {
    text += (i == 0 ? "" : "; ") + probes[i].port.label() + " " + probes[i].describe();
    busy = busy || probes[i].failure == OpenFailure::Busy;
    denied = denied || probes[i].failure == OpenFailure::Permission;
  }
  if (busy) text += std::string(". A busy port: ") + kBusyAdvice;
  if (denied) text += std::string(". Permission denied: ") + kPermissionAdvice;
  return text;
}

std::string Asked::text(std::string_view prefix) const {
  std::string out;
  for (const std::string& line : lines) {
    std::string_view value = line;
    if (!prefix.empty() && value.starts_with(prefix)) value.remove_prefix(prefix.size());
    out += (out.empty() ? "" : ", ") + std::string(trim(value, kWhitespace));
  }
  return out;
}

Asked ask(Channel& ch, std::string_view command) {
  Asked asked;
  ch.drain();
  if (!ch.SendStrCmd(std::string(command) + "\r")) return asked;
  ch.ReadResp();
  asked.raw = ch.reply();
  const Reply r = classify(asked.raw);
  asked.kind = r.kind;
  asked.final = r.final;
  asked.errorCode = r.errorCode;
  for (std::string_view line : r.lines) {
    if (line != command) asked.lines.emplace_back(line);
  }
  return asked;
}

}  // namespace voryx::modem
