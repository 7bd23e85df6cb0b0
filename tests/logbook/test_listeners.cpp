// Every server of the program comes back by itself: its address held by
// another program, it waits and says so; freed, it listens without anyone
// applying anything.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QUdpSocket>

#include <functional>
#include <memory>
#include <string>

#include "LogbookTestKit.h"
#include "cat/transport/untListenAddress.h"
#include "contacts/untContactListener.h"
#include "logbook/untLiveChannel.h"
#include "logbook/untTuneListener.h"
#include "net/untRigctlServer.h"

using namespace vela;
using velatest::TTableRadio;
using velatest::WaitFor;

namespace {

// One server, as the test drives it.
struct TServerUnderTest {
  std::function<bool(std::uint16_t Port)> Listen;
  std::function<bool()> Listening;
  std::function<bool()> Waiting;
  std::function<std::string()> ErrorText;
};

} // namespace

TEST(Listeners, WaitWhileTheirAddressIsTakenAndComeUpWhenItIsFree) {
  TTableRadio Radio;
  TTuneListener Tune(Radio);
  TLiveChannel Live({[] { return std::optional<TLogbookRadioState>(); }, [] { return ""; }});
  TRigctlServer Sharing(Radio);
  TContactListener Contacts;
  const struct {
    const char* Name;
    bool Udp;
    TServerUnderTest Server;
  } Rows[] = {
      {"click-to-tune",
       false,
       {[&](std::uint16_t Port) { return Tune.Listen("127.0.0.1", Port); },
        [&] { return Tune.Listening(); }, [&] { return Tune.Waiting(); },
        [&] { return Tune.ErrorText(); }}},
      {"live channel",
       false,
       {[&](std::uint16_t Port) { return Live.Listen("127.0.0.1", Port); },
        [&] { return Live.Listening(); }, [&] { return Live.Waiting(); },
        [&] { return Live.ErrorText(); }}},
      {"sharing",
       false,
       {[&](std::uint16_t Port) { return Sharing.Listen("127.0.0.1", Port); },
        [&] { return Sharing.Listening(); }, [&] { return Sharing.Waiting(); },
        [&] { return Sharing.ErrorText(); }}},
      {"contacts",
       true,
       {[&](std::uint16_t Port) { return Contacts.Start("127.0.0.1:" + std::to_string(Port)); },
        [&] { return Contacts.Listening(); }, [&] { return !Contacts.Listening(); },
        [&] { return Contacts.ErrorText(); }}},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    // Another program holds the address.
    QTcpServer TcpHolder;
    QUdpSocket UdpHolder;
    std::uint16_t Port = 0;
    if (Row.Udp) {
      ASSERT_TRUE(UdpHolder.bind(QHostAddress::LocalHost, 0, QUdpSocket::DontShareAddress));
      Port = UdpHolder.localPort();
    } else {
      std::string Error;
      ASSERT_TRUE(ListenTcp(TcpHolder, "127.0.0.1", 0, Error)) << Error;
      Port = TcpHolder.serverPort();
    }
    EXPECT_TRUE(Row.Server.Listen(Port)); // no failure: it waits
    EXPECT_FALSE(Row.Server.Listening());
    EXPECT_TRUE(Row.Server.Waiting());
    EXPECT_NE(Row.Server.ErrorText().find("trying again"), std::string::npos)
        << Row.Server.ErrorText();
    EXPECT_NE(Row.Server.ErrorText().find(std::to_string(Port)), std::string::npos)
        << Row.Server.ErrorText();
    // Freed: up by itself.
    TcpHolder.close();
    UdpHolder.close();
    EXPECT_TRUE(WaitFor([&] { return Row.Server.Listening(); }, 60000)) << Row.Server.ErrorText();
    EXPECT_TRUE(Row.Server.ErrorText().empty()) << Row.Server.ErrorText();
  }
  // An address that can never be had is a failure at once, not a wait.
  EXPECT_FALSE(Tune.Listen("shack-pc", 0));
  EXPECT_FALSE(Tune.Waiting());
}

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
