#include "cat/transport/untHostPort.h"

#include <algorithm>

#include "platform/untStrToInt.h"
#include "platform/untText.h"

namespace vela {

namespace {

bool IsHostChar(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '.' ||
         C == '-' || C == '_';
}

bool IsV6Char(char C) {
  return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F') || C == ':' ||
         C == '.';
}

// An IPv6 literal: hex digits, colons and dots, then an optional "%zone".
bool IsV6Literal(std::string_view Text) {
  const std::size_t Zone = Text.find('%');
  const std::string_view Address = Text.substr(0, Zone);
  if (Address.find(':') == std::string_view::npos)
    return false;
  if (!std::all_of(Address.begin(), Address.end(), IsV6Char))
    return false;
  if (Zone == std::string_view::npos)
    return true;
  const std::string_view Name = Text.substr(Zone + 1);
  return !Name.empty() && std::all_of(Name.begin(), Name.end(), IsHostChar);
}

} // namespace

THostPortSplit SplitHostPort(std::string_view Text, THostPortParts& Parts) {
  Parts = {};
  Parts.Host = Text;
  if (!Text.empty() && Text.front() == '[') {
    const std::size_t Close = Text.find(']');
    if (Close == std::string_view::npos)
      return THostPortSplit::hsNoCloseBracket;
    Parts.Bracketed = true;
    Parts.Host = Text.substr(1, Close - 1);
    const std::string_view Rest = Text.substr(Close + 1);
    if (Rest.empty())
      return THostPortSplit::hsOk;
    if (Rest.front() != ':')
      return THostPortSplit::hsJunkAfterBracket;
    Parts.Port = Rest.substr(1);
    Parts.HasPort = true;
  } else if (std::count(Text.begin(), Text.end(), ':') == 1) {
    const std::size_t Colon = Text.find(':');
    Parts.Host = Text.substr(0, Colon);
    Parts.Port = Text.substr(Colon + 1);
    Parts.HasPort = true;
  }
  return THostPortSplit::hsOk;
}

bool ParsePortNumber(std::string_view Text, std::uint16_t& Port) {
  std::int64_t Value = 0;
  if (!TryDigitsToInt(Text, 5, Value) || Value > 65535)
    return false;
  Port = static_cast<std::uint16_t>(Value);
  return true;
}

bool ParseHostPort(std::string_view Text, std::uint16_t DefaultPort, THostPort& Address,
                   std::string& Error) {
  const std::string_view Input = Trim(Text);
  std::string Quoted = "\"";
  Quoted.append(Input).append("\"");
  if (Input.empty()) {
    Error = "no address: enter host:port, e.g. localhost:4532";
    return false;
  }
  THostPortParts Parts;
  switch (SplitHostPort(Input, Parts)) {
  case THostPortSplit::hsNoCloseBracket:
    Error = Quoted + ": missing \"]\" after the IPv6 address";
    return false;
  case THostPortSplit::hsJunkAfterBracket:
    Error = Quoted + ": expected \":port\" after \"]\"";
    return false;
  case THostPortSplit::hsOk:
    break;
  }
  if (Parts.Bracketed && !IsV6Literal(Parts.Host)) {
    Error = Quoted + ": not an IPv6 address between \"[\" and \"]\"";
    return false;
  }
  if (!Parts.Bracketed && !Parts.HasPort && Parts.Host.find(':') != std::string_view::npos &&
      !IsV6Literal(Parts.Host)) {
    Error = Quoted + ": write an IPv6 address with a port as [address]:port";
    return false;
  }
  if (Parts.Host.empty()) {
    Error = Quoted + ": no host name before the port";
    return false;
  }
  if (Parts.Host.find(':') == std::string_view::npos &&
      !std::all_of(Parts.Host.begin(), Parts.Host.end(), IsHostChar)) {
    Error = Quoted + ": not a host name (letters, digits, \".\", \"-\" only)";
    return false;
  }
  std::uint16_t Port = DefaultPort;
  if (Parts.HasPort && (!ParsePortNumber(Parts.Port, Port) || Port == 0)) {
    Error = Quoted + ": the port must be a number from 1 to 65535";
    return false;
  }
  Address.Host = std::string(Parts.Host);
  Address.Port = Port;
  return true;
}

std::string FormatHostPort(const THostPort& Address) {
  const bool V6 = Address.Host.find(':') != std::string::npos;
  return (V6 ? "[" + Address.Host + "]" : Address.Host) + ":" + std::to_string(Address.Port);
}

} // namespace vela
