// Host and TCP port as an operator types them ("host:port", "[v6]:port", a
// bare IPv6 literal): the one place that splits such text and reads its port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vela {

// A host and TCP port, as typed by the operator.
struct THostPort {
  std::string Host;       // a name or an address literal, without brackets
  std::uint16_t Port = 0; // 1 to 65535
};

// The parts of a host:port text, before either part is checked. Host has no
// brackets; HasPort is true when a ":" stood before Port (which may be empty).
struct THostPortParts {
  std::string_view Host;
  std::string_view Port;
  bool HasPort = false;
  bool Bracketed = false; // the host stood between "[" and "]"
};

enum class THostPortSplit { hsOk, hsNoCloseBracket, hsJunkAfterBracket };

// Splits Text (already trimmed): "[host]" or "[host]:port"; two or more
// colons without brackets are a bare IPv6 literal with no port; else the
// text before the one colon is the host and the rest the port.
THostPortSplit SplitHostPort(std::string_view Text, THostPortParts& Parts);

// A port number of one to five decimal digits, at most 65535 (0 included:
// callers that need a listening or connecting port say which they take).
bool ParsePortNumber(std::string_view Text, std::uint16_t& Port);

// Reads "host:port", "host" (DefaultPort), "[v6-literal]:port", "[v6-literal]"
// or a bare IPv6 literal ("::1"; DefaultPort). Blanks around the text are
// ignored. False with a message for the operator in Error when the text is
// empty, the port is not a number from 1 to 65535, or the host holds
// characters no host name or address has.
bool ParseHostPort(std::string_view Text, std::uint16_t DefaultPort, THostPort& Address,
                   std::string& Error);

// "host:port", or "[v6-literal]:port".
std::string FormatHostPort(const THostPort& Address);

} // namespace vela
