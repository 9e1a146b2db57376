#pragma once
// What the SMS write sends so that a stored text reaches the SIM unchanged. Texts that
// the agreed character set carries go in text mode (encodeMessageText); the others are
// stored in PDU mode as an SMS-SUBMIT TPDU, with GSM 7-bit data when the
// alphabet holds the text and UCS2 data otherwise. Pure functions, any thread.
#include <string>
#include <string_view>

namespace voryx::codec {

// The text cannot go in text mode under +CSCS="GSM": a character is not in the alphabet,
// or its septets hold 1A (Ctrl-Z would end the text entry early), 1B (the escape of the
// extension table: ESC cancels the entry), 08 or 7F ("ò" and "à" are the line's
// backspace and delete: the modem would take them as editing).
bool needsPduMode(std::string_view utf8Text);

// A message's number that is a sender's name ("SMART", "Vodafone"): no "+", a letter
// that is no dial pause (p, w), at most 11 characters of the GSM alphabet. It goes as an
// alphanumeric address (type 208, kAlphanumericType); text mode cannot carry one.
inline constexpr int kAlphanumericType = 0xD0;
bool isAlphanumericSender(std::string_view number);

// One SMS-SUBMIT for "AT+CMGF=0" and "AT+CMGW=<tpduLength>": no service centre (length
// byte 00), no validity period, message reference 00, PID 00. Of `number` the address
// keeps its digits, "*" and "#", at most 20 of them; `type` is 129 or 145; with type 208
// the address is the name as packed septets (isAlphanumericSender). A text the
// GSM alphabet holds goes as packed septets (DCS 00), cut to the 160 septets one message
// holds (never inside an escape pair); any other as UCS2 (DCS 08), cut to 70 UTF-16
// units, never inside a surrogate pair (longer texts are not split over several messages).
struct SubmitPdu {
  std::string hex;      // uppercase, service-centre byte included
  int tpduLength = 0;   // octets after the service-centre part
};
inline constexpr int kUcs2UnitsPerSms = 70;
inline constexpr int kSeptetsPerSms = 160;
SubmitPdu encodeSubmitPdu(std::string_view number, int type, std::string_view utf8Text);

// One SMS-DELIVER, as the SIM keeps a received message: no service centre, "no more
// messages", the sender `number` (with `type`, 208 for a name) as the originating address,
// PID 00, the text coded as encodeSubmitPdu codes it, and `timestamp`: the seven octets of
// the service centre's time stamp (semi-octets as 23.040 9.2.3.11 has them), all zero when
// it is not seven octets long. A received message whose text the user changed keeps its
// sender and its time this way.
SubmitPdu encodeDeliverPdu(std::string_view number, int type, std::string_view timestamp,
                           std::string_view utf8Text);

// How much of one message a text takes, by encodeSubmitPdu's choice of coding: septets
// when the GSM alphabet holds every character (one of the extension table takes two),
// of kSeptetsPerSms; otherwise UTF-16 units (a character outside the BMP takes two), of
// kUcs2UnitsPerSms. The text fits one message when used <= holds.
struct SmsLength {
  bool gsm = true;
  int used = 0;
  int holds = kSeptetsPerSms;
};
SmsLength smsLength(std::string_view utf8Text);

// The beginning of a text that one stored message holds, as encodeSubmitPdu cuts it: 160
// septets when the GSM alphabet holds the text (an extension character takes two, never
// cut between them), else 70 UTF-16 units (never half a surrogate pair). The text itself
// when it fits. Text mode sends no more than this either, so the row can hold exactly
// what the SIM stored.
std::string oneMessageText(std::string_view utf8Text);

}  // namespace voryx::codec
