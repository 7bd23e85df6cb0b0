// What an Apply of the station restarts: only the parts whose options differ
// from the ones it last applied, and the logbook's API whenever the key in
// its source changed, so that a key kept a moment before Apply is used by
// the next post.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <filesystem>
#include <functional>

#include "cat/transport/CPort.h"
#include "common/EventWait.h"
#include "logbook/LogbookTestKit.h"
#include "logbook/untApiKeyStore.h"
#include "logbook/untLogbookKeySource.h"
#include "station/untStation.h"

using namespace vela;
using velatest::WaitFor;

namespace {

// The key a request carried: in its JSON body, or as the last segment of a
// path that takes it there (station_info/KEY).
std::string KeyOf(const velatest::TSeenRequest& Request) {
  if (const QString Key = Request.Json().value(QStringLiteral("key")).toString(); !Key.isEmpty())
    return Key.toStdString();
  const std::string::size_type At = Request.Path.find("/station_info/");
  return At == std::string::npos ? std::string() : Request.Path.substr(At + 14);
}

// The keys of the requests seen from the first one that carried Key on.
std::vector<std::string> KeysFrom(const velatest::TFakeLogbook& Book, const std::string& Key) {
  std::vector<std::string> Keys;
  for (const velatest::TSeenRequest& Request : Book.Seen)
    if (const std::string Seen = KeyOf(Request); !Seen.empty() && (!Keys.empty() || Seen == Key))
      Keys.push_back(Seen);
  return Keys;
}

bool Carried(const velatest::TFakeLogbook& Book, const std::string& Key) {
  return !KeysFrom(Book, Key).empty();
}

std::uint16_t FreeUdpPort() {
  QUdpSocket Probe;
  Probe.bind(QHostAddress::LocalHost, 0);
  return Probe.localPort();
}

struct TScratch {
  QTemporaryDir Dir;
  std::string Folder = Dir.path().toStdString();
  std::unique_ptr<TVelaLogSettings> Settings;
  TScratch() {
    // No port of the radio exists: its worker waits for one.
    std::filesystem::create_directories(Folder + "/ports");
    TCustomComPort::SetPortsDir(Folder + "/ports");
    Settings = std::make_unique<TVelaLogSettings>(nullptr, Folder + "/VelaLog.ini");
    Settings->setRadio(rtFT950);
    Settings->setIntCommPort(1);
  }
};

// The logbook on the test's own server, posting nothing until it knows its
// station, and no click-to-tune listener.
TLogbookOptions LogbookAt(const velatest::TFakeLogbook& Book) {
  TLogbookOptions Logbook;
  Logbook.Enabled = true;
  Logbook.Url = Book.Url();
  Logbook.Kind = TLogbookKind::lkWavelog;
  Logbook.TuneListen = "off";
  return Logbook;
}

// The operator ticks the logbook, types its address and key, and applies:
// the key store keeps the key (as the dialog's group does) and the station
// is applied. The next request carries the key; a key changed and applied
// replaces it at once.
TEST(StationApply, AKeyTypedAndAppliedIsUsedAndAChangedKeyReplacesIt) {
  VELA_SKIP_QT_HTTP_UNDER_TSAN();
  TScratch Scratch;
  velatest::TFakeLogbook Book;
  TApiKeyStore Keys(*Scratch.Settings, false);
  TStation Station(*Scratch.Settings, Scratch.Settings->FileName());
  Station.setLogbookKeySource(&Keys);
  // The program starts with the logbook off and no key kept.
  TStationOptions Options = TStationOptions::FromSettings(*Scratch.Settings);
  Station.Apply(Options);
  ASSERT_TRUE(WaitFor([&] { return Keys.Known(); }));

  Options.Logbook = LogbookAt(Book);
  Keys.Write("first-key-0001", [](bool, TKeyPlace, const std::string&) {});
  EXPECT_TRUE(Station.Apply(Options).Logbook);
  ASSERT_TRUE(WaitFor([&] { return Carried(Book, "first-key-0001"); }));
  EXPECT_EQ(Station.StatusText().find("no API key"), std::string::npos) << Station.StatusText();

  Keys.Write("second-key-0002", [](bool, TKeyPlace, const std::string&) {});
  EXPECT_TRUE(Station.Apply(Options).Logbook);
  ASSERT_TRUE(WaitFor([&] { return Carried(Book, "second-key-0002"); }));
  for (const std::string& Key : KeysFrom(Book, "second-key-0002"))
    EXPECT_EQ(Key, "second-key-0002");
}

// A key source whose key the test changes.
class TChangingKey : public TLogbookKeySource {
public:
  std::string Value = "station-key-1";
  void ReadKey(const TKeyKnown& Done) override { Done(); }
  bool Known() const override { return true; }
  const std::string& Key() const override { return Value; }
};

TEST(StationApply, RestartsOnlyThePartThatChanged) {
  VELA_SKIP_QT_HTTP_UNDER_TSAN();
  TScratch Scratch;
  velatest::TFakeLogbook Book;
  TChangingKey Key;
  TStation Station(*Scratch.Settings, Scratch.Settings->FileName());
  Station.setLogbookKeySource(&Key);

  TStationOptions Base = TStationOptions::FromSettings(*Scratch.Settings);
  Base.Sharing.Enabled = true;
  Base.Sharing.Port = 0;
  Base.ContactsEnabled = true;
  Base.ContactsListen = "127.0.0.1:" + std::to_string(FreeUdpPort());
  Base.Logbook = LogbookAt(Book);
  const TStationRestarts All{true, true, true, true};
  const TStationRestarts None{};
  EXPECT_EQ(Station.Apply(Base), (TStationRestarts{false, true, true, true}))
      << "the radio already runs as the store says";

  using TChange = std::function<void(TStationOptions&)>;
  const std::uint16_t OtherUdp = FreeUdpPort();
  const struct {
    const char* Name;
    TChange Change;
    TStationRestarts Expected;
  } Cases[] = {
      {"nothing", [](TStationOptions&) {}, None},
      {"another port", [](TStationOptions& O) { O.ComPort = 2; }, {.Radio = true}},
      {"another baud rate", [](TStationOptions& O) { O.BaudRate = br9600; }, {.Radio = true}},
      {"another radio", [](TStationOptions& O) { O.Radio = rtFlex; }, {.Radio = true}},
      {"a restart asked for", [](TStationOptions& O) { O.RestartRadio = true; }, {.Radio = true}},
      {"the daemon of a radio not behind it",
       [](TStationOptions& O) { O.RigctldAddress = "shack:4532"; }, None},
      {"sharing moved",
       [](TStationOptions& O) { O.Sharing.Address = "127.0.0.2"; },
       {.Sharing = true}},
      {"sharing off", [](TStationOptions& O) { O.Sharing.Enabled = false; }, {.Sharing = true}},
      {"contacts moved",
       [&](TStationOptions& O) { O.ContactsListen = "127.0.0.1:" + std::to_string(OtherUdp); },
       {.Contacts = true}},
      {"contacts off", [](TStationOptions& O) { O.ContactsEnabled = false; }, {.Contacts = true}},
      {"a log file followed",
       [](TStationOptions& O) { O.ContactsLogFiles = {"/nowhere/wsjtx_log.adi"}; },
       {.Contacts = true}},
      {"the logbook's radio name",
       [](TStationOptions& O) { O.Logbook.RadioName = "Shack"; },
       {.Logbook = true}},
      {"the logbook off", [](TStationOptions& O) { O.Logbook.Enabled = false; }, {.Logbook = true}},
      {"the key kept", [&](TStationOptions&) { Key.Value = "station-key-2"; }, {.Logbook = true}},
      {"everything",
       [&](TStationOptions& O) {
         O.ComPort = 3;
         O.Sharing.Enabled = false;
         O.ContactsEnabled = false;
         O.Logbook.Enabled = false;
       },
       All},
  };
  for (const auto& Case : Cases) {
    TStationOptions Options = Base;
    Case.Change(Options);
    const TStationRestarts Got = Station.Apply(Options);
    EXPECT_EQ(Got.Radio, Case.Expected.Radio) << Case.Name;
    EXPECT_EQ(Got.Sharing, Case.Expected.Sharing) << Case.Name;
    EXPECT_EQ(Got.Contacts, Case.Expected.Contacts) << Case.Name;
    EXPECT_EQ(Got.Logbook, Case.Expected.Logbook) << Case.Name;
    // Applied once more (a restart is asked for once), nothing changes;
    // then back as it was.
    Options.RestartRadio = false;
    EXPECT_EQ(Station.Apply(Options), None) << Case.Name << ", applied again";
    Key.Value = "station-key-1";
    Station.Apply(Base);
  }
}

// Sharing on the rigctld radio's own port of this computer is refused once,
// with its reason, and not reported again while nothing changes.
TEST(StationApply, SharingOnTheRigctldRadiosOwnPortIsRefused) {
  TScratch Scratch;
  TStation Station(*Scratch.Settings, Scratch.Settings->FileName());
  TStationOptions Options = TStationOptions::FromSettings(*Scratch.Settings);
  Options.Radio = rtRigctld;
  Options.RigctldAddress = "localhost:4532";
  Options.Sharing.Enabled = true;
  Options.Sharing.Port = 4532;
  EXPECT_TRUE(Station.Apply(Options).Sharing);
  EXPECT_NE(Station.SharingRefusal().find("rigctld radio's own port"), std::string::npos);
  EXPECT_NE(Station.StatusText().find(Station.SharingRefusal()), std::string::npos);
  EXPECT_FALSE(Station.Apply(Options).Sharing);
  Options.Sharing.Port = 0;
  EXPECT_TRUE(Station.Apply(Options).Sharing);
  EXPECT_EQ(Station.SharingRefusal(), "");
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
