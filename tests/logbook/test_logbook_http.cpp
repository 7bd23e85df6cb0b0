// The logbook's API and the click-to-tune listener over real sockets on
// 127.0.0.1: the request shapes a web logbook reads, the answers it gives,
// and a browser's calls (with the CORS pre-flight) and garbage to the
// listener.
#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>

#include "LogbookTestKit.h"
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

// A browser's call: method and path, the answer's status and headers.
struct TBrowserAnswer {
  int Status = 0;
  QByteArray AllowOrigin, AllowMethods, Body;
};

TBrowserAnswer Call(QNetworkAccessManager& Browser, const QByteArray& Method, std::uint16_t Port,
                    const QString& Path) {
  QNetworkRequest Request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(Port).arg(Path)));
  Request.setRawHeader("Origin", "https://log.example.org");
  if (Method == "OPTIONS") {
    Request.setRawHeader("Access-Control-Request-Method", "GET");
    Request.setRawHeader("Access-Control-Request-Private-Network", "true");
  }
  QNetworkReply* Reply = Browser.sendCustomRequest(Request, Method);
  WaitFor([Reply] { return Reply->isFinished(); });
  TBrowserAnswer Answer{Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                        Reply->rawHeader("Access-Control-Allow-Origin"),
                        Reply->rawHeader("Access-Control-Allow-Methods"), Reply->readAll()};
  Reply->deleteLater();
  return Answer;
}

} // namespace

TEST(TuneListener, TunesForABrowserAndAnswersItsPreflight) {
  VELA_SKIP_QT_HTTP_UNDER_TSAN();
  TTableRadio Radio;
  TTuneListener Listener(Radio);
  ASSERT_TRUE(Listener.Listen("127.0.0.1", 0)) << Listener.ErrorText();
  QNetworkAccessManager Browser;
  const struct {
    const char* Method;
    const char* Path;
    bool Live;
    int Status;
    const char* Calls; // what reached the radio
  } Rows[] = {
      {"GET", "/7074000", true, 200, "hz 7074000"},
      {"GET", "/14074000/usb", true, 200, "hz 14074000,mode USB"},
      {"GET", "/14080000/pkt", true, 200, "hz 14080000,mode PKTUSB"},
      {"GET", "/10100000/pktlsb", true, 200, "hz 10100000,mode PKTLSB"},
      {"GET", "/abc", true, 400, ""},
      {"GET", "/-5", true, 400, ""},
      {"GET", "/14074000/xyz", true, 400, ""},
      {"GET", "/9000000000", true, 400, "hz 9000000000"}, // beyond the FT-950
      {"GET", "/7074000/cw", false, 503, ""},
      {"OPTIONS", "/7074000/cw", true, 204, ""},
      {"POST", "/7074000", true, 405, ""},
  };
  for (const auto& Row : Rows) {
    Radio.IsLive = Row.Live;
    Radio.Calls.clear();
    const TBrowserAnswer Answer = Call(Browser, Row.Method, Listener.Port(), Row.Path);
    EXPECT_EQ(Answer.Status, Row.Status)
        << Row.Method << " " << Row.Path << ": " << Answer.Body.toStdString();
    EXPECT_EQ(Answer.AllowOrigin, "*") << Row.Path;
    std::string Calls;
    for (const std::string& C : Radio.Calls)
      Calls += (Calls.empty() ? "" : ",") + C;
    EXPECT_EQ(Calls, Row.Calls) << Row.Method << " " << Row.Path;
    if (std::string(Row.Method) == "OPTIONS") {
      EXPECT_TRUE(Answer.AllowMethods.contains("GET"));
    }
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

  // 100 connections at once that send nothing: the first are held, the
  // rest turned away; the listener still tunes afterwards.
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
  Many.clear();
  EXPECT_TRUE(WaitFor([&] { return Listener.ConnectionCount() == 0; }));
  auto Tune = Open();
  Tune->write("GET /3573000/usb HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(Status(*Tune), 200);
  EXPECT_EQ(Radio.Hz, 3573000);
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
      {500, ""}, // the logbook cannot take this one: it goes behind the others
      {400, R"({"status":"abort","messages":["Duplicate for K3AB"]})"},
      {400, R"({"status":"abort","messages":["Wrong station callsign DL1XX SKIPPED"]})"},
  };
  Logbook.Default = {201, R"({"status":"created","adif_count":1})"};
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outcomes.size() == 4; }));
  EXPECT_EQ(Logbook.Seen[0].Path, "/wavelog/index.php/api/station_info/wl123abc");
  std::vector<std::string> Sent;
  for (std::size_t I = 1; I < Logbook.Seen.size(); ++I) {
    EXPECT_EQ(Logbook.Seen[I].Json().value("station_profile_id").toString(), "7");
    Sent.push_back(Logbook.Seen[I].Json().value("string").toString().toStdString());
  }
  EXPECT_EQ(Sent, (std::vector<std::string>{"<call:4>K1AB<eor>", "<call:4>K2AB<eor>",
                                            "<call:4>K3AB<eor>", "<call:4>K2AB<eor>"}));
  EXPECT_EQ(Outbox.Waiting(), 1u);
  EXPECT_EQ(Outbox.StatusWords(), "1 contact waiting — Wrong station callsign DL1XX SKIPPED");
  // Tried again after a pause; settled, and the file is empty.
  ASSERT_TRUE(WaitFor([&] { return Outbox.Waiting() == 0; }));
  EXPECT_EQ(TContactOutbox(Client, File).Waiting(), 0u);
  std::remove(File.c_str());
}
