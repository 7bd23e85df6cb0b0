// The logbook's API and the click-to-tune listener over real sockets on
// 127.0.0.1: the request shapes a web logbook reads, the answers it gives,
// and a browser's calls (with the CORS pre-flight) and garbage to the
// listener.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>

#include <cstring>

#include "LogbookTestKit.h"
#include "common/FileHelpers.h"
#include "contacts/untAdif.h"
#include "logbook/untContactOutbox.h"
#include "logbook/untRadioPoster.h"
#include "logbook/untTuneListener.h"

using namespace vela;
using namespace velatest;

namespace {

class LogbookHttpTest : public ::testing::Test {
protected:
  void SetUp() override {
    VELA_SKIP_QT_HTTP_UNDER_TSAN();
    Client.setBaseUrl(Logbook.Url());
    Client.setKey("wl123abc");
  }
  // Waits for the next post's answer and returns it.
  TApiReply NextOutcome() {
    const std::size_t Before = Outcomes.size();
    EXPECT_TRUE(WaitFor([&] { return Outcomes.size() > Before; }));
    return Outcomes.empty() ? TApiReply{} : Outcomes.back();
  }

  TFakeLogbook Logbook;
  TTableRadio Radio;
  TLogbookClient Client;
  std::vector<TApiReply> Outcomes;
};

} // namespace

TEST_F(LogbookHttpTest, PostsTheRadioStateAndSortsTheAnswers) {
  TRadioPoster Poster(Client, Radio);
  Poster.setRadioName("FT950");
  Poster.setOnOutcome([this](const std::string& Call, const TApiReply& Reply) {
    EXPECT_EQ(Call, "radio");
    Outcomes.push_back(Reply);
  });
  Poster.Start();
  EXPECT_TRUE(NextOutcome().Ok());
  ASSERT_EQ(Logbook.Seen.size(), 1u);
  const TSeenRequest& First = Logbook.Seen[0];
  EXPECT_EQ(First.Method, "POST");
  EXPECT_EQ(First.Path, "/wavelog/index.php/api/radio");
  EXPECT_EQ(First.ContentType, "application/json");
  const QJsonObject Json = First.Json();
  EXPECT_EQ(Json.value("key").toString(), "wl123abc");
  EXPECT_EQ(Json.value("radio").toString(), "FT950");
  EXPECT_TRUE(Json.value("frequency").isDouble());
  EXPECT_EQ(Json.value("frequency").toInteger(), 14074000);
  EXPECT_EQ(Json.value("mode").toString(), "USB");
  EXPECT_EQ(Json.value("timestamp").toString().size(), 16); // YYYY/MM/DD HH:MM

  // The digital-mode program's mode names the data mode.
  Poster.NoteDigitalMode("FT8", std::chrono::steady_clock::now());
  Radio.RadioMode = "PKTUSB";
  Radio.Hz = 7074000;
  EXPECT_TRUE(NextOutcome().Ok());
  EXPECT_EQ(Logbook.Seen.back().Json().value("mode").toString(), "FT8");
  EXPECT_EQ(Logbook.Seen.back().Json().value("frequency").toInteger(), 7074000);

  // Refusals and faults, each retried after a pause with the latest state.
  const struct {
    int Status;
    const char* Body;
    const char* ContentType;
    TApiOutcome Outcome;
    const char* Words;
  } Faults[] = {
      {401, R"({"status":"failed","reason":"missing api key"})", "application/json",
       TApiOutcome::aoKeyRefused, "key refused"},
      {500, "", "text/html", TApiOutcome::aoServerError, "server error 500 — retrying"},
      {200, "<html><form>Login</form></html>", "text/html", TApiOutcome::aoNotApi, ""},
  };
  for (const auto& Fault : Faults) {
    Logbook.Script.push_back({Fault.Status, Fault.Body, Fault.ContentType});
    Radio.Hz += 1000;
    const TApiReply Reply = NextOutcome();
    EXPECT_EQ(Reply.Outcome, Fault.Outcome) << Fault.Status;
    if (*Fault.Words) {
      EXPECT_EQ(ApiOutcomeWords(Reply), Fault.Words);
    }
    EXPECT_TRUE(NextOutcome().Ok()) << "retried after " << Fault.Status;
    EXPECT_EQ(Logbook.Seen.back().Json().value("frequency").toInteger(), Radio.Hz);
  }

  // A link that is not live is not posted.
  Radio.IsLive = false;
  Radio.Hz = 3573000;
  const std::size_t Seen = Logbook.Seen.size();
  Poster.Watch();
  EXPECT_FALSE(Poster.CurrentState());
  EXPECT_EQ(Logbook.Seen.size(), Seen);
}

TEST_F(LogbookHttpTest, ContactsAndChecks) {
  // A contact: the record as the string, the station id, type adif.
  Logbook.Script.push_back({201, R"({"status":"created","adif_count":1})"});
  Client.PostQso(3, "<call:5>DL1AB<eor>", [this](const TApiReply& R) { Outcomes.push_back(R); });
  EXPECT_TRUE(NextOutcome().Ok());
  const QJsonObject Qso = Logbook.Seen.back().Json();
  EXPECT_EQ(Logbook.Seen.back().Path, "/wavelog/index.php/api/qso");
  EXPECT_EQ(Qso.value("type").toString(), "adif");
  EXPECT_EQ(Qso.value("station_profile_id").toString(), "3");
  EXPECT_EQ(Qso.value("string").toString(), "<call:5>DL1AB<eor>");

  Logbook.Script.push_back({200, R"({"status":"valid","rights":"rw"})"});
  Client.CheckAuth([this](const TApiReply& R) { Outcomes.push_back(R); });
  EXPECT_TRUE(NextOutcome().Ok());
  EXPECT_EQ(Logbook.Seen.back().Method, "GET");
  EXPECT_EQ(Logbook.Seen.back().Path, "/wavelog/index.php/api/check_auth/wl123abc");
  Client.StationInfo([this](const TApiReply& R) { Outcomes.push_back(R); });
  NextOutcome();
  EXPECT_EQ(Logbook.Seen.back().Path, "/wavelog/index.php/api/station_info/wl123abc");

  // No server there; a key with a blank never leaves the program.
  Client.setBaseUrl("http://127.0.0.1:1/");
  Client.CheckAuth([this](const TApiReply& R) { Outcomes.push_back(R); });
  EXPECT_EQ(NextOutcome().Outcome, TApiOutcome::aoUnreachable);
  Client.setKey("two words");
  Client.CheckAuth([this](const TApiReply& R) { Outcomes.push_back(R); });
  EXPECT_EQ(NextOutcome().Outcome, TApiOutcome::aoBadAddress);
}

TEST(LogbookTls, SelfSignedCertificateRefusedUnlessAllowedForItsHost) {
  VELA_SKIP_QT_HTTP_UNDER_TSAN();
  QTemporaryDir Dir;
  const QString Key = Dir.filePath("key.pem"), Cert = Dir.filePath("cert.pem");
  QProcess OpenSsl;
  OpenSsl.start("openssl",
                {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", Key, "-out", Cert,
                 "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
  if (!OpenSsl.waitForFinished(60000) || OpenSsl.exitCode() != 0)
    GTEST_SKIP() << "openssl could not make a certificate";
  QFile KeyFile(Key), CertFile(Cert);
  ASSERT_TRUE(KeyFile.open(QIODevice::ReadOnly) && CertFile.open(QIODevice::ReadOnly));
  QSslConfiguration Config = QSslConfiguration::defaultConfiguration();
  Config.setLocalCertificate(QSslCertificate(CertFile.readAll()));
  Config.setPrivateKey(QSslKey(KeyFile.readAll(), QSsl::Rsa));
  QSslServer Server;
  Server.setSslConfiguration(Config);
  ASSERT_TRUE(Server.listen(QHostAddress::LocalHost, 0));
  QObject::connect(&Server, &QTcpServer::pendingConnectionAvailable, [&Server] {
    while (QTcpSocket* Socket = Server.nextPendingConnection()) {
      QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [Socket] {
        if (!Socket->peek(8192).contains("\r\n\r\n"))
          return;
        Socket->readAll();
        const QByteArray Body = R"({"status":"valid","rights":"rw"})";
        Socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(Body.size()) + "\r\nConnection: close\r\n\r\n" + Body);
        Socket->disconnectFromHost();
      });
      QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
    }
  });
  TLogbookClient Client;
  Client.setBaseUrl("https://127.0.0.1:" + std::to_string(Server.serverPort()));
  Client.setKey("wl123abc");
  auto Check = [&Client] {
    std::optional<TApiReply> Reply;
    Client.CheckAuth([&Reply](const TApiReply& R) { Reply = R; });
    EXPECT_TRUE(WaitFor([&] { return Reply.has_value(); }));
    return Reply.value_or(TApiReply{});
  };
  const struct {
    const char* Allowed;
    TApiOutcome Outcome;
  } Rows[] = {
      {"", TApiOutcome::aoTlsRefused},
      {"localhost", TApiOutcome::aoTlsRefused}, // allowed for another host only
      {"127.0.0.1", TApiOutcome::aoOk},
  };
  for (const auto& Row : Rows) {
    Client.setSelfSignedHost(Row.Allowed);
    const TApiReply Reply = Check();
    EXPECT_EQ(Reply.Outcome, Row.Outcome) << Row.Allowed << ": " << Reply.Reason;
    if (Row.Outcome == TApiOutcome::aoTlsRefused) {
      EXPECT_NE(Reply.Reason.find("self-signed"), std::string::npos) << Reply.Reason;
      EXPECT_NE(Reply.Reason.find("allow it for this host"), std::string::npos) << Reply.Reason;
    }
  }
}

namespace {

// One request as written, and the answer's status and the headers a browser
// acts on.
struct TRawAnswer {
  int Status = 0;
  QByteArray AllowOrigin, PrivateNetwork, Body;
};

TRawAnswer Exchange(std::uint16_t Port, const QByteArray& Request) {
  QTcpSocket Socket;
  Socket.connectToHost(QHostAddress::LocalHost, Port);
  Socket.write(Request);
  QByteArray Answer;
  WaitFor([&] {
    Answer += Socket.readAll();
    return Socket.state() == QAbstractSocket::UnconnectedState;
  });
  Answer += Socket.readAll();
  TRawAnswer Result;
  Result.Status = Answer.mid(9, 3).toInt();
  const qsizetype End = Answer.indexOf("\r\n\r\n");
  for (const QByteArray& Line : Answer.left(End).split('\n')) {
    const QByteArray Name = Line.left(Line.indexOf(':')).trimmed().toLower();
    const QByteArray Value = Line.mid(Line.indexOf(':') + 1).trimmed();
    if (Name == "access-control-allow-origin")
      Result.AllowOrigin = Value;
    if (Name == "access-control-allow-private-network")
      Result.PrivateNetwork = Value;
  }
  Result.Body = Answer.mid(End + 4).trimmed();
  return Result;
}

} // namespace

// Who may tune, and what: each row one request as a browser or a script
// writes it, against the real listener over a radio given by values.
TEST(TuneListener, GuardsByTable) {
  TTableRadio Radio;
  TTuneListener Listener(Radio);
  Listener.setOrigins(
      TuneOrigins("https://log.example.org/index.php", " http://Cluster.example.net:8080 junk:x"));
  ASSERT_TRUE(Listener.Listen("127.0.0.1", 0)) << Listener.ErrorText();
  const TRadioModel* FT950 = FindRadioModel(rtFT950);
  const TRadioModel* IC7000 = FindRadioModel(rtIC7000); // no data mode
  const std::string Log = "Origin: https://log.example.org\r\n";
  const std::string Img = "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: no-cors\r\n";
  const std::string Nav = "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\n";
  const std::string Preflight = "Access-Control-Request-Method: GET\r\n"
                                "Access-Control-Request-Private-Network: true\r\n";
  const struct {
    const char* Why;
    std::string Request; // method and path
    std::string Headers; // HOST stands for 127.0.0.1 and the listen port
    int Status;
    const char* Calls; // what reached the radio
    const char* AllowOrigin;
    bool Live = true, Keyed = false;
    const TRadioModel* Model = nullptr; // FT950
  } Rows[] = {
      {"the logbook's page", "GET /7074000", "Host: HOST\r\n" + Log, 200, "hz 7074000",
       "https://log.example.org"},
      {"a listed origin", "GET /7074000/usb",
       "Host: HOST\r\nOrigin: http://cluster.example.net:8080\r\n", 200, "hz 7074000,mode USB",
       "http://cluster.example.net:8080"},
      {"a stranger's page", "GET /7350000/am", "Host: HOST\r\nOrigin: http://evil.example\r\n", 403,
       "", ""},
      {"the logbook's name on another port", "GET /7074000",
       "Host: HOST\r\nOrigin: https://log.example.org:8443\r\n", 403, "", ""},
      {"an opaque origin", "GET /7074000", "Host: HOST\r\nOrigin: null\r\n", 403, "", ""},
      {"a script, no browser", "GET /7074000", "Host: HOST\r\n", 200, "hz 7074000", ""},
      {"an image on a stranger's page", "GET /7074000",
       "Host: HOST\r\n" + Img + "Referer: http://evil.example/x\r\n", 403, "", ""},
      {"the logbook's window.open", "GET /7074000",
       "Host: HOST\r\n" + Nav + "Referer: https://log.example.org/index.php/dxcluster\r\n", 200,
       "hz 7074000", ""},
      {"a navigation without referrer", "GET /7074000", "Host: HOST\r\n" + Nav, 403, "", ""},
      {"the operator's address bar", "GET /7074000",
       "Host: HOST\r\nSec-Fetch-Site: none\r\nSec-Fetch-Mode: navigate\r\n", 200, "hz 7074000", ""},
      {"a name pointed at 127.0.0.1", "GET /7074000", "Host: attacker.example:PORT\r\n", 403, "",
       ""},
      {"localhost", "GET /7074000", "Host: LocalHost:PORT\r\n" + Log, 200, "hz 7074000",
       "https://log.example.org"},
      {"another port", "GET /7074000", "Host: 127.0.0.1:1\r\n", 403, "", ""},
      {"no Host", "GET /7074000", "", 400, "", ""},
      {"two Origins", "GET /7074000", "Host: HOST\r\n" + Log + Log, 400, "", ""},
      {"pre-flight of the logbook", "OPTIONS /7074000/cw", "Host: HOST\r\n" + Log + Preflight, 204,
       "", "https://log.example.org"},
      {"pre-flight of a stranger", "OPTIONS /7074000/cw",
       "Host: HOST\r\nOrigin: http://evil.example\r\n" + Preflight, 403, "", ""},
      {"not live", "GET /7074000/cw", "Host: HOST\r\n", 503, "", "", false},
      {"keyed", "GET /7074000/cw", "Host: HOST\r\n" + Log, 409, "", "https://log.example.org", true,
       true},
      {"below the radio's range", "GET /20000", "Host: HOST\r\n", 400, "", ""},
      {"above the radio's range", "GET /60000000/usb", "Host: HOST\r\n", 400, "", ""},
      {"beyond what the radio takes", "GET /1000000000", "Host: HOST\r\n", 400, "", "", true, false,
       IC7000},
      {"pktusb under Digi means RTTY", "GET /7074000/pktusb", "Host: HOST\r\n", 200,
       "hz 7074000,mode PKTUSB", ""},
      {"usb-d", "GET /7074000/USB-D", "Host: HOST\r\n", 200, "hz 7074000,mode PKTUSB", ""},
      {"lsb-d", "GET /7074000/lsb-d", "Host: HOST\r\n", 200, "hz 7074000,mode PKTLSB", ""},
      {"FT8", "GET /14074000/FT8", "Host: HOST\r\n", 200, "hz 14074000,mode PKTUSB", ""},
      {"psk31", "GET /14070000/psk31", "Host: HOST\r\n", 200, "hz 14070000,mode PKTUSB", ""},
      {"Digi stays RTTY", "GET /7074000/dig", "Host: HOST\r\n", 200, "hz 7074000,mode RTTY", ""},
      {"a radio without data mode", "GET /7074000/ft8", "Host: HOST\r\n", 200,
       "hz 7074000,mode RTTY", "", true, false, IC7000},
  };
  const std::string Port = std::to_string(Listener.Port());
  for (const auto& Row : Rows) {
    Radio.IsLive = Row.Live;
    Radio.Keyed = Row.Keyed;
    Radio.RadioModel = Row.Model ? Row.Model : FT950;
    Radio.DigiMode = dmRTTY;
    Radio.Calls.clear();
    std::string Headers = Row.Headers;
    for (const auto& [Mark, Value] :
         {std::pair<std::string, std::string>{"HOST", "127.0.0.1:" + Port}, {"PORT", Port}})
      for (std::size_t At; (At = Headers.find(Mark)) != std::string::npos;)
        Headers.replace(At, Mark.size(), Value);
    const TRawAnswer Answer =
        Exchange(Listener.Port(),
                 QByteArray::fromStdString(Row.Request + " HTTP/1.1\r\n" + Headers + "\r\n"));
    EXPECT_EQ(Answer.Status, Row.Status) << Row.Why << ": " << Answer.Body.toStdString();
    EXPECT_EQ(Answer.AllowOrigin, Row.AllowOrigin) << Row.Why;
    EXPECT_EQ(Answer.PrivateNetwork == "true", Row.Status == 204 && *Row.AllowOrigin) << Row.Why;
    if (Row.Status >= 400) {
      EXPECT_FALSE(Answer.Body.isEmpty()) << Row.Why << ": a plain reason";
    }
    // A refusal of a stranger is kept for the status strip until the next request.
    EXPECT_EQ(Listener.LastRefusal().empty(), Row.Status != 403) << Row.Why;
    std::string Calls;
    for (const std::string& C : Radio.Calls)
      Calls += (Calls.empty() ? "" : ",") + C;
    EXPECT_EQ(Calls, Row.Calls) << Row.Why;
  }
}

TEST(TuneListener, SurvivesGarbageHugeRequestsAndManyConnections) {
  TTableRadio Radio;
  TTuneListener Listener(Radio);
  ASSERT_TRUE(Listener.Listen("127.0.0.1", 0)) << Listener.ErrorText();
  auto Open = [&] {
    auto Socket = std::make_unique<QTcpSocket>();
    Socket->connectToHost(QHostAddress::LocalHost, Listener.Port());
    return Socket;
  };
  // Reads the answer's head; the status line's code.
  auto Status = [](QTcpSocket& Socket) {
    QByteArray Answer;
    WaitFor([&] {
      if (Socket.isOpen())
        Answer += Socket.readAll();
      return Answer.contains("\r\n\r\n") || Socket.state() == QAbstractSocket::UnconnectedState;
    });
    return Answer.mid(9, 3).toInt();
  };

  // 10 MB of request line: refused after the bound, not buffered.
  auto Huge = Open();
  ASSERT_TRUE(WaitFor([&] { return Huge->state() == QAbstractSocket::ConnectedState; }));
  Huge->write("GET /");
  Huge->write(QByteArray(10 * 1024 * 1024, '1'));
  EXPECT_EQ(Status(*Huge), 400);
  Huge.reset();

  auto Garbage = Open();
  Garbage->write(QByteArray("\x00\xff\r\n\r\n", 6));
  EXPECT_EQ(Status(*Garbage), 400);

  // 100 connections at once that send nothing: at most the bound are held,
  // and a click still tunes while they are open.
  std::vector<std::unique_ptr<QTcpSocket>> Many;
  for (int I = 0; I < 100; ++I)
    Many.push_back(Open());
  EXPECT_TRUE(WaitFor([&] {
    return std::all_of(Many.begin(), Many.end(), [](const auto& S) {
      return S->state() == QAbstractSocket::ConnectedState ||
             S->state() == QAbstractSocket::UnconnectedState;
    });
  }));
  EXPECT_LE(Listener.ConnectionCount(), TTuneListener::MaxConnections);
  auto Click = Open();
  Click->write("GET /7074000/usb HTTP/1.1\r\nHost: localhost:" +
               QByteArray::number(Listener.Port()) + "\r\n\r\n");
  EXPECT_EQ(Status(*Click), 200);
  EXPECT_EQ(Radio.Hz, 7074000);
  Many.clear();
  Click.reset();
  EXPECT_TRUE(WaitFor([&] { return Listener.ConnectionCount() == 0; }));
  auto Tune = Open();
  Tune->write("GET /3573000/usb HTTP/1.1\r\nHost: localhost:" +
              QByteArray::number(Listener.Port()) + "\r\n\r\n");
  EXPECT_EQ(Status(*Tune), 200);
  EXPECT_EQ(Radio.Hz, 3573000);
}

// A refusal sending again cannot mend sets the contact aside, with the
// reason in plain words, and the next goes at once; a refused key pauses the
// queue; the operator puts the set-aside ones back.
TEST_F(LogbookHttpTest, RefusedContactsAreSetAsideAndTheQueueGoesOn) {
  QTemporaryDir Dir;
  TContactOutbox Outbox(Client, Dir.filePath(QStringLiteral("LogbookOutbox.jsonl")).toStdString());
  Outbox.setStationId(1);
  Outbox.setOnOutcome([this](const std::string&, const TApiReply& R) { Outcomes.push_back(R); });
  std::vector<std::string> Told;
  Outbox.setOnSetAside([&](const std::string& Words) { Told.push_back(Words); });
  for (const char* Call : {"OK1ABC", "R4SEC", "DL1ABC"})
    ASSERT_TRUE(
        Outbox.Enqueue("<call:" + std::to_string(std::strlen(Call)) + ">" + Call + " <eor>"));
  // Megabytes of a web page: cut off, never waited for whole.
  const std::string Html = "<html><body><p>" + std::string(3 << 20, 'x') + "</p></body></html>";
  Logbook.Script = {
      {400,
       R"({"status":"failed","reason":"Wrong station callsign <b>G4WJX</b> &amp; station K1ABC"})"},
      {201, R"({"status":"created","adif_count":0})"},
      {201, R"({"status":"created","adif_count":1})"},
  };
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outcomes.size() == 3; }));
  EXPECT_EQ(Outbox.Waiting(), 0u);
  ASSERT_EQ(Told.size(), 2u);
  EXPECT_EQ(Told[0], "the logbook refused OK1ABC: Wrong station callsign G4WJX & station K1ABC — "
                     "set aside in LogbookRefused.adi");
  EXPECT_NE(Told[1].find("R4SEC: the logbook took none"), std::string::npos) << Told[1];
  const TAdifDocument Aside = ReadAdif(vela::test::ReadFile(Outbox.RefusedFileName()));
  ASSERT_EQ(Aside.Records.size(), 2u) << Aside.Error;
  EXPECT_EQ(Aside.Records[1].Field("call"), "R4SEC");
  EXPECT_EQ(QFile::permissions(QString::fromStdString(Outbox.RefusedFileName())) & 0x0077, 0);

  // A key the logbook refuses stops the queue: nothing is set aside.
  Logbook.Script = {{403, R"({"status":"failed","reason":"Key is read only"})"}};
  ASSERT_TRUE(Outbox.ResendRefused() == 2u);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Outbox.RefusedFileName())));
  ASSERT_TRUE(WaitFor([&] { return Outcomes.size() == 4; }));
  EXPECT_TRUE(Outbox.KeyPaused());
  EXPECT_EQ(Outbox.Waiting(), 2u);
  EXPECT_NE(Outbox.StatusWords().find("refused the key"), std::string::npos);
  EXPECT_EQ(Outbox.SetAside(), 0u);

  // A page of HTML is no refusal to show; a refusal without a body is named
  // by its status.
  Outbox.Stop();
  Logbook.Script = {{404, Html, "text/html"}, {400, ""}};
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outbox.Waiting() == 0; }));
  ASSERT_EQ(Told.size(), 4u);
  EXPECT_LT(Told[2].size(), 400u);
  EXPECT_EQ(Told[2].find('<'), std::string::npos) << Told[2];
  EXPECT_NE(Told[3].find("HTTP 400"), std::string::npos) << Told[3];
}

// A logbook that cannot keep what it refused: the contact stays queued and
// the words say why.
TEST_F(LogbookHttpTest, AContactThatCannotBeSetAsideStaysQueued) {
  QTemporaryDir Dir;
  const std::string Queue = Dir.filePath(QStringLiteral("LogbookOutbox.jsonl")).toStdString();
  TContactOutbox Outbox(Client, Queue);
  Outbox.setStationId(1);
  Outbox.setOnOutcome([this](const std::string&, const TApiReply& R) { Outcomes.push_back(R); });
  ASSERT_TRUE(Outbox.Enqueue("<call:6>OK1ABC <eor>"));
  // A folder where the file should be: it cannot be written.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Outbox.RefusedFileName())));
  Logbook.Default = {400, R"({"status":"failed","reason":"Wrong station callsign"})"};
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outcomes.size() == 1; }));
  EXPECT_EQ(Outbox.Waiting(), 1u);
  EXPECT_NE(Outbox.StatusWords().find("cannot be set aside"), std::string::npos)
      << Outbox.StatusWords();
  EXPECT_EQ(TContactOutbox(Client, Queue).Waiting(), 1u);
}

// A logbook address that redirects elsewhere: the request is not sent on,
// and the key never reaches the other host.
TEST_F(LogbookHttpTest, ARedirectToAnotherOriginIsNotFollowed) {
  TFakeLogbook Elsewhere;
  Logbook.Default = {307, "", "text/html", Elsewhere.Url() + "/index.php/api/qso"};
  TContactOutbox Outbox(Client, ::testing::TempDir() + "outbox-redirect-" +
                                    std::to_string(QCoreApplication::applicationPid()) + ".jsonl");
  Outbox.setStationId(1);
  Outbox.setOnOutcome([this](const std::string&, const TApiReply& R) { Outcomes.push_back(R); });
  ASSERT_TRUE(Outbox.Enqueue("<call:6>OK1ABC <eor>"));
  Outbox.Start();
  const TApiReply Reply = NextOutcome();
  EXPECT_NE(Reply.Reason.find("redirect to " + Elsewhere.Url()), std::string::npos) << Reply.Reason;
  EXPECT_NE(Reply.Reason.find("check the address"), std::string::npos);
  EXPECT_EQ(Outbox.Waiting(), 1u);
  // A redirect followed ends only with the other host's answer: none came.
  EXPECT_TRUE(Elsewhere.Seen.empty());
  EXPECT_EQ(Logbook.Seen.size(), 1u);
  Outbox.Stop();
  std::remove(Outbox.FileName().c_str());
}

// Post, read back, compare: texts in any script reach the logbook whole, their
// lengths in characters.
TEST_F(LogbookHttpTest, NonAsciiContactsReachTheLogbookWhole) {
  QTemporaryDir Dir;
  TContactOutbox Outbox(Client, Dir.filePath(QStringLiteral("LogbookOutbox.jsonl")).toStdString());
  Outbox.setStationId(1);
  Logbook.Default = {201, R"({"status":"created","adif_count":1})"};
  const char* const Names[] = {"J\xC3\xB6rg M\xC3\xBC"
                               "ller",
                               "Gr\xC3\xBC\xC3\x9F"
                               "e aus K\xC3\xB6ln",
                               "\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E",
                               "Jos\xC3\xA9 \xF0\x9F\x98\x80"};
  std::vector<TContact> Contacts;
  for (const char* Name : Names) {
    TContact C;
    C.Set("call", "DL1ABC");
    C.Set("name", Name);
    C.Set("qso_date", "20261208");
    C.Set("time_on", "025048");
    Contacts.push_back(C);
    ASSERT_TRUE(Outbox.Enqueue(AdifRecordText(C)));
  }
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outbox.Waiting() == 0; }));
  ASSERT_EQ(Logbook.Seen.size(), Contacts.size());
  for (std::size_t I = 0; I < Contacts.size(); ++I) {
    const std::string Posted = Logbook.Seen[I].Json().value("string").toString().toStdString();
    const TAdifDocument Back = ReadAdif(Posted);
    ASSERT_EQ(Back.Records.size(), 1u) << Posted << ": " << Back.Error;
    EXPECT_EQ(Back.Records[0], Contacts[I]) << Posted;
    const std::string Name = Contacts[I].Field("name");
    EXPECT_NE(Posted.find("<name:" + std::to_string(CharacterCount(Name)) + ">" + Name + " "),
              std::string::npos)
        << Posted;
  }
}

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

TEST_F(LogbookHttpTest, OutboxKeepsContactsAcrossARestartUntilSettled) {
  const std::string File = ::testing::TempDir() + "outbox-" +
                           std::to_string(QCoreApplication::applicationPid()) + ".jsonl";
  std::remove(File.c_str());
  {
    TContactOutbox Outbox(Client, File); // never started: the program ends first
    for (const char* Record : {"<call:4>K1AB<eor>", "<call:4>K2AB<eor>", "<call:4>K3AB<eor>"})
      EXPECT_TRUE(Outbox.Enqueue(Record));
    std::string Error;
    EXPECT_FALSE(Outbox.Enqueue(" \r\n", &Error));
    EXPECT_FALSE(Outbox.Enqueue(std::string(TContactOutbox::MaxRecordBytes + 1, 'x'), &Error));
  }
  TContactOutbox Outbox(Client, File);
  ASSERT_EQ(Outbox.Waiting(), 3u);
  Outbox.setOnOutcome([this](const std::string&, const TApiReply& R) { Outcomes.push_back(R); });
  // No station chosen: the key owner's active one.
  Logbook.Script = {
      {200, R"([{"station_id":"3","station_active":"0"},{"station_id":"7","station_active":"1"}])"},
      {201, R"({"status":"created","adif_count":1})"},
      {500, ""}, // the logbook cannot take it now: the same one again, in order
      {400, R"({"status":"abort","messages":["Duplicate for K2AB"]})"},
  };
  Logbook.Default = {201, R"({"status":"created","adif_count":1})"};
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outcomes.size() == 2; }));
  EXPECT_EQ(Outbox.Waiting(), 2u);
  EXPECT_EQ(Outbox.StatusWords(), "2 contacts waiting — server error 500 — retrying");
  // Tried again after a pause; settled, and the file is empty.
  ASSERT_TRUE(WaitFor([&] { return Outbox.Waiting() == 0; }));
  EXPECT_EQ(Logbook.Seen[0].Path, "/wavelog/index.php/api/station_info/wl123abc");
  std::vector<std::string> Sent;
  for (std::size_t I = 1; I < Logbook.Seen.size(); ++I) {
    EXPECT_EQ(Logbook.Seen[I].Json().value("station_profile_id").toString(), "7");
    Sent.push_back(Logbook.Seen[I].Json().value("string").toString().toStdString());
  }
  EXPECT_EQ(Sent, (std::vector<std::string>{"<call:4>K1AB<eor>", "<call:4>K2AB<eor>",
                                            "<call:4>K2AB<eor>", "<call:4>K3AB<eor>"}));
  EXPECT_EQ(TContactOutbox(Client, File).Waiting(), 0u);
  std::remove(File.c_str());
}
