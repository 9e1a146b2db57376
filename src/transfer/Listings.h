#pragma once
// Parsers of the modem's replies that the transfer jobs read. Pure and table-tested;
// every one survives garbage (no crash, no overrun; a line that does not fit is
// skipped). (Draft interface: the parser owner completes it.)
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voryx::transfer {

// "+CPBR: (1-250),40,14": the last location and, when present, the longest name.
struct CpbrRange {
  bool found = false;                 // "+CPBR: (" present
  std::optional<int> maxSIM;          // upper bound of the range
  std::optional<int> maxSIMLen;       // third field
};
CpbrRange parseCpbrTest(std::string_view reply);

// Every "+CPBR: loc,"number",type,"namehex"" line of a listing.
struct PhonebookRow {
  int location = 0;
  std::string number;   // with "+" added for type 145 when it has none
  std::string type;     // as sent
  std::string nameHex;  // the name field, undecoded
};
std::vector<PhonebookRow> parseCpbrListing(std::string_view listing);

// "+CPMS: 3,30,3,30,...": the second number (total of the first store).
struct CpmsStore {
  bool found = false;            // "+CPMS:" present
  std::optional<int> maxSMS;
};
CpmsStore parseCpmsRead(std::string_view reply);

// Text-mode "+CMGL:" listing, header parsed by fields (quotes respected).
struct SmsRow {
  int index = 0;
  std::string status;
  std::string number;  // with "+" for type 145 when it has none
  std::string text;    // up to the next header or final result code
};
std::vector<SmsRow> parseCmglListing(std::string_view listing);

// Final result codes.
bool hasError(std::string_view reply);   // "ERROR" anywhere
bool endsWithOk(std::string_view reply); // "OK" four and three places before the end

}  // namespace voryx::transfer
