// The sharing server over real TCP connections, with a radio given by a table
// of values: conversations by table, the connection bounds, the keying rules,
// and Hamlib's own network client (rigctl -m 2) against it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>

#include <functional>

#include "common/EventWait.h"
#include "sharing/untRigctlServer.h"

using namespace vela;
using velatest::WaitFor;

namespace {

constexpr int GenerousMs = 30000;

// A radio given by plain values; set requests are recorded and shown as
// pending until the test says the radio took them.
class TTableBackend : public TRigBackend {
public:
  bool IsReady = true, IsLinkUp = true, DataMode = true, CanKey = true, Keyed = false;
  std::int64_t Hz = 14074000;
  std::string RadioMode = "USB";
  std::optional<std::int64_t> PendingHz;
  std::optional<std::string> PendingMode;
  std::vector<std::string> Calls;

  bool Ready() const override { return IsReady; }
  bool LinkUp() const override { return IsLinkUp; }
  std::int64_t FrequencyHz() const override { return Hz; }
  std::string Mode() const override { return RadioMode; }
  std::optional<std::int64_t> RequestedHz() const override { return PendingHz; }
  std::optional<std::string> RequestedMode() const override { return PendingMode; }
  bool TuneHz(std::int64_t Value) override {
    Calls.push_back("tune " + std::to_string(Value));
    if (Value > 56000000)
      return false;
    PendingHz = Value / 10 * 10;
    return true;
  }
  bool TuneMode(const std::string& Value) override {
    Calls.push_back("mode " + Value);
    if (Value == "WFM")
      return false;
    PendingMode = Value;
    return true;
  }
  bool SetPTT(bool On) override {
    Calls.push_back(On ? "ptt 1" : "ptt 0");
    if (!CanKey)
      return false;
    Keyed = On;
    return true;
  }
  bool PTT() const override { return Keyed; }
  // A radio whose line takes PTT commands at once, unless the test holds them.
  bool HoldPTT = false;
  bool PTTWritten() const override { return Keyed && !HoldPTT; }
  bool PTTUnwritten() const override { return HoldPTT; }
  bool HasDataMode() const override { return DataMode; }
  TRigctlRadioFacts Facts() const override {
    return {30000,
            56000000,
            {"LSB", "USB", "CW", "CWR", "AM", "FM", "RTTY", "PKTUSB", "PKTLSB"},
            10,
            CanKey};
  }
};

class RigctlServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Server.Listen("127.0.0.1", 0)) << Server.ErrorText();
    Server.setOnKeyedChange(MakeMethod(this, &RigctlServerTest::KeyedChange));
  }
  void KeyedChange(TObject*, bool On) { KeyedEvents.push_back(On); }

  std::unique_ptr<QTcpSocket> Connect() {
    auto Socket = std::make_unique<QTcpSocket>();
    Socket->connectToHost("127.0.0.1", Server.Port());
    EXPECT_TRUE(WaitFor([&] { return Socket->state() == QAbstractSocket::ConnectedState; }));
    return Socket;
  }
  // Sends one line and collects the answer until it holds Lines lines.
  std::string Ask(QTcpSocket& Socket, const std::string& Line, int Lines) {
    Socket.write((Line + "\n").c_str());
    std::string Answer;
    WaitFor([&] {
      Answer += Socket.readAll().toStdString();
      return std::count(Answer.begin(), Answer.end(), '\n') >= Lines ||
             Socket.state() != QAbstractSocket::ConnectedState;
    });
    return Answer;
  }
  bool WaitClosed(QTcpSocket& Socket) {
    return WaitFor([&] {
      Socket.readAll();
      return Socket.state() == QAbstractSocket::UnconnectedState;
    });
  }

  TTableBackend Backend;
  TRigctlServer Server{Backend};
  std::vector<bool> KeyedEvents;
};

TEST_F(RigctlServerTest, AnswersAConversationByTable) {
  const struct {
    const char* Line;
    const char* Answer;
  } Steps[] = {
      {"f", "14074000\n"},
      {"+f", "get_freq:\nFrequency: 14074000\nRPRT 0\n"},
      {"m", "USB\n2400\n"},
      {"v", "VFOA\n"},
      {"V VFOA", "RPRT 0\n"},
      {"V VFOB", "RPRT -11\n"},
      {"s", "0\nVFOA\n"},
      {"S 0 VFOA", "RPRT 0\n"},
      {"S 1 VFOB", "RPRT -11\n"},
      {"\\chk_vfo", "0\n"},
      {"\\get_powerstat", "1\n"},
      {"\\get_lock_mode", "0\n"},
      {"t", "0\n"},
      {"T 1", "RPRT -11\n"}, // keying not allowed
      {"\\get_level AF", "RPRT -4\n"},
      {"F", "RPRT -1\n"},
      {"F fourteen", "RPRT -1\n"},
      {"F 99000000", "RPRT -1\n"}, // out of the radio's range
      // A set is answered from the request until the radio reports it.
      {"F 14074055.000000", "RPRT 0\n"},
      {"f", "14074050\n"},
      {"M PKTUSB -1", "RPRT 0\n"},
      {"m", "PKTUSB\n3000\n"},
      {"M USB-D 0", "RPRT 0\n"}, // the data mode by another of its names
      {"M WFM 0", "RPRT -11\n"},
      {"M NOSUCH 0", "RPRT -1\n"},
      {"M USB x", "RPRT -1\n"},
  };
  auto Socket = Connect();
  for (const auto& Step : Steps) {
    const int Lines =
        static_cast<int>(std::count(Step.Answer, Step.Answer + strlen(Step.Answer), '\n'));
    EXPECT_EQ(Ask(*Socket, Step.Line, Lines), Step.Answer) << Step.Line;
  }
  EXPECT_EQ(Backend.Calls, (std::vector<std::string>{"tune 99000000", "tune 14074055",
                                                     "mode PKTUSB", "mode PKTUSB", "mode WFM"}));
  // The radio confirms; a radio without data modes refuses them.
  Backend.PendingHz.reset();
  Backend.PendingMode.reset();
  Backend.Hz = 7074000;
  Backend.DataMode = false;
  EXPECT_EQ(Ask(*Socket, "f", 1), "7074000\n");
  EXPECT_EQ(Ask(*Socket, "M PKTLSB 0", 1), "RPRT -11\n");
  // Before the first report there is no frequency to give.
  Backend.Hz = 0;
  EXPECT_EQ(Ask(*Socket, "+f", 2), "get_freq:\nRPRT -11\n");
  EXPECT_EQ(Ask(*Socket, "q", 1), "");
  EXPECT_TRUE(WaitClosed(*Socket));
}

TEST_F(RigctlServerTest, KeysOnlyWhenAllowedAndReleasesWhenTheKeyerGoes) {
  Server.setAllowPTT(true);
  auto Keyer = Connect();
  auto Other = Connect();
  EXPECT_EQ(Ask(*Keyer, "T 1", 1), "RPRT 0\n");
  EXPECT_EQ(Ask(*Other, "t", 1), "1\n");
  EXPECT_TRUE(Server.Keyed());
  EXPECT_EQ(Ask(*Keyer, "T 7", 1), "RPRT -1\n");
  // Another client leaving changes nothing; the keyer leaving releases.
  Other->abort();
  Keyer->write("f\n");
  EXPECT_TRUE(WaitFor([&] { return Server.ClientCount() == 1; }));
  EXPECT_TRUE(Backend.Keyed);
  Keyer->abort();
  EXPECT_TRUE(WaitFor([&] { return !Backend.Keyed; }));
  EXPECT_FALSE(Server.Keyed());
  EXPECT_EQ(KeyedEvents, (std::vector<bool>{true, false}));

  // A lost link releases too, and so does withdrawing the permission.
  auto Again = Connect();
  EXPECT_EQ(Ask(*Again, "\\set_ptt 1", 1), "RPRT 0\n");
  Backend.IsLinkUp = false;
  EXPECT_TRUE(WaitFor([&] { return !Backend.Keyed; }));
  Backend.IsLinkUp = true;
  EXPECT_EQ(Ask(*Again, "T 1", 1), "RPRT 0\n");
  Server.setAllowPTT(false);
  EXPECT_FALSE(Backend.Keyed);
  EXPECT_EQ(Ask(*Again, "T 1", 1), "RPRT -11\n");
  // Released on the radio's side (a driver restarted or replaced).
  Server.setAllowPTT(true);
  EXPECT_EQ(Ask(*Again, "T 1", 1), "RPRT 0\n");
  Backend.Keyed = false;
  EXPECT_TRUE(WaitFor([&] { return !Server.Keyed(); }));
  // A radio that cannot be keyed by command.
  Server.setAllowPTT(true);
  Backend.CanKey = false;
  EXPECT_EQ(Ask(*Again, "T 1", 1), "RPRT -11\n");
  EXPECT_FALSE(Server.Keyed());
}

// A client that asks nothing is closed after the idle limit, unless it keyed
// the transmitter (closing it would release the key behind its back).
TEST_F(RigctlServerTest, ClosesAClientThatAsksNothingUnlessItKeyed) {
  Server.setAllowPTT(true);
  Server.setIdleLimit(std::chrono::milliseconds(300));
  auto Keyer = Connect();
  EXPECT_EQ(Ask(*Keyer, "T 1", 1), "RPRT 0\n");
  auto Idle = Connect(); // asks nothing, for less long than the keyer
  EXPECT_TRUE(WaitClosed(*Idle));
  EXPECT_EQ(Keyer->state(), QAbstractSocket::ConnectedState);
  EXPECT_TRUE(Server.Keyed());
  EXPECT_EQ(Ask(*Keyer, "T 0", 1), "RPRT 0\n");
}

TEST_F(RigctlServerTest, AnswersTheRadioOnlyWhileItAnswers) {
  Server.setAllowPTT(true);
  Backend.IsLinkUp = false;
  auto Socket = Connect();
  for (const char* Line : {"f", "F 7074000", "m", "M USB 0", "t", "T 1"})
    EXPECT_EQ(Ask(*Socket, Line, 1), "RPRT -5\n") << Line;
  EXPECT_EQ(Ask(*Socket, "v", 1), "VFOA\n");
  EXPECT_TRUE(Backend.Calls.empty());
}

TEST_F(RigctlServerTest, AnswersKeyingOnceItIsOnTheLine) {
  Server.setAllowPTT(true);
  auto Socket = Connect();
  // The answer to T and to the lines after it wait for the write, in order.
  Backend.HoldPTT = true;
  Socket->write("T 1\nt\n");
  ASSERT_TRUE(WaitFor([&] { return Backend.Keyed; }));
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(Socket->readAll().toStdString(), "");
  Backend.HoldPTT = false;
  std::string Answer;
  EXPECT_TRUE(WaitFor([&] {
    Answer += Socket->readAll().toStdString();
    return Answer.size() >= 9;
  }));
  EXPECT_EQ(Answer, "RPRT 0\n1\n");
  // Never written: a time-out, and the key request is taken back.
  Backend.HoldPTT = true;
  EXPECT_EQ(Ask(*Socket, "T 0", 1), "RPRT -5\n");
  EXPECT_EQ(Ask(*Socket, "T 1", 1), "RPRT -5\n");
  EXPECT_FALSE(Backend.Keyed);
  EXPECT_FALSE(Server.Keyed());
}

TEST_F(RigctlServerTest, ReleasesAfterTheTimeLimitAndWhenFreed) {
  Server.setAllowPTT(true);
  Server.setTxTimeLimit(1);
  auto Socket = Connect();
  EXPECT_EQ(Ask(*Socket, "T 1", 1), "RPRT 0\n");
  EXPECT_TRUE(WaitFor([&] { return !Backend.Keyed; }));
  EXPECT_EQ(Ask(*Socket, "t", 1), "0\n");
  Server.setTxTimeLimit(100);
  EXPECT_EQ(Ask(*Socket, "T 1", 1), "RPRT 0\n");
  {
    TTableBackend Local;
    auto Scoped = std::make_unique<TRigctlServer>(Local);
    ASSERT_TRUE(Scoped->Listen("127.0.0.1", 0));
    Scoped->setAllowPTT(true);
    QTcpSocket Client;
    Client.connectToHost("127.0.0.1", Scoped->Port());
    ASSERT_TRUE(WaitFor([&] { return Client.state() == QAbstractSocket::ConnectedState; }));
    Client.write("T 1\n");
    ASSERT_TRUE(WaitFor([&] { return Local.Keyed; }));
    Scoped.reset();
    EXPECT_FALSE(Local.Keyed);
  }
}

TEST_F(RigctlServerTest, BoundsConnectionsLinesAndOutput) {
  std::vector<std::unique_ptr<QTcpSocket>> Clients;
  for (int I = 0; I < TRigctlServer::MaxClients; ++I)
    Clients.push_back(Connect());
  ASSERT_TRUE(WaitFor([&] { return Server.ClientCount() == TRigctlServer::MaxClients; }));
  QTcpSocket Extra;
  Extra.connectToHost("127.0.0.1", Server.Port());
  EXPECT_TRUE(WaitFor([&] {
    Extra.readAll();
    return Extra.state() == QAbstractSocket::UnconnectedState;
  }));
  EXPECT_EQ(Ask(*Clients.back(), "f", 1), "14074000\n");

  // A line longer than 1 KiB, whole or in pieces, closes its connection.
  Clients[0]->write(std::string(600, 'f').c_str());
  Clients[0]->write(std::string(600, 'f').c_str());
  EXPECT_TRUE(WaitClosed(*Clients[0]));
  // Binary garbage is answered as unknown, or ignored; the connection stays.
  std::string Garbage(200, '\0');
  for (std::size_t I = 0; I < Garbage.size(); ++I)
    Garbage[I] = static_cast<char>(I * 37 + 11);
  Clients[1]->write(Garbage.data(), static_cast<qint64>(Garbage.size()));
  Clients[1]->write("\n");
  EXPECT_EQ(Ask(*Clients[1], "f", 3).substr(0, 4), "RPRT");
  EXPECT_EQ(Clients[1]->state(), QAbstractSocket::ConnectedState);

  // A client that asks and never reads is closed once its answers pile up.
  std::string Flood;
  for (int I = 0; I < 2000; ++I)
    Flood += "\\dump_state\n";
  Clients[2]->setReadBufferSize(1);
  for (int I = 0; I < 20 && Clients[2]->state() == QAbstractSocket::ConnectedState; ++I) {
    Clients[2]->write(Flood.data(), static_cast<qint64>(Flood.size()));
    WaitFor([&] { return Clients[2]->bytesToWrite() == 0; }, 5000);
  }
  EXPECT_TRUE(WaitFor([&] { return Server.ClientCount() <= TRigctlServer::MaxClients - 2; }));
  EXPECT_EQ(Ask(*Clients.back(), "f", 1), "14074000\n");
}

// Hamlib's network client against the server: its start-up conversation
// (\chk_vfo, \dump_state, ...) must pass for any command to be sent.
class RigctlClientTest : public RigctlServerTest {
protected:
  void SetUp() override {
    RigctlServerTest::SetUp();
    Rigctl = QStandardPaths::findExecutable("rigctl");
    if (Rigctl.isEmpty())
      GTEST_SKIP() << "rigctl (libhamlib-utils) is not installed";
  }
  // Runs rigctl -m 2 with Args (or "-" with Input on standard input).
  std::string Run(const QStringList& Args, const std::string& Input = {}) {
    QProcess P;
    P.setProcessChannelMode(QProcess::SeparateChannels);
    P.start(Rigctl,
            QStringList{"-m", "2", "-r", QString("127.0.0.1:%1").arg(Server.Port())} + Args);
    EXPECT_TRUE(P.waitForStarted(GenerousMs));
    P.write(Input.c_str());
    P.closeWriteChannel();
    WaitFor([&] { return P.state() == QProcess::NotRunning; });
    return P.readAllStandardOutput().toStdString();
  }
  QString Rigctl;
};

TEST_F(RigctlClientTest, HamlibClientReadsAndSets) {
  EXPECT_EQ(Run({"f"}), "14074000\n");
  EXPECT_EQ(Run({"m"}), "USB\n2400\n");
  // The set value read back at once is the radio's, at its resolution.
  EXPECT_EQ(Run({"F", "7074055", "f"}), "7074050\n");
  EXPECT_EQ(Backend.Calls.back(), "tune 7074055");
  Run({"M", "PKTUSB", "-1"});
  EXPECT_EQ(Backend.Calls.back(), "mode PKTUSB");
  EXPECT_EQ(Server.ClientCount(), 0);
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
