// Where the program's servers listen: "[host:]port" read one way for the
// sharing server, the contact listener and click-to-tune, and a TCP
// listener that starts or says why.
#include "cat/transport/untListenAddress.h"

#include <QHostAddress>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace vela;

namespace {

constexpr int NoDefault = -1;

struct TListenCase {
  const char* Text;
  int DefaultPort; // NoDefault: the port must be given
  bool Ok;
  const char* Host;  // when Ok
  int Port;          // when Ok
  const char* Error; // part of the reason, when refused
};

TEST(ListenAddress, AcceptedAndRefusedForms) {
  const TListenCase Cases[] = {
      // Accepted.
      {"2237", 2237, true, "127.0.0.1", 2237, ""},
      {" 224.0.0.1:2238 ", 2237, true, "224.0.0.1", 2238, ""},
      {"[::1]:2237", 2237, true, "::1", 2237, ""},
      {"::1", 2237, true, "::1", 2237, ""},
      {"[::1]", 2237, true, "::1", 2237, ""},
      {"[0:0::1]:5", NoDefault, true, "::1", 5, ""},
      {"224.0.0.1:", 2237, true, "224.0.0.1", 2237, ""},
      {"0", 2237, true, "127.0.0.1", 0, ""},
      {"54321", NoDefault, true, "127.0.0.1", 54321, ""},
      {"localhost:54321", NoDefault, true, "127.0.0.1", 54321, ""},
      {"0.0.0.0:65535", NoDefault, true, "0.0.0.0", 65535, ""},
      // Refused, with the reason.
      {"", 2237, false, "", 0, "no address to listen on"},
      {" \t", NoDefault, false, "", 0, "no address to listen on"},
      {"[::1", 2237, false, "", 0, "is not [address]:port"},
      {"[::1]x", 2237, false, "", 0, "is not [address]:port"},
      {"127.0.0.1:65536", 2237, false, "", 0, "\"65536\" is not a port from 0 to 65535"},
      {"99999", 2237, false, "", 0, "\"99999\" is not a port"},
      {"127.0.0.1:-1", NoDefault, false, "", 0, "is not a port"},
      {"1.2.3.4:", NoDefault, false, "", 0, "is not a port"},
      {"shack-pc:2237", 2237, false, "", 0, "\"shack-pc\" is not an IP address"},
      {"localhost", NoDefault, false, "", 0, "has no port"},
      {"::1", NoDefault, false, "", 0, "has no port"},
  };
  for (const TListenCase& C : Cases) {
    TListenAddress Address;
    std::string Error;
    const std::optional<std::uint16_t> Default =
        C.DefaultPort == NoDefault ? std::nullopt : std::optional<std::uint16_t>(C.DefaultPort);
    ASSERT_EQ(ParseListenAddress(C.Text, Default, Address, Error), C.Ok) << C.Text << ": " << Error;
    if (C.Ok) {
      EXPECT_EQ(Address.Host, C.Host) << C.Text;
      EXPECT_EQ(Address.Port, C.Port) << C.Text;
    } else {
      EXPECT_NE(Error.find(C.Error), std::string::npos) << C.Text << ": " << Error;
    }
  }
}

// One function starts every TCP listener: localhost is IPv4's loopback, a
// name is refused before any bind, a port in use is reported.
TEST(ListenAddress, TcpListenerStartsOrSaysWhy) {
  QTcpServer First;
  std::string Error;
  ASSERT_TRUE(ListenTcp(First, "localhost", 0, Error)) << Error;
  EXPECT_EQ(First.serverAddress(), QHostAddress(QHostAddress::LocalHost));

  QTcpServer Second;
  EXPECT_FALSE(ListenTcp(Second, "127.0.0.1", First.serverPort(), Error));
  EXPECT_FALSE(Error.empty());
  EXPECT_FALSE(Second.isListening());

  Error.clear();
  EXPECT_FALSE(ListenTcp(Second, "shack-pc", 0, Error));
  EXPECT_EQ(Error, "\"shack-pc\" is not an IP address");
  EXPECT_FALSE(Second.isListening());
}

} // namespace
