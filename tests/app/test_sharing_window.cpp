// The main window shares the radio when the settings say so: a network client
// keys the transmitter, the status strip shows TX, and the client's going
// releases it.
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include "WindowTest.h"
#include "cat/untCATinterface.h"
#include "gui/untLinkStatusStrip.h"
#include "net/untRadioSharing.h"

using namespace velatest;
using vela::TfrmVelaLogMain;

namespace {

class SharingWindow : public TWindowTest {};

TEST_F(SharingWindow, ClientKeysAndTheWindowShowsTX) {
  TStation Station;
  ASSERT_TRUE(Station.Started());
  QTcpServer Probe; // a free port for the server
  ASSERT_TRUE(Probe.listen(QHostAddress::LocalHost, 0));
  const quint16 Port = Probe.serverPort();
  Probe.close();
  QFile Ini(QString::fromStdString(Station.IniPath()));
  ASSERT_TRUE(Ini.open(QIODevice::Append));
  Ini.write(QString("[NetworkSharing]\nEnabled=1\nPort=%1\nAllowPTT=1\n").arg(Port).toUtf8());
  Ini.close();

  TfrmVelaLogMain& W = Open(Station);
  ASSERT_NE(W.Sharing(), nullptr);
  ASSERT_TRUE(W.Sharing()->Server().Listening()) << W.Sharing()->ErrorText();
  ASSERT_TRUE(WaitUntil([&] { return W.CAT() && W.CAT()->FrequencyHz() == 14074000; }));
  QTcpSocket Client;
  Client.connectToHost("127.0.0.1", Port);
  ASSERT_TRUE(WaitUntil([&] { return Client.state() == QAbstractSocket::ConnectedState; }));
  Client.write("f\nT 1\n");
  EXPECT_TRUE(WaitUntil([&] { return Station.Sim().Printed("ptt 1"); }));
  EXPECT_TRUE(WaitUntil([&] { return W.lblLinkStatus->FullText().startsWith("TX"); }))
      << W.lblLinkStatus->FullText().toStdString();
  EXPECT_TRUE(Client.readAll().startsWith("14074000\n"));
  Client.abort();
  EXPECT_TRUE(WaitUntil([&] { return Station.Sim().Printed("ptt 0"); }));
  EXPECT_FALSE(W.lblLinkStatus->FullText().startsWith("TX"));
  W.close();
  EXPECT_EQ(W.Sharing(), nullptr);
  EXPECT_TRUE(ErrorBoxes().empty());
}

// The sharing port held by another program at start: no error box, the
// strip says which address waits, and the server is up by itself once the
// port is free.
TEST_F(SharingWindow, APortTakenAtStartWaitsInTheStripAndComesUp) {
  TStation Station;
  ASSERT_TRUE(Station.Started());
  QTcpServer Holder;
  ASSERT_TRUE(Holder.listen(QHostAddress::LocalHost, 0));
  QFile Ini(QString::fromStdString(Station.IniPath()));
  ASSERT_TRUE(Ini.open(QIODevice::Append));
  Ini.write(QString("[NetworkSharing]\nEnabled=1\nPort=%1\n").arg(Holder.serverPort()).toUtf8());
  Ini.close();

  TfrmVelaLogMain& W = Open(Station);
  ASSERT_NE(W.Sharing(), nullptr);
  EXPECT_FALSE(W.Sharing()->Server().Listening());
  EXPECT_TRUE(WaitUntil([&] {
    const QString Strip = W.lblLinkStatus->FullText();
    return Strip.contains(QString("sharing: 127.0.0.1:%1").arg(Holder.serverPort())) &&
           Strip.contains("trying again");
  })) << W.lblLinkStatus->FullText().toStdString();
  Holder.close();
  EXPECT_TRUE(WaitUntil([&] { return W.Sharing()->Server().Listening(); }));
  EXPECT_TRUE(WaitUntil([&] { return !W.lblLinkStatus->FullText().contains("trying again"); }))
      << W.lblLinkStatus->FullText().toStdString();
  EXPECT_TRUE(ErrorBoxes().empty());
  W.close();
}

} // namespace
