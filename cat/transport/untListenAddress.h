// Where the program's own servers listen (radio sharing, contacts,
// click-to-tune): the one reading of "[host:]port" for a listener, and the
// one way to start a TCP listener or say why it could not.
//
// A listener binds one address, so its host is an IP address, never a name
// to look up; "localhost" alone is taken, as IPv4's loopback address (the
// local programs that talk to these servers use IPv4).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class QHostAddress;
class QTcpServer;

namespace vela {

struct TListenAddress {
  std::string Host = "127.0.0.1"; // an IP address, as Qt writes it ("::1")
  std::uint16_t Port = 0;         // 0: any free port
};

// Reads Host as an address to listen on; false with why in Error.
bool ReadListenHost(std::string_view Host, QHostAddress& Address, std::string& Error);

// Reads "[HOST:]PORT": "2237", "224.0.0.1:2237", "[::1]:2237",
// "localhost:54321". A port alone listens on 127.0.0.1. With a DefaultPort,
// HOST alone ("224.0.0.1", "::1", "[::1]") or with an empty port takes it;
// without, the port must be there. PORT is 0 to 65535 (0: any free). Blanks
// around the text are ignored. False with a reason in Error.
bool ParseListenAddress(std::string_view Text, std::optional<std::uint16_t> DefaultPort,
                        TListenAddress& Address, std::string& Error);

// Starts Server listening on Host and Port (0: any free); false with why in
// Error when Host is no address to listen on or the port cannot be bound.
bool ListenTcp(QTcpServer& Server, std::string_view Host, std::uint16_t Port, std::string& Error);

} // namespace vela
