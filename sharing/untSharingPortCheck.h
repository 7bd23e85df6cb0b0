// Whether the sharing server may listen on a port while the radio is the one
// behind rigctld. The rigctld radio is polled at a host and port (by default
// localhost:4532, the port Hamlib's clients expect of a sharing server too):
// sharing on that very port of this computer either fails to listen (the
// daemon has it) or makes the radio poll the program's own server.
#pragma once

#include <cstdint>
#include <string>

#include "settings/untVelaLogSettings.h"

namespace vela {

// Empty when the sharing server may listen on SharingPort; otherwise the
// reason, for the operator. Only the rigctld radio (Radio rtRigctld, at
// RigctldAddress "host:port") can collide, and only when its host is this
// computer: a loopback address, "localhost", this computer's name or one of
// its addresses. Port 0 (any free port) never collides; an address that does
// not parse is the radio's own error, not the sharing's.
std::string SharingPortConflict(std::int32_t SharingPort, TRadioType Radio,
                                const std::string& RigctldAddress);

} // namespace vela
