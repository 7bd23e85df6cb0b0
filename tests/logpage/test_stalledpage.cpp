// Log pages that never finish loading: the whole answer, one frame, the rest
// of the frameset or a script inside the form's frame is held back by a local
// server. The browser and the log page bridge are wired as the program wires
// them (every document-complete notification walks the page).
#include "LogPageTestSupport.h"
#include "StallingServer.h"
#include "logpage/untLogPHPinterface.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace velatest;
using vela::TLogPHPinterface;
using vela::TWebBrowser;
using TFieldIndex = TLogPHPinterface::TFieldIndex;

namespace {

const TFieldIndex NoFields = {-1, -1, -1, -1, -1, -1};
const TFieldIndex SixFields = {0, 1, 2, 3, 4, 5};

const char* const FormBody = "<form name=\"log_add\"><input name=\"log_date\">"
                             "<input name=\"log_time\"><input name=\"call_rx\">"
                             "<input name=\"log_band\"><input name=\"log_freq\">"
                             "<input name=\"log_mode\"></form>";

// The frameset's text up to and including the left frame, and the rest.
std::string FramesetStart(const std::string& Prefix) {
  return "<!DOCTYPE html><html><head><title>t</title></head><frameset cols=\"50%,*\">"
         "<frame name=\"left_frame\" src=\"" +
         Prefix + "left\">";
}
std::string FramesetEnd(const std::string& Prefix) {
  return "<frame name=\"right_frame\" src=\"" + Prefix + "right\"></frameset></html>";
}

struct TStallCase {
  const char* Name;
  // Prefix/ is the page; Prefix/left and Prefix/right its frames.
  std::string Prefix;
  // The path held and the part of its body sent before the stall.
  std::string HeldPath;
  std::size_t Sent = 0;
  std::string LeftBody = FormBody;
  // Where the fields are while the stall lasts.
  TFieldIndex DuringStall = SixFields;
  // Whether documents of the stalled page arrive during the stall (when none
  // does, the sample logbook shown before is still on screen).
  bool Arrives = true;
  // Ends the stall by going to the sample logbook instead of releasing it.
  bool NavigateAway = false;
};

class StalledPage : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Server.Listening()); }

  void Routes(const TStallCase& Case) {
    const std::string Frameset = FramesetStart(Case.Prefix) + FramesetEnd(Case.Prefix);
    Server.Serve(Case.Prefix, Frameset);
    Server.Serve(Case.Prefix + "left", Html(Case.LeftBody));
    Server.Serve(Case.Prefix + "right", Html("<p>contacts</p>"));
    Server.Serve(Case.Prefix + "slow.js", "window.slowScript = 1;");
    const std::string HeldBody = Case.HeldPath == Case.Prefix            ? Frameset
                                 : Case.HeldPath == Case.Prefix + "left" ? Html(Case.LeftBody)
                                 : Case.HeldPath == Case.Prefix + "right"
                                     ? Html("<p>contacts</p>")
                                     : std::string("window.slowScript = 1;");
    Server.Hold(Case.HeldPath, HeldBody, Case.Sent);
  }

  TStallingServer Server;
};

QString LeftValue(TWebBrowser& Browser, int Position) {
  return RunScript(Browser, QStringLiteral("window.frames['left_frame'].document.forms['log_add']"
                                           ".elements[%1].value")
                                .arg(Position))
      .toString();
}

TEST_F(StalledPage, NeitherHangsNorFailsAndWalksAgainOnceTheStallEnds) {
  const std::string Form = FormBody;
  TStallCase Cases[] = {
      {"whole answer held", "/whole/", "/whole/", 0, Form, SixFields, false},
      {"form frame held", "/left/", "/left/left", 0, Form, NoFields},
      {"other frame held", "/right/", "/right/right", 0, Form, SixFields},
      {"frameset cut after the form frame", "/cut/", "/cut/", FramesetStart("/cut/").size(), Form,
       SixFields, true, true},
      {"script after the form held", "/script/", "/script/slow.js", 0,
       Form + "<script src=\"/script/slow.js\"></script><p>end</p>", SixFields},
      {"form frame held, then left", "/leave/", "/leave/left", 0, Form, NoFields, true, true},
  };
  for (const TStallCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Routes(Case);
    TWebBrowser Browser;
    Browser.resize(1000, 700);
    Browser.show();
    TLogPHPinterface Bridge(&Browser);
    int Walks = 0;
    QObject::connect(&Browser, &TWebBrowser::DocumentComplete, [&] {
      Bridge.ScanLogPage();
      ++Walks;
    });
    bool Loaded = false;
    QObject::connect(&Browser, &TWebBrowser::loadFinished, [&](bool) { Loaded = true; });
    const int Errors = EscapedErrorCount();

    // The sample logbook first, as the program shows it before the operator
    // goes elsewhere.
    ASSERT_TRUE(LoadAndWait(Browser, ServerUrl("/"), 3));
    ASSERT_TRUE(WaitUntil([&] { return Bridge.FieldIndex() == SixFields; }));
    Loaded = false;
    const int WalksAtStart = Walks;
    Browser.Navigate(Server.Url(Case.Prefix));
    ASSERT_TRUE(WaitUntil([&] { return Server.Held(Case.HeldPath) > 0; }, 30000))
        << "requests: " << Server.Requests(Case.HeldPath);

    // While the answer is held: the event loop runs, the documents that did
    // arrive are walked, writes and walks return. (A form frame held up by
    // its script reports nothing; whether another frame's walk sees its form
    // depends on timing, so the walks here are the test's own.)
    if (Case.Arrives) {
      EXPECT_TRUE(WaitUntil([&] { return Walks > WalksAtStart; }, 30000));
    }
    EXPECT_TRUE(WaitUntil(
        [&] {
          Bridge.ScanLogPage();
          return Bridge.FieldIndex() == Case.DuringStall;
        },
        30000))
        << "fields " << Bridge.FieldIndex()[4];
    int Ticks = 0;
    QTimer Ticker;
    QObject::connect(&Ticker, &QTimer::timeout, [&] {
      ++Ticks;
      Bridge.SetLogField(static_cast<uint8_t>(Ticks % 6), "tick");
    });
    Ticker.start(50);
    EXPECT_TRUE(WaitUntil([&] { return Ticks >= 10; }, 30000));
    for (uint8_t Field = 0; Field < 6; ++Field)
      Bridge.SetLogField(Field, "during the stall");
    EXPECT_TRUE(ScanAndWait(Bridge));
    EXPECT_EQ(Bridge.FieldIndex(), Case.DuringStall);
    if (Case.DuringStall == SixFields) {
      // The form on screen takes writes while the next page (or the rest of
      // this one) is still on its way.
      Bridge.SetLogField(4, "7.0745");
      EXPECT_TRUE(WaitUntil([&] { return LeftValue(Browser, 4) == "7.0745"; }));
    }
    Ticker.stop();
    EXPECT_FALSE(Loaded) << "the page finished loading: nothing was held";
    EXPECT_GT(Server.Held(Case.HeldPath), 0);
    EXPECT_EQ(EscapedErrorCount(), Errors) << LastEscapedError();

    // Once the answer completes (or another page is chosen) walks find the
    // form again and writes reach it.
    const int WalksBefore = Walks;
    if (Case.NavigateAway)
      Browser.Navigate(ServerUrl("/?call=AFTER"));
    else
      Server.Release(Case.HeldPath);
    // Walks counts walks begun; the one of the new page must also have ended,
    // or the write below goes to the old page's form.
    ASSERT_TRUE(WaitUntil(
        [&] {
          return Loaded && Walks > WalksBefore && !Bridge.Walking() &&
                 Bridge.FieldIndex() == SixFields;
        },
        30000))
        << "loaded " << Loaded << ", walks " << Walks - WalksBefore;
    Bridge.SetLogField(3, "40m");
    EXPECT_TRUE(WaitUntil([&] { return LeftValue(Browser, 3) == "40m"; }));
    if (Case.NavigateAway) {
      EXPECT_EQ(LeftValue(Browser, 2), "AFTER");
    } else if (Case.HeldPath.ends_with("slow.js")) {
      EXPECT_TRUE(RunScript(Browser, "window.frames['left_frame'].document.body.textContent")
                      .toString()
                      .endsWith("end"));
    }
    EXPECT_EQ(EscapedErrorCount(), Errors) << LastEscapedError();
  }
}

} // namespace
