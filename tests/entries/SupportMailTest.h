#pragma once
// For the tests of the support mail: an .eml file as Python's email package reads it
// (another MIME parser than ours, so that a fault of the writer cannot hide behind the same
// fault in the reader), and the environment a test sets (the desktop, the PATH).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace voryx::test {

// {"to", "subject", "type", "mime", "html" (the body), "attachments": [{"type", "filename",
// "disposition", "hex"}], "defects": [...] (every part's), "boundaries" (lines that open a
// part or close the message), "crlf" (every line ends in CRLF)}; null when Python fails.
inline nlohmann::json readEml(const std::filesystem::path& file) {
  static constexpr char kScript[] = R"py(
import email, email.policy, json, sys
data = open(sys.argv[1], 'rb').read()
m = email.message_from_bytes(data, policy=email.policy.default)
defects = [str(d) for p in m.walk() for d in p.defects]
body = m.get_body(('html',))
attachments = [{'type': a.get_content_type(), 'filename': a.get_filename(),
                'disposition': a.get_content_disposition(), 'hex': a.get_payload(decode=True).hex()}
               for a in m.iter_attachments()]
delimiter = b'--' + m.get_boundary().encode()
print(json.dumps({'to': str(m['to']), 'subject': str(m['subject']), 'type': m.get_content_type(),
                  'mime': m['mime-version'], 'html': body.get_content() if body else None,
                  'attachments': attachments, 'defects': defects,
                  'boundaries': sum(1 for line in data.split(b'\r\n') if line.startswith(delimiter)),
                  'occurrences': data.count(delimiter),
                  'crlf': b'\n' not in data.replace(b'\r\n', b'') and data.endswith(b'\r\n')}))
)py";
  const std::filesystem::path script = file.parent_path() / "read-eml.py";
  if (FILE* f = std::fopen(script.c_str(), "w")) {
    std::fputs(kScript, f);
    std::fclose(f);
  }
  const std::string command = "python3 '" + script.string() + "' '" + file.string() + "'";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (::pclose(p) != 0) return nullptr;
  }
  return nlohmann::json::parse(out, nullptr, false);
}

// Bytes as lower-case hex, as the reader gives an attachment.
inline std::string hexOf(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// Sets (or, with nullptr, unsets) an environment variable until the end of the scope.
struct ScopedEnv {
  ScopedEnv(const char* variable, const char* value) : name(variable) {
    if (const char* was = std::getenv(name)) saved = was;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (saved) {
      ::setenv(name, saved->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  const char* name;
  std::optional<std::string> saved;
};

}  // namespace voryx::test
