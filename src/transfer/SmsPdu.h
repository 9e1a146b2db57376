#pragma once
// What the SMS write sends so that a stored text reaches the SIM unchanged. Texts that
// the GSM alphabet holds go in text mode under +CSCS="GSM" (encodeGsmText); the others
// are stored in PDU mode as an SMS-SUBMIT TPDU (3GPP 23.040) with UCS2 data. Pure
// functions, any thread.
#include <string>
#include <string_view>

namespace voryx::transfer {

// The text cannot go in text mode under +CSCS="GSM": a character is not in the alphabet,
// or its septets hold 1A (Ctrl-Z would end the text entry early) or 1B (the escape of
// the extension table: ESC cancels the entry).
bool needsPduMode(std::string_view utf8Text);

// One SMS-SUBMIT for "AT+CMGF=0" and "AT+CMGW=<tpduLength>": no service centre (length
// byte 00), no validity period, message reference 00, PID 00, DCS 08 (UCS2). Of `number`
// the address keeps its digits, "*" and "#", at most 20 of them; `type` is 129 or 145.
// The text is cut to the 70 UTF-16 units one message holds, never inside a surrogate
// pair (longer texts are not split over several messages).
struct SubmitPdu {
  std::string hex;      // uppercase, service-centre byte included
  int tpduLength = 0;   // octets after the service-centre part
};
inline constexpr int kUcs2UnitsPerSms = 70;
SubmitPdu encodeSubmitPdu(std::string_view number, int type, std::string_view utf8Text);

}  // namespace voryx::transfer
