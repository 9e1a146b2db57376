#pragma once
// The debug log: a plain text file of modem traffic and store actions that a user can
// mail to support. Each record is appended on its own (open for append, write, close),
// so a record written from a job thread and one from the main loop never interleave
// inside a line. A record that cannot be written is dropped without disturbing the
// caller. The file is created with mode 0600: it holds message texts.
#include <cstdarg>
#include <filesystem>
#include <string>

namespace voryx {

class DebugLog {
 public:
  // Where every record goes. Set once at start-up (paths of the platform mapping);
  // until then records are dropped.
  static void setPath(const std::filesystem::path& path);
  static std::filesystem::path path();

  // Appends one record formatted with printf conventions. Any thread.
  static void append(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static void appendV(const char* format, va_list args);

  // Starts logging afresh: empties the file and writes "LOG START\n". Returns false when
  // the file could not be written.
  static bool start();

  // The whole log as it stands (for the support mail); empty when there is none.
  static std::string contents();
};

// Appends a record only while logging is on (`createLog` not 0): the writers that log
// conditionally all go through this one test.
#define VORYX_LOG_IF(flag, ...)          \
  do {                                   \
    if ((flag) != 0) ::voryx::DebugLog::append(__VA_ARGS__); \
  } while (0)

}  // namespace voryx
