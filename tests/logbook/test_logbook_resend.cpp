// Contacts set aside for another station callsign sent again under the
// logbook station's, against a logbook on 127.0.0.1 that refuses any other
// station callsign; a set-aside file edited into garbage keeps what it
// cannot read.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "LogbookTestKit.h"
#include "common/FileHelpers.h"
#include "contacts/untAdif.h"
#include "logbook/untLogbookApi.h"

using namespace vela;
using namespace velatest;

namespace {

// A logbook in Wavelog's shape with one station, K1ABC, that takes only
// records of its own station callsign.
struct TStationBook {
  TFakeLogbook Book;
  std::vector<std::string> Stored;
  bool StationInfoFails = false;
  TStationBook() {
    Book.Route = [this](const TSeenRequest& R) -> std::optional<TFakeLogbook::TAnswer> {
      if (R.Path.find("/api/version") != std::string::npos)
        return TFakeLogbook::TAnswer{200, R"({"status":"ok","version":"2.0.5"})"};
      if (R.Path.find("/api/station_info/") != std::string::npos)
        return StationInfoFails
                   ? TFakeLogbook::TAnswer{500, "<html>down</html>", "text/html"}
                   : TFakeLogbook::TAnswer{200, R"([{"station_id":"1","station_profile_name":)"
                                                R"("Home","station_callsign":"K1ABC",)"
                                                R"("station_active":"1"}])"};
      const std::string Record = R.Json().value("string").toString().toStdString();
      const TAdifDocument Doc = ReadAdif(Record);
      const std::string Station =
          Doc.Records.empty() ? std::string() : Doc.Records[0].Field("station_callsign");
      if (Station != "K1ABC")
        return TFakeLogbook::TAnswer{
            400, R"({"status":"failed","reason":"Wrong station callsign <b>\")" + Station +
                     R"(\"</b> while station profile callsign is <b>\"K1ABC\"</b>"})"};
      Stored.push_back(Record);
      return TFakeLogbook::TAnswer{201, R"({"status":"created","adif_count":1})"};
    };
  }
};

std::string Record(const std::string& Call, const std::string& Station, const std::string& Op) {
  TContact C;
  C.Fields = {{"call", Call}, {"band", "20m"}, {"mode", "FT8"}, {"station_callsign", Station}};
  if (!Op.empty())
    C.Fields.push_back({"operator", Op});
  return AdifRecordText(C);
}

} // namespace

TEST(LogbookResend, SetAsideForAnotherStationCallsignSentAgainUnderTheStations) {
  VELA_SKIP_QT_HTTP_UNDER_TSAN();
  QTemporaryDir Dir;
  TStationBook Logbook;
  TLogbookApi Api(std::make_unique<TTableRadio>(),
                  Dir.filePath("LogbookOutbox.jsonl").toStdString());
  TLogbookOptions Options;
  Options.Enabled = true;
  Options.Url = Logbook.Book.Url();
  Options.Key = "wl123abc";
  Options.TuneListen = "off";
  Options.StationId = 1;
  Logbook.StationInfoFails = true;
  Api.Apply(Options);
  ASSERT_TRUE(Api.Enqueue(Record("DL1ABC", "K1XYZ", "K1XYZ")));
  ASSERT_TRUE(Api.Enqueue(Record("OK1ABC", "K1XYZ", "W1OP")));
  ASSERT_TRUE(Api.Enqueue(Record("G4ABC", "K1ABC", "")));
  ASSERT_TRUE(WaitFor([&] { return Api.Outbox().Waiting() == 0; })) << Api.StatusText();
  EXPECT_EQ(Api.Outbox().SetAside(), 2u);
  EXPECT_EQ(Logbook.Stored.size(), 1u);
  // The refusal in plain words: the call and the reason, no markup.
  EXPECT_NE(Api.StatusText().find("the logbook refused OK1ABC: Wrong station callsign \"K1XYZ\" "
                                  "while station profile callsign is \"K1ABC\""),
            std::string::npos)
      << Api.StatusText();
  // Edited by hand: a block that is no record.
  const std::string Refused = Api.Outbox().RefusedFileName();
  test::WriteFile(Refused, test::ReadFile(Refused) + "\nmy notes <call:9>broken <eor>\n");

  // The station's callsign cannot be had: said, and nothing moves.
  std::vector<std::string> Said;
  auto Say = [&Said](const std::string& Words) { Said.push_back(Words); };
  Api.ResendRefused(true, Say);
  ASSERT_TRUE(WaitFor([&] { return Said.size() == 1; }));
  EXPECT_NE(Said[0].find("did not name its station's callsign"), std::string::npos) << Said[0];
  EXPECT_EQ(Api.Outbox().Waiting(), 0u);

  Logbook.StationInfoFails = false;
  Api.ResendRefused(true, Say);
  ASSERT_TRUE(WaitFor([&] { return Said.size() == 2; }));
  EXPECT_EQ(Api.StationCallsign(), "K1ABC");
  EXPECT_NE(Said[1].find("2 set-aside contacts back in the queue as K1ABC"), std::string::npos)
      << Said[1];
  EXPECT_NE(Said[1].find("line "), std::string::npos) << Said[1];
  ASSERT_TRUE(WaitFor([&] { return Logbook.Stored.size() == 3; })) << Api.StatusText();
  // OPERATOR follows where it was the old station callsign, and only there.
  EXPECT_NE(Logbook.Stored[1].find("<station_callsign:5>K1ABC <operator:5>K1ABC"),
            std::string::npos)
      << Logbook.Stored[1];
  EXPECT_NE(Logbook.Stored[2].find("<station_callsign:5>K1ABC <operator:4>W1OP"), std::string::npos)
      << Logbook.Stored[2];
  // What could not be read stays, and nothing else.
  const std::string Left = test::ReadFile(Refused);
  EXPECT_NE(Left.find("my notes <call:9>broken"), std::string::npos) << Left;
  EXPECT_EQ(Left.find("DL1ABC"), std::string::npos) << Left;

  // A plain resend of one set aside for another station callsign says what
  // it needs instead of sending it to be refused again.
  ASSERT_TRUE(Api.Enqueue(Record("SP1ABC", "K1XYZ", "")));
  ASSERT_TRUE(WaitFor([&] { return Api.Outbox().SetAside() > 0 && Api.Outbox().Waiting() == 0; }));
  Api.ResendRefused(false, Say);
  ASSERT_EQ(Said.size(), 3u);
  EXPECT_NE(Said[2].find("SP1ABC carries station callsign K1XYZ, not the logbook station's K1ABC"),
            std::string::npos)
      << Said[2];
  EXPECT_EQ(Api.Outbox().Waiting(), 0u);
}
