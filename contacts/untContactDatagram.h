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
#include <vector>

#include "contacts/untContact.h"

namespace vela {

constexpr std::size_t MaxContactDatagram = 64 * 1024;
constexpr std::uint32_t ContactDatagramMagic = 0xADBCCBDA;
// The senders log one contact per datagram; a few more allow for a sender
// that gathers what it logged while the network was away. Anything larger is
// a file's worth, for the logbook's own import, not a live feed.
constexpr std::size_t MaxContactsPerDatagram = 8;

// What the sending program last reported of its radio (type 1).
struct TStatusReport {
  std::string Id;           // the sender's id
  std::uint64_t DialHz = 0; // dial frequency
  std::string Mode;         // its own mode name, e.g. FT8
};

enum class TDatagramKind {
  dkIgnored, // a message type that carries no contact (heartbeats and the like)
  dkContacts,
  dkStatus,
  dkRefused // unreadable: Error says why
};

struct TContactDatagram {
  TDatagramKind Kind = TDatagramKind::dkIgnored;
  std::string Id; // the sender's id; empty for plain ADIF
  std::uint32_t Type = 0;
  std::vector<TContact> Contacts; // those admitted
  std::size_t Rejected = 0;       // contacts refused at the door
  TStatusReport Status;
  std::string Error;
};

TContactDatagram ReadContactDatagram(std::string_view Bytes);

// Hz as an ADIF frequency in MHz with six decimals ("7.075500"); empty for 0
// or more than 100 GHz.
std::string FrequencyMhzText(std::uint64_t Hz);

// A Julian day number as an ADIF date "YYYYMMDD"; empty outside the years
// 1900 to 9999.
std::string JulianDayDate(std::int64_t JulianDay);

} // namespace vela
