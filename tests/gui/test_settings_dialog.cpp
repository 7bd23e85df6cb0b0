// The settings dialog against a real settings file and real drivers on
// pseudo-terminals; the browser is a stand-in that records navigations.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/inotify.h>
#include <unistd.h>

#include "GuiTestSupport.h"
#include "cat/radios/untBandPlan.h"
#include "cat/radios/untFT950CATinterface.h"
#include "cat/radios/untFlexCATinterface.h"
#include "cat/radios/untIC7000CATinterface.h"
#include "cat/radios/untIC7300CATinterface.h"
#include "cat/radios/untRigctldCATinterface.h"
#include "common/StationInspector.h"
#include "gui/guiContactsGroup.h"
#include "gui/guiVLogSettings.h"
#include "gui/untLogbookApiGroup.h"
#include "gui/untNetworkSharingGroup.h"
#include "gui/untStationOptionsGroup.h"

using namespace vela;
using velatest::IniValue;
using velatest::WaitUntil;

namespace {

struct TRxRecord {
  TObject* Sender;
  std::string Band, Frequency, Mode;
};

class TRxSink : public TObject {
public:
  void RxData(TObject* Sender, const TRadioValue& Value) {
    const TPageTexts Texts = PageTexts(Value);
    Records.push_back({Sender, Texts.Band, Texts.Frequency, Texts.Mode});
  }
  std::vector<TRxRecord> Records;
};

class SettingsDialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Port 1 (the default) is a pseudo-terminal, never a real serial port.
    Scratch.LinkPort(1, Radio.SlavePath());
  }
  void TearDown() override {
    Dialog.reset();
    Store.reset();
  }
  void Create() {
    Store = std::make_unique<TVelaLogSettings>(nullptr, Scratch.IniPath());
    Dialog = std::make_unique<TfrmVLogSettings>(nullptr, &Browser, Store.get());
  }
  void Click(TPanelButton* Button) { QTest::mouseClick(Button->Face(), Qt::LeftButton); }
  std::vector<std::string> ListEntries() const {
    std::vector<std::string> Result;
    for (int i = 0; i < Dialog->lbxServerList()->count(); ++i)
      Result.push_back(Dialog->lbxServerList()->item(i)->text().toStdString());
    return Result;
  }

  velatest::TScratch Scratch;
  velatest::TPty Radio;
  velatest::TRecordingNavigator Browser;
  std::unique_ptr<TVelaLogSettings> Store;
  std::unique_ptr<TfrmVLogSettings> Dialog;
};

TEST_F(SettingsDialogTest, FirstCreationWithoutSettingsFile) {
  Create();
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{DefaultLogServer});
  EXPECT_NE(dynamic_cast<TFlexCATInterface*>(velatest::StationCAT(Dialog->Station())), nullptr);
  EXPECT_EQ(velatest::StationCAT(Dialog->Station())->Owner(), &Dialog->Station());
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "Radio"), "0");
  EXPECT_EQ(Dialog->edtCOM()->text(), "1");
  EXPECT_EQ(Dialog->edtVirtualCOM()->text(), "0");
  EXPECT_EQ(Dialog->cbxBaudRate()->currentText(), "4800");
  EXPECT_EQ(Dialog->cbxRadio()->currentText(), "Flex");
  EXPECT_FALSE(Dialog->CheckBox1()->isChecked());
  EXPECT_FALSE(Dialog->isVisible());
  QStringList Captions;
  for (const QLabel* Label : Dialog->findChildren<QLabel*>())
    Captions << Label->text();
  EXPECT_TRUE(Captions.contains("virtual COM port to other program"))
      << Captions.join('|').toStdString();

  ASSERT_EQ(Dialog->cbxBaudRate()->count(), 15);
  EXPECT_EQ(Dialog->cbxBaudRate()->itemText(0), "110");
  EXPECT_EQ(Dialog->cbxBaudRate()->itemText(14), "256000");
  ASSERT_EQ(Dialog->cbxRadio()->count(), 7);
  EXPECT_EQ(Dialog->cbxRadio()->itemText(4), "IC-7000 (70h)");
  EXPECT_EQ(Dialog->cbxRadio()->itemText(5), "IC-7300 (94h)");
  EXPECT_FALSE(Dialog->cbxRadio()->isEditable());
  EXPECT_FALSE(Dialog->cbxBaudRate()->isEditable());

  // The server box and list are filled only by showing.
  EXPECT_EQ(Dialog->edtServer()->text(), "");
  EXPECT_EQ(Dialog->lbxServerList()->count(), 0);
  Dialog->show();
  EXPECT_EQ(Dialog->edtServer()->text().toStdString(), DefaultLogServer);
  EXPECT_EQ(ListEntries(), std::vector<std::string>{DefaultLogServer});

  EXPECT_EQ(Dialog->windowTitle(), "VELA Log Settings");
  EXPECT_EQ(Dialog->minimumSize(), Dialog->maximumSize());
  EXPECT_EQ(Dialog->pos(), QPoint(0, 0));
  EXPECT_FALSE(Dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(Dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(SettingsDialogTest, PortBoxInputRule) {
  Create();
  struct TCase {
    const char* Typed;
    const char* Shown;
  };
  // Each text is typed over the last accepted one.
  const TCase Cases[] = {
      {"3a", "1"}, {"-", "1"},       {"$", "1"},   {"7 ", "1"},           {"-2", "-2"},
      {"x", "-2"}, {"0x10", "0x10"}, {" 5", " 5"}, {"99999999999", " 5"}, {"$FF", "$FF"},
  };
  for (const TCase& C : Cases) {
    Dialog->edtCOM()->setText(C.Typed);
    EXPECT_EQ(Dialog->edtCOM()->text().toStdString(), C.Shown) << C.Typed;
    EXPECT_EQ(Dialog->ComPortText(), C.Shown) << C.Typed;
  }
  // Typing key by key: "3" is accepted, "3a" turns back to it.
  Dialog->edtVirtualCOM()->clear();
  EXPECT_EQ(Dialog->VirtualComPortText(), "0"); // an empty box keeps the last number
  QTest::keyClicks(Dialog->edtVirtualCOM(), "3a");
  EXPECT_EQ(Dialog->edtVirtualCOM()->text(), "3");
  EXPECT_EQ(Dialog->VirtualComPortText(), "3");
}

TEST_F(SettingsDialogTest, ApplyUsesAcceptedPortNumbers) {
  Create();
  Dialog->show();
  Dialog->edtCOM()->setText("-2");
  Dialog->edtVirtualCOM()->setText("0x10");
  Dialog->edtVirtualCOM()->clear(); // applies the last accepted text
  Click(Dialog->pnlApply());
  EXPECT_EQ(Store->intCommPort(), -2);
  EXPECT_EQ(Store->intCommPort2(), 16);
  EXPECT_EQ(Dialog->edtVirtualCOM()->text(), "");
  const std::string Ini = Scratch.ReadIni();
  EXPECT_EQ(IniValue(Ini, "CommPort"), "-2");
  EXPECT_EQ(IniValue(Ini, "CommPort2"), "16");
}

TEST_F(SettingsDialogTest, ApplyWithNothingChanged) {
  Create();
  Dialog->show();
  TCATInterface* Driver = velatest::StationCAT(Dialog->Station());
  ASSERT_TRUE(WaitUntil([&] { return Driver->RadioPortConnected(); }));
  Click(Dialog->pnlApply()); // writes every key once
  // Change the file behind the store's back: the server keys are written
  // again, the port keys only when they change (which restarts the worker).
  std::string Ini = Scratch.ReadIni();
  for (const char* Key : {"ServerAddress", "ServerCount", "ServerList0"}) {
    const std::string Line = std::string(Key) + "=" + IniValue(Ini, Key);
    ASSERT_NE(Ini.find(Line), std::string::npos) << Key;
    Ini.replace(Ini.find(Line), Line.size(), std::string(Key) + "=77");
  }
  ASSERT_NE(Ini.find("[CommSettings]\n"), std::string::npos);
  Ini.insert(Ini.find("[CommSettings]\n") + 15, "CommPort=77\n");
  Scratch.WriteIni(Ini);

  Click(Dialog->pnlApply());
  Ini = Scratch.ReadIni();
  EXPECT_EQ(IniValue(Ini, "ServerAddress"), DefaultLogServer);
  EXPECT_EQ(IniValue(Ini, "ServerCount"), "1");
  EXPECT_EQ(IniValue(Ini, "ServerList0"), DefaultLogServer);
  EXPECT_EQ(IniValue(Ini, "CommPort"), "77");
  EXPECT_EQ(Browser.Navigations.size(), 1u);
  EXPECT_EQ(velatest::StationCAT(Dialog->Station()), Driver);
  EXPECT_TRUE(Driver->RadioPortConnected());
}

TEST_F(SettingsDialogTest, ChangedAddressNavigatesOnce) {
  Create();
  Dialog->show();
  Dialog->edtServer()->setText("http://127.0.0.1:8080/log");
  Click(Dialog->pnlApply());
  Click(Dialog->pnlApply());
  EXPECT_EQ(Browser.Navigations,
            (std::vector<std::string>{DefaultLogServer, "http://127.0.0.1:8080/log"}));
  EXPECT_EQ(Store->strServerAddress(), "http://127.0.0.1:8080/log");
  EXPECT_EQ(Dialog->ServerAddress(), "http://127.0.0.1:8080/log");
}

TEST_F(SettingsDialogTest, EmptyAddressBoxIsRefilled) {
  Create();
  Dialog->show();
  Dialog->edtServer()->clear();
  Click(Dialog->pnlApply());
  EXPECT_EQ(Dialog->edtServer()->text().toStdString(), DefaultLogServer);
  EXPECT_EQ(Store->strServerAddress(), DefaultLogServer);
  EXPECT_EQ(Browser.Navigations.size(), 1u);
}

TEST_F(SettingsDialogTest, NewRadioTypeReplacesTheDriverAndEventsStillArrive) {
  Create();
  TRxSink Sink;
  Dialog->setOnRxData(MakeMethod(&Sink, &TRxSink::RxData));
  Dialog->show();
  Dialog->cbxRadio()->setCurrentIndex(Dialog->cbxRadio()->findText("IC-7000 (70h)"));
  EXPECT_EQ(Dialog->Radio(), rtIC7000);
  Click(Dialog->pnlApply());

  auto* Driver = dynamic_cast<TIC7000CATInterface*>(velatest::StationCAT(Dialog->Station()));
  ASSERT_NE(Driver, nullptr);
  EXPECT_EQ(Store->Radio(), rtIC7000);
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "Radio"), "4");
  ASSERT_TRUE(WaitUntil([&] { return Driver->RadioPortConnected(); }));
  // The radio answers a frequency read: 14.074000 MHz.
  Radio.Send(std::string("\xFE\xFE\xCC\x70\x03\x00\x40\x07\x14\x00\xFD", 11));
  ASSERT_TRUE(WaitUntil([&] { return !Sink.Records.empty(); }));
  EXPECT_EQ(Sink.Records[0].Sender, static_cast<TObject*>(Dialog.get()));
  EXPECT_EQ(Sink.Records[0].Band, "20m");
  EXPECT_EQ(Sink.Records[0].Frequency, "14.0740");
}

// The settings file is replaced (renamed over) once per Apply and once per
// OK, however many keys they change, and holds every change when they return.
TEST_F(SettingsDialogTest, OneApplyReplacesTheFileOnce) {
  Create();
  Dialog->show();
  const int Watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(Watch, 0);
  ASSERT_GE(::inotify_add_watch(Watch,
                                QFileInfo(QString::fromStdString(Scratch.IniPath()))
                                    .absolutePath()
                                    .toLocal8Bit()
                                    .constData(),
                                IN_MOVED_TO),
            0);
  // Renames onto the settings file since the last call.
  auto Replaces = [&] {
    int Count = 0;
    alignas(inotify_event) char Buffer[4096];
    for (ssize_t N; (N = ::read(Watch, Buffer, sizeof Buffer)) > 0;)
      for (char* At = Buffer; At < Buffer + N;) {
        const auto* Event = reinterpret_cast<const inotify_event*>(At);
        if (Event->len > 0 && std::string(Event->name) == "VelaLog.ini")
          ++Count;
        At += sizeof(inotify_event) + Event->len;
      }
    return Count;
  };
  Dialog->edtServer()->setText("one.example");
  Dialog->pnlAddClick();
  Dialog->edtCOM()->setText("7");
  Dialog->cbxBaudRate()->setCurrentIndex(Dialog->cbxBaudRate()->findText("9600"));
  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  Click(Dialog->pnlApply());
  EXPECT_EQ(Replaces(), 1);
  const std::string Ini = Scratch.ReadIni();
  EXPECT_EQ(IniValue(Ini, "ServerAddress"), "one.example");
  EXPECT_EQ(IniValue(Ini, "ServerCount"), "2");
  EXPECT_EQ(IniValue(Ini, "ServerList1"), "one.example");
  EXPECT_EQ(IniValue(Ini, "CommPort"), "7");
  EXPECT_EQ(IniValue(Ini, "BaudRate"), "7");
  EXPECT_EQ(IniValue(Ini, "Radio"), "3");

  Dialog->edtCOM()->setText("1");
  Click(Dialog->pnlOK());
  EXPECT_EQ(Replaces(), 1);
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "CommPort"), "1");
  // A write outside an action is still written through at once.
  Store->setIntMainTop(5);
  EXPECT_EQ(Replaces(), 1);
  ::close(Watch);
}

TEST_F(SettingsDialogTest, CancelKeepsTheCatChoicesForTheNextApply) {
  Create();
  TCATInterface* Flex = velatest::StationCAT(Dialog->Station());
  Dialog->show();
  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  Dialog->cbxBaudRate()->setCurrentIndex(Dialog->cbxBaudRate()->findText("38400"));
  Dialog->edtServer()->setText("lost.example");
  Click(Dialog->pnlCancel());
  EXPECT_FALSE(Dialog->isVisible());
  EXPECT_EQ(velatest::StationCAT(Dialog->Station()), Flex);
  EXPECT_EQ(Store->Radio(), rtFlex);

  Dialog->show();
  EXPECT_EQ(Dialog->cbxRadio()->currentText(), "FT950");
  EXPECT_EQ(Dialog->edtServer()->text().toStdString(), DefaultLogServer);
  Click(Dialog->pnlOK());
  EXPECT_FALSE(Dialog->isVisible());
  EXPECT_NE(dynamic_cast<TFT950CATInterface*>(velatest::StationCAT(Dialog->Station())), nullptr);
  EXPECT_EQ(Store->Radio(), rtFT950);
  EXPECT_EQ(Store->BaudRate(), br38400);
  EXPECT_EQ(Store->strServerAddress(), DefaultLogServer);
}

// The station options show where the radio has them, are written only when
// changed, and a CI-V address the radio cannot have is refused.
TEST_F(SettingsDialogTest, StationOptions) {
  Create();
  Dialog->show();
  const TStationOptionControls& O = Dialog->StationOptionControls();
  const struct {
    TRadioType Radio;
    bool DigiChoice, Address;
    const char* Note; // where there is no choice
    const char* AddressText;
  } Rows[] = {
      {rtFlex, false, false, "Digi sets the radio's data mode.", nullptr},
      {rtFT950, true, false, nullptr, nullptr},
      {rtIC7000, false, true, "Digi stays RTTY: the radio has no data mode.", "70"},
      {rtIC7300, true, true, nullptr, "94"}, // the IC-7000's own address follows the radio
  };
  for (const auto& Row : Rows) {
    Dialog->cbxRadio()->setCurrentIndex(Row.Radio);
    EXPECT_EQ(O.cbxDigiMode->isVisible(), Row.DigiChoice) << Row.Radio;
    EXPECT_EQ(O.lblDigiNote->isVisible(), !Row.DigiChoice) << Row.Radio;
    if (Row.Note) {
      EXPECT_EQ(O.lblDigiNote->text(), Row.Note);
    }
    EXPECT_EQ(O.edtCIVAddress->isVisible(), Row.Address) << Row.Radio;
    EXPECT_EQ(O.chkTransceive->isVisible(), Row.Address) << Row.Radio;
    if (Row.AddressText) {
      EXPECT_EQ(O.edtCIVAddress->text(), Row.AddressText);
    }
  }
  EXPECT_EQ(O.cbxDTR->currentText(), "on");
  EXPECT_TRUE(O.lblLineNote->text().contains("DTR or RTS"));
  EXPECT_LE(O.lblLineNote->geometry().bottom(), Dialog->lblCatStatus()->geometry().top());

  // Applying the defaults writes none of the options.
  Click(Dialog->pnlApply());
  const std::string Untouched = Scratch.ReadIni();
  for (const char* Key : {"DigiMode", "CIVAddress", "DTR", "RTS", "Transceive"})
    EXPECT_EQ(IniValue(Untouched, Key), "") << Key;
  EXPECT_TRUE(O.chkTransceive->isChecked());

  O.cbxDigiMode->setCurrentIndex(1);
  O.edtCIVAddress->setText("5e");
  O.cbxRTS->setCurrentIndex(O.cbxRTS->findText("off"));
  O.chkTransceive->setChecked(false);
  Click(Dialog->pnlApply());
  const std::string Ini = Scratch.ReadIni();
  EXPECT_EQ(IniValue(Ini, "DigiMode"), "data");
  EXPECT_EQ(IniValue(Ini, "CIVAddress"), "5E");
  EXPECT_EQ(IniValue(Ini, "RTS"), "off");
  EXPECT_EQ(IniValue(Ini, "DTR"), "");
  EXPECT_EQ(IniValue(Ini, "Transceive"), "off");
  EXPECT_EQ(
      static_cast<TIC7300CATInterface*>(velatest::StationCAT(Dialog->Station()))->RadioAddress(),
      0x5E);

  for (const char* Bad : {"CC", "E0", "0"}) {
    O.edtCIVAddress->setText(Bad);
    Click(Dialog->pnlApply());
    EXPECT_EQ(Store->intCIVAddress(), 0x5E) << Bad;
    EXPECT_EQ(O.edtCIVAddress->text(), "5E") << Bad;
    EXPECT_TRUE(O.lblLineNote->text().contains("refused")) << Bad;
  }
}

TEST_F(SettingsDialogTest, ServerListEditing) {
  Scratch.WriteIni("[ServerSettings]\nServerAddress=b.example\nServerCount=2\n"
                   "ServerList0=a.example\nServerList1=b.example\n");
  Create();
  Dialog->show();
  QListWidget* List = Dialog->lbxServerList();

  Click(Dialog->pnlRemove()); // nothing selected
  EXPECT_EQ(ListEntries(), (std::vector<std::string>{"a.example", "b.example"}));

  Dialog->edtServer()->clear();
  Click(Dialog->pnlAdd()); // empty box
  EXPECT_EQ(List->count(), 2);

  Dialog->edtServer()->setText("c.example");
  Click(Dialog->pnlAdd());
  Click(Dialog->pnlAdd());
  EXPECT_EQ(ListEntries(),
            (std::vector<std::string>{"a.example", "b.example", "c.example", "c.example"}));

  // A click on an entry fills the box; only Apply makes it the address.
  QTest::mouseClick(List->viewport(), Qt::LeftButton, {},
                    List->visualItemRect(List->item(0)).center());
  EXPECT_EQ(Dialog->edtServer()->text(), "a.example");
  EXPECT_EQ(Store->strServerAddress(), "b.example");

  // Remove drops the selected entry and shows the stored address again.
  Click(Dialog->pnlRemove());
  EXPECT_EQ(ListEntries(), (std::vector<std::string>{"b.example", "c.example", "c.example"}));
  EXPECT_EQ(Dialog->edtServer()->text(), "b.example");
  EXPECT_EQ(Store->intSeverListCount(), 2); // nothing reaches the store before Apply

  Click(Dialog->pnlApply());
  EXPECT_EQ(Store->intSeverListCount(), 3);
  EXPECT_EQ(Store->strServerList(2), "c.example");
}

// The servers are shown again from the store; the sharing group's edits of
// the same Apply are kept and stored.
TEST_F(SettingsDialogTest, ApplyWithEmptyListShowsTheDefaultEntry) {
  Scratch.WriteIni("[ServerSettings]\nServerAddress=b.example\nServerCount=1\n"
                   "ServerList0=b.example\n");
  Create();
  Dialog->show();
  Dialog->lbxServerList()->clear();
  Dialog->edtServer()->setText("x.example");
  TNetworkSharingGroup* Group = Dialog->NetworkSharing();
  Group->chkShare()->setChecked(true);
  Group->edtPort()->setText("4600");
  Click(Dialog->pnlApply());
  EXPECT_EQ(ListEntries(), std::vector<std::string>{DefaultLogServer});
  EXPECT_EQ(Dialog->edtServer()->text(), "x.example");
  EXPECT_EQ(Store->strServerAddress(), "x.example");
  EXPECT_TRUE(Group->chkShare()->isChecked());
  EXPECT_EQ(Group->edtPort()->text(), "4600");
  EXPECT_TRUE(Store->blnShareEnabled());
  EXPECT_EQ(Store->intSharePort(), 4600);
}

// Another radio type and another port in one Apply: the old driver goes, and
// the new one's worker opens only the new port, once.
TEST_F(SettingsDialogTest, NewRadioAndPortOpenOnlyTheNewPortOnce) {
  velatest::TPty NewRadio;
  Scratch.LinkPort(2, NewRadio.SlavePath());
  Create();
  ASSERT_TRUE(
      WaitUntil([&] { return velatest::StationCAT(Dialog->Station())->RadioPortConnected(); }));
  Dialog->show();
  const int Watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(Watch, 0);
  const int OldPort = ::inotify_add_watch(Watch, Radio.SlavePath().c_str(), IN_OPEN);
  const int NewPort = ::inotify_add_watch(Watch, NewRadio.SlavePath().c_str(), IN_OPEN);
  ASSERT_GE(OldPort, 0);
  ASSERT_GE(NewPort, 0);
  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  Dialog->edtCOM()->setText("2");
  Click(Dialog->pnlApply());
  ASSERT_NE(dynamic_cast<TFT950CATInterface*>(velatest::StationCAT(Dialog->Station())), nullptr);
  ASSERT_TRUE(
      WaitUntil([&] { return velatest::StationCAT(Dialog->Station())->RadioPortConnected(); }));
  // A worker opens its port while it is created, within Apply. The events
  // carry no name: one per open.
  int Opens[2] = {0, 0};
  inotify_event Events[16];
  const ssize_t N = ::read(Watch, Events, sizeof Events);
  for (ssize_t I = 0; I < N / static_cast<ssize_t>(sizeof(inotify_event)); ++I)
    ++Opens[Events[I].wd == NewPort ? 1 : 0];
  ::close(Watch);
  EXPECT_EQ(Opens[0], 0) << "the old port was opened again";
  EXPECT_EQ(Opens[1], 1) << "the new port's opens";
  EXPECT_EQ(Store->intCommPort(), 2);
}

TEST_F(SettingsDialogTest, StoredValuesWithoutItems) {
  Scratch.WriteIni("[CommSettings]\nBaudRate=0\nRadio=9\n");
  Create();
  // A baud ordinal without an item selects none and is handed on unchanged.
  EXPECT_EQ(Dialog->cbxBaudRate()->currentIndex(), -1);
  EXPECT_EQ(Dialog->BaudRate(), brCustom);
  // A radio type beyond the list gets the IC-7300 driver, which records 5.
  TCATInterface* Driver = velatest::StationCAT(Dialog->Station());
  EXPECT_NE(dynamic_cast<TIC7300CATInterface*>(Driver), nullptr);
  EXPECT_EQ(Store->Radio(), rtIC7300);
  EXPECT_EQ(Dialog->cbxRadio()->currentText(), "IC-7300 (94h)");
  Dialog->show();
  Click(Dialog->pnlApply());
  EXPECT_EQ(velatest::StationCAT(Dialog->Station()), Driver); // the same radio: not replaced
  EXPECT_EQ(Store->BaudRate(), brCustom);
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "BaudRate"), "0");
}

TEST_F(SettingsDialogTest, UnwritableSettingsFileStopsApplyAndOkStaysOpen) {
  Create();
  Dialog->show();
  TCATInterface* Flex = velatest::StationCAT(Dialog->Station());
  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  Dialog->edtServer()->setText("new.example");
  // A folder in place of the file: every replace of the file fails.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(Scratch.IniPath())));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(Scratch.IniPath())));

  auto Texts = velatest::CatchMessageBoxes([&] { Click(Dialog->pnlApply()); });
  ASSERT_EQ(Texts.size(), 1u);
  EXPECT_TRUE(Texts[0].startsWith("Unable to write to")) << Texts[0].toStdString();
  EXPECT_EQ(Browser.Navigations.size(), 1u);
  EXPECT_EQ(velatest::StationCAT(Dialog->Station()), Flex);

  Texts = velatest::CatchMessageBoxes([&] { Click(Dialog->pnlOK()); });
  EXPECT_EQ(Texts.size(), 1u);
  EXPECT_TRUE(Dialog->isVisible());
  EXPECT_EQ(velatest::StationCAT(Dialog->Station()), Flex);
}

TEST_F(SettingsDialogTest, CatStatusLine) {
  Create();
  ASSERT_TRUE(
      WaitUntil([&] { return velatest::StationCAT(Dialog->Station())->RadioPortConnected(); }));
  Dialog->show();
  // The pseudo-terminal never answers: waiting, then silent.
  const std::string Where = "COM1 \u2192 " + Radio.SlavePath() + " · ";
  EXPECT_EQ(Dialog->lblCatStatus()->toolTip().toStdString(), Where + "waiting for the first reply");
  EXPECT_TRUE(WaitUntil([&] {
    return Dialog->lblCatStatus()->toolTip().toStdString().rfind(Where + "no reply for ", 0) == 0;
  })) << Dialog->lblCatStatus()->toolTip().toStdString();
  // Port 250 names nothing in the ports folder nor a /dev/ttyS device.
  Dialog->edtCOM()->setText("250");
  Click(Dialog->pnlApply());
  EXPECT_EQ(Dialog->lblCatStatus()->toolTip(),
            "COM250 \u2192 /dev/ttyS249 · /dev/ttyS249 is missing \u2014 retrying");
}

TEST_F(SettingsDialogTest, NamesTheSettingsFile) {
  Create();
  const QLabel* Line = Dialog->lblSettingsFile();
  EXPECT_EQ(Line->toolTip().toStdString(), "Settings file: " + Store->FileName());
  // A long path is shortened in the middle so that the line fits the window.
  EXPECT_LE(QFontMetrics(Line->font()).horizontalAdvance(Line->text()), Line->width());
  EXPECT_LE(Line->geometry().bottom(), Dialog->height());
}

TEST_F(SettingsDialogTest, CancelApplyAndOKAreTheLastRowAboveTheFileLine) {
  Create();
  Dialog->show();
  auto Top = [&](const QWidget* W) { return W->mapTo(Dialog.get(), QPoint(0, 0)).y(); };
  auto Bottom = [&](const QWidget* W) { return Top(W) + W->height(); };
  const int Buttons = Top(Dialog->pnlOK());
  for (const QWidget* Group : {static_cast<const QWidget*>(Dialog->NetworkSharing()),
                               static_cast<const QWidget*>(Dialog->Contacts()),
                               static_cast<const QWidget*>(Dialog->LogbookApi()),
                               static_cast<const QWidget*>(Dialog->lbxServerList())})
    EXPECT_LE(Bottom(Group), Buttons);
  EXPECT_EQ(Top(Dialog->pnlCancel()), Buttons);
  EXPECT_EQ(Top(Dialog->pnlApply()), Buttons);
  EXPECT_LE(Bottom(Dialog->pnlOK()), Top(Dialog->lblSettingsFile()));
}

// On a 1366x768 laptop screen the whole dialog shows, buttons included: the
// groups added beside the original three stand whole in a second column.
TEST_F(SettingsDialogTest, FitsALaptopScreen) {
  Create();
  Dialog->show();
  EXPECT_LE(Dialog->height(), 700);
  EXPECT_LE(Dialog->width(), 1366);
  const QRect Inside = Dialog->rect();
  auto Area = [&](const QWidget* W) {
    return QRect(W->mapTo(Dialog.get(), QPoint(0, 0)), W->size());
  };
  const QWidget* Groups[] = {Dialog->lbxServerList()->parentWidget(),
                             Dialog->edtCOM()->parentWidget(),
                             Dialog->CheckBox1()->parentWidget(),
                             Dialog->NetworkSharing(),
                             Dialog->Contacts(),
                             Dialog->LogbookApi(),
                             Dialog->pnlOK()->parentWidget()};
  for (const QWidget* G : Groups) {
    EXPECT_TRUE(Inside.contains(Area(G))) << G->objectName().toStdString();
    for (const QWidget* Other : Groups) {
      if (Other != G) {
        EXPECT_FALSE(Area(G).intersects(Area(Other)));
      }
    }
  }
  // The original three groups and the buttons keep their places.
  EXPECT_EQ(Area(Groups[0]).topLeft(), QPoint(12, 12));
  EXPECT_EQ(Area(Groups[1]).topLeft(), QPoint(268, 12));
  EXPECT_EQ(Area(Groups[6]).left(), 268);
  EXPECT_TRUE(Inside.contains(Area(Dialog->lblSettingsFile())));
}

TEST_F(SettingsDialogTest, ButtonCaptionsAndMouseMoves) {
  Create();
  Dialog->show();
  const QColor White(255, 255, 255), Yellow(255, 255, 0);
  auto Caption = [](TPanelButton* B) { return B->Face()->palette().color(QPalette::WindowText); };
  QMouseEvent Move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(Dialog->pnlApply()->Face(), &Move);
  EXPECT_EQ(Caption(Dialog->pnlApply()), Yellow);
  QApplication::sendEvent(Dialog->pnlOK()->Face(), &Move);
  EXPECT_EQ(Caption(Dialog->pnlApply()), White);
  EXPECT_EQ(Caption(Dialog->pnlOK()), Yellow);
  // A move over a group panel returns every caption to white.
  QApplication::sendEvent(Dialog->pnlOK()->parentWidget()->parentWidget(), &Move);
  for (TPanelButton* B : {Dialog->pnlAdd(), Dialog->pnlRemove(), Dialog->pnlCancel(),
                          Dialog->pnlApply(), Dialog->pnlOK()})
    EXPECT_EQ(Caption(B), White) << B->Caption().toStdString();
  EXPECT_EQ(Dialog->pnlOK()->palette().color(QPalette::Window), QColor(0, 0, 0));
  EXPECT_EQ(Dialog->pnlOK()->geometry(), QRect(164, 4, 78, 25));
  EXPECT_EQ(Dialog->pnlOK()->Face()->geometry(), QRect(2, 2, 74, 21));
}

TEST_F(SettingsDialogTest, RadioBehindRigctldTakesAnAddressInsteadOfAPort) {
  Create();
  Dialog->show();
  EXPECT_FALSE(Dialog->edtRigctldAddress()->isVisible());
  Dialog->cbxRadio()->setCurrentIndex(Dialog->cbxRadio()->findText("Hamlib rigctld (network)"));
  EXPECT_TRUE(Dialog->edtRigctldAddress()->isVisible());
  EXPECT_EQ(Dialog->edtRigctldAddress()->text(), "localhost:4532");
  EXPECT_FALSE(Dialog->edtCOM()->isVisible());
  EXPECT_FALSE(Dialog->cbxBaudRate()->isVisible());
  EXPECT_FALSE(Dialog->CheckBox1()->isEnabled()) << "Virtual CAT does not apply";

  // No address: refused with its reason; the radio is not changed.
  Dialog->edtRigctldAddress()->setText("shack-pc:99999");
  Click(Dialog->pnlApply());
  EXPECT_EQ(Store->strRigctldAddress(), "localhost:4532");
  EXPECT_TRUE(Dialog->lblCatStatus()->toolTip().contains("1 to 65535"));
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "Radio"), "0");

  Dialog->edtRigctldAddress()->setText("[::1]:1");
  Click(Dialog->pnlApply());
  EXPECT_EQ(Store->strRigctldAddress(), "[::1]:1");
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "RigctldAddress"), "[::1]:1");
  EXPECT_EQ(IniValue(Scratch.ReadIni(), "Radio"), "6");
  EXPECT_NE(dynamic_cast<TRigctldCATInterface*>(velatest::StationCAT(Dialog->Station())), nullptr);

  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  EXPECT_TRUE(Dialog->edtCOM()->isVisible());
  EXPECT_TRUE(Dialog->CheckBox1()->isEnabled());

  // A refused address, then another radio: the old reason goes.
  Dialog->cbxRadio()->setCurrentIndex(rtRigctld);
  Dialog->edtRigctldAddress()->setText("shack-pc:99999");
  Click(Dialog->pnlApply());
  EXPECT_TRUE(Dialog->lblCatStatus()->toolTip().contains("1 to 65535"));
  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  Click(Dialog->pnlApply());
  EXPECT_FALSE(Dialog->lblCatStatus()->toolTip().contains("65535"));
}

TEST_F(SettingsDialogTest, TabOrder) {
  Create();
  Dialog->show();
  Dialog->activateWindow();
  if (!QTest::qWaitForWindowActive(Dialog.get()))
    GTEST_SKIP() << "the display gives the window no focus";
  EXPECT_EQ(QApplication::focusWidget(), Dialog->edtCOM());
  // Reading order: the Servers group, the CAT group, Virtual CAT, the second
  // column's groups, then the buttons. Every control says what it is for.
  Dialog->edtServer()->setFocus(Qt::TabFocusReason);
  const TStationOptionControls& O = Dialog->StationOptionControls();
  const std::vector<QWidget*> Expected = {Dialog->edtServer(),
                                          Dialog->pnlAdd()->Face(),
                                          Dialog->pnlRemove()->Face(),
                                          Dialog->lbxServerList(),
                                          Dialog->edtCOM(),
                                          Dialog->cbxDevice(),
                                          Dialog->cbxBaudRate(),
                                          Dialog->cbxRadio(),
                                          O.cbxDTR,
                                          O.cbxRTS,
                                          Dialog->pnlTestRadio()->Face(),
                                          Dialog->CheckBox1(),
                                          Dialog->edtVirtualCOM(),
                                          Dialog->NetworkSharing()->chkShare()};
  std::vector<QWidget*> Seen = {QApplication::focusWidget()};
  for (std::size_t i = 1; i < Expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    Seen.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(Seen, Expected);
  QWidget* Last = nullptr;
  for (int i = 0; i < 40 && QApplication::focusWidget() != Dialog->pnlOK()->Face(); ++i) {
    QWidget* Now = QApplication::focusWidget();
    EXPECT_FALSE(Now->toolTip().isEmpty())
        << Now->metaObject()->className() << " " << Now->objectName().toStdString();
    Last = Now;
    QTest::keyClick(Now, Qt::Key_Tab);
  }
  EXPECT_EQ(Last, Dialog->pnlApply()->Face());
  for (QWidget* W : Expected)
    EXPECT_FALSE(W->toolTip().isEmpty()) << W->metaObject()->className();
  // Focus on a button highlights it; Enter presses it (OK applies and
  // hides the dialog), other keys do not.
  Dialog->pnlOK()->Face()->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(Dialog->pnlOK()->Highlighted());
  QTest::keyClick(Dialog->pnlOK()->Face(), Qt::Key_Escape);
  QTest::keyClick(Dialog->pnlOK()->Face(), Qt::Key_A);
  EXPECT_TRUE(Dialog->isVisible());
  QTest::keyClick(Dialog->pnlOK()->Face(), Qt::Key_Return);
  EXPECT_FALSE(Dialog->isVisible());
}

// The network sharing group: shows the stored options, warns about an address
// other computers reach, writes valid changes on Apply and tells the owner.
class TApplySink : public TObject {
public:
  void Applied(TObject*) { ++Count; }
  int Count = 0;
};

TEST_F(SettingsDialogTest, NetworkSharingGroup) {
  Create();
  TApplySink Sink;
  Dialog->setOnApply(MakeMethod(&Sink, &TApplySink::Applied));
  Dialog->show();
  TNetworkSharingGroup* Group = Dialog->NetworkSharing();
  EXPECT_FALSE(Group->chkShare()->isChecked());
  EXPECT_EQ(Group->edtAddress()->text(), "127.0.0.1");
  EXPECT_EQ(Group->edtPort()->text(), "4532");
  EXPECT_FALSE(Group->lblWarning()->isVisible());
  Group->edtAddress()->setText("0.0.0.0");
  EXPECT_TRUE(Group->lblWarning()->isVisible());
  Group->edtAddress()->setText("localhost");
  EXPECT_FALSE(Group->lblWarning()->isVisible());
  Group->edtAddress()->setText("192.168.1.20");
  Group->chkShare()->setChecked(true);
  Group->chkAllowPTT()->setChecked(true);
  Group->edtPort()->setText("99999");
  Group->edtTxLimit()->setText("60");
  Click(Dialog->pnlApply());
  EXPECT_EQ(Sink.Count, 1);
  EXPECT_EQ(Group->edtPort()->text(), "4532") << "an invalid port shows the stored one";
  const std::string Ini = Scratch.ReadIni();
  EXPECT_NE(Ini.find("[NetworkSharing]"), std::string::npos);
  EXPECT_EQ(IniValue(Ini, "Address"), "192.168.1.20");
  EXPECT_EQ(IniValue(Ini, "Enabled"), "1");
  EXPECT_EQ(IniValue(Ini, "AllowPTT"), "1");
  EXPECT_EQ(IniValue(Ini, "TxTimeLimit"), "60");
  EXPECT_EQ(IniValue(Ini, "Port"), "");
}

// Sharing on the port that the rigctld radio of this computer is polled on
// is refused with the reason.
TEST_F(SettingsDialogTest, SharingOnTheRigctldRadiosPortIsRefused) {
  Create();
  Dialog->show();
  TNetworkSharingGroup* Group = Dialog->NetworkSharing();
  Dialog->cbxRadio()->setCurrentIndex(rtRigctld);
  ASSERT_EQ(Dialog->edtRigctldAddress()->text(), "localhost:4532");
  Group->chkShare()->setChecked(true);
  Click(Dialog->pnlApply());
  EXPECT_EQ(Store->Radio(), rtRigctld);
  EXPECT_FALSE(Store->blnShareEnabled());
  EXPECT_FALSE(Group->chkShare()->isChecked());
  EXPECT_TRUE(Group->lblWarning()->isVisible());
  EXPECT_EQ(Group->lblWarning()->text(),
            "sharing port 4532 is the rigctld radio's own port; choose another, such as 4533");
}

} // namespace

// Picking a device from the list links it as the COM port's device and
// leaves the COM number and the settings file as they were; choosing another
// radio while the baud rate is the previous radio's usual one offers the new
// radio's usual rate, and never overrides one the operator chose.
TEST_F(SettingsDialogTest, DevicesByNameAndTheRadiosUsualRate) {
  Scratch.WriteIni("[CommSettings]\nCommPort=2\nRadio=3\nBaudRate=6\n");
  Create();
  const std::filesystem::path Dev = std::filesystem::path(Scratch.IniPath()).parent_path() / "dev";
  std::filesystem::create_directories(Dev / "serial" / "by-id");
  std::filesystem::create_symlink(Radio.SlavePath(), Dev / "serial" / "by-id" / "usb-FTDI FT232R");
  Dialog->setDeviceRoots(Dev.string(), (Dev / "sys").string());
  Dialog->RefreshDevices();
  ASSERT_EQ(Dialog->cbxDevice()->count(), 2);
  const std::string IniBefore = Scratch.ReadIni();
  Dialog->cbxDeviceActivated(1);
  EXPECT_EQ(std::filesystem::read_symlink(Scratch.PortsDir() + "/com2"),
            Dev / "serial" / "by-id" / "usb-FTDI FT232R");
  EXPECT_TRUE(Dialog->lblCatNote()->text().startsWith("COM2 is now"))
      << Dialog->lblCatNote()->text().toStdString();
  EXPECT_EQ(Dialog->edtCOM()->text(), "2");
  EXPECT_EQ(Scratch.ReadIni(), IniBefore);
  // Gone between listing and picking: nothing changes, and the note says why.
  std::filesystem::remove(Dev / "serial" / "by-id" / "usb-FTDI FT232R");
  Dialog->cbxDeviceActivated(1);
  const QLabel* Note = Dialog->lblCatNote();
  EXPECT_TRUE(Note->toolTip().contains("is gone")) << Note->toolTip().toStdString();
  // A long note is never cut off: it ends in "…" within its lines.
  EXPECT_LE(Note->heightForWidth(Note->width()), Note->height()) << Note->text().toStdString();
  EXPECT_TRUE(std::filesystem::is_symlink(Scratch.PortsDir() + "/com2"));

  // FT950 at its usual 4800: the IC-7300 offers 115200; back to the FT950,
  // 4800 again; a rate the operator chose stays.
  Dialog->cbxRadio()->setCurrentIndex(rtIC7300);
  EXPECT_EQ(Dialog->cbxBaudRate()->currentText(), "115200");
  EXPECT_TRUE(Dialog->lblCatNote()->text().contains("115200"));
  Dialog->cbxRadio()->setCurrentIndex(rtFT950);
  EXPECT_EQ(Dialog->cbxBaudRate()->currentText(), "4800");
  Dialog->cbxBaudRate()->setCurrentIndex(Dialog->cbxBaudRate()->findText("9600"));
  Dialog->cbxRadio()->setCurrentIndex(rtIC7300);
  EXPECT_EQ(Dialog->cbxBaudRate()->currentText(), "9600");
  EXPECT_EQ(Dialog->BaudRate(), br9600);
}
