// Contacts into the form end to end: the real browser, the sample logbook,
// the radio simulator and datagrams sent over UDP on 127.0.0.1. A contact
// sent as type 5 and 12 fills the form once; neither the clock nor the radio
// overwrite it; the next contact waits and fills the form loaded anew.
#include <QUdpSocket>
#include <gtest/gtest.h>

#include "WindowTest.h"
#include "app/untContactsToPage.h"
#include "cat/untCATinterface.h"
#include "common/ContactDatagrams.h"
#include "common/FileHelpers.h"
#include "gui/untLinkStatusStrip.h"
#include "logpage/BrowserScript.h"

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
                         FWindow->Contacts()->Listener().Port());
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
  TStation Station;
  ASSERT_TRUE(Station.Started());
  test::WriteFile(Station.IniPath(), test::ReadFile(Station.IniPath()) +
                                         "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\n"
                                         "[ContactFields]\nrst_sent=rst_sent\ngridsquare=grid\n");
  vela::TfrmVelaLogMain& W = Open(Station);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  ASSERT_TRUE(W.Contacts()->Listener().Listening()) << W.Contacts()->StatusText();

  // Sent twice, as every sender does; filled once.
  Send(test::ContactLogged("DL1ABC"));
  Send(test::LoggedAdif("DL1ABC"));
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "DL1ABC", "7.0755"); })) << Dump();
  EXPECT_EQ(Named("rst_sent"), "-10");
  EXPECT_EQ(Named("grid"), "JO62");
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Filled() == 1; }));

  // The radio moves and the clock turns to another day and minute: the
  // contact's fields stay.
  Station.Sim().Send("freq 14075000");
  ASSERT_TRUE(WaitUntil([&] { return W.CAT() && W.CAT()->Frequency() == "14.0750"; }));
  TClockReading Now;
  Now.Year = 2030, Now.Month = 1, Now.Day = 2, Now.Hour = 3, Now.Minute = 4;
  W.setClockSource([&Now] { return Now; });
  W.Timer1Timer();
  EXPECT_TRUE(IsContact(Form(), "DL1ABC", "7.0755")) << Dump();

  // A second contact waits while the first is in the form.
  Send(test::ContactLogged("G4XYZ", 7076000));
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Journal()->Waiting() == 1; }));
  EXPECT_NE(W.lblLinkStatus->FullText().toStdString().find("1 waiting"), std::string::npos)
      << W.lblLinkStatus->FullText().toStdString();
  EXPECT_EQ(Field(Form(), "call_rx"), "DL1ABC");

  // The operator saves the contact: the logbook stores it with the mapped
  // fields, and the form loaded anew takes the waiting one.
  RunPageScript(*W.wbrLogBook,
                "window.frames['left_frame'].document.forms['log_add'].log_submit.click()");
  ASSERT_TRUE(WaitForm([&](const TForm& F) { return IsContact(F, "G4XYZ", "7.0760"); })) << Dump();
  const std::string Stored = test::ReadFile(Station.Folder() + "/contacts.json");
  EXPECT_NE(Stored.find("\"DL1ABC\""), std::string::npos) << Stored;
  EXPECT_NE(Stored.find("\"JO62\""), std::string::npos) << Stored;
  ASSERT_TRUE(WaitUntil([&] { return W.Contacts()->Journal()->Waiting() == 0; }));

  // Both are in the journal beside the settings file.
  const std::string Journal = test::ReadFile(Station.Folder() + "/VelaLog-contacts.adi");
  EXPECT_NE(Journal.find("<call:6>DL1ABC"), std::string::npos);
  EXPECT_NE(Journal.find("<call:5>G4XYZ"), std::string::npos);
  EXPECT_TRUE(ErrorBoxes().empty());
}
