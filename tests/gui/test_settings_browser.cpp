// The dialog with the real embedded browser: it loads the stored log server
// address at creation and a changed one after Apply.
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "GuiTestSupport.h"
#include "gui/guiVLogSettings.h"
#include "logpage/untWebBrowser.h"

using namespace vela;
using velatest::WaitUntil;

namespace {

// Answers every request on 127.0.0.1 with a page titled by its path.
class TPageServer : public QTcpServer {
public:
  TPageServer() {
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* Socket = nextPendingConnection()) {
        connect(Socket, &QTcpSocket::readyRead, Socket, [Socket] {
          const QByteArray Request = Socket->readAll();
          const QByteArray Path = Request.split(' ').value(1);
          const QByteArray Body =
              "<html><head><title>" + Path + "</title></head><body>" + Path + "</body></html>";
          Socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                        QByteArray::number(Body.size()) + "\r\nConnection: close\r\n\r\n" + Body);
          Socket->disconnectFromHost();
        });
        connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
      }
    });
  }
};

TEST(SettingsDialogBrowserTest, NavigatesTheRealBrowser) {
  TPageServer Server;
  ASSERT_TRUE(Server.listen(QHostAddress::LocalHost));
  const std::string Base = "http://127.0.0.1:" + std::to_string(Server.serverPort());
  velatest::TScratch Scratch;
  velatest::TPty Radio;
  Scratch.LinkPort(1, Radio.SlavePath());
  Scratch.WriteIni("[ServerSettings]\nServerAddress=" + Base + "/first\n");

  TWebBrowser Browser;
  Browser.resize(400, 300);
  Browser.show();
  TVelaLogSettings Store(nullptr, Scratch.IniPath());
  {
    TfrmVLogSettings Dialog(nullptr, &Browser, &Store);
    EXPECT_TRUE(WaitUntil([&] { return Browser.title() == "/first"; }, 30000))
        << Browser.title().toStdString();

    Dialog.show();
    Dialog.edtServer()->setText(QString::fromStdString(Base + "/second"));
    QTest::mouseClick(Dialog.pnlApply()->Face(), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return Browser.title() == "/second"; }, 30000))
        << Browser.title().toStdString();
  }
}

} // namespace
