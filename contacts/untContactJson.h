// Reads the JSON objects a digital-mode program's API sends, one per
// datagram (or per line over TCP): {"type": "LOG.QSO", "value": "<ADIF
// fields, no <eor>>", "params": {"CALL": ..., "FREQ": hertz, "UTC.ON":
// milliseconds since the epoch (UTC), "MODE", "SUBMODE", ...}}.
//
// LOG.QSO is one contact, from its params, with the ADIF fields of its value
// filling what the params lack or carry unusable (a frequency that is no
// positive number, a time outside the years 1900 to 9999). Every other type
// (pings, station status, the text of the band activity) is ignored. Text
// that is no JSON object, nested too deep or without a type is refused.
#pragma once

#include <string_view>

#include "contacts/untContactMessage.h"

namespace vela {

// The text starts, after blanks, with "{" or "[".
bool LooksLikeJson(std::string_view Text);

// A datagram of dkContacts, dkIgnored or dkRefused, as ReadContactDatagram
// gives before the contacts are checked at the door.
TContactDatagram ReadContactJson(std::string_view Text);

} // namespace vela
