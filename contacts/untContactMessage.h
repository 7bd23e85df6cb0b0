// What one message of a digital-mode program carries, whichever reader
// read it (the binary datagram, a JSON object, plain ADIF): its contacts,
// the sender's status, or why it was ignored or refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contacts/untContact.h"

namespace vela {

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

} // namespace vela
