// The main window shares the radio when the settings say so: a network client
// keys the transmitter, the status strip shows TX, and the client's going
// releases it.
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include "WindowTest.h"
#include "cat/untCATinterface.h"
#include "common/StationInspector.h"
#include "gui/untLinkStatusStrip.h"
#include "sharing/untRadioSharing.h"

using namespace velatest;
using vela::TfrmVelaLogMain;

namespace {

class SharingWindow : public TWindowTest {};

TEST_F(SharingWindow, ClientKeysAndTheWindowShowsTX) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  QTcpServer Probe; // a free port for the server
  ASSERT_TRUE(Probe.listen(QHostAddress::LocalHost, 0));
  const quint16 Port = Probe.serverPort();
  Probe.close();
  QFile Ini(QString::fromStdString(Shack.IniPath()));
  ASSERT_TRUE(Ini.open(QIODevice::Append));
  Ini.write(QString("[NetworkSharing]\nEnabled=1\nPort=%1\nAllowPTT=1\n").arg(Port).toUtf8());
  Ini.close();

  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_NE(velatest::StationSharing(W.Station()), nullptr);
  ASSERT_TRUE(velatest::StationSharing(W.Station())->Server().Listening())
      << velatest::StationSharing(W.Station())->ErrorText();
  ASSERT_TRUE(WaitUntil([&] {
    return velatest::StationCAT(W.Station()) &&
           velatest::StationCAT(W.Station())->FrequencyHz() == 14074000;
  }));
  QTcpSocket Client;
  Client.connectToHost("127.0.0.1", Port);
  ASSERT_TRUE(WaitUntil([&] { return Client.state() == QAbstractSocket::ConnectedState; }));
  Client.write("f\nT 1\n");
  EXPECT_TRUE(WaitUntil([&] { return Shack.Sim().Printed("ptt 1"); }));
  EXPECT_TRUE(WaitUntil([&] { return W.lblLinkStatus->FullText().startsWith("TX"); }))
      << W.lblLinkStatus->FullText().toStdString();
  EXPECT_TRUE(Client.readAll().startsWith("14074000\n"));
  Client.abort();
  EXPECT_TRUE(WaitUntil([&] { return Shack.Sim().Printed("ptt 0"); }));
  EXPECT_FALSE(W.lblLinkStatus->FullText().startsWith("TX"));
  W.close();
  EXPECT_EQ(velatest::StationSharing(W.Station()), nullptr);
  EXPECT_TRUE(ErrorBoxes().empty());
}

// The sharing port held by another program at start: no error box, the
// strip says which address waits, and the server is up by itself once the
// port is free.
TEST_F(SharingWindow, APortTakenAtStartWaitsInTheStripAndComesUp) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  QTcpServer Holder;
  ASSERT_TRUE(Holder.listen(QHostAddress::LocalHost, 0));
  QFile Ini(QString::fromStdString(Shack.IniPath()));
  ASSERT_TRUE(Ini.open(QIODevice::Append));
  Ini.write(QString("[NetworkSharing]\nEnabled=1\nPort=%1\n").arg(Holder.serverPort()).toUtf8());
  Ini.close();

  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_NE(velatest::StationSharing(W.Station()), nullptr);
  EXPECT_FALSE(velatest::StationSharing(W.Station())->Server().Listening());
  EXPECT_TRUE(WaitUntil([&] {
    const QString Strip = W.lblLinkStatus->FullText();
    return Strip.contains(QString("sharing: 127.0.0.1:%1").arg(Holder.serverPort())) &&
           Strip.contains("trying again");
  })) << W.lblLinkStatus->FullText().toStdString();
  Holder.close();
  EXPECT_TRUE(
      WaitUntil([&] { return velatest::StationSharing(W.Station())->Server().Listening(); }));
  EXPECT_TRUE(WaitUntil([&] { return !W.lblLinkStatus->FullText().contains("trying again"); }))
      << W.lblLinkStatus->FullText().toStdString();
  EXPECT_TRUE(ErrorBoxes().empty());
  W.close();
}

} // namespace
