#pragma once
// Numbers as SIMs and SMS PDUs hold them (swapped BCD semi-octets, F padding) and the SMS
// PDUs of 3GPP 23.040 that the store shows in PDU mode: SMS-DELIVER for received
// messages, SMS-SUBMIT for stored ones, each preceded by the service centre address.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "sim/SimCard.h"

namespace voryx::sim {

// Digits 0-9, '*', '#', and ',' or 'p' (pause, semi-octet C), '?' (wild, D). None for
// any other character. An odd count is padded with F.
std::optional<std::string> encodeBcd(std::string_view digits);
// Up to the first F nibble; ',' for C, '?' for D, nothing for E.
std::string decodeBcd(std::string_view bytes);

// A sender that is a name rather than a number ("SMART", "Vodafone"): not a dial string,
// with a letter, at most 11 characters of the GSM alphabet (ten octets of packed septets). Its address
// type is alphanumeric (TON 101, 0xD0 = 208).
bool isAlphanumericAddress(std::string_view number);
inline constexpr int kAlphanumericType = 0xD0;

// Service centre, used for every PDU the store shows.
inline constexpr std::string_view kServiceCentre = "+393359609600";

// The message as a PDU (service centre address first); the TPDU's length (what +CMGL
// and +CMGR give as <length>) is the size minus the service centre part.
// With a header, TP-UDHI is set and the user data opens with it (7-bit text then starts
// at the next septet boundary).
std::string encodeSmsPdu(const SmsRecord& message);
// The message's TP-User-Data, header included, and its TP-UDL (septets for 7-bit text,
// octets for UCS2).
std::string userData(const SmsRecord& message, std::size_t& udl);
std::size_t tpduLength(std::string_view pdu);

// A PDU as a client writes it with +CMGW in PDU mode: the service centre address first
// (unless the bytes are exactly `tpduLength` long), then an SMS-SUBMIT or SMS-DELIVER
// with 7-bit or UCS2 text (a user data header is kept in `header`). None, with `error` set, for
// anything else or anything that does not add up.
std::optional<SmsRecord> decodeSmsPdu(std::string_view pdu, std::size_t tpduLength,
                                      std::string* error = nullptr);

}  // namespace voryx::sim
