// A logbook page that failed to load comes back by itself once the logbook
// answers: a server that is not up yet (connection refused), and one that
// answers 500 before it answers the page. The strip's words say why the page
// is missing while it is.
#include "LogPageTestSupport.h"
#include "logpage/untPageRetry.h"
#include "logpage/untWebBrowser.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>

using namespace velatest;
using vela::TPageRetry;
using vela::TWebBrowser;

namespace {

// Answers every request with Status and a page whose title is "up", after
// Failures answers of 500 first.
class TLateLogbook : public QObject {
public:
  TLateLogbook(quint16 Port, int Failures) : FFailures(Failures) {
    FServer.listen(QHostAddress::LocalHost, Port);
    connect(&FServer, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* Socket = FServer.nextPendingConnection()) {
        connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket] {
          const QByteArray Request = Socket->readAll();
          if (!Request.contains("\r\n\r\n"))
            return;
          // Only the page counts, not the icon the browser asks for.
          const bool Fail = Request.startsWith("GET / ") && FFailures-- > 0;
          const QByteArray Body = Fail ? QByteArray("<html><body>broken</body></html>")
                                       : QByteArray("<html><head><title>up</title></head></html>");
          Socket->write((Fail ? "HTTP/1.1 500 Internal Server Error\r\n" : "HTTP/1.1 200 OK\r\n") +
                        QByteArray("Content-Type: text/html\r\nConnection: close\r\n"
                                   "Content-Length: ") +
                        QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
          Socket->disconnectFromHost();
        });
        connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
      }
    });
  }
  bool Listening() const { return FServer.isListening(); }

private:
  QTcpServer FServer;
  int FFailures;
};

quint16 FreePort() {
  QTcpServer Probe;
  Probe.listen(QHostAddress::LocalHost, 0);
  return Probe.serverPort();
}

} // namespace

TEST(PageRetry, APageThatFailedComesBackWhenTheLogbookAnswers) {
  const struct {
    const char* Name;
    bool UpAtFirst;
    int Failures;
    const char* Words;
  } Cases[] = {
      {"the logbook is started late", false, 0, "logbook page: connection refused \u2014 retrying"},
      {"the logbook answers 500 first", true, 2, "logbook page: HTTP 500 \u2014 retrying"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TWebBrowser Browser;
    TPageRetry Retry(&Browser);
    Browser.resize(400, 300);
    Browser.show();
    const quint16 Port = FreePort();
    ASSERT_NE(Port, 0);
    std::unique_ptr<TLateLogbook> Logbook;
    if (Case.UpAtFirst)
      Logbook = std::make_unique<TLateLogbook>(Port, Case.Failures);
    Browser.Navigate("http://127.0.0.1:" + std::to_string(Port) + "/");
    ASSERT_TRUE(WaitUntil([&] { return Retry.StatusText() == Case.Words; })) << Retry.StatusText();
    EXPECT_EQ(Retry.DelayMs(), TPageRetry::FirstDelayMs);
    if (!Logbook)
      Logbook = std::make_unique<TLateLogbook>(Port, 0);
    ASSERT_TRUE(Logbook->Listening());
    // The title shows while the page loads; the load's end clears the words.
    ASSERT_TRUE(WaitUntil([&] { return Browser.title() == "up" && !Retry.Waiting(); }, 60000))
        << Retry.StatusText();
    EXPECT_EQ(Retry.StatusText(), "");
  }
}
