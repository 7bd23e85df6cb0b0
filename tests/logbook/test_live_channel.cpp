// The live radio channel against Qt's own WebSocket client, and raw
// handshakes where a browser's headers are needed: the state on connect, a
// change, who may listen, a client that does not read, a message too large.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LogbookTestKit.h"
#include "common/EventWait.h"
#include "logbook/untLiveChannel.h"
#include "logbook/untLogbookApi.h"

using namespace vela;
using velatest::WaitFor;

namespace {

// The radio as the channel reads it: live while State is set.
struct TLiveRig {
  std::optional<TLogbookRadioState> State = TLogbookRadioState{14074000, "USB"};
  TLiveChannel Channel{{[this] { return State; }, [] { return std::string("Shack FT-950"); }}};

  TLiveRig() {
    Channel.setOrigins({"https://log.example.org", "https://cluster.example.org"});
    EXPECT_TRUE(Channel.Listen("127.0.0.1", 0)) << Channel.ErrorText();
  }
  QUrl Url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(Channel.Port())); }
  void Set(std::int64_t Hz, const std::string& Mode) {
    State = TLogbookRadioState{Hz, Mode};
    Channel.RadioChanged();
  }
};

// A page: Qt's client, every message it gets parsed.
struct TPage {
  QWebSocket Socket;
  std::vector<QJsonObject> Messages;
  bool Closed = false;

  explicit TPage(const QUrl& Url, const QString& Origin = {}) : Socket(Origin) {
    QObject::connect(&Socket, &QWebSocket::textMessageReceived, [this](const QString& Text) {
      Messages.push_back(QJsonDocument::fromJson(Text.toUtf8()).object());
    });
    QObject::connect(&Socket, &QWebSocket::disconnected, [this] { Closed = true; });
    Socket.open(Url);
  }
  bool WaitMessages(std::size_t Count) {
    return WaitFor([&] { return Messages.size() >= Count || Closed; }) && Messages.size() >= Count;
  }
};

// A handshake as a browser (or anything else) writes it; the status line of
// the answer. The socket is left open, unread after the answer's head.
std::string Handshake(QTcpSocket& Socket, std::uint16_t Port, const std::string& Headers) {
  Socket.connectToHost(QHostAddress::LocalHost, Port);
  if (!Socket.waitForConnected(10000))
    return "no connection";
  const std::string Request = "GET / HTTP/1.1\r\n" + Headers +
                              "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                              "Sec-WebSocket-Version: 13\r\n\r\n";
  Socket.write(Request.data(), static_cast<qint64>(Request.size()));
  QByteArray Answer;
  WaitFor([&] {
    Answer += Socket.read(4096 - Answer.size());
    return Answer.contains("\r\n\r\n") || Socket.state() != QAbstractSocket::ConnectedState ||
           Answer.size() >= 4096;
  });
  return Answer.left(Answer.indexOf("\r\n")).toStdString();
}

} // namespace

TEST(LiveChannel, SendsTheStateOnConnectThenEachChangeAndNothingWhileNotLive) {
  TLiveRig Rig;
  TPage Page(Rig.Url(), QStringLiteral("https://log.example.org"));
  ASSERT_TRUE(Page.WaitMessages(2));
  EXPECT_EQ(Page.Messages[0].value("type").toString(), "welcome");
  const QJsonObject First = Page.Messages[1];
  EXPECT_EQ(First.value("type").toString(), "radio_status");
  EXPECT_EQ(First.value("radio").toString(), "Shack FT-950");
  EXPECT_EQ(First.value("frequency").toInteger(), 14074000);
  EXPECT_TRUE(First.value("frequency_rx").isNull());
  EXPECT_EQ(First.value("mode").toString(), "USB");
  EXPECT_TRUE(First.value("power").isNull());
  // Milliseconds since the epoch: the page reckons the data's age from it.
  const qint64 Now = QDateTime::currentMSecsSinceEpoch();
  EXPECT_LE(std::llabs(First.value("timestamp").toInteger() - Now), 3600 * 1000);

  Rig.Set(7074000, "USB-D");
  ASSERT_TRUE(Page.WaitMessages(3));
  EXPECT_EQ(Page.Messages[2].value("frequency").toInteger(), 7074000);
  EXPECT_EQ(Page.Messages[2].value("mode").toString(), "USB-D");
  // The same state again is no change.
  Rig.Channel.RadioChanged();
  // A page's own messages are taken and dropped.
  Page.Socket.sendTextMessage(R"({"type":"qso_logged","adif":"<call:5>K1ABC<eor>"})");
  Page.Socket.sendTextMessage(QStringLiteral("not json"));
  // Not live: nothing; live again: the state.
  Rig.State.reset();
  Rig.Channel.RadioChanged();
  Rig.Set(7074500, "USB-D");
  ASSERT_TRUE(Page.WaitMessages(4));
  EXPECT_EQ(Page.Messages[3].value("frequency").toInteger(), 7074500);
  EXPECT_EQ(Page.Messages.size(), 4u);
  EXPECT_FALSE(Page.Closed);
}

// Who may listen: each row one handshake as a browser page or a program
// writes it. HOST stands for 127.0.0.1 and the channel's port.
TEST(LiveChannel, AdmitsTheLogbooksPagesAndProgramsOnly) {
  TLiveRig Rig;
  const std::string Host = "127.0.0.1:" + std::to_string(Rig.Channel.Port());
  const struct {
    const char* Why;
    std::string Headers;
    const char* Status;
  } Rows[] = {
      {"the logbook's own page", "Host: HOST\r\nOrigin: https://log.example.org\r\n", "101"},
      {"a listed origin", "Host: localhost:PORT\r\nOrigin: https://cluster.example.org\r\n", "101"},
      {"another web site", "Host: HOST\r\nOrigin: https://evil.example.com\r\n", "403"},
      {"no Origin: a program", "Host: HOST\r\n", "101"},
      {"no Origin from a browser", "Host: HOST\r\nSec-Fetch-Site: cross-site\r\n", "403"},
      {"a name pointed at this computer",
       "Host: rebind.example.com:PORT\r\nOrigin: https://log.example.org\r\n", "403"},
      {"two Origins", "Host: HOST\r\nOrigin: https://log.example.org\r\nOrigin: x\r\n", "400"},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Why);
    std::string Headers = Row.Headers;
    for (const auto& [Mark, Value] :
         {std::pair<std::string, std::string>{"HOST", Host},
          std::pair<std::string, std::string>{"PORT", std::to_string(Rig.Channel.Port())}})
      for (std::size_t At; (At = Headers.find(Mark)) != std::string::npos;)
        Headers.replace(At, Mark.size(), Value);
    QTcpSocket Socket;
    const std::string Status = Handshake(Socket, Rig.Channel.Port(), Headers);
    EXPECT_EQ(Status.substr(0, 12), std::string("HTTP/1.1 ") + Row.Status) << Status;
    if (std::string(Row.Status) == "403") {
      EXPECT_FALSE(Rig.Channel.LastRefusal().empty());
    }
  }
  EXPECT_NE(Rig.Channel.LastRefusal().find("rebind.example.com"), std::string::npos)
      << Rig.Channel.LastRefusal();
}

TEST(LiveChannel, DropsAClientThatDoesNotReadWhileAnotherGoesOn) {
  TLiveRig Rig;
  TPage Reader(Rig.Url());
  ASSERT_TRUE(Reader.WaitMessages(2));
  // Takes nothing after its handshake, with a receive buffer as small as
  // the system allows.
  QTcpSocket Stalled;
  Stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1024);
  Stalled.setReadBufferSize(1024); // Qt takes no more from the system either
  const std::string Host = "Host: 127.0.0.1:" + std::to_string(Rig.Channel.Port()) + "\r\n";
  ASSERT_EQ(Handshake(Stalled, Rig.Channel.Port(), Host).substr(0, 12), "HTTP/1.1 101");
  ASSERT_TRUE(WaitFor([&] { return Rig.Channel.ClientCount() == 2; }));
  std::int64_t Hz = 14000000;
  const bool Dropped = WaitFor([&] {
    Rig.Set(++Hz, "CW");
    return Rig.Channel.ClientCount() == 1;
  });
  EXPECT_TRUE(Dropped);
  // The reader got the latest state and goes on getting changes.
  Rig.Set(21074000, "USB-D");
  EXPECT_TRUE(WaitFor([&] {
    return !Reader.Messages.empty() && Reader.Messages.back().value("frequency") == 21074000;
  }));
  EXPECT_FALSE(Reader.Closed);
}

TEST(LiveChannel, ClosesAConnectionThatSendsTooLargeAMessage) {
  TLiveRig Rig;
  TPage Page(Rig.Url());
  ASSERT_TRUE(Page.WaitMessages(2));
  Page.Socket.sendTextMessage(QString(TLiveChannel::MaxMessageBytes + 1, QLatin1Char('x')));
  EXPECT_TRUE(WaitFor([&] { return Page.Closed; }));
  EXPECT_TRUE(WaitFor([&] { return Rig.Channel.ClientCount() == 0; }));
  EXPECT_EQ(Page.Socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
}

// Through the logbook's API object: the page is told the radio's name and
// mode word exactly as api/radio is, and follows a reported change.
TEST(LiveChannel, TellsThePagesWhatTheLogbookIsTold) {
  auto Owned = std::make_unique<velatest::TTableRadio>();
  velatest::TTableRadio& Radio = *Owned;
  Radio.RadioMode = "PKTUSB";
  TLogbookApi Api(std::move(Owned), ::testing::TempDir() + "live-outbox.jsonl");
  TLogbookOptions Options;
  Options.Enabled = true;
  Options.RadioName = "Shack FT-950";
  Options.TuneListen = "off";
  Options.LiveListen = "127.0.0.1:0";
  ASSERT_TRUE(Api.Apply(Options)) << Api.ErrorText();
  ASSERT_TRUE(Api.Live().Listening());
  Api.NoteDigitalMode("FT8");
  TPage Page(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(Api.Live().Port())));
  ASSERT_TRUE(Page.WaitMessages(2));
  const std::optional<TLogbookRadioState> Posted = Api.Poster().CurrentState();
  ASSERT_TRUE(Posted);
  EXPECT_EQ(Page.Messages[1].value("mode").toString().toStdString(), Posted->Mode);
  EXPECT_EQ(Page.Messages[1].value("radio").toString().toStdString(), Api.Poster().PostedName());
  Radio.Hz = 10136000;
  Api.RadioChanged();
  ASSERT_TRUE(Page.WaitMessages(3));
  EXPECT_EQ(Page.Messages[2].value("frequency").toInteger(), 10136000);
  // Off: the pages are let go.
  Options.LiveListen = "off";
  ASSERT_TRUE(Api.Apply(Options));
  EXPECT_TRUE(WaitFor([&] { return Page.Closed; }));
  // Never on click-to-tune's own address, where it would wait for ever.
  QTcpServer Probe; // a port that is free
  ASSERT_TRUE(Probe.listen(QHostAddress::LocalHost, 0));
  Options.TuneListen = Options.LiveListen = "127.0.0.1:" + std::to_string(Probe.serverPort());
  Probe.close();
  EXPECT_FALSE(Api.Apply(Options));
  EXPECT_NE(Api.ErrorText().find("click-to-tune's address"), std::string::npos) << Api.ErrorText();
  EXPECT_FALSE(Api.Live().Listening() || Api.Live().Waiting());
}
