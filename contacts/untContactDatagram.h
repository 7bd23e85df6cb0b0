// Reads one UDP datagram of a digital-mode program: its binary messages
// (magic 0xADBCCBDA, schema 2 or 3, big-endian) of type 5 "contact logged",
// 12 "logged ADIF" and 1 "status", a JSON object of a program's API
// (untContactJson.h), or a plain ADIF text. Bytes in, contacts
// out: it touches no socket.
//
// Every length is checked against the datagram before it is used; a datagram
// larger than MaxContactDatagram, with a wrong magic or schema, a string that
// runs past its end, a date-time of an unknown time basis or a type 5 cut short
// is refused with a reason, and so is one that holds more than
// MaxContactsPerDatagram contacts. Other message types are ignored. Texts are
// made valid UTF-8, and each contact must pass AdmitContact: those that do
// not are left out and counted in Rejected, the last reason in Error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "contacts/untContactMessage.h"

namespace vela {

constexpr std::size_t MaxContactDatagram = 64 * 1024;
constexpr std::uint32_t ContactDatagramMagic = 0xADBCCBDA;
TContactDatagram ReadContactDatagram(std::string_view Bytes);

// A Julian day number as an ADIF date "YYYYMMDD"; empty outside the years
// 1900 to 9999.
std::string JulianDayDate(std::int64_t JulianDay);

} // namespace vela
