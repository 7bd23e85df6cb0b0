// The main window end to end: the real browser, the sample logbook and the
// radio simulator on a pty linked as COM1.
#include <QComboBox>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QWebEngineHistory>
#include <gtest/gtest.h>
#include <memory>
#include <regex>

#include "WindowTest.h"
#include "app/guiVelaLogMain.h"
#include "cat/untCATinterface.h"
#include "common/FileHelpers.h"
#include "common/StationInspector.h"
#include "gui/guiVLogSettings.h"
#include "gui/untLinkStatusStrip.h"
#include "logpage/untLogPHPinterface.h"
#include "logpage/untWebBrowser.h"
#include "settings/untVelaLogSettings.h"

using namespace velatest;
using vela::TClockReading;
using vela::TfrmVelaLogMain;

namespace {

class MainWindow : public TWindowTest {
protected:
  void LeftFrame(const std::string& Script) {
    RunPageScript(*FWindow->wbrLogBook,
                  "(function(){var f=window.frames['left_frame'];" + Script + "})()");
  }
};

std::string SimLog(TTestShack& Shack) {
  std::string Text;
  for (const std::string& Line : Shack.Sim().Lines())
    if (Line.rfind("cmd IF", 0) != 0)
      Text += Line + " | ";
  return Text;
}

bool IsUtcDateNear(const std::string& Text) {
  // The UTC date read just before or just after (a test may span midnight).
  const std::string Now = vela::ClockDateText(TfrmVelaLogMain::SystemClock());
  return std::regex_match(Text, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}")) &&
         (Text == Now || Text < Now);
}

bool IsUtcTimeNear(const std::string& Text) {
  return std::regex_match(Text, std::regex("[0-2][0-9]:[0-5][0-9]"));
}

} // namespace

TEST(ClockTexts, LeadingZerosAndNoSeconds) {
  TClockReading Now;
  Now.Year = 2016, Now.Month = 3, Now.Day = 7, Now.Hour = 9, Now.Minute = 5;
  EXPECT_EQ(vela::ClockDateText(Now), "2016-03-07");
  EXPECT_EQ(vela::ClockTimeText(Now), "09:05");
  Now.Month = 12, Now.Day = 31, Now.Hour = 23, Now.Minute = 59;
  EXPECT_EQ(vela::ClockDateText(Now), "2016-12-31");
  EXPECT_EQ(vela::ClockTimeText(Now), "23:59");
}

TEST_F(MainWindow, StartsWithoutSettingsFileAndPollsTheStoredRadio) {
  // No settings file: the default server ("localhost") and the Flex driver
  // on COM1, where a Flex simulator answers.
  TTestShack Shack("flex", 0, false);
  ASSERT_TRUE(Shack.Started());
  ASSERT_FALSE(QFile::exists(QString::fromStdString(Shack.IniPath())));
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_NE(W.Settings(), nullptr);
  ASSERT_NE(W.SettingsDialog(), nullptr);
  ASSERT_NE(W.LogPage(), nullptr);
  ASSERT_NE(velatest::StationCAT(W.Station()), nullptr);
  EXPECT_FALSE(W.SettingsDialog()->isVisible());
  EXPECT_EQ(W.Settings()->Radio(), vela::rtFlex);
  EXPECT_TRUE(WaitUntil([&] { return W.wbrLogBook->url().host() == "localhost"; }))
      << W.wbrLogBook->url().toString().toStdString();
  EXPECT_TRUE(WaitUntil([&] {
    return velatest::StationCAT(W.Station())->Frequency() == "14.0740";
  })) << "driver frequency: "
      << velatest::StationCAT(W.Station())->Frequency();
  EXPECT_TRUE(Shack.Sim().PrintedPrefix("cmd "));
  W.close();
  EXPECT_EQ(W.Settings(), nullptr);
  EXPECT_EQ(W.SettingsDialog(), nullptr);
  EXPECT_EQ(W.LogPage(), nullptr);
  EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(MainWindow, RadioFillsThePageAndThePageTunesTheRadio) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  Open(Shack);

  // Start-up: band, frequency and mode from the radio, the UTC date and time
  // from the clock.
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  ASSERT_TRUE(WaitForm([](const TForm& F) {
    return IsUtcDateNear(Field(F, "log_date")) && IsUtcTimeNear(Field(F, "log_time"));
  })) << Dump();

  // Turning the VFO and changing the mode follow into the page.
  Shack.Sim().Send("freq 7074500");
  EXPECT_TRUE(WaitRadioFields("40m", "7.0745", "usb")) << Dump();
  Shack.Sim().Send("mode cw");
  EXPECT_TRUE(WaitRadioFields("40m", "7.0745", "CW")) << Dump();

  // A page whose form shows another frequency and mode tunes the radio.
  Shack.Sim().Send("freq 14074000");
  Shack.Sim().Send("mode usb");
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  Shack.Sim().ClearLines();
  LeftFrame("f.location.href='/log_add?freq=7.0745&mode=CW';");
  EXPECT_TRUE(WaitUntil([&] {
    return Shack.Sim().Printed("freq 7074500") && Shack.Sim().Printed("mode cw");
  })) << "simulator did not follow the page: "
      << SimLog(Shack) << Dump();
  EXPECT_TRUE(WaitRadioFields("40m", "7.0745", "CW")) << Dump();

  // A page with an empty frequency field is filled from the radio.
  LeftFrame("f.location.href='/log_add?call=MARK1';");
  ASSERT_TRUE(WaitForm([](const TForm& F) { return Field(F, "call_rx") == "MARK1"; })) << Dump();
  EXPECT_TRUE(WaitForm([](const TForm& F) {
    return Field(F, "log_freq") == "7.0745" && Field(F, "log_band") == "40m" &&
           Field(F, "log_mode") == "CW" && IsUtcDateNear(Field(F, "log_date")) &&
           IsUtcTimeNear(Field(F, "log_time"));
  })) << Dump();

  // Submitting a contact reloads the left frame with an empty form, which is
  // filled again: radio values, date and time.
  LeftFrame("var form=f.document.forms['log_add'];form.elements['call_rx'].value='DL1ABC';"
            "form.elements['log_date'].value='';form.elements['log_time'].value='';"
            "form.elements['log_band'].value='';form.elements['log_freq'].value='';"
            "form.elements['log_mode'].value='';");
  LeftFrame("f.document.forms['log_add'].submit();");
  ASSERT_TRUE(WaitForm([](const TForm& F) { return Field(F, "call_rx").empty(); })) << Dump();
  EXPECT_TRUE(WaitForm([](const TForm& F) {
    return Field(F, "log_freq") == "7.0745" && Field(F, "log_band") == "40m" &&
           Field(F, "log_mode") == "CW" && IsUtcDateNear(Field(F, "log_date")) &&
           IsUtcTimeNear(Field(F, "log_time"));
  })) << Dump();
  QFile Contacts(QString::fromStdString(Shack.Folder() + "/contacts.json"));
  ASSERT_TRUE(Contacts.open(QIODevice::ReadOnly));
  EXPECT_TRUE(Contacts.readAll().contains("DL1ABC"));
  EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(MainWindow, ClockWritesOnDayAndTimeChangesOnly) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  // The clock from here on is the test's; real ticks read it too.
  TClockReading Now;
  Now.Year = 2016, Now.Month = 3, Now.Day = 7, Now.Hour = 10, Now.Minute = 0;
  Now.LocalMillisecond = 999;
  W.setClockSource([&Now] { return Now; });
  W.Timer1->stop();
  auto ClearDateTime = [&] {
    LeftFrame("var e=f.document.forms['log_add'].elements;e['log_date'].value='';"
              "e['log_time'].value='';");
    ASSERT_TRUE(WaitForm([](const TForm& F) {
      return Field(F, "log_date").empty() && Field(F, "log_time").empty();
    })) << Dump();
  };
  auto Tick = [&] {
    W.Timer1Timer();
    // Lets the page take the writes before it is read.
    WaitUntil([] { return false; }, 100);
    return Form();
  };

  // Re-arming keeps the ticks at the start of each second.
  W.Timer1Timer();
  EXPECT_EQ(W.Timer1->interval(), 1);
  Now.LocalMillisecond = 0;
  W.Timer1Timer();
  EXPECT_EQ(W.Timer1->interval(), 1000);
  Now.LocalMillisecond = 250;
  W.Timer1Timer();
  EXPECT_EQ(W.Timer1->interval(), 750);

  // Reload the form so that the remembered minute and day start over; the
  // first tick during minute 0 writes both.
  LeftFrame("f.location.href='/log_add?call=CLK1';");
  ASSERT_TRUE(WaitForm([](const TForm& F) {
    return Field(F, "call_rx") == "CLK1" && Field(F, "log_freq") == "14.0740";
  })) << Dump();
  ClearDateTime();
  Now.Hour = 10, Now.Minute = 0;
  TForm F = Tick();
  EXPECT_EQ(Field(F, "log_date"), "2016-03-07");
  EXPECT_EQ(Field(F, "log_time"), "10:00");

  // Later ticks in the same minute write nothing.
  ClearDateTime();
  Now.LocalMillisecond = 500;
  F = Tick();
  EXPECT_EQ(Field(F, "log_date"), "");
  EXPECT_EQ(Field(F, "log_time"), "");

  // The next minute writes the time only.
  Now.Minute = 1;
  F = Tick();
  EXPECT_EQ(Field(F, "log_date"), "");
  EXPECT_EQ(Field(F, "log_time"), "10:01");

  // A new UTC day writes the date.
  ClearDateTime();
  Now.Day = 8, Now.Hour = 0, Now.Minute = 0;
  F = Tick();
  EXPECT_EQ(Field(F, "log_date"), "2016-03-08");
  EXPECT_EQ(Field(F, "log_time"), "00:00");

  // A jump of whole hours (a suspend) keeps the minute: the time is written.
  ClearDateTime();
  Now.Hour = 3;
  F = Tick();
  EXPECT_EQ(Field(F, "log_date"), "");
  EXPECT_EQ(Field(F, "log_time"), "03:00");

  // A freshly loaded form gets date and time at the next tick, without
  // waiting for the minute or the day to change.
  LeftFrame("f.location.href='/log_add?call=CLK2';");
  ASSERT_TRUE(WaitForm([](const TForm& F) {
    return Field(F, "call_rx") == "CLK2" && Field(F, "log_freq") == "14.0740";
  })) << Dump();
  F = Tick();
  EXPECT_EQ(Field(F, "log_date"), "2016-03-08");
  EXPECT_EQ(Field(F, "log_time"), "03:00");
  EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(MainWindow, ApplyAnotherRadioResetCatAndBack) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();

  // The Settings button shows the dialog, modeless.
  QTest::mouseClick(W.pnlSettings, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_TRUE(WaitUntil([&] { return W.SettingsDialog()->isVisible(); }));
  EXPECT_FALSE(W.SettingsDialog()->isModal());

  // Another radio on COM1, and Apply with its type: the driver is replaced
  // and radio events still reach the page.
  Shack.RestartSim("ic7300", "7074000", "lsb");
  ASSERT_TRUE(Shack.Sim().Ready());
  vela::TCATInterface* OldDriver = velatest::StationCAT(W.Station());
  W.SettingsDialog()->cbxRadio()->setCurrentIndex(vela::rtIC7300);
  W.SettingsDialog()->pnlOKClick();
  EXPECT_NE(velatest::StationCAT(W.Station()), OldDriver);
  EXPECT_EQ(W.Settings()->Radio(), vela::rtIC7300);
  EXPECT_FALSE(W.SettingsDialog()->isVisible());
  EXPECT_TRUE(WaitRadioFields("40m", "7.0740", "lsb")) << Dump();
  Shack.Sim().Send("freq 21074000");
  EXPECT_TRUE(WaitRadioFields("15m", "21.0740", "lsb")) << Dump();

  // A radio that comes back on a new line is polled again after Reset CAT.
  Shack.RestartSim("ic7300", "3573000", "usb");
  ASSERT_TRUE(Shack.Sim().Ready());
  QTest::mouseClick(W.pnlResetRadio, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(WaitRadioFields("80m", "3.5730", "usb")) << Dump();

  // Back returns to the previous page of the history.
  const QUrl Start = W.wbrLogBook->url();
  W.wbrLogBook->Navigate(Shack.Url("/contacts"));
  ASSERT_TRUE(WaitUntil([&] { return W.wbrLogBook->url().path() == "/contacts"; }));
  QTest::mouseClick(W.pnlBack, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(WaitUntil([&] { return W.wbrLogBook->url() == Start; }))
      << W.wbrLogBook->url().toString().toStdString();
  EXPECT_TRUE(ErrorBoxes().empty());
}

// The strip under the bar names the radio, its port and the link's state;
// a radio switched off and on again is polled again without Reset CAT.
TEST_F(MainWindow, StatusStripShowsTheLinkAndTheRadioComesBackByItself) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  auto Strip = [&] { return W.lblLinkStatus->FullText().toStdString(); };
  auto Live = [&] {
    const std::string Text = Strip(), Tail = " · live";
    return Text.rfind("FT950 · COM1 \u2192 /dev/pts/", 0) == 0 && Text.size() > Tail.size() &&
           Text.compare(Text.size() - Tail.size(), Tail.size(), Tail) == 0;
  };
  EXPECT_TRUE(WaitUntil(Live)) << Strip();
  EXPECT_TRUE(W.lblLinkStatus->isVisible());
  EXPECT_LT(W.lblLinkStatus->geometry().top(), W.wbrLogBook->geometry().top());

  Shack.Sim().Send("quit");
  EXPECT_TRUE(WaitUntil([&] { return !Live(); })) << Strip();
  Shack.RestartSim("ft950", "7074500", "cw");
  ASSERT_TRUE(Shack.Sim().Ready());
  EXPECT_TRUE(WaitRadioFields("40m", "7.0745", "CW")) << Dump();
  EXPECT_TRUE(WaitUntil(Live)) << Strip();
  EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(MainWindow, BackWithoutHistoryShowsTheErrorBoxAndGoesOn) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  ASSERT_FALSE(W.wbrLogBook->history()->canGoBack());
  QTest::mouseClick(W.pnlBack, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_EQ(ErrorBoxes().size(), 1u);
  // The window goes on: the radio still reaches the page.
  Shack.Sim().Send("freq 7074500");
  EXPECT_TRUE(WaitRadioFields("40m", "7.0745", "usb")) << Dump();
}

TEST_F(MainWindow, ButtonsLook) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  const QColor Black(0, 0, 0), Yellow(255, 255, 0);
  for (vela::TPanelButton* B : {W.pnlSettingsBg, W.pnlResetRadioBg, W.pnlBackBg}) {
    EXPECT_EQ(B->FrameColor(), Yellow);
    EXPECT_EQ(B->FaceColor(), QColor(204, 204, 204));
    EXPECT_EQ(B->CaptionColor(), Black);
    EXPECT_EQ(B->width() - B->Face()->width(), 5);
  }
  EXPECT_EQ(W.pnlButtons->palette().color(QPalette::Window), QColor(102, 102, 102));
  QTest::mouseMove(W.pnlResetRadio, QPoint(5, 5));
  EXPECT_TRUE(WaitUntil([&] { return W.pnlResetRadioBg->Highlighted(); }, 5000));
  EXPECT_FALSE(W.pnlSettingsBg->Highlighted());
  W.pnlButtonsMouseMove();
  EXPECT_FALSE(W.pnlResetRadioBg->Highlighted());
  // A press shifts the face; a release outside moves it back and clicks
  // nothing.
  QTest::mousePress(W.pnlSettings, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(W.pnlSettings->pos(), QPoint(1, 1));
  QTest::mouseRelease(W.pnlSettings, Qt::LeftButton, {}, QPoint(400, 5));
  EXPECT_EQ(W.pnlSettings->pos(), QPoint(0, 0));
  EXPECT_FALSE(W.SettingsDialog()->isVisible());
}

TEST_F(MainWindow, ClosingStoresThePlacementAndTheNextStartUsesIt) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  {
    TfrmVelaLogMain& W = Open(Shack);
    ASSERT_TRUE(WaitUntil([&] { return W.LogPage() != nullptr; }));
    W.move(37, 41);
    W.resize(811, 603);
    ASSERT_TRUE(WaitUntil([&] { return W.pos() == QPoint(37, 41) && W.width() == 811; }, 10000));
    W.close();
    EXPECT_FALSE(W.Timer1->isActive());
    EXPECT_EQ(W.Settings(), nullptr);
    FWindow.reset();
  }
  QFile Ini(QString::fromStdString(Shack.IniPath()));
  ASSERT_TRUE(Ini.open(QIODevice::ReadOnly));
  const QByteArray Text = Ini.readAll();
  EXPECT_TRUE(Text.contains("Top=41")) << Text.toStdString();
  EXPECT_TRUE(Text.contains("Left=37")) << Text.toStdString();
  EXPECT_TRUE(Text.contains("Width=811")) << Text.toStdString();
  EXPECT_TRUE(Text.contains("Height=603")) << Text.toStdString();

  TfrmVelaLogMain& W = Open(Shack);
  EXPECT_TRUE(WaitUntil([&] { return W.pos() == QPoint(37, 41); }, 10000)) << W.x() << "," << W.y();
  EXPECT_EQ(W.size(), QSize(811, 603));
  EXPECT_TRUE(ErrorBoxes().empty());
}

TEST_F(MainWindow, SettingsFileThatTurnsUnwritableStillLetsTheWindowClose) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  vela::test::TImmutable Lock(Shack.IniPath());
  if (!Lock.Ok())
    GTEST_SKIP() << "chattr +i is not available here";
  // The dialog's Apply fails inside a panel button's click: its error takes
  // the program's one error-box path (here the test's recorder).
  W.SettingsDialog()->show();
  QTest::mouseClick(W.SettingsDialog()->pnlApply()->Face(), Qt::LeftButton);
  ASSERT_EQ(ErrorBoxes().size(), 1u);
  EXPECT_NE(ErrorBoxes().back().find("Unable to write"), std::string::npos) << ErrorBoxes().back();
  W.close();
  EXPECT_EQ(W.SettingsDialog(), nullptr);
  EXPECT_EQ(W.LogPage(), nullptr);
  EXPECT_EQ(W.Settings(), nullptr);
  EXPECT_FALSE(W.Timer1->isActive());
  ASSERT_EQ(ErrorBoxes().size(), 2u);
  EXPECT_NE(ErrorBoxes().back().find("Unable to write"), std::string::npos) << ErrorBoxes().back();
}

TEST_F(MainWindow, UnwritableSettingsFileStillComesUpAndCloses) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  vela::test::TImmutable Lock(Shack.IniPath());
  if (!Lock.Ok())
    GTEST_SKIP() << "chattr +i is not available here";

  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_NE(W.SettingsDialog(), nullptr);
  ASSERT_NE(velatest::StationCAT(W.Station()), nullptr);
  ASSERT_NE(W.LogPage(), nullptr);
  // The driver writes its radio type: that failure is reported once.
  WaitUntil([] { return !ErrorBoxes().empty(); }, 5000);
  const size_t Before = ErrorBoxes().size();
  EXPECT_LE(Before, 1u);
  // The radio still fills the page.
  EXPECT_TRUE(WaitRadioFields("20m", "14.0740", "usb")) << Dump();
  W.close();
  EXPECT_EQ(W.SettingsDialog(), nullptr);
  EXPECT_EQ(W.LogPage(), nullptr);
  EXPECT_EQ(W.Settings(), nullptr);
  // Storing the placement failed and was reported.
  ASSERT_EQ(ErrorBoxes().size(), Before + 1);
  EXPECT_NE(ErrorBoxes().back().find("Unable to write"), std::string::npos) << ErrorBoxes().back();
}
