// The two logbooks as they really answer: their answers read by table of
// real bodies, and the command queue of the one without a click-to-tune
// address polled and reported against a logbook in its shape on 127.0.0.1.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "LogbookTestKit.h"
#include "logbook/untCommandPoller.h"
#include "logbook/untLogbookApi.h"

using namespace vela;
using namespace velatest;

TEST(LogbookAnswers, ReadAsEachLogbookMeansThem) {
  const std::string Notices = CloudlogNotices + CloudlogNotices;
  const struct {
    const char* Why;
    int Status;
    std::string Body;
    TQsoVerdict Verdict;
    const char* Words; // in ApiOutcomeWords, or ""
  } Rows[] = {
      {"Wavelog created", 201, R"({"status":"created","adif_count":1})", TQsoVerdict::qvCreated,
       ""},
      {"Wavelog duplicate", 400, R"({"status":"abort","messages":["Duplicate for K2AB"]})",
       TQsoVerdict::qvDuplicate, ""},
      {"Wavelog took none", 201, R"({"status":"created","adif_count":0})", TQsoVerdict::qvSetAside,
       ""},
      {"Cloudlog created after notices", 201,
       Notices + R"({"status":"created","type":"adif","string":"<eor>","imported_count":1,)"
                 R"("messages":[]})",
       TQsoVerdict::qvCreated, ""},
      {"Cloudlog duplicate", 201,
       Notices + R"({"status":"created","imported_count":0,"messages":["Date/Time: 2026-12-08 )"
                 R"(02:50:00 Callsign: DL1ABC Band: 40m  Duplicate<br>"]})",
       TQsoVerdict::qvDuplicate, ""},
      {"Cloudlog 0 without duplicate", 201,
       Notices + R"({"status":"created","imported_count":0,"messages":[]})",
       TQsoVerdict::qvSetAside, ""},
      {"a station the key does not own", 401,
       R"({"status":"failed","reason":"station id does not belong to the API key owner."})",
       TQsoVerdict::qvStationRefused, "station id does not belong to the API key owner."},
      {"another station callsign", 401,
       R"({"status":"failed","reason":"station callsign does not match station callsign in )"
       R"(station profile."})",
       TQsoVerdict::qvSetAside, "station callsign does not match"},
      {"a wrong key", 401, R"({"status":"failed","reason":"missing api key"})",
       TQsoVerdict::qvKeyRefused, "key refused"},
      {"two JSON objects: the first", 201,
       R"({"status":"created","imported_count":1}{"status":"failed","imported_count":0})",
       TQsoVerdict::qvCreated, ""},
      {"a web page with a script's object", 200,
       "<html><script>var x = {\"a\": 1};</script></html>", TQsoVerdict::qvRetry,
       "is not the logbook's API"},
      {"megabytes before the JSON", 201,
       std::string(3 << 20, 'x') + R"({"status":"created","imported_count":1})",
       TQsoVerdict::qvRetry, "is not the logbook's API"},
      {"braces that never close", 201, std::string(100000, '{'), TQsoVerdict::qvRetry, ""},
      {"a server fault", 500, "", TQsoVerdict::qvRetry, "server error 500"},
  };
  for (const auto& Row : Rows) {
    const TApiReply Reply = ClassifyApiAnswer(Row.Status, QByteArray::fromStdString(Row.Body));
    EXPECT_EQ(ReadQsoAnswer(Reply).Verdict, Row.Verdict) << Row.Why;
    EXPECT_NE(ApiOutcomeWords(Reply).find(Row.Words), std::string::npos)
        << Row.Why << ": " << ApiOutcomeWords(Reply);
  }

  // Which logbook answers api/version.
  EXPECT_EQ(KindFromVersionAnswer(ClassifyApiAnswer(200, R"({"status":"ok","version":"2.0.5"})")),
            TLogbookKind::lkWavelog);
  EXPECT_EQ(KindFromVersionAnswer(ClassifyApiAnswer(404, "<html>404</html>")),
            TLogbookKind::lkCloudlog);
  EXPECT_EQ(KindFromVersionAnswer(ClassifyApiAnswer(500, "")), std::nullopt);
}

TEST(LogbookAnswers, ModeNamesEachLogbookShows) {
  const struct {
    const char* Native;
    const char* Digital;
    TLogbookKind Kind;
    const char* Mode;
  } Rows[] = {
      {"PKTUSB", "", TLogbookKind::lkWavelog, "USB-D"},
      {"PKTUSB", "", TLogbookKind::lkCloudlog, "USB"},
      {"PKTLSB", "", TLogbookKind::lkCloudlog, "LSB"},
      {"PKTUSB", "FT8", TLogbookKind::lkCloudlog, "FT8"},
      {"PKTUSB", "A-MODE-TOO-LONG", TLogbookKind::lkCloudlog, "USB"},
      {"PKTFM", "", TLogbookKind::lkCloudlog, "FM"},
      {"CW", "FT8", TLogbookKind::lkCloudlog, "CW"},
  };
  for (const auto& Row : Rows)
    EXPECT_EQ(LogbookModeForNative(Row.Native, Row.Digital, Row.Kind), Row.Mode)
        << Row.Native << " " << Row.Digital;
}

TEST(LogbookAnswers, CommandListsReadWithinBounds) {
  // Thousands of commands: read in part, oldest first; ids as text or
  // number, a command without an id passed over.
  QJsonArray List;
  for (int I = 5000; I > 0; --I)
    List.append(QJsonObject{{"id", I % 2 ? QJsonValue(I) : QJsonValue(QString::number(I))},
                            {"command_type", "SET_FREQ"},
                            {"frequency", 7074000}});
  List.append(QJsonObject{{"command_type", "SET_FREQ"}});
  std::string Error;
  const auto Commands = ReadRadioCommands(QJsonDocument(QJsonObject{{"commands", List}}), &Error);
  EXPECT_TRUE(Error.empty());
  ASSERT_EQ(Commands.size(), MaxCommandsRead);
  EXPECT_LT(Commands.front().Id, Commands.back().Id);
  EXPECT_EQ(Commands.front().Frequency, "7074000");
  ReadRadioCommands(QJsonDocument(QJsonObject{{"status", "failed"}}), &Error);
  EXPECT_FALSE(Error.empty());

  TRadioCommand Command;
  Command.ExpiresAt = "2026-12-08 02:50:00";
  const std::int64_t At = QDateTime(QDate(2026, 12, 8), QTime(2, 50), Qt::UTC).toSecsSinceEpoch();
  EXPECT_FALSE(CommandExpired(Command, At - 1));
  EXPECT_TRUE(CommandExpired(Command, At));
  Command.ExpiresAt = "soon";
  EXPECT_FALSE(CommandExpired(Command, At));
}

namespace {

class CommandQueueTest : public ::testing::Test {
protected:
  void SetUp() override {
    VELA_SKIP_QT_HTTP_UNDER_TSAN();
    Client.setBaseUrl(Book.Url());
    Client.setKey("cl123abc");
  }
  std::unique_ptr<TCommandPoller> NewPoller() {
    auto Poller = std::make_unique<TCommandPoller>(
        Client, Radio, Dir.filePath(TCommandPoller::FileLeaf).toStdString());
    Poller->setRadioName([] { return std::string("FT-950"); });
    Poller->setOnReport([this](const TCommandReport& R) { Told.push_back(R); });
    return Poller;
  }
  std::string Status(std::int64_t Id) const {
    for (const auto& C : Book.Commands)
      if (C.Id == Id)
        return C.Status;
    return {};
  }

  QTemporaryDir Dir;
  TCloudlogBook Book;
  TTableRadio Radio;
  TLogbookClient Client;
  std::vector<TCommandReport> Told;
};

} // namespace

// Pending commands tuned and reported once each, the bad ones reported
// FAILED with the reason and the radio left alone; across a restart nothing
// is done or reported again.
TEST_F(CommandQueueTest, PendingCommandsAreCarriedOutAndReportedOnce) {
  Book.KeepPending = true; // as if the logbook lost track: must not matter
  Book.Commands = {
      {1, "SET_FREQ", "3573000", "USB"},                                   // superseded by 3
      {2, "SET_FREQ", "7074000", "USB", "PENDING", "2020-01-01 00:00:00"}, // expired
      {3, "SET_FREQ", "7074000", "FT8"},
      {4, "SET_MODE", "", "SSB"},
      {5, "SET_POWER", "", ""},
  };
  auto Poller = NewPoller();
  Poller->Start();
  ASSERT_TRUE(WaitFor([&] { return Told.size() == 5; }));
  // One at a time, so that each is decided on its own.
  Book.Commands.push_back({6, "SET_FREQ", "seven MHz", ""});
  ASSERT_TRUE(WaitFor([&] { return Told.size() == 6; }));
  Book.Commands.push_back({7, "SET_FREQ", "99", ""}); // below the FT-950's range
  ASSERT_TRUE(WaitFor([&] { return Told.size() == 7; }));
  std::map<std::int64_t, TCommandReport> ById;
  for (const TCommandReport& R : Told)
    ById[R.Id] = R;
  EXPECT_EQ(ById[3].Status, "COMPLETED") << ById[3].Why;
  EXPECT_EQ(ById[4].Status, "COMPLETED") << ById[4].Why;
  const struct {
    std::int64_t Id;
    const char* Why;
  } Failures[] = {{1, "superseded by command 3"},
                  {2, "expired"},
                  {5, "unknown command type SET_POWER"},
                  {6, "not in whole hertz"},
                  {7, "cannot be tuned to 99 Hz"}};
  for (const auto& F : Failures) {
    EXPECT_EQ(ById[F.Id].Status, "FAILED") << F.Id;
    EXPECT_NE(ById[F.Id].Why.find(F.Why), std::string::npos) << F.Id << ": " << ById[F.Id].Why;
  }
  // Tuned to the newest frequency in its data mode, then the sideband SSB
  // means below 10 MHz; nothing else reached the radio.
  EXPECT_EQ(Radio.Calls, (std::vector<std::string>{"hz 7074000", "mode PKTUSB", "mode LSB"}));
  EXPECT_EQ(Book.Reports.size(), 7u);

  // More polls and a restart: nothing is tuned or reported again.
  const int Polls = Book.Polls;
  ASSERT_TRUE(WaitFor([&] { return Book.Polls >= Polls + 2; }));
  Poller.reset();
  auto Again = NewPoller();
  Again->Start();
  ASSERT_TRUE(WaitFor([&] { return Book.Polls >= Polls + 4; }));
  EXPECT_EQ(Told.size(), 7u);
  EXPECT_EQ(Book.Reports.size(), 7u);
  EXPECT_EQ(Radio.Calls.size(), 3u);

  // A new command after the restart is carried out, even when its logbook
  // writes its times in a zone behind UTC: it is fresh, as seen.
  Book.Commands.push_back({8, "SET_FREQ", "14074000", "USB", "PENDING",
                           QDateTime::currentDateTimeUtc()
                               .addSecs(-5 * 3600 + 1800)
                               .toString("yyyy-MM-dd HH:mm:ss")
                               .toStdString()});
  const std::size_t Before = Told.size();
  ASSERT_TRUE(WaitFor([&] { return Told.size() == Before + 1; }));
  EXPECT_EQ(Told.back().Status, "COMPLETED");
  EXPECT_EQ(Radio.Hz, 14074000);
}

// While keyed nothing is tuned; while the link is down the command waits.
TEST_F(CommandQueueTest, NoTuneWhileKeyedAndWaitsForALiveRadio) {
  Radio.IsLive = false;
  Book.Commands = {{1, "SET_FREQ", "7074000", "USB"}};
  auto Poller = NewPoller();
  Poller->Start();
  ASSERT_TRUE(WaitFor([&] { return Book.Polls >= 3; }));
  EXPECT_TRUE(Told.empty());
  Radio.IsLive = true;
  ASSERT_TRUE(WaitFor([&] { return Told.size() == 1; }));
  EXPECT_EQ(Told[0].Status, "COMPLETED");
  Radio.Keyed = true;
  Book.Commands.push_back({2, "SET_FREQ", "7075000", "USB"});
  ASSERT_TRUE(WaitFor([&] { return Told.size() == 2; }));
  EXPECT_EQ(Told[1].Status, "FAILED");
  EXPECT_EQ(Told[1].Why, "transmitting");
  EXPECT_EQ(Radio.Hz, 7074000);
}

// A queue that answers a fault, a web page or nothing: the poller backs off,
// says so, and goes on once the queue answers again.
TEST_F(CommandQueueTest, AFailingQueueIsRetriedAndNamed) {
  auto Poller = NewPoller();
  const struct {
    TFakeLogbook::TAnswer Answer;
    const char* Words;
  } Rows[] = {
      {{500, "<html>Internal Server Error</html>", "text/html"}, "server error 500"},
      {{200, "<html><body>Login</body></html>", "text/html"}, "is not the logbook's API"},
  };
  for (const auto& Row : Rows) {
    Book.QueueAnswer = Row.Answer;
    Poller->Start();
    ASSERT_TRUE(WaitFor([&] { return !Poller->StatusWords().empty(); }));
    EXPECT_NE(Poller->StatusWords().find(Row.Words), std::string::npos) << Poller->StatusWords();
    Book.QueueAnswer.reset();
    ASSERT_TRUE(WaitFor([&] { return Poller->StatusWords().empty(); }));
    Poller->Stop();
  }
  // A poll that is never answered ends at its time-out.
  Book.Book.Hold = true;
  Poller->Start();
  ASSERT_TRUE(WaitFor([&] { return !Poller->StatusWords().empty(); }));
  EXPECT_NE(Poller->StatusWords().find("no answer within 5 s"), std::string::npos)
      << Poller->StatusWords();
  Book.Book.Hold = false;
  Book.Commands = {{1, "SET_FREQ", "7074000", "USB"}};
  ASSERT_TRUE(WaitFor([&] { return Told.size() == 1; }));
  EXPECT_TRUE(Poller->StatusWords().empty()) << Poller->StatusWords();
}

// The API object finds out which logbook it serves, names it with its
// station, posts contacts it answers in its own shape, and tunes by its
// queue.
TEST(LogbookApiCloudlog, FoundOutAndServedInItsShape) {
  VELA_SKIP_QT_HTTP_UNDER_TSAN();
  QTemporaryDir Dir;
  TCloudlogBook Book;
  auto Owned = std::make_unique<TTableRadio>();
  TTableRadio& Radio = *Owned;
  Radio.RadioMode = "PKTUSB";
  TLogbookApi Api(std::move(Owned), Dir.filePath("LogbookOutbox.jsonl").toStdString());
  TLogbookOptions Options;
  Options.Enabled = true;
  Options.Url = Book.Url();
  Options.Key = "cl123abc";
  Options.RadioName = "FT-950";
  Options.TuneListen = "off";
  Options.StationId = 7; // not the key owner's
  Api.Apply(Options);
  ASSERT_TRUE(WaitFor([&] { return Api.Kind() == TLogbookKind::lkCloudlog; }));
  ASSERT_TRUE(Api.Enqueue("<call:6>DL1ABC <eor>"));
  ASSERT_TRUE(WaitFor([&] {
    return Api.StatusText().find("refused the station (station id does not belong") !=
           std::string::npos;
  })) << Api.StatusText();
  EXPECT_EQ(Api.StatusText().find("key"), Api.StatusText().find("key owner")) << Api.StatusText();
  Options.StationId = 1;
  Api.Apply(Options);
  ASSERT_TRUE(Api.Enqueue("<call:6>DL1ABC <eor>")); // the same again: a duplicate
  ASSERT_TRUE(WaitFor([&] { return Api.Outbox().Waiting() == 0; })) << Api.StatusText();
  EXPECT_EQ(Book.Stored.size(), 1u);
  EXPECT_NE(Api.StatusText().find("DL1ABC was already in the log"), std::string::npos)
      << Api.StatusText();
  ASSERT_TRUE(WaitFor([&] {
    return Api.StatusText().find("Cloudlog at " + Book.Url() + " · station Boston") !=
           std::string::npos;
  })) << Api.StatusText();
  // The data mode as the sideband it rides on.
  const auto Radios = [&] {
    std::vector<QJsonObject> Posts;
    for (const TSeenRequest& R : Book.Book.Seen)
      if (R.Path.ends_with("/api/radio"))
        Posts.push_back(R.Json());
    return Posts;
  };
  ASSERT_TRUE(WaitFor([&] { return !Radios().empty(); }));
  EXPECT_EQ(Radios().back().value("mode").toString(), "USB");
  Book.Commands = {{1, "SET_FREQ", "7074000", "CW"}};
  ASSERT_TRUE(WaitFor([&] { return !Book.Reports.empty(); }));
  EXPECT_EQ(Book.Reports[0], (std::pair<std::int64_t, std::string>{1, "COMPLETED"}));
  EXPECT_EQ(Radio.Hz, 7074000);
  EXPECT_EQ(Radio.RadioMode, "CW");

  // A renamed radio is posted at once, not at the next keep-alive.
  Options.RadioName = "FT-950 shack";
  Api.Apply(Options);
  ASSERT_TRUE(WaitFor([&] { return Radios().back().value("radio").toString() == "FT-950 shack"; }));

  // Thousands pending: only the newest of each kind is carried out, and a
  // failure's words go in error_message too.
  Book.Commands.clear();
  for (std::int64_t Id = 2; Id <= 3001; ++Id)
    Book.Commands.push_back({Id, "SET_FREQ", std::to_string(7000000 + Id), ""});
  const std::size_t Tunes = Radio.Calls.size();
  ASSERT_TRUE(WaitFor([&] {
    return std::find(Book.Reports.begin(), Book.Reports.end(),
                     std::pair<std::int64_t, std::string>{3001, "COMPLETED"}) != Book.Reports.end();
  }));
  EXPECT_EQ(Radio.Hz, 7003001);
  ASSERT_TRUE(WaitFor([&] { return Book.Reports.size() >= 600; }));
  EXPECT_EQ(Radio.Calls.size() - Tunes, 1u);
  for (const TSeenRequest& R : Book.Book.Seen)
    if (R.Path.find("update_status") != std::string::npos &&
        R.Json().value("status").toString() == "FAILED") {
      EXPECT_EQ(R.Json().value("error_message").toString().toStdString(),
                R.Json().value("reason").toString().toStdString());
      EXPECT_NE(R.Json().value("error_message").toString().toStdString().find("superseded"),
                std::string::npos);
    }
}
