// The logbook rules by table: mode names both ways, the tune path, API
// addresses and keys, the answers' outcomes, and the pacing of posts.
#include <gtest/gtest.h>

#include "cat/radios/untRadioTable.h"
#include "logbook/untLogbookClient.h"
#include "logbook/untLogbookRules.h"
#include "logbook/untTuneListener.h"

using namespace vela;

TEST(LogbookRules, LogbookModeForTheRadiosModes) {
  const struct {
    const char *Native, *Digital, *Expected;
  } Rows[] = {
      {"USB", "", "USB"},
      {"LSB", "", "LSB"},
      {"CWR", "", "CW"},
      {"SAM", "", "AM"},
      {"WFM", "", "FM"},
      {"RTTYR", "", "RTTY"},
      {"PKTUSB", "", "USB-D"},
      {"PKTLSB", "", "LSB-D"},
      {"PKTFM", "", "FM"},
      {"PKTUSB", "FT8", "FT8"},
      {"PKTLSB", "JS8", "JS8"},
      // Only a data mode stands for the digital-mode program's mode.
      {"USB", "FT8", "USB"},
      {"RTTY", "FT8", "RTTY"},
      // A mode the logbook would refuse (over ten characters, odd bytes).
      {"PKTUSB", "VERYLONGMODE", "USB-D"},
      {"PKTUSB", "FT 8", "USB-D"},
      {"", "", ""},
      {"usb", "", ""},
  };
  for (const auto& Row : Rows)
    EXPECT_EQ(LogbookModeForNative(Row.Native, Row.Digital), Row.Expected)
        << Row.Native << " / " << Row.Digital;
}

TEST(LogbookRules, TuneModesFollowDigiMeans) {
  const TRadioModel* FT950 = FindRadioModel(rtFT950);
  const TRadioModel* IC7000 = FindRadioModel(rtIC7000); // no data mode
  const struct {
    const char* Tune;
    TDigiMode Digi;
    const TRadioModel* Model;
    const char* Expected;
  } Rows[] = {
      {"usb", dmData, FT950, "USB"},
      {"LSB", dmData, FT950, "LSB"},
      {"cw", dmRTTY, FT950, "CW"},
      {"am", dmData, FT950, "AM"},
      {"fm", dmData, FT950, "FM"},
      {"rtty", dmData, FT950, "RTTY"},
      {"pkt", dmData, FT950, "PKTUSB"},
      {"dig", dmRTTY, FT950, "RTTY"},
      {"pktlsb", dmData, FT950, "PKTLSB"},
      {"pktfm", dmData, FT950, "PKTFM"},
      // A data mode named outright is that mode where the radio has one.
      {"pktusb", dmRTTY, FT950, "PKTUSB"},
      {"lsb-d", dmRTTY, FT950, "PKTLSB"},
      {"JS8", dmRTTY, FT950, "PKTUSB"},
      {"pktlsb", dmData, IC7000, "RTTY"},
      {"xyz", dmData, FT950, ""},
      {"", dmData, FT950, ""},
      {"usb-dd", dmData, FT950, ""},
  };
  for (const auto& Row : Rows)
    EXPECT_EQ(NativeModeForTune(Row.Tune, Row.Digi, Row.Model), Row.Expected) << Row.Tune;
}

TEST(LogbookRules, TuneRequestsByTable) {
  const struct {
    const char* Head;
    int Error;
    std::int64_t Hz;
    const char* Mode;
  } Rows[] = {
      {"GET /14074000 HTTP/1.1\r\n", 0, 14074000, ""},
      {"GET /14074000/USB HTTP/1.1\r\n", 0, 14074000, "usb"},
      {"GET /7074000/pktusb/ HTTP/1.1\r\n", 0, 7074000, "pktusb"},
      {"GET /1000?x=1 HTTP/1.0\r\n", 0, 1000, ""},
      {"GET http://127.0.0.1:54321/10000000000 HTTP/1.1\r\n", 0, 10000000000, ""},
      {"GET /999 HTTP/1.1\r\n", 400, 0, ""},
      {"GET /10000000001 HTTP/1.1\r\n", 400, 0, ""},
      {"GET /abc HTTP/1.1\r\n", 400, 0, ""},
      {"GET /-5 HTTP/1.1\r\n", 400, 0, ""},
      {"GET /+5000 HTTP/1.1\r\n", 400, 0, ""},
      {"GET /14074000.5 HTTP/1.1\r\n", 400, 0, ""},
      {"GET /14074000/xyz HTTP/1.1\r\n", 400, 0, ""},
      {"GET /14074000/usb/x HTTP/1.1\r\n", 400, 0, ""},
      {"GET / HTTP/1.1\r\n", 400, 0, ""},
      {"POST /14074000 HTTP/1.1\r\n", 405, 0, ""},
      {"GET /14074000\r\n", 400, 0, ""},
      {"\x16\x03\x01garbage", 400, 0, ""},
      {"", 400, 0, ""},
  };
  for (const auto& Row : Rows) {
    const TTuneRequest Request = ParseTuneRequest(Row.Head);
    EXPECT_EQ(Request.Error, Row.Error) << Row.Head;
    if (!Row.Error) {
      EXPECT_EQ(Request.Hz.value_or(0), Row.Hz) << Row.Head;
      EXPECT_EQ(Request.Mode, Row.Mode) << Row.Head;
    }
  }
  EXPECT_EQ(ParseTuneRequest("OPTIONS /14074000 HTTP/1.1\r\n").Method, "OPTIONS");
}

TEST(LogbookRules, ApiAddressesAndKeys) {
  const struct {
    const char *Base, *Expected;
  } Rows[] = {
      {"https://log.example.org", "https://log.example.org/index.php/api/radio"},
      {"https://log.example.org/", "https://log.example.org/index.php/api/radio"},
      {"https://log.example.org/index.php", "https://log.example.org/index.php/api/radio"},
      {"https://log.example.org/index.php/", "https://log.example.org/index.php/api/radio"},
      {" http://10.0.0.5:8086/wavelog// ", "http://10.0.0.5:8086/wavelog/index.php/api/radio"},
      {"localhost:8080", "http://localhost:8080/index.php/api/radio"},
      {"", ""},
      {"ftp://log.example.org", ""},
      {"https://log.example.org/?a=b", ""},
      {"http://", ""},
  };
  for (const auto& Row : Rows) {
    std::string Error;
    EXPECT_EQ(LogbookApiUrl(Row.Base, "radio", &Error), Row.Expected) << Row.Base;
    EXPECT_EQ(Error.empty(), *Row.Expected != 0) << Row.Base << ": " << Error;
  }
  for (const char* Bad : {"", "with space", "a/b", "tab\tkey", "k%41"})
    EXPECT_FALSE(ValidApiKey(Bad)) << Bad;
  EXPECT_TRUE(ValidApiKey("wl6578a1b2c3d4e5"));
}

TEST(LogbookRules, AnswersSortedIntoOutcomes) {
  const struct {
    int Status;
    const char* Body;
    TApiOutcome Outcome;
    const char* Reason;
  } Rows[] = {
      {200, R"({"status":"success"})", TApiOutcome::aoOk, "HTTP 200"},
      {201, R"({"status":"created","adif_count":1})", TApiOutcome::aoOk, "HTTP 201"},
      {401, R"({"status":"failed","reason":"missing api key"})", TApiOutcome::aoKeyRefused,
       "missing api key"},
      {400, R"({"status":"abort","messages":["Duplicate for X"]})", TApiOutcome::aoRejected,
       "Duplicate for X"},
      {500, "", TApiOutcome::aoServerError, "HTTP 500"},
      {502, "<html>Bad gateway</html>", TApiOutcome::aoServerError, "HTTP 502"},
      {200, "<!DOCTYPE html><title>Login</title>", TApiOutcome::aoNotApi, "HTTP 200"},
      {404, "<html>Not found</html>", TApiOutcome::aoNotApi, "HTTP 404"},
      {302, "", TApiOutcome::aoNotApi, "HTTP 302"},
  };
  for (const auto& Row : Rows) {
    const TApiReply Reply = ClassifyApiAnswer(Row.Status, Row.Body);
    EXPECT_EQ(Reply.Outcome, Row.Outcome) << Row.Status << " " << Row.Body;
    EXPECT_EQ(Reply.Reason, Row.Reason) << Row.Status << " " << Row.Body;
  }
}

// Each step: what the radio shows (Hz 0: not live), the time, and whether a
// post is due then; "ok"/"fail" end the post on its way.
TEST(LogbookRules, PostPacing) {
  struct TStep {
    TMsTime At;
    std::int64_t Hz;    // 0: link not live
    const char* Action; // "" look, "post" expect a post, "ok", "fail"
  };
  const TStep Steps[] = {
      {0, 14074000, "post"},      // first state at once
      {100, 14075000, ""},        // a change while the post is on its way waits
      {400, 14075000, "ok"},      //
      {500, 14076000, ""},        // less than a second after the last start
      {1000, 14077000, "post"},   // the latest state, a second after the last
      {1100, 14077000, "fail"},   // pause 2 s
      {2000, 14078000, ""},       //
      {3099, 14078000, ""},       //
      {3100, 14078000, "post"},   //
      {3200, 14078000, "fail"},   // pause 4 s
      {7199, 14078000, ""},       //
      {7200, 14078000, "post"},   //
      {7300, 14078000, "ok"},     // pauses reset
      {9000, 14078000, ""},       // nothing changed: no post
      {307299, 14078000, ""},     //
      {307300, 14078000, "post"}, // five minutes after the last success
      {307400, 14078000, "ok"},   //
      {308500, 0, ""},            // not live: nothing
      {400000, 0, ""},            //
      {400100, 14078000, "post"}, // live again: posted anew at once
  };
  TPostPacer Pacer;
  for (const TStep& Step : Steps) {
    const std::string Action = Step.Action;
    if (Action == "ok" || Action == "fail") {
      Pacer.Finished(Action == "ok", Step.At);
      continue;
    }
    if (Step.Hz)
      Pacer.Observe(TLogbookRadioState{Step.Hz, "USB"});
    else
      Pacer.Observe(std::nullopt);
    const auto Due = Pacer.NextDue();
    const bool Post = Due && *Due <= Step.At;
    ASSERT_EQ(Post, Action == "post") << "at " << Step.At;
    if (Post) {
      EXPECT_EQ(Pacer.Begin(Step.At).Hz, Step.Hz) << "at " << Step.At;
    }
  }
  TBackoff Backoff(TPostPacer::FirstRetryMs, TPostPacer::MaxRetryMs);
  TMsTime Last = 0;
  for (int I = 0; I < 10; ++I)
    Last = Backoff.Fail();
  EXPECT_EQ(Last, TPostPacer::MaxRetryMs);
}
