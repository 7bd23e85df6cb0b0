// The listener on real UDP sockets on 127.0.0.1: a contact sent as type 5
// and again as type 12 reaches every consumer once, status reports give the
// recent mode, unreadable datagrams are counted, a port held by another
// program fails with a hint; and the listening addresses by table.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QNetworkProxyFactory>
#include <QUdpSocket>
#include <QVariant>

#include <functional>

#include "common/ContactDatagrams.h"
#include "common/EventWait.h"
#include "contacts/untContactListener.h"

using namespace vela;
using namespace vela::test;

namespace {

using velatest::WaitFor;

void Send(std::uint16_t Port, const std::string& Bytes) {
  QUdpSocket Sender;
  Sender.writeDatagram(Bytes.data(), static_cast<qint64>(Bytes.size()),
                       QHostAddress(QHostAddress::LocalHost), Port);
}

TEST(ContactListener, EachContactReachesEveryConsumerOnce) {
  TContactListener Listener;
  ASSERT_TRUE(Listener.Start("127.0.0.1:0")) << Listener.ErrorText();
  std::vector<std::string> First, Second;
  Listener.AddContactConsumer([&](const TContact& C, const std::string& Record) {
    First.push_back(C.Field("call"));
    EXPECT_TRUE(Record.ends_with("<eor>"));
    EXPECT_EQ(Record.find("<eoh>"), std::string::npos);
  });
  const int Id = Listener.AddContactConsumer(
      [&](const TContact& C, const std::string&) { Second.push_back(C.Field("call")); });

  Send(Listener.Port(), ContactLogged("DL1ABC"));
  Send(Listener.Port(), LoggedAdif("DL1ABC"));
  Send(Listener.Port(), TDatagramBuilder(0).U32(3).Data()); // a heartbeat
  Send(Listener.Port(), "garbage");
  Send(Listener.Port(), ContactLogged("G4XYZ"));
  ASSERT_TRUE(WaitFor([&] { return First.size() >= 2 && Listener.Unreadable() >= 1; }));
  EXPECT_EQ(First, (std::vector<std::string>{"DL1ABC", "G4XYZ"}));
  EXPECT_EQ(Second, First);
  EXPECT_EQ(Listener.Unreadable(), 1u);
  EXPECT_NE(Listener.Problem().find("wrong magic"), std::string::npos);

  Listener.RemoveConsumer(Id);
  Send(Listener.Port(), ContactLogged("K9ZZZ"));
  ASSERT_TRUE(WaitFor([&] { return First.size() == 3; }));
  EXPECT_EQ(Second.size(), 2u);
}

// Bursts of decodes with status reports between them, each far larger than
// the socket's buffer (the kernel drops the rest): the listener reads on,
// and the contact sent after each burst arrives.
TEST(ContactListener, ReadsOnAfterBurstsLargerThanTheSocketBuffer) {
  TContactListener Listener;
  ASSERT_TRUE(Listener.Start("127.0.0.1:0")) << Listener.ErrorText();
  std::vector<std::string> Calls;
  Listener.AddContactConsumer(
      [&](const TContact& C, const std::string&) { Calls.push_back(C.Field("call")); });
  QUdpSocket Sender;
  const QHostAddress To(QHostAddress::LocalHost);
  const std::string Decode =
      TDatagramBuilder(2).Raw(std::string(160, 'd')).Data(); // a decode: ignored
  const std::string Status = TDatagramBuilder(1).U64(14074000).Text("FT8").Data();
  const char* const Rounds[] = {"K1AAA", "K2BBB", "K3CCC"};
  for (const char* Call : Rounds) {
    for (int I = 0; I < 3000; ++I) {
      const std::string& Bytes = I % 20 == 19 ? Status : Decode;
      Sender.writeDatagram(Bytes.data(), static_cast<qint64>(Bytes.size()), To, Listener.Port());
    }
    // While the socket is still full the kernel drops the contact too: it
    // is sent again (the listener drops repeats) until it arrives, which a
    // deaf listener never lets it do.
    const std::string Contact = ContactLogged(Call);
    ASSERT_TRUE(WaitFor([&] {
      Sender.writeDatagram(Contact.data(), static_cast<qint64>(Contact.size()), To,
                           Listener.Port());
      QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
      return !Calls.empty() && Calls.back() == Call;
    })) << "deaf after a burst; counts: "
        << Listener.CountsText();
  }
  EXPECT_EQ(Calls, (std::vector<std::string>{"K1AAA", "K2BBB", "K3CCC"}));
  EXPECT_EQ(Listener.Counts().Unreadable, 0u);
  EXPECT_GE(Listener.Counts().Read, Listener.Counts().Ignored + 3);
}

// A burst far beyond the socket's buffer while the listener does not read:
// every datagram sent is either read or counted as dropped by the system.
TEST(ContactListener, CountsWhatTheSystemDropped) {
  TContactListener Listener;
  ASSERT_TRUE(Listener.Start("127.0.0.1:0")) << Listener.ErrorText();
  EXPECT_GT(Listener.ReceiveBuffer(), 0);
  QUdpSocket Sender;
  const QHostAddress To(QHostAddress::LocalHost);
  const std::string Decode = TDatagramBuilder(2).Raw(std::string(1000, 'd')).Data();
  std::uint64_t Sent = 0;
  // Far more than the largest buffer the listener can have been granted.
  const std::uint64_t Bytes =
      4ull * static_cast<std::uint64_t>(Listener.ReceiveBuffer()) + (1 << 24);
  for (std::uint64_t I = 0; I * Decode.size() < Bytes; ++I)
    if (Sender.writeDatagram(Decode.data(), static_cast<qint64>(Decode.size()), To,
                             Listener.Port()) > 0)
      ++Sent;
  ASSERT_TRUE(WaitFor([&] {
    Listener.CountDropped();
    return Listener.Counts().Read + Listener.Counts().Dropped >= Sent;
  })) << Listener.CountsText()
      << "; sent " << Sent;
  EXPECT_EQ(Listener.Counts().Read + Listener.Counts().Dropped, Sent) << Listener.CountsText();
  EXPECT_GT(Listener.Counts().Dropped, 0u) << Listener.CountsText();
  EXPECT_NE(Listener.CountsText().find("dropped " + std::to_string(Listener.Counts().Dropped)),
            std::string::npos);
}

TEST(ContactListener, StatusReportsGiveTheRecentMode) {
  TContactListener Listener;
  ASSERT_TRUE(Listener.Start("0")) << Listener.ErrorText();
  EXPECT_EQ(Listener.RecentMode(), "");
  std::string Seen;
  Listener.AddStatusConsumer([&](const TStatusReport& S) { Seen = S.Mode; });
  Send(Listener.Port(), TDatagramBuilder(1).U64(7074000).Text("FT4").Data());
  ASSERT_TRUE(WaitFor([&] { return !Seen.empty(); }));
  EXPECT_EQ(Seen, "FT4");
  EXPECT_EQ(Listener.RecentMode(), "FT4");
  EXPECT_EQ(Listener.RecentMode(std::chrono::seconds(-1)), "");
  EXPECT_EQ(Listener.LastStatus()->DialHz, 7074000u);
}

TEST(ContactListener, ContactWithoutTimeOnGetsTheClocksTime) {
  TContactListener Listener;
  Listener.setClock([] { return std::make_pair(std::string("20261208"), std::string("011500")); });
  TContact Got;
  Listener.AddContactConsumer([&](const TContact& C, const std::string&) { Got = C; });
  Listener.Receive(ContactLoggedHead("DL1ABC", 7075500).Data());
  EXPECT_EQ(Got.Field("qso_date"), "20261208");
  EXPECT_EQ(Got.Field("time_on"), "011500");
}

// It waits with the hint (and is up by itself once the port is free: the
// listeners' table in the logbook tests).
TEST(ContactListener, APortHeldByAnotherProgramWaitsWithAHint) {
  QUdpSocket Other;
  ASSERT_TRUE(Other.bind(QHostAddress(QHostAddress::LocalHost), 0));
  TContactListener Listener;
  EXPECT_TRUE(Listener.Start("127.0.0.1:" + std::to_string(Other.localPort())));
  EXPECT_FALSE(Listener.Listening());
  EXPECT_NE(Listener.ErrorText().find("trying again"), std::string::npos) << Listener.ErrorText();
  EXPECT_NE(Listener.ErrorText().find("taken by another program"), std::string::npos)
      << Listener.ErrorText();
  EXPECT_NE(Listener.ErrorText().find("multicast"), std::string::npos);
}

TEST(ContactListener, AMulticastGroupIsShared) {
  TContactListener One, Two;
  if (!One.Start("239.255.18.7:0"))
    GTEST_SKIP() << "no multicast here: " << One.ErrorText();
  ASSERT_TRUE(Two.Start("239.255.18.7:" + std::to_string(One.Port()))) << Two.ErrorText();
  int Count = 0;
  for (TContactListener* L : {&One, &Two})
    L->AddContactConsumer([&](const TContact&, const std::string&) { ++Count; });
  QUdpSocket Sender;
  Sender.setSocketOption(QAbstractSocket::MulticastLoopbackOption, QVariant(1));
  // The group is joined on the loopback interface: the sender sends there.
  Sender.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
  for (const QNetworkInterface& Interface : QNetworkInterface::allInterfaces())
    if (Interface.flags().testFlag(QNetworkInterface::IsLoopBack))
      Sender.setMulticastInterface(Interface);
  const std::string Bytes = ContactLogged("DL1ABC");
  Sender.writeDatagram(Bytes.data(), static_cast<qint64>(Bytes.size()),
                       QHostAddress(QStringLiteral("239.255.18.7")), One.Port());
  if (!WaitFor([&] { return Count == 2; }))
    GTEST_SKIP() << "multicast datagrams do not loop back here";
  EXPECT_EQ(Count, 2);
}

TEST(ContactListener, AMulticastGroupOnAnInterfaceThatIsNotThereFails) {
  TContactListener Listener;
  Listener.setInterface("no-such-if0");
  EXPECT_FALSE(Listener.Start("239.255.18.7:0"));
  EXPECT_NE(Listener.ErrorText().find("no-such-if0"), std::string::npos) << Listener.ErrorText();
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  // The test's own senders go straight to 127.0.0.1: no system proxy
  // lookup (and its helper thread) for them.
  QNetworkProxyFactory::setUseSystemConfiguration(false);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
