#pragma once
// The support mail: the debug log, sent to the maker by a user with a problem. The message
// is built from the log as it stands, shown in the composer screen (or made by `voryx
// mail`), and leaves in two ways: as a MIME .eml file, and handed to the desktop's mail
// client (xdg-email) where there is one. Plain values and functions; any thread.
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "store/Preferences.h"

namespace voryx::entries {

// The preference that names the support address (a text the user sets by hand), and its
// default: a placeholder on the reserved .invalid domain, which no mail can reach.
inline constexpr const char* kPrefSupportAddress = "supportAddress";
inline constexpr const char* kDefaultSupportAddress = "support@voryx.invalid";

struct SupportMail {
  std::string to;        // one recipient
  std::string subject;   // "Voryx support (v0.1)"
  std::string htmlBody;  // HTML, as htmlFromText makes it
  std::string attachmentName = "Voryx.log";
  std::string attachmentType = "text/plain";
  std::string attachment;  // the log's bytes, as they were when the message was made
};

// The support address of the preferences, or the default.
std::string supportAddress(const Preferences& preferences);

// To `address`, subject "Voryx support (v<version>)", the HTML body that asks for a
// description, and `log` as the attachment Voryx.log.
SupportMail makeSupportMail(std::string address, std::string log);

// The body a user edits is text; the message carries it as HTML. htmlFromText escapes
// & < > and makes each line break a <br>; bodyText undoes exactly that (the body of
// makeSupportMail included), for the composer and for the mail client's plain body.
std::string htmlFromText(std::string_view text);
std::string bodyText(std::string_view html);

// The message as an .eml file (RFC 5322, MIME multipart/mixed, CRLF line ends): To,
// Subject (encoded words when not ASCII), Date (`date`, UTC), the HTML body, then the
// attachment in base64 (its bytes come back exactly, whatever they are). The boundary
// occurs in no part.
std::string encodeEml(const SupportMail& mail, std::time_t date);

// A plain address as xdg-email and a mail client take it: printable ASCII without blanks,
// one @ with text on both sides, not starting with "-" (which xdg-email takes as an
// option).
bool isMailAddress(std::string_view address);

// A desktop (DISPLAY or WAYLAND_DISPLAY) and xdg-email on the PATH.
bool mailClientPresent();

// Hands the message to the desktop's mail client: the attachment is copied (0600) to
// <stateFolder>/mail/<attachmentName>, so that the mail client attaches these bytes and
// not what the log holds by the time it reads the file, then `xdg-email --utf8 --subject S
// --body B --attach COPY ADDRESS` starts detached, without a shell; B is bodyText of the
// HTML. The copy stays for the mail client, until the next message replaces it. Errors:
// NotFound (no mail client here), Invalid (not a mail address), Io (the copy or the start
// failed).
Status handToMailClient(const SupportMail& mail, const std::filesystem::path& stateFolder);

}  // namespace voryx::entries
