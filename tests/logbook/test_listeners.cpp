// Every server of the program comes back by itself: its address held by
// another program, it waits and says so; freed, it listens without anyone
// applying anything.
#include <gtest/gtest.h>

#include <QNetworkProxy>
#include <QTcpServer>
#include <QUdpSocket>

#include <string>

#include "LogbookTestKit.h"
#include "cat/transport/untListenAddress.h"
#include "contacts/untContactListener.h"
#include "logbook/untLiveChannel.h"
#include "logbook/untTuneListener.h"
#include "sharing/untRigctlServer.h"

using namespace vela;

namespace {

// Listen(port) while another program holds the port: a wait that names the
// port, then, the port freed, Up without a word.
template <class TListen, class TUp, class TWhy>
void ComesBack(bool Udp, TListen Listen, TUp Up, TWhy Why) {
  QTcpServer Tcp;
  QUdpSocket Datagrams;
  // As the program's own sockets: no system proxy lookup (its thread is
  // none of this test's business).
  Datagrams.setProxy(QNetworkProxy::NoProxy);
  std::string Error;
  ASSERT_TRUE(Udp ? Datagrams.bind(QHostAddress::LocalHost, 0, QUdpSocket::DontShareAddress)
                  : ListenTcp(Tcp, "127.0.0.1", 0, Error));
  const std::uint16_t Port = Udp ? Datagrams.localPort() : Tcp.serverPort();
  EXPECT_TRUE(Listen(Port)); // no failure: it waits
  EXPECT_FALSE(Up());
  EXPECT_NE(Why().find("trying again"), std::string::npos) << Why();
  EXPECT_NE(Why().find(std::to_string(Port)), std::string::npos) << Why();
  Tcp.close();
  Datagrams.close();
  EXPECT_TRUE(velatest::WaitFor(Up, 60000)) << Why();
  EXPECT_TRUE(Why().empty()) << Why();
}

} // namespace

TEST(Listeners, WaitWhileTheirAddressIsTakenAndComeUpWhenItIsFree) {
  velatest::TTableRadio Radio;
  TTuneListener Tune(Radio);
  ComesBack(
      false, [&](std::uint16_t Port) { return Tune.Listen("127.0.0.1", Port); },
      [&] { return Tune.Listening(); }, [&] { return Tune.ErrorText(); });
  TLiveChannel Live({[] { return std::optional<TLogbookRadioState>(); }, [] { return ""; }});
  ComesBack(
      false, [&](std::uint16_t Port) { return Live.Listen("127.0.0.1", Port); },
      [&] { return Live.Listening(); }, [&] { return Live.ErrorText(); });
  TRigctlServer Sharing(Radio);
  ComesBack(
      false, [&](std::uint16_t Port) { return Sharing.Listen("127.0.0.1", Port); },
      [&] { return Sharing.Listening(); }, [&] { return Sharing.ErrorText(); });
  TContactListener Contacts;
  ComesBack(
      true, [&](std::uint16_t Port) { return Contacts.Start("127.0.0.1:" + std::to_string(Port)); },
      [&] { return Contacts.Listening(); }, [&] { return Contacts.ErrorText(); });
  // An address that can never be had is a failure at once, not a wait.
  EXPECT_FALSE(Tune.Listen("shack-pc", 0));
  EXPECT_FALSE(Tune.Waiting());
}

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
