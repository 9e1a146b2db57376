#pragma once
// Parsers of the modem's replies that the transfer jobs read. Pure functions, any
// thread. Every one survives garbage: no crash, no overrun, a line that does not fit is
// skipped. Lines end in LF with an optional CR before it; NUL bytes are ordinary
// characters (a listing is never cut at one).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voryx::transfer {

// A number of a capacity reply: leading blanks skipped, the digits up to the first
// character that is not one, 0 when there are none; nothing when it does not fit an int.
std::optional<int> leadingInt(std::string_view s);

// "+CPBR: (1-250),40,14": the last location, the longest number and the longest name
// in bytes (blanks anywhere, fields after the third ignored).
struct CpbrRange {
  bool found = false;                 // "+CPBR:" and "(" present (absent: the caller uses 9999)
  std::optional<int> maxSIM;          // upper bound of the range; none when unreadable
  std::optional<int> maxNumberLen;    // second field; none when absent or unreadable
  std::optional<int> maxSIMLen;       // third field; none when absent or unreadable
};
CpbrRange parseCpbrTest(std::string_view reply);

// "+CPBS: ("SM","FD","ON")": the phonebook stores a modem offers, in its order, each once,
// in capitals; a name that is no store code (one to four letters) is skipped. Nothing
// when the reply has no such line; some modems leave out the parentheses.
std::optional<std::vector<std::string>> parseCpbsTest(std::string_view reply);

// Every "+CPBR: loc,"number",type,"name"" line of a listing is one entry, whether
// entries are separated by a blank line or by a single line break, in the order listed.
// Fields after the name are ignored; a name left out or unquoted is taken as it stands.
struct PhonebookRow {
  int location = 0;
  std::string number;        // with "+" added for type 145 when it has none
  std::string type;          // as sent ("129", "145", ...)
  std::string name;          // the name field, undecoded (decodeName)
  std::string listedNumber;  // as listed (hexadecimal under UCS2 on some modems)
};
std::vector<PhonebookRow> parseCpbrListing(std::string_view listing);

// A listed number with "+" for type 145 when it has none (never a second one).
std::string numberWithPlus(std::string_view number, std::string_view type);

// "+CPMS: 3,30,3,30,3,30": the total of the first store (the second number).
struct CpmsStore {
  bool found = false;            // "+CPMS:" present (absent: the caller uses 9999)
  std::optional<int> maxSMS;
};
CpmsStore parseCpmsRead(std::string_view reply);

// Text-mode "+CMGL:" listing. Every header line starts one message; its text runs from
// the line after the header to the next header or the final result code, without the
// line ends and blank lines that frame it (a blank line inside a text stays). The
// header is read by fields, quotes respected, in the layouts
//   index,"status","number",type
//   index,"status","number","alpha","timestamp"[,type,length]
// Unsolicited result codes right before a header or the final result are dropped.
struct SmsRow {
  int index = 0;
  std::string status;
  std::string number;  // with "+" for type 145 when it has none
  std::string text;
  std::string listedNumber;  // as listed
  std::string type;          // as listed ("145", "129", "" when the layout has none)
};
std::vector<SmsRow> parseCmglListing(std::string_view listing);

// PDU-mode "+CMGL:" listing: "index,stat,[alpha],length" and the PDU's hex on the next
// line. Rows whose header or PDU cannot be read are left out.
struct PduRow {
  int index = 0;
  int status = 0;   // 0 received unread, 1 received read, 2 stored unsent, 3 stored sent
  std::string pdu;  // hex, service centre address first
};
std::vector<PduRow> parsePduCmglListing(std::string_view listing);

// How many pieces a listing falls into when split at every blank line ("\r\n\r\n"): the
// count the debug log gives, and one progress step each.
int countPieces(std::string_view listing);

// "+CMGW: 5": the index the modem stored a message at; none when the reply lacks it.
std::optional<int> parseCmgwWrite(std::string_view reply);

// The SIM's ICCID from the reply to AT+CCID or a maker's form of it; nothing when the
// reply holds no ICCID.
std::optional<std::string> parseIccidReply(std::string_view reply);
// The IMSI from the reply to AT+CIMI ("222015550001234"); nothing when the reply holds none.
std::optional<std::string> parseCimiReply(std::string_view reply);

}  // namespace voryx::transfer
