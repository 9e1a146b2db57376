#pragma once
// A selected file's header, as the card answers SELECT (or the modem AT+CRSM's GET
// RESPONSE): the FCP template of a UICC (TS 102 221 §11.1.1.3, starting 62) or the GSM
// response of a SIM (TS 51.011 §9.2.1). Pure; any bytes give an answer or nothing.
#include <optional>
#include <string_view>

#include "simfiles/SimFiles.h"

namespace voryx::simfiles {

std::optional<FileInfo> parseFcp(std::string_view bytes);
std::optional<FileInfo> parseGsmResponse(std::string_view bytes);
// Either form, told apart by the first byte.
std::optional<FileInfo> parseFileHeader(std::string_view bytes);

}  // namespace voryx::simfiles
