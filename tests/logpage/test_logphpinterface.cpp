// The log page bridge against the sample logbook and test pages, all served
// on 127.0.0.1 and shown in the real browser.
#include "LogPageTestSupport.h"
#include "logpage/untLogPHPinterface.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

using namespace velatest;
using vela::EWebBrowser;
using vela::TLogPHPinterface;
using vela::TWebBrowser;
using TFieldIndex = TLogPHPinterface::TFieldIndex;

namespace {

const TFieldIndex NoFields = {-1, -1, -1, -1, -1, -1};
const TFieldIndex SampleFields = {0, 1, 2, 3, 4, 5};

struct TPageData {
  std::string Frequency, Mode;
  bool operator==(const TPageData&) const = default;
};

// A frameset whose frames are named and filled as given; the page that
// holds them is written under /static/<Name>.html.
std::string WriteFrameset(const std::string& Name,
                          const std::vector<std::pair<std::string, std::string>>& Frames) {
  std::string Html = "<!DOCTYPE html><html><head><title>t</title></head><frameset rows=\"";
  for (size_t i = 0; i < Frames.size(); ++i)
    Html += i ? ",*" : "*";
  Html += "\">";
  for (size_t i = 0; i < Frames.size(); ++i) {
    const std::string Src = Name + "_" + std::to_string(i) + ".html";
    WriteStaticPage(Src, "<!DOCTYPE html><html><body>" + Frames[i].second + "</body></html>");
    Html += "<frame name=\"" + Frames[i].first + "\" src=\"" + Src + "\">";
  }
  Html += "</frameset></html>";
  WriteStaticPage(Name + ".html", Html);
  return ServerUrl("/static/" + Name + ".html");
}

class LogPageTest : public testing::Test {
protected:
  void SetUp() override {
    Browser = std::make_unique<TWebBrowser>();
    Browser->resize(1000, 700);
    Browser->show();
    Bridge = std::make_unique<TLogPHPinterface>(Browser.get());
    Bridge->setOnPageData(vela::MakeMethod(this, &LogPageTest::PageData));
  }
  void TearDown() override {
    Bridge.reset();
    Browser.reset();
  }

  void PageData(vela::TObject* Sender, std::string Frequency, std::string Mode) {
    EXPECT_EQ(Sender, Bridge.get());
    Events.push_back({std::move(Frequency), std::move(Mode)});
  }

  // Loads and waits for the top document plus Frames frame documents.
  void Load(const std::string& Url, int Frames) {
    ASSERT_TRUE(LoadAndWait(*Browser, Url, Frames + 1)) << Url;
  }

  // Element Position of the entry form in the left frame, read back by script.
  QString LeftValue(int Position) {
    return RunScript(*Browser, QStringLiteral("window.frames['left_frame'].document."
                                              "forms['log_add'].elements[%1].value")
                                   .arg(Position))
        .toString();
  }
  void SetLeftValue(int Position, const QString& Value) {
    RunScript(*Browser, QStringLiteral("window.frames['left_frame'].document.forms['log_add']"
                                       ".elements[%1].value = '%2'; 0")
                            .arg(Position)
                            .arg(Value));
  }

  std::unique_ptr<TWebBrowser> Browser;
  std::unique_ptr<TLogPHPinterface> Bridge;
  std::vector<TPageData> Events;
};

TEST_F(LogPageTest, FindsTheFieldsOfTheSampleLogbook) {
  EXPECT_EQ(Bridge->FieldIndex(), NoFields);
  EXPECT_FALSE(Bridge->HasElements());
  Load(ServerUrl("/?freq=7.0745&mode=CW"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Bridge->FieldIndex(), SampleFields);
  EXPECT_TRUE(Bridge->HasElements());
  EXPECT_EQ(Events, (std::vector<TPageData>{{"7.0745", "CW"}}));
}

TEST_F(LogPageTest, NameRules) {
  const std::string SixFields = "<form name=\"log_add\"><input name=\"log_date\">"
                                "<input name=\"log_time\"><input name=\"log_freq\"></form>";
  struct {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Frames;
    TFieldIndex Expected;
  } Cases[] = {
      {"field_case",
       {{"left_frame", "<form name=\"log_add\"><input name=\"Log_Freq\"><input name=\"LOG_MODE\">"
                       "<input name=\"CALL_rx\"><input name=\"Log_Band\"></form>"},
        {"right_frame", ""}},
       {-1, -1, 2, 3, 0, 1}},
      {"frame_case", {{"Left_Frame", SixFields}, {"right_frame", ""}}, NoFields},
      {"form_case",
       {{"left_frame", "<form name=\"LOG_ADD\"><input name=\"log_freq\"></form>"},
        {"right_frame", ""}},
       NoFields},
      {"field_lookalike",
       {{"left_frame", "<form name=\"log_add\"><input name=\"log_freq \">"
                       "<input name=\"logfreq\"><input name=\"log_m\xC3\xB6"
                       "de\"></form>"},
        {"right_frame", ""}},
       NoFields},
      {"later_element_wins",
       {{"left_frame", "<form name=\"log_add\"><input name=\"log_band\"><input name=\"log_freq\">"
                       "<input name=\"LOG_BAND\"></form>"},
        {"right_frame", ""}},
       {-1, -1, -1, 2, 1, -1}},
      {"later_frame_wins",
       {{"left_frame", "<form name=\"log_add\"><input name=\"log_freq\"></form>"},
        {"left_frame", "<form name=\"log_add\"><input name=\"x\"><input name=\"log_freq\"></form>"},
        {"right_frame", ""}},
       {-1, -1, -1, -1, 1, -1}},
      {"later_form_wins",
       {{"left_frame", "<form name=\"log_add\"><input name=\"log_mode\"></form>"
                       "<form name=\"other\"><input name=\"log_freq\"></form>"
                       "<form name=\"log_add\"><input name=\"y\"><input name=\"log_mode\"></form>"},
        {"right_frame", ""}},
       {-1, -1, -1, -1, -1, 1}},
      // Elements named like DOM properties cannot mislead the walk.
      {"shadowing_names",
       {{"left_frame", "<img name=\"forms\"><form name=\"log_add\"><input name=\"name\">"
                       "<input name=\"elements\"><input name=\"length\"><select name=\"log_mode\">"
                       "<option>CW</option></select><textarea name=\"call_rx\"></textarea>"
                       "<fieldset name=\"log_band\"></fieldset><button name=\"log_date\"></button>"
                       "</form>"},
        {"right_frame", ""}},
       {6, -1, 4, 5, -1, 3}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TLogPHPinterface Fresh(Browser.get());
    Load(WriteFrameset(Case.Name, Case.Frames), static_cast<int>(Case.Frames.size()));
    ASSERT_TRUE(ScanAndWait(Fresh));
    EXPECT_EQ(Fresh.FieldIndex(), Case.Expected);
  }
}

TEST_F(LogPageTest, PageWithoutFramesHasNoFields) {
  WriteStaticPage("no_frames.html",
                  "<html><body><form name=\"log_add\">"
                  "<input name=\"log_freq\" value=\"7.0000\"></form></body></html>");
  Load(ServerUrl("/static/no_frames.html"), 0);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Bridge->FieldIndex(), NoFields);
  EXPECT_FALSE(Bridge->HasElements());
  EXPECT_TRUE(Events.empty());
}

TEST_F(LogPageTest, LaterElementOfOneNameReceivesTheWrite) {
  Load(WriteFrameset("dup_band", {{"left_frame", "<form name=\"log_add\"><input name=\"log_band\">"
                                                 "<input name=\"log_band\"></form>"},
                                  {"right_frame", ""}}),
       2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  Bridge->SetLogField(3, "20m");
  EXPECT_EQ(LeftValue(1), "20m");
  EXPECT_EQ(LeftValue(0), "");
}

TEST_F(LogPageTest, FormWithDateOrTimeChangesOnEveryWalk) {
  Load(ServerUrl("/?freq=7.0745&mode=CW"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  ASSERT_TRUE(ScanAndWait(*Bridge));
  SetLeftValue(4, "14.0740");
  SetLeftValue(5, "usb");
  ASSERT_TRUE(ScanAndWait(*Bridge));
  SetLeftValue(4, "");
  SetLeftValue(5, "");
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Events, (std::vector<TPageData>{
                        {"7.0745", "CW"}, {"7.0745", "CW"}, {"14.0740", "usb"}, {"", ""}}));
}

// A walk tells the program's own writes from what the page holds: a value
// it wrote and nobody changed, one the operator typed over it, and the same
// text in a page loaded anew (the page's own).
TEST_F(LogPageTest, WalkTellsTheProgramsOwnValues) {
  Load(ServerUrl("/?freq=7.0745&mode=CW"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_FALSE(Bridge->FrequencyWritten() || Bridge->ModeWritten());
  Bridge->SetLogField(4, "14.0740");
  Bridge->SetLogField(5, "usb");
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_TRUE(Bridge->FrequencyWritten() && Bridge->ModeWritten());
  SetLeftValue(5, "CW");
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_TRUE(Bridge->FrequencyWritten());
  EXPECT_FALSE(Bridge->ModeWritten());
  Load(ServerUrl("/?freq=14.0740&mode=usb"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_FALSE(Bridge->FrequencyWritten() || Bridge->ModeWritten());
}

TEST_F(LogPageTest, FormWithoutDateAndTimeChangesOnlyWhenFieldsMove) {
  const std::string Url = WriteFrameset(
      "freq_mode_only", {{"left_frame", "<form name=\"log_add\"><input name=\"call_rx\">"
                                        "<input name=\"log_freq\" value=\"3.5730\">"
                                        "<input name=\"log_mode\" value=\"Digi\"></form>"},
                         {"right_frame", ""}});
  Load(Url, 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Events, (std::vector<TPageData>{{"3.5730", "Digi"}}));
  Load(Url, 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Events.size(), 1u);
  EXPECT_EQ(Bridge->FieldIndex(), (TFieldIndex{-1, -1, 0, -1, 1, 2}));
}

TEST_F(LogPageTest, LosingTheFormIsAChangeWithEmptyTexts) {
  Load(ServerUrl("/?freq=7.0745&mode=CW"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  WriteStaticPage("plain_page.html", "<html><body>no logbook here</body></html>");
  Load(ServerUrl("/static/plain_page.html"), 0);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Bridge->FieldIndex(), NoFields);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Events, (std::vector<TPageData>{{"7.0745", "CW"}, {"", ""}}));
  // The positions are gone, so writes do nothing.
  for (uint8_t Field = 0; Field < 6; ++Field)
    Bridge->SetLogField(Field, "x");
}

TEST_F(LogPageTest, SubmitInTheLeftFrameRunsAWalk) {
  QObject::connect(Browser.get(), &TWebBrowser::DocumentComplete,
                   [this] { Bridge->ScanLogPage(); });
  Load(ServerUrl("/?freq=7.0745&mode=CW"), 2);
  ASSERT_TRUE(WaitUntil([&] { return !Events.empty(); }));
  // Marks the top document: it is still the same one after the submit.
  RunScript(*Browser, "window.topMarker = 'same'; 0");
  Events.clear();
  Bridge->SetLogField(2, "OK1XYZ");
  Bridge->SetLogField(4, "10.1360");
  Bridge->SetLogField(5, "Digi");
  RunScript(*Browser, "window.frames['left_frame'].document.forms['log_add']"
                      ".elements['log_submit'].click(); 0");
  ASSERT_TRUE(WaitUntil([&] { return !Events.empty(); }));
  // The fresh form shows the logbook's defaults, not what was submitted.
  EXPECT_EQ(Events.front(), (TPageData{"", ""}));
  EXPECT_EQ(RunScript(*Browser, "window.topMarker").toString(), "same");
  EXPECT_EQ(LeftValue(2), "");
  EXPECT_TRUE(WaitUntil([&] {
    return RunScript(*Browser, "window.frames['right_frame'].document.body.textContent")
        .toString()
        .contains("OK1XYZ");
  }));
  EXPECT_EQ(Bridge->FieldIndex(), SampleFields);
}

TEST_F(LogPageTest, WritesReachTheFieldsByNumber) {
  Load(ServerUrl("/"), 2);
  Bridge->SetLogField(4, "before the first walk");
  EXPECT_EQ(LeftValue(4), "");
  ASSERT_TRUE(ScanAndWait(*Bridge));
  const char* Values[] = {"2024-03-05", "12:34", "DL1ABC", "20m", "14.0740", "usb"};
  for (uint8_t Field = 0; Field < 6; ++Field)
    Bridge->SetLogField(Field, Values[Field]);
  for (int Field = 0; Field < 6; ++Field)
    EXPECT_EQ(LeftValue(Field), Values[Field]) << Field;
  Bridge->SetLogField(6, "six");
  Bridge->SetLogField(255, "many");
  for (int Position = 0; Position < 9; ++Position)
    EXPECT_EQ(LeftValue(Position), Position < 6 ? Values[Position] : "") << Position;
}

TEST_F(LogPageTest, ValuesArriveVerbatimAndRunNothing) {
  Load(WriteFrameset("tricky", {{"left_frame", "<form name=\"log_add\"><input name=\"log_date\">"
                                               "<textarea name=\"call_rx\"></textarea></form>"},
                                {"right_frame", ""}}),
       2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  const std::string Values[] = {
      "He said \"hi\" & it's <b>ok</b>",
      "back\\slash \\\" \\n \\u0041",
      "</script><script>window.pwned=1</script>",
      "\"; window.pwned=1; \"",
      "'); window.pwned=1; ('",
      "${window.pwned=1}`",
      "Gr\xC3\xBC\xC3\x9F"
      "e \xD0\x94\xD0\x96 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
      "a\xE2\x80\xA8"
      "b\xE2\x80\xA9"
      "c",
      "",
      "  leading and trailing  ",
  };
  for (const std::string& Value : Values) {
    SCOPED_TRACE(Value);
    Bridge->SetLogField(0, Value);
    EXPECT_EQ(LeftValue(0).toStdString(), Value);
  }
  // A text box drops line breaks by its nature; a text area keeps them.
  const std::string MultiLine = "line one\nline \"two\"\n</textarea>\\";
  Bridge->SetLogField(2, MultiLine);
  EXPECT_EQ(LeftValue(1).toStdString(), MultiLine);
  EXPECT_EQ(RunMainWorld(*Browser, "typeof window.pwned").toString(), "undefined");
  EXPECT_EQ(RunScript(*Browser, "typeof window.pwned").toString(), "undefined");
}

TEST_F(LogPageTest, UnreachableDocumentFailsAndKeepsPositions) {
  Load(ServerUrl("/"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  Events.clear();
  // A sandboxed frame has an opaque origin: its document is refused.
  WriteStaticPage("refused.html",
                  "<html><body><iframe name=\"left_frame\" sandbox srcdoc=\"<form name=log_add>"
                  "<input name=log_freq></form>\"></iframe></body></html>");
  Load(ServerUrl("/static/refused.html"), 0);
  // The walk's failure reaches the error box from the event loop.
  const int Errors = EscapedErrorCount();
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(EscapedErrorCount(), Errors + 1);
  EXPECT_NE(LastEscapedError().find("Unable to reach the log page"), std::string::npos)
      << LastEscapedError();
  EXPECT_EQ(Bridge->FieldIndex(), SampleFields);
  EXPECT_TRUE(Events.empty());
}

TEST_F(LogPageTest, FailureInTheDocumentCompleteHandlerReachesTheErrorBox) {
  QObject::connect(Browser.get(), &TWebBrowser::DocumentComplete,
                   [this] { Bridge->ScanLogPage(); });
  WriteStaticPage("refused2.html",
                  "<html><body><iframe name=\"left_frame\" sandbox srcdoc=\"x\"></iframe>"
                  "</body></html>");
  const int Before = EscapedErrorCount();
  Browser->Navigate(ServerUrl("/static/refused2.html"));
  ASSERT_TRUE(WaitUntil([&] { return EscapedErrorCount() > Before; }));
  EXPECT_NE(LastEscapedError().find("Unable to reach the log page"), std::string::npos)
      << LastEscapedError();
  // The browser goes on reporting after a handler failed.
  Load(ServerUrl("/"), 2);
  EXPECT_TRUE(WaitUntil([&] { return Bridge->FieldIndex() == SampleFields; }));
}

} // namespace

// The contact's path: a form seen for the first time is fresh (once per
// load), held fields are skipped by SetLogField until the page loads anew,
// FillForm writes any field by name with its value as data, and a form its
// frame no longer shows answers false.
TEST_F(LogPageTest, FreshFormHeldFieldsAndFillByName) {
  int Fresh = 0;
  struct TCounter : vela::TObject {
    int* Count;
    void Fresh(vela::TObject*) { ++*Count; }
  } Counter;
  Counter.Count = &Fresh;
  Bridge->setOnFreshForm(vela::MakeMethod(&Counter, &TCounter::Fresh));
  Load(ServerUrl("/"), 2);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Fresh, 1);
  EXPECT_TRUE(Bridge->FormFound());

  std::optional<bool> Filled;
  const std::string Odd = "%3 \"quoted\" </script><b>x</b>";
  Bridge->FillForm({{"CALL_RX", "DL1ABC"}, {"comment", Odd}, {"no_such_field", "x"}}, false,
                   [&](bool Done) { Filled = Done; });
  ASSERT_TRUE(WaitUntil([&] { return Filled.has_value(); }));
  EXPECT_TRUE(*Filled);
  EXPECT_EQ(LeftValue(2).toStdString(), "DL1ABC");
  EXPECT_EQ(RunScript(*Browser, QStringLiteral("window.frames['left_frame'].document.forms["
                                               "'log_add'].elements['comment'].value"))
                .toString()
                .toStdString(),
            Odd);

  Bridge->HoldFields(1u << 2);
  Bridge->SetLogField(2, "K1ABC");
  Bridge->SetLogField(4, "7.0745");
  ASSERT_TRUE(WaitUntil([&] { return LeftValue(4) == QStringLiteral("7.0745"); }));
  EXPECT_EQ(LeftValue(2).toStdString(), "DL1ABC");

  // The frame loads anew: until the walk, writes meet the old form.
  RunScript(*Browser, QStringLiteral("window.frames['left_frame'].location.reload(); 0"));
  ASSERT_TRUE(WaitUntil([&] {
    return RunScript(*Browser, QStringLiteral("window.frames['left_frame'].document.readyState"))
                   .toString() == QStringLiteral("complete") &&
           LeftValue(2).isEmpty();
  }));
  Filled.reset();
  Bridge->FillForm({{"call_rx", "LATE"}}, false, [&](bool Done) { Filled = Done; });
  ASSERT_TRUE(WaitUntil([&] { return Filled.has_value(); }));
  EXPECT_FALSE(*Filled);
  ASSERT_TRUE(ScanAndWait(*Bridge));
  EXPECT_EQ(Fresh, 2);
  EXPECT_EQ(Bridge->HeldFields(), 0u);
  Bridge->SetLogField(2, "K1ABC");
  ASSERT_TRUE(WaitUntil([&] { return LeftValue(2) == QStringLiteral("K1ABC"); }));
}
