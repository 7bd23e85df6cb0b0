// The station replacing the radio while a network client keeps the
// transmitter keyed: the old driver releases it before the new driver
// exists, and the new driver's worker starts once, on the new port.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <filesystem>
#include <mutex>
#include <set>
#include <vector>

#include "cat/transport/CPort.h"
#include "common/PtyPair.h"
#include "common/StationInspector.h"
#include "settings/untSettingsBatch.h"
#include "station/untStation.h"
#include "tools/radiosim/untRadioSim.h"

using namespace vela;

namespace {

// The simulated FT-950 on the master end of a pty, answered in process.
struct TSimulatedRadio {
  test::TPtyPair Line;
  std::unique_ptr<radiosim::TRadioCore> Core = radiosim::CreateRadioCore("ft950");
  void Pump() {
    char Buffer[512];
    ssize_t N;
    while ((N = ::read(Line.Master(), Buffer, sizeof Buffer)) > 0)
      Core->Receive(std::string(Buffer, static_cast<std::size_t>(N)));
    if (const std::string Out = Core->TakeOutput(); !Out.empty())
      Line.Send(Out);
  }
};
TSimulatedRadio* Radio = nullptr;

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 30000) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Done()) {
    if (Timer.elapsed() > TimeoutMs)
      return false;
    if (Radio)
      Radio->Pump();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Every block written to a radio port, with the port worker that wrote it
// (on the worker's thread).
struct TWrites : TObject {
  void Trace(TObject* Sender, bool Written, std::string Data) {
    if (!Written)
      return;
    std::lock_guard<std::mutex> Guard(Lock);
    Blocks.emplace_back(Sender, Data);
  }
  // The first block that starts with Prefix; -1 for none.
  int Find(const std::string& Prefix) {
    std::lock_guard<std::mutex> Guard(Lock);
    for (std::size_t I = 0; I < Blocks.size(); ++I)
      if (Blocks[I].second.rfind(Prefix, 0) == 0)
        return static_cast<int>(I);
    return -1;
  }
  // The workers that wrote blocks starting with Prefix.
  std::set<TObject*> Writers(const std::string& Prefix) {
    std::lock_guard<std::mutex> Guard(Lock);
    std::set<TObject*> Result;
    for (const auto& [Worker, Data] : Blocks)
      if (Data.rfind(Prefix, 0) == 0)
        Result.insert(Worker);
    return Result;
  }
  std::mutex Lock;
  std::vector<std::pair<TObject*, std::string>> Blocks;
};

std::uint16_t FreePort() {
  QTcpServer Probe;
  Probe.listen(QHostAddress::LocalHost, 0);
  return Probe.serverPort();
}

TEST(Station, AnotherRadioWhileAClientKeysReleasesFirstAndStartsOnce) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  const std::string Folder = Dir.path().toStdString();
  std::filesystem::create_directories(Folder + "/ports");
  TCustomComPort::SetPortsDir(Folder + "/ports");
  // The FT-950 answers on COM1; COM2 is the port the next radio is on.
  TSimulatedRadio Sim;
  Sim.Core->setFrequency(14074000);
  Radio = &Sim;
  std::filesystem::create_symlink(Sim.Line.SlavePath(), Folder + "/ports/com1");
  test::TPtyPair Next;
  std::filesystem::create_symlink(Next.SlavePath(), Folder + "/ports/com2");

  const std::uint16_t SharePort = FreePort();
  TVelaLogSettings Settings(nullptr, Folder + "/VelaLog.ini");
  {
    TSettingsBatch Batch(Settings);
    Settings.setRadio(rtFT950);
    Settings.setIntCommPort(1);
    Settings.setBlnShareEnabled(true);
    Settings.setIntSharePort(SharePort);
    Settings.setBlnShareAllowPTT(true);
  }
  TWrites Writes;
  auto Station = std::make_unique<TStation>(Settings, Settings.FileName());
  Station->setOnTrace(MakeMethod(&Writes, &TWrites::Trace));
  Station->Apply(TStationOptions::FromSettings(Settings));
  ASSERT_TRUE(velatest::StationSharing(Station.get())->Server().Listening())
      << velatest::StationSharing(Station.get())->ErrorText();
  ASSERT_TRUE(WaitUntil([&] { return velatest::StationCAT(*Station)->FrequencyHz() == 14074000; }));

  QTcpSocket Client;
  Client.connectToHost(QStringLiteral("127.0.0.1"), SharePort);
  ASSERT_TRUE(WaitUntil([&] { return Client.state() == QAbstractSocket::ConnectedState; }));
  Client.write("T 1\n");
  ASSERT_TRUE(WaitUntil([&] { return Writes.Find("TX1;") >= 0; }));
  ASSERT_TRUE(velatest::StationSharing(Station.get())->Server().Keyed());

  // Another radio on another port, in one Apply.
  std::vector<std::string> NewLinks;
  Station->AddChangeConsumer([&] {
    if (velatest::StationCAT(*Station) && velatest::StationCAT(*Station)->Radio() == rtFlex)
      NewLinks.push_back(velatest::StationCAT(*Station)->RadioLinkStatus().Where);
  });
  TStationOptions Options = TStationOptions::FromSettings(Settings);
  Options.Radio = rtFlex;
  Options.ComPort = 2;
  Station->Apply(Options);
  ASSERT_EQ(velatest::StationCAT(*Station)->Radio(), rtFlex);
  EXPECT_EQ(Settings.intCommPort(), 2);

  // The release went to the old radio before the new driver wrote anything
  // (the Flex's commands all begin with ZZ), and one worker wrote those.
  const int Release = Writes.Find("TX0;");
  EXPECT_GE(Release, 0);
  ASSERT_TRUE(WaitUntil([&] { return Writes.Find("ZZ") >= 0; }));
  EXPECT_LT(Release, Writes.Find("ZZ"));
  ASSERT_TRUE(WaitUntil([&] { return Writes.Writers("ZZ").size() >= 1; }));
  EXPECT_EQ(Writes.Writers("ZZ").size(), 1u);
  // The new worker started on COM2 alone: no state of it names COM1.
  ASSERT_TRUE(WaitUntil([&] { return !NewLinks.empty(); }));
  for (const std::string& Where : NewLinks)
    EXPECT_EQ(Where.find("COM1"), std::string::npos) << Where;

  Client.abort();
  Station.reset();
  Radio = nullptr;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
