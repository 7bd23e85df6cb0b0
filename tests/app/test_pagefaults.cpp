// The main window with log pages that misbehave: a page that never finishes
// loading, pages without the entry form's frame (radio reports arriving
// there, and such a page as the configured server address).
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "WindowTest.h"
#include "app/guiVelaLogMain.h"
#include "cat/untCATinterface.h"
#include "common/StationInspector.h"
#include "gui/guiVLogSettings.h"
#include "logpage/BrowserScript.h"
#include "logpage/StallingServer.h"
#include "logpage/untLogPHPinterface.h"
#include "logpage/untWebBrowser.h"

using namespace velatest;
using vela::TfrmVelaLogMain;
using TFieldIndex = vela::TLogPHPinterface::TFieldIndex;

namespace {

const TFieldIndex NoFields = {-1, -1, -1, -1, -1, -1};

class PageFaults : public TWindowTest {
protected:
  // Waits until the form in the left frame shows the band, frequency and mode
  // and a date and time.
  bool WaitFilled(const std::string& Band, const std::string& Freq, const std::string& Mode) {
    return WaitForm([&](const TForm& F) {
      return Field(F, "log_band") == Band && Field(F, "log_freq") == Freq &&
             Field(F, "log_mode") == Mode && Field(F, "log_date").size() == 10 &&
             Field(F, "log_time").size() == 5;
    });
  }
  QVariant Run(const std::string& Script) {
    return velatest::RunScript(*FWindow->wbrLogBook, Script);
  }

  // Radio reports and clock ticks while the page has no form to take them:
  // direct calls, and the radio itself moving (the driver's report reaches
  // the window as its own would). Then the event loop must still run.
  void ReportsWithoutAForm(TTestShack& Shack, const std::string& Freq, const std::string& Shown) {
    TfrmVelaLogMain& W = *FWindow;
    for (int i = 0; i < 5; ++i) {
      W.HandleRxData(nullptr, "40m", "7.0745", "CW");
      W.HandleRxData(nullptr, "", "", "");
      W.Timer1Timer();
    }
    Shack.Sim().Send("freq " + Freq);
    EXPECT_TRUE(WaitUntil([&] {
      return velatest::StationCAT(W.Station()) &&
             velatest::StationCAT(W.Station())->Frequency() == Shown;
    })) << "driver frequency: "
        << (velatest::StationCAT(W.Station()) ? velatest::StationCAT(W.Station())->Frequency()
                                              : std::string("<none>"));
    int Ticks = 0;
    QTimer Ticker;
    QObject::connect(&Ticker, &QTimer::timeout, [&] { ++Ticks; });
    Ticker.start(50);
    EXPECT_TRUE(WaitUntil([&] { return Ticks >= 10; }));
    EXPECT_TRUE(W.Timer1->isActive());
    EXPECT_TRUE(ErrorBoxes().empty()) << ErrorBoxes().front();
  }
};

TEST_F(PageFaults, PageThatNeverFinishesLoading) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitFilled("20m", "14.0740", "usb")) << Dump();

  TStallingServer Server;
  ASSERT_TRUE(Server.Listening());
  const std::string Form = "<form name=\"log_add\"><input name=\"log_date\">"
                           "<input name=\"log_time\"><input name=\"call_rx\" value=\"STALL\">"
                           "<input name=\"log_band\"><input name=\"log_freq\">"
                           "<input name=\"log_mode\"></form>";
  Server.Serve("/", "<!DOCTYPE html><html><head><title>t</title></head><frameset cols=\"50%,*\">"
                    "<frame name=\"left_frame\" src=\"/left\">"
                    "<frame name=\"right_frame\" src=\"/right\"></frameset></html>");
  Server.Serve("/right", Html("<p>contacts</p>"));
  Server.Hold("/left", Html(Form));
  Server.Hold("/never", Html("<p>never</p>"));

  // The form's frame is held: the other frame's walk finds no form, radio
  // reports go nowhere, and the window goes on.
  W.wbrLogBook->Navigate(Server.Url("/"));
  ASSERT_TRUE(WaitUntil([&] { return Server.Held("/left") > 0; }));
  EXPECT_TRUE(WaitUntil([&] { return W.LogPage()->FieldIndex() == NoFields; }));
  ReportsWithoutAForm(Shack, "7074500", "7.0745");
  EXPECT_EQ(Server.Held("/left"), 1);

  // The held frame arrives: its form is walked and filled from the radio.
  Server.Release("/left");
  EXPECT_TRUE(WaitFilled("40m", "7.0745", "usb")) << Dump();
  EXPECT_EQ(Field(FLast, "call_rx"), "STALL");

  // A page whose answer never comes: the page on screen stays and keeps
  // following the radio; the operator then goes to the logbook.
  W.wbrLogBook->Navigate(Server.Url("/never"));
  ASSERT_TRUE(WaitUntil([&] { return Server.Held("/never") > 0; }));
  for (int i = 0; i < 5; ++i)
    W.HandleRxData(nullptr, "40m", "7.0745", "usb");
  Shack.Sim().Send("mode cw");
  EXPECT_TRUE(WaitFilled("40m", "7.0745", "CW")) << Dump();
  EXPECT_EQ(Field(FLast, "call_rx"), "STALL");
  W.wbrLogBook->Navigate(Shack.Url("/?call=AFTER"));
  EXPECT_TRUE(WaitUntil([&] { return Field(ReadForm(*W.wbrLogBook), "call_rx") == "AFTER"; }));
  EXPECT_TRUE(WaitFilled("40m", "7.0745", "CW")) << Dump();
  EXPECT_TRUE(ErrorBoxes().empty()) << ErrorBoxes().front();
}

// A page whose renderer is stuck (a script waits on a synchronous request
// that never completes) answers no walk. The window does not wait for it: a
// real click, through the display's input queue, opens the settings dialog
// while the walk is still pending, and the walk ends after the time-out with
// the error box.
TEST_F(PageFaults, APageThatNeverAnswersLeavesTheWindowResponsive) {
  if (qgetenv("DISPLAY").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
    GTEST_SKIP() << "needs an X display and xdotool";
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));
  ASSERT_TRUE(WaitFilled("20m", "14.0740", "usb")) << Dump();

  TStallingServer Server;
  ASSERT_TRUE(Server.Listening());
  Server.Serve("/stuck", Html("<p>stuck</p><script>addEventListener('load', function () {"
                              "setTimeout(function () { var r = new XMLHttpRequest();"
                              "r.open('GET', '/held', false); try { r.send(); } catch (e) {}"
                              "}, 100); });</script>"));
  Server.Hold("/held", "ok");
  W.wbrLogBook->Navigate(Server.Url("/stuck"));
  ASSERT_TRUE(WaitUntil([&] { return Server.Held("/held") > 0; }));
  ASSERT_TRUE(WaitUntil([&] { return !W.LogPage()->Walking(); }));
  ClearErrorBoxes();

  W.wbrLogBook->setScriptTimeoutMs(8000);
  W.wbrLogBookDocumentComplete();
  ASSERT_TRUE(W.LogPage()->Walking());
  const QPoint At = W.pnlSettings->mapToGlobal(W.pnlSettings->rect().center());
  QProcess Click;
  Click.start("xdotool", {"mousemove", "--sync", QString::number(At.x()), QString::number(At.y()),
                          "click", "1"});
  bool WalkingWhenShown = false;
  EXPECT_TRUE(WaitUntil([&] {
    WalkingWhenShown = W.LogPage()->Walking();
    return W.SettingsDialog()->isVisible();
  }));
  EXPECT_TRUE(WalkingWhenShown) << "the click waited for the walk";
  Click.waitForFinished(10000);

  EXPECT_TRUE(WaitUntil([&] { return !W.LogPage()->Walking(); }));
  ASSERT_EQ(ErrorBoxes().size(), 1u);
  EXPECT_NE(ErrorBoxes()[0].find("did not answer"), std::string::npos) << ErrorBoxes()[0];

  // Once the page is free again the logbook is walked and filled as before.
  W.SettingsDialog()->hide();
  Server.Release("/held");
  W.wbrLogBook->Navigate(Shack.Url("/"));
  EXPECT_TRUE(WaitFilled("20m", "14.0740", "usb")) << Dump();
  EXPECT_EQ(ErrorBoxes().size(), 1u);
}

TEST_F(PageFaults, RadioReportsOnPagesWithoutTheFormAreSwallowed) {
  TTestShack Shack;
  ASSERT_TRUE(Shack.Started());
  TfrmVelaLogMain& W = Open(Shack);
  ASSERT_TRUE(WaitFilled("20m", "14.0740", "usb")) << Dump();

  // A plain page: no frames, no form.
  W.wbrLogBook->Navigate(Shack.Url("/contacts"));
  ASSERT_TRUE(WaitUntil([&] {
    return W.wbrLogBook->url().path() == "/contacts" && W.LogPage()->FieldIndex() == NoFields;
  }));
  const QString Before = Run("document.body.innerHTML").toString();
  ReportsWithoutAForm(Shack, "7074500", "7.0745");
  EXPECT_EQ(Run("document.body.innerHTML").toString(), Before);

  // The entry form itself, but not inside the left frame: not the logbook's
  // form, so nothing is written into it.
  W.wbrLogBook->Navigate(Shack.Url("/log_add?call=TOP"));
  ASSERT_TRUE(WaitUntil([&] { return W.wbrLogBook->url().path() == "/log_add"; }));
  ASSERT_TRUE(WaitUntil([&] {
    return Run("document.readyState").toString() == "complete" &&
           W.LogPage()->FieldIndex() == NoFields;
  }));
  ReportsWithoutAForm(Shack, "21074000", "21.0740");
  const char* const Values =
      "(function(){var e=document.forms['log_add'].elements;return [e.log_date.value,"
      "e.log_time.value,e.call_rx.value,e.log_band.value,e.log_freq.value,e.log_mode.value]"
      ".join('|');})()";
  EXPECT_EQ(Run(Values).toString(), "||TOP|||");

  // Back to the logbook: the form is filled again.
  W.wbrLogBook->Navigate(Shack.Url("/"));
  EXPECT_TRUE(WaitFilled("15m", "21.0740", "usb")) << Dump();
  EXPECT_TRUE(ErrorBoxes().empty()) << ErrorBoxes().front();
}

TEST_F(PageFaults, StartsOnAPageWithoutFrames) {
  for (const std::string Path : {"/contacts", "/log_add"}) {
    SCOPED_TRACE(Path);
    ClearErrorBoxes();
    TTestShack Shack("ft950", 3, true, Path);
    ASSERT_TRUE(Shack.Started());
    TfrmVelaLogMain& W = Open(Shack);
    ASSERT_NE(W.LogPage(), nullptr);
    ASSERT_NE(velatest::StationCAT(W.Station()), nullptr);
    EXPECT_TRUE(W.isVisible());
    EXPECT_TRUE(WaitUntil([&] {
      return W.wbrLogBook->url().path().toStdString() == Path &&
             Run("document.readyState").toString() == "complete";
    })) << W.wbrLogBook->url().toString().toStdString();
    EXPECT_TRUE(WaitUntil([&] {
      return velatest::StationCAT(W.Station())->Frequency() == "14.0740";
    })) << "driver frequency: "
        << velatest::StationCAT(W.Station())->Frequency();
    // Polling goes on: fresh commands reach the radio and its changes come
    // back.
    Shack.Sim().ClearLines();
    Shack.Sim().Send("freq 3573000");
    EXPECT_TRUE(WaitUntil([&] {
      return velatest::StationCAT(W.Station())->Frequency() == "3.5730";
    })) << "driver frequency: "
        << velatest::StationCAT(W.Station())->Frequency();
    EXPECT_TRUE(WaitUntil([&] { return Shack.Sim().PrintedPrefix("cmd "); }));
    EXPECT_EQ(W.LogPage()->FieldIndex(), NoFields);
    EXPECT_TRUE(W.Timer1->isActive());
    EXPECT_TRUE(ErrorBoxes().empty()) << ErrorBoxes().front();
    W.close();
    FWindow.reset();
  }
}

} // namespace
