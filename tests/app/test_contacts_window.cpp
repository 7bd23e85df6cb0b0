// Contacts into the form end to end: the real browser, the sample logbook,
// the radio simulator and datagrams sent over UDP on 127.0.0.1. A contact
// sent as type 5 and 12 fills the form once; neither the clock nor the radio
// overwrite it; the next contact waits and fills the form loaded anew; a
// record appended to a followed log file fills it too.
#include <QUdpSocket>
#include <QWebEngineHistory>
#include <fstream>
#include <gtest/gtest.h>

#include "WindowTest.h"
#include "app/untContactsToPage.h"
#include "cat/untCATinterface.h"
#include "common/ContactDatagrams.h"
#include "common/FileHelpers.h"
#include "common/StationInspector.h"
#include "gui/untLinkStatusStrip.h"
#include "logpage/BrowserScript.h"
#include "logpage/untLogPHPinterface.h"

using namespace velatest;
using vela::TClockReading;
namespace test = vela::test;

namespace {

class ContactsWindow : public TWindowTest {
protected:
  void Send(const std::string& Bytes) {
    QUdpSocket Sender;
    Sender.writeDatagram(Bytes.data(), static_cast<qint64>(Bytes.size()),
                         QHostAddress(QHostAddress::LocalHost),
                         velatest::StationContacts(FWindow->Station()).Port());
  }
  // A field of the form by name (beyond the six), or "<none>".
  std::string Named(const std::string& Name) {
    const QVariant V =
        RunScript(*FWindow->wbrLogBook,
                  QString::fromStdString(
                      "(function(){try{var e=window.frames['left_frame'].document"
                      ".forms['log_add'].elements['" +
                      Name + "'];return e?e.value:'<none>';}catch(x){return '<none>';}})()"));
    return V.toString().toStdString();
  }
  bool IsContact(const TForm& F, const std::string& Call, const std::string& Freq) {
    return Field(F, "call_rx") == Call && Field(F, "log_freq") == Freq &&
           Field(F, "log_band") == "40m" && Field(F, "log_mode") == "Digi" &&
           Field(F, "log_date") == "2026-12-07" && Field(F, "log_time") == "22:57";
  }
};

} // namespace

TEST_F(ContactsWindow, ContactFillsTheFormAndHoldsItUntilThePageLoadsAnew) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  test::WriteFile(Shack.IniPath(), test::ReadFile(Shack.IniPath()) +
                                       "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\n"
                                       "[ContactFields]\nrst_sent=rst_sent\ngridsquare=grid\n");
  vela::TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  ASSERT_TRUE(velatest::StationContacts(W.Station()).Listening()) << W.Contacts()->StatusText();

  // Sent twice, as every sender does; filled once.
  Send(test::ContactLogged("DL1ABC"));
  Send(test::LoggedAdif("DL1ABC"));
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
  EXPECT_EQ(Named("rst_sent"), "-10");
  EXPECT_EQ(Named("grid"), "JO62");
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Filled() == 1; }));

  // The radio moves and the clock turns to another day and minute: the
  // contact's fields stay.
  Shack.Sim().Send("freq 14075000");
  ASSERT_TRUE(WaitUntil([&] {
    return velatest::StationCAT(W.Station()) &&
           velatest::StationCAT(W.Station())->Frequency() == "14.0750";
  }));
  TClockReading Now;
  Now.Year = 2030, Now.Month = 1, Now.Day = 2, Now.Hour = 3, Now.Minute = 4;
  W.setClockSource([&Now] { return Now; });
  W.Timer1Timer();
  EXPECT_TRUE(IsContact(Form(), "DL1ABC", "7.0755")) << Dump();

  // A second contact waits while the first is in the form.
  Send(test::ContactLogged("G4XYZ", 7076000));
  ASSERT_TRUE(WaitUntil([&] { return W.Station()->ContactsWaiting() == 1; }));
  EXPECT_NE(W.lblLinkStatus->FullText().toStdString().find("1 waiting"), std::string::npos)
      << W.lblLinkStatus->FullText().toStdString();
  EXPECT_EQ(Field(Form(), "call_rx"), "DL1ABC");

  // The operator saves the contact: the logbook stores it with the mapped
  // fields, and the form loaded anew takes the waiting one.
  RunPageScript(*W.wbrLogBook,
                "window.frames['left_frame'].document.forms['log_add'].log_submit.click()");
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "G4XYZ", "7.0760"); })) << Dump();
  const std::string Stored = test::ReadFile(Shack.Folder() + "/contacts.json");
  EXPECT_NE(Stored.find("\"DL1ABC\""), std::string::npos) << Stored;
  EXPECT_NE(Stored.find("\"JO62\""), std::string::npos) << Stored;
  ASSERT_TRUE(WaitUntil([&] { return W.Station()->ContactsWaiting() == 0; }));

  // Both are in the journal beside the settings file.
  const std::string Journal = test::ReadFile(Shack.Folder() + "/VelaLog-contacts.adi");
  EXPECT_NE(Journal.find("<call:6>DL1ABC"), std::string::npos);
  EXPECT_NE(Journal.find("<call:5>G4XYZ"), std::string::npos);
  EXPECT_TRUE(ErrorBoxes().empty());
}

// A contact in the form, not saved, while another waits behind it: the window
// is closed and opened again, and the form offers the unsaved one first.
TEST_F(ContactsWindow, AnUnsavedContactInTheFormIsOfferedFirstAfterARestart) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  test::WriteFile(Shack.IniPath(),
                  test::ReadFile(Shack.IniPath()) + "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\n");
  Open(Shack);
  ASSERT_TRUE(velatest::StationContacts(FWindow->Station()).Listening())
      << FWindow->Contacts()->StatusText();
  Send(test::ContactLogged("DL1ABC"));
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
  ASSERT_TRUE(WaitUntil([&] { return FWindow->Contacts()->Filled() == 1; }));
  Send(test::ContactLogged("G4XYZ", 7076000));
  ASSERT_TRUE(WaitUntil([&] { return FWindow->Station()->ContactsWaiting() == 1; }));

  FWindow.reset();
  vela::TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Filled() == 1; }));
  EXPECT_EQ(W.Station()->ContactsWaiting(), 1u);

  // Saved now: the one behind it follows, and neither is offered again.
  RunPageScript(*W.wbrLogBook,
                "window.frames['left_frame'].document.forms['log_add'].log_submit.click()");
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "G4XYZ", "7.0760"); })) << Dump();
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Filled() == 2; }));
  EXPECT_EQ(W.Station()->ContactsWaiting(), 0u);
  EXPECT_TRUE(ErrorBoxes().empty());
}

namespace {

// Counts the page walks the window hears of, and hands each on.
class TWalkCounter : public vela::TObject {
public:
  explicit TWalkCounter(vela::TLogPHPinterface& APage) : FPage(APage), FNext(APage.OnPageData()) {
    APage.setOnPageData(vela::MakeMethod(this, &TWalkCounter::PageData));
  }
  ~TWalkCounter() override { FPage.setOnPageData(FNext); }
  void PageData(vela::TObject* Sender, std::string Frequency, std::string Mode) {
    Seen.push_back(Frequency);
    FNext(Sender, Frequency, Mode);
  }
  // The frequency each walk found in the form.
  std::vector<std::string> Seen;

private:
  vela::TLogPHPinterface& FPage;
  vela::TPageDataEvent FNext;
};

// Nothing was queued for the radio and, once its next report is read (after
// anything queued would have gone out), no frequency or mode reached it.
void ExpectNoTune(vela::TfrmVelaLogMain& W, TTestShack& Shack) {
  EXPECT_TRUE(velatest::StationCAT(W.Station())->FrequencyCommand().empty() &&
              velatest::StationCAT(W.Station())->ModeCommand().empty());
  Shack.Sim().Send("freq 14075000");
  ASSERT_TRUE(WaitUntil([&] {
    return velatest::StationCAT(W.Station()) &&
           velatest::StationCAT(W.Station())->Frequency() == "14.0750";
  }));
  for (const std::string& Line : Shack.Sim().Lines())
    EXPECT_TRUE(Line == "freq 14075000" ||
                (Line.rfind("freq ", 0) != 0 && Line.rfind("mode ", 0) != 0))
        << "the radio was tuned: " << Line;
}

} // namespace

// An FT8 operator saves a contact; the next one fills the fresh form, and the
// logbook reloads its list frame beside it. The walk that follows finds the
// contact's frequency and mode in the form: the program wrote them, so the
// radio stays where it is.
TEST_F(ContactsWindow, AContactInTheFormNeverTunesTheRadio) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  test::WriteFile(Shack.IniPath(),
                  test::ReadFile(Shack.IniPath()) + "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\n");
  vela::TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  Send(test::ContactLogged("DL1ABC"));
  Send(test::ContactLogged("G4XYZ", 7076000));
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Filled() == 1; }));

  Shack.Sim().ClearLines();
  RunPageScript(*W.wbrLogBook,
                "window.frames['left_frame'].document.forms['log_add'].log_submit.click()");
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "G4XYZ", "7.0760"); })) << Dump();
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Filled() == 2; }));
  // The list frame reloads once more with the contact in the form.
  TWalkCounter Counter(*W.LogPage());
  RunPageScript(*W.wbrLogBook, "window.frames['right_frame'].location.reload()");
  ASSERT_TRUE(WaitUntil([&] {
    return std::find(Counter.Seen.begin(), Counter.Seen.end(), "7.0760") != Counter.Seen.end();
  }));
  ExpectNoTune(W, Shack);
  EXPECT_TRUE(IsContact(Form(), "G4XYZ", "7.0760")) << Dump();
  EXPECT_TRUE(ErrorBoxes().empty());
}

// The operator saves a contact the program filled in, then presses Back: the
// history restores the form as it was left, with the contact's frequency and
// mode. They are not the logbook's; the radio stays where it is.
TEST_F(ContactsWindow, BackAfterASaveNeverTunesTheRadio) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  test::WriteFile(Shack.IniPath(),
                  test::ReadFile(Shack.IniPath()) + "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\n");
  vela::TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  Send(test::ContactLogged("DL1ABC"));
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
  RunPageScript(*W.wbrLogBook,
                "window.frames['left_frame'].document.forms['log_add'].log_submit.click()");
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();

  Shack.Sim().ClearLines();
  TWalkCounter Counter(*W.LogPage());
  // Back, as the button does; a save by a script gives the browser no user
  // action, so its Back would pass over that page, which the history
  // still restores when asked for it by place.
  QWebEngineHistory* History = W.wbrLogBook->history();
  ASSERT_TRUE(History->canGoBack());
  History->goToItem(History->itemAt(History->currentItemIndex() - 1));
  ASSERT_TRUE(WaitUntil([&] {
    return std::find(Counter.Seen.begin(), Counter.Seen.end(), "7.0755") != Counter.Seen.end();
  })) << Dump();
  EXPECT_TRUE(W.LogPage()->Restored());
  ExpectNoTune(W, Shack);
  EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(ContactsWindow, ARecordAppendedToALogFileFillsTheForm) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  const std::string Log = Shack.IniPath() + ".wsjtx_log.adi";
  test::WriteFile(Log, "ADIF export<eoh>\n<call:6>OLD1AB <qso_date:8>20261201 "
                       "<time_on:6>101010 <band:3>40m <mode:3>FT8 <eor>\n");
  test::WriteFile(Shack.IniPath(),
                  test::ReadFile(Shack.IniPath()) +
                      "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\nLogFile0=" + Log + "\n");
  vela::TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  EXPECT_NE(W.Contacts()->StatusText().find("1 log file"), std::string::npos)
      << W.Contacts()->StatusText();
  std::ofstream(Log, std::ios::app)
      << std::string("<call:6>DL1ABC <qso_date:8>20261207 <time_on:6>225750 <band:3>40m "
                     "<freq:8>7.075500 <mode:3>FT8 <eor>\n");
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
}
