// Contacts as each program really sends them: JTDX's and the JSON API's
// datagrams by table (under a time zone other than UTC), one contact once
// whatever path it took, and the ADIF log-file follower against a real
// temporary file (append, partial record, rewrite, truncate, restart,
// vanish and return).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/ContactDatagrams.h"
#include "common/EventWait.h"
#include "contacts/untAdif.h"
#include "contacts/untAdifFileFollower.h"
#include "contacts/untContactDatagram.h"
#include "contacts/untContactJournal.h"
#include "contacts/untContactListener.h"

using namespace vela;
using namespace vela::test;

namespace {

constexpr int GenerousMs = 30000;

using velatest::WaitFor;

// A type 5 from Id with both date-times in the given time basis.
std::string Logged(const std::string& Id, const std::string& Call, std::uint8_t Basis,
                   std::uint32_t TimeOnMs = At225750) {
  TDatagramBuilder B(5, 2, ContactDatagramMagic, Id);
  return B.DateTime(Dec7th2026, TimeOnMs + 15000, Basis)
      .Text(Call)
      .Text("JO62")
      .U64(7075500)
      .Text("FT8")
      .Text("-10")
      .Text("-12")
      .Text("5")
      .Text("")
      .Text("")
      .DateTime(Dec7th2026, TimeOnMs, Basis)
      .Data();
}

std::string Js8(const std::string& Params, const std::string& Value = "") {
  return R"({"type":"LOG.QSO","value":")" + Value + R"(","params":{)" + Params + "}}";
}

const std::string Js8Value = "<call:6>KN4ABC <gridsquare:4>EM73 <mode:4>MFSK <submode:3>JS8 "
                             "<qso_date:8>20261208 <time_on:6>030009 <freq:9>14.079162";
const std::string Js8Params =
    R"("CALL":"KN4ABC","FREQ":14079162,"GRID":"EM73","MODE":"MFSK","SUBMODE":"JS8",)"
    R"("RPT.SENT":"-10","RPT.RECV":"-12","UTC.ON":1796698809430,"NAME":"",)"
    R"("STATION.CALL":"K1ABC","STATION.GRID":"FN42")";

struct TCase {
  const char* Name;
  std::string Bytes;
  TDatagramKind Kind;
  std::string Expected; // part of the contact's line, or of the error
};

class SourcesTable : public testing::TestWithParam<TCase> {
protected:
  // The senders' local time is not UTC here, as for most operators.
  static void SetUpTestSuite() {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
};

TEST_P(SourcesTable, ReadsAsExpected) {
  const TCase& C = GetParam();
  const TContactDatagram D = ReadContactDatagram(C.Bytes);
  ASSERT_EQ(D.Kind, C.Kind) << D.Error;
  if (C.Kind == TDatagramKind::dkContacts) {
    ASSERT_EQ(D.Contacts.size(), 1u) << D.Error;
    EXPECT_NE(ContactLine(D.Contacts[0]).find(C.Expected), std::string::npos)
        << ContactLine(D.Contacts[0]);
  } else if (C.Kind == TDatagramKind::dkRefused) {
    EXPECT_NE(D.Error.find(C.Expected), std::string::npos) << D.Error;
  } else {
    EXPECT_EQ(D.Error, "");
  }
}

std::string Nested(int Depth) {
  return std::string(static_cast<std::size_t>(Depth), '[') +
         std::string(static_cast<std::size_t>(Depth), ']');
}

INSTANTIATE_TEST_SUITE_P(
    Senders, SourcesTable,
    testing::Values(
        // JTDX labels UTC values as local time: read as they are.
        TCase{"jtdx_basis_0_is_utc", Logged("JTDX", "DL1ABC", 0), TDatagramKind::dkContacts,
              "\t2026-12-07\t22:57\t"},
        // Any other sender's local time is converted (Berlin is UTC+1).
        TCase{"wsjtx_basis_0_is_local", Logged("WSJT-X", "DL1ABC", 0), TDatagramKind::dkContacts,
              "\t2026-12-07\t21:57\t"},
        TCase{"wsjtx_basis_1", Logged("WSJT-X", "DL1ABC", 1), TDatagramKind::dkContacts,
              "\t2026-12-07\t22:57\t"},
        TCase{
            "js8_log_qso", Js8(Js8Params, Js8Value), TDatagramKind::dkContacts,
            "contact\tKN4ABC\t20m\t14.0791\tDigi\t2026-12-08\t03:00\tgridsquare=EM73\tmode=MFSK\t"
            "submode=JS8\trst_sent=-10\trst_rcvd=-12\tstation_callsign=K1ABC\tmy_gridsquare=FN42"},
        TCase{"js8_params_alone", Js8(Js8Params), TDatagramKind::dkContacts,
              "\tKN4ABC\t20m\t14.0791\tDigi\t2026-12-08\t03:00"},
        TCase{"js8_freq_as_text_falls_back_to_value",
              Js8(R"("CALL":"KN4ABC","FREQ":"lots")", Js8Value), TDatagramKind::dkContacts,
              "\t20m\t14.0791\t"},
        TCase{"js8_negative_freq_and_absurd_time",
              Js8(R"("CALL":"KN4ABC","FREQ":-7000000,"UTC.ON":1e300)", Js8Value),
              TDatagramKind::dkContacts, "\t20m\t14.0791\tDigi\t2026-12-08\t03:00"},
        TCase{"js8_ping", R"({"type":"PING","value":"","params":{"NAME":"JS8Call"}})",
              TDatagramKind::dkIgnored, ""},
        TCase{"js8_station_status",
              R"({"type":"STATION.STATUS","value":"","params":{"FREQ":14078000}})",
              TDatagramKind::dkIgnored, ""},
        TCase{"json_array", "[1,2,3]", TDatagramKind::dkRefused, "not an object"},
        TCase{"json_truncated", R"({"type":"LOG.QSO","params":{"CALL":)", TDatagramKind::dkRefused,
              "JSON"},
        TCase{"json_nested_deep", Nested(1000), TDatagramKind::dkRefused, "JSON"},
        TCase{"json_without_type", R"({"value":"x"})", TDatagramKind::dkRefused, "type"},
        TCase{"json_64_kib", "{\"type\":\"" + std::string(64 * 1024, 'x') + "\"}",
              TDatagramKind::dkRefused, "bytes"},
        TCase{"garbage", std::string("\x01\x02garbage", 9), TDatagramKind::dkRefused,
              "wrong magic"}),
    [](const testing::TestParamInfo<TCase>& Info) { return std::string(Info.param.Name); });

TEST(Sources, ALogQsoWithoutACallIsRefusedAndCounted) {
  TContactListener Listener;
  Listener.Receive(Js8(R"("FREQ":14079162,"UTC.ON":1796698809430)"));
  EXPECT_EQ(Listener.Counts().Refused, 1u);
  EXPECT_EQ(Listener.Counts().Unreadable, 0u);
  Listener.Receive(R"({"type":"PING"})");
  EXPECT_EQ(Listener.Counts().Ignored, 1u);
  EXPECT_EQ(Listener.Counts().Unreadable, 0u);
}

TEST(Sources, TypeFiveAndTwelveOfOneContactCountOnceWhateverTheirTimes) {
  TContactListener Listener;
  std::vector<std::string> Calls;
  Listener.AddContactConsumer(
      [&](const TContact& C, const std::string&) { Calls.push_back(C.Field("call")); });
  // The type 5's time is an hour off the ADIF's (a sender's clock label).
  Listener.Receive(Logged("WSJT-X", "DL1ABC", 2 /* offset */, At225750 - 3600 * 1000));
  Listener.Receive(LoggedAdif("DL1ABC"));
  Listener.Receive(LoggedAdif("G4XYZ"));
  EXPECT_EQ(Calls, (std::vector<std::string>{"DL1ABC", "G4XYZ"}));
}

// A contact as JTDX's "logged ADIF" message.
std::string JtdxAdif(const std::string& Call) {
  return TDatagramBuilder(12, 2, ContactDatagramMagic, "JTDX")
      .Text("<call:" + std::to_string(Call.size()) + ">" + Call +
            " <qso_date:8>20261207 <time_on:6>225750 <band:3>40m <freq:8>7.075500"
            " <mode:3>FT8 <gridsquare:4>JO62 <eor>")
      .Data();
}

TEST(Sources, OnceASenderSendsAdifTooItsAdifFieldsWin) {
  QTemporaryDir Dir;
  const std::string HeldFile = Dir.path().toStdString() + "/held.adi";
  TContactListener Listener;
  Listener.KeepHeldIn(HeldFile);
  std::vector<TContact> Got;
  Listener.AddContactConsumer([&](const TContact& C, const std::string&) { Got.push_back(C); });
  Listener.Receive(JtdxAdif("K1AAA")); // the sender is now known to send ADIF
  // Type 5 first, with a time an hour off; the ADIF's time must win.
  Listener.Receive(Logged("JTDX", "DL1ABC", 2, At225750 - 3600 * 1000));
  EXPECT_TRUE(std::filesystem::exists(HeldFile));
  Listener.Receive(JtdxAdif("DL1ABC"));
  EXPECT_FALSE(std::filesystem::exists(HeldFile));
  ASSERT_EQ(Got.size(), 2u);
  EXPECT_EQ(Got[1].Field("call"), "DL1ABC");
  EXPECT_EQ(Got[1].Field("time_on"), "225750");
  // A type 5 whose ADIF never comes is handed on after a short wait.
  Listener.Receive(Logged("JTDX", "G4XYZ", 1));
  ASSERT_TRUE(WaitFor([&] { return Got.size() == 3; }));
  EXPECT_EQ(Got[2].Field("call"), "G4XYZ");
}

// WSJT-X sends each contact as "contact logged" in UTF-8 and again as ADIF
// in Latin-1 ("?" for what Latin-1 lacks): after an earlier pair from it,
// the names reach the journal and the logbook's record as typed.
TEST(Sources, NamesFromAPairOfMessagesArriveAsTyped) {
  QTemporaryDir Dir;
  const std::string JournalPath = Dir.path().toStdString() + "/contacts.adi";
  TContactJournal Journal(JournalPath);
  ASSERT_TRUE(Journal.Open()) << Journal.ErrorText();
  TContactListener Listener;
  std::vector<std::string> Records;
  Listener.AddContactConsumer([&](const TContact& C, const std::string& Record) {
    Journal.Add(C);
    Records.push_back(Record);
  });
  const std::string Joerg = "J\u00F6rg M\u00FCller", Lukasz = "\u0141ukasz";
  const std::pair<std::string, std::string> Pairs[] = {
      {ContactLoggedNamed("DL1AAA", "Hans"), LoggedAdifNamed("DL1AAA", "Hans")},
      {ContactLoggedNamed("DL2BBB", Joerg), LoggedAdifNamed("DL2BBB", "J\xF6rg M\xFCller")},
      {ContactLoggedNamed("SP9XYZ", Lukasz), LoggedAdifNamed("SP9XYZ", "?ukasz")},
  };
  for (const auto& [Logged, Adif] : Pairs) {
    Listener.Receive(Logged);
    Listener.Receive(Adif);
  }
  ASSERT_EQ(Records.size(), 3u);
  const std::string Names[] = {"Hans", Joerg, Lukasz};
  TContactJournal Again(JournalPath);
  ASSERT_TRUE(Again.Open()) << Again.ErrorText();
  for (std::size_t I = 0; I < 3; ++I) {
    const TAdifDocument Record = ReadAdif(Records[I]);
    ASSERT_EQ(Record.Records.size(), 1u) << Records[I];
    EXPECT_EQ(Record.Records[0].Field("name"), Names[I]) << Records[I];
    // The ADIF's own fields stay (the first pair's ADIF came after its
    // contact was handed on).
    if (I > 0) {
      EXPECT_EQ(Record.Records[0].Field("band"), "40m") << Records[I];
    }
    ASSERT_NE(Again.Next(), nullptr);
    EXPECT_EQ(Again.Next()->Field("name"), Names[I]);
    Again.TakeNext();
  }
  EXPECT_NE(Records[1].find("<name:11>" + Joerg + " "), std::string::npos) << Records[1];
}

TEST(Sources, AContactHeldForItsAdifIsNotLostWhenTheProgramEndsAbruptly) {
  QTemporaryDir Dir;
  const std::string HeldFile = Dir.path().toStdString() + "/held.adi";
  {
    TContactListener Listener;
    Listener.KeepHeldIn(HeldFile);
    Listener.Receive(JtdxAdif("K1AAA"));
    Listener.Receive(Logged("JTDX", "DL1ABC", 2));
  } // gone while the contact waited, as in a crash: nothing delivered it
  TContactListener Next;
  std::vector<std::string> Calls;
  Next.AddContactConsumer(
      [&](const TContact& C, const std::string&) { Calls.push_back(C.Field("call")); });
  Next.KeepHeldIn(HeldFile);
  EXPECT_EQ(Calls, (std::vector<std::string>{"DL1ABC"}));
  EXPECT_FALSE(std::filesystem::exists(HeldFile));
}

TEST(Sources, TheTcpApiClientReadsLinesAndComesBackAfterALoss) {
  QTcpServer Server;
  ASSERT_TRUE(Server.listen(QHostAddress::LocalHost, 0));
  TContactListener Listener;
  std::vector<std::string> Calls;
  Listener.AddContactConsumer(
      [&](const TContact& C, const std::string&) { Calls.push_back(C.Field("call")); });
  Listener.ConnectApi("127.0.0.1:" + std::to_string(Server.serverPort()));
  ASSERT_TRUE(Server.waitForNewConnection(GenerousMs));
  QTcpSocket* Peer = Server.nextPendingConnection();
  // A ping, an overlong line and a contact split across two writes.
  const std::string Contact = Js8(Js8Params) + '\n';
  const std::string Lines = std::string(R"({"type":"PING"})") + '\n' + std::string(70 * 1024, 'x') +
                            '\n' + Contact.substr(0, 30);
  Peer->write(Lines.data(), static_cast<qint64>(Lines.size()));
  Peer->flush();
  WaitFor([&] { return Listener.Counts().Ignored == 1; });
  Peer->write(Contact.data() + 30, static_cast<qint64>(Contact.size() - 30));
  ASSERT_TRUE(WaitFor([&] { return Calls.size() == 1; }));
  EXPECT_EQ(Calls.front(), "KN4ABC");
  EXPECT_EQ(Listener.Counts().Unreadable, 0u);

  // The program goes away and comes back: the client connects again.
  Peer->abort();
  ASSERT_TRUE(WaitFor([&] { return !Listener.FilesProblem().empty(); }));
  ASSERT_TRUE(WaitFor([&] { return Server.hasPendingConnections(); }));
  Peer = Server.nextPendingConnection();
  const std::string Again = Js8(R"("CALL":"G4XYZ","FREQ":7078000)") + '\n';
  Peer->write(Again.data(), static_cast<qint64>(Again.size()));
  ASSERT_TRUE(WaitFor([&] { return Calls.size() == 2; }));
  EXPECT_EQ(Calls.back(), "G4XYZ");
}

// A temporary folder with a log file and the follower's state beside it.
class FollowerTest : public testing::Test {
protected:
  std::string LogPath() const { return Dir.filePath("wsjtx_log.adi").toStdString(); }
  std::string StatePath() const { return Dir.filePath("state").toStdString(); }

  void Write(const std::string& Text, std::ios::openmode Mode = std::ios::app) {
    std::ofstream(LogPath(), Mode | std::ios::binary) << Text;
  }

  // A new follower, as after a restart.
  void StartFollower() {
    Follower = std::make_unique<TAdifFileFollower>(LogPath(), StatePath());
    Follower->setOnContact([this](TContact C) { Calls.push_back(C.Field("call")); });
    Follower->Start();
  }

  static std::string Record(const std::string& Call, const std::string& Time = "225750") {
    return "<call:" + std::to_string(Call.size()) + ">" + Call +
           " <qso_date:8>20991207 <time_on:6>" + Time +
           " <band:3>40m <freq:8>7.075500 <mode:3>FT8 <eor>\n";
  }

  // Waits for Count contacts in all; then lets the event loop run a little
  // so that a contact handed on twice would show.
  bool WaitForCalls(std::size_t Count) {
    const bool Ok = WaitFor([&] { return Calls.size() >= Count; });
    QElapsedTimer Settle;
    Settle.start();
    while (Settle.elapsed() < 200)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Ok && Calls.size() == Count;
  }

  QTemporaryDir Dir;
  std::unique_ptr<TAdifFileFollower> Follower;
  std::vector<std::string> Calls;
};

TEST_F(FollowerTest, AppendedRecordsAreContactsOnceCompleteAndNeverTwice) {
  Write("ADIF export<eoh>\n" + Record("OLD1AB", "101010") + Record("OLD2AB", "101111"),
        std::ios::trunc);
  StartFollower();
  EXPECT_TRUE(Calls.empty()) << "records already there are no contacts";

  Write(Record("DL1ABC"));
  ASSERT_TRUE(WaitForCalls(1));

  const std::string Next = Record("G4XYZ");
  Write(Next.substr(0, 20));
  Follower->Check(); // a notice for the partial record: nothing yet
  EXPECT_EQ(Calls.size(), 1u);
  Write(Next.substr(20));
  ASSERT_TRUE(WaitForCalls(2));

  // Saved again whole, under a new file, while the old one is still open:
  // only the record not taken.
  std::ifstream Holder(LogPath());
  const std::string Whole = "ADIF export<eoh>\n" + Record("OLD1AB", "101010") +
                            Record("OLD2AB", "101111") + Record("DL1ABC") + Record("G4XYZ") +
                            Record("K1NEW");
  std::ofstream(LogPath() + ".new", std::ios::binary) << Whole;
  std::filesystem::rename(LogPath() + ".new", LogPath());
  ASSERT_TRUE(WaitForCalls(3));
  EXPECT_EQ(Calls.back(), "K1NEW");

  // Cut short and written anew: again only what was not taken.
  Write(Record("DL1ABC") + Record("F5ABC"), std::ios::trunc);
  ASSERT_TRUE(WaitForCalls(4));
  EXPECT_EQ(Calls.back(), "F5ABC");

  // A restart hands on nothing again; what is appended later it does.
  Follower.reset();
  StartFollower();
  EXPECT_EQ(Calls.size(), 4u);
  Write(Record("OK1ABC"));
  ASSERT_TRUE(WaitForCalls(5));
  EXPECT_EQ(Calls, (std::vector<std::string>{"DL1ABC", "G4XYZ", "K1NEW", "F5ABC", "OK1ABC"}));
}

TEST_F(FollowerTest, AFileThatVanishesIsFollowedWhenItReturns) {
  Write(Record("OLD1AB", "101010"), std::ios::trunc);
  StartFollower();
  std::filesystem::remove(LogPath());
  ASSERT_TRUE(WaitFor([&] { return !Follower->Problem().empty(); }));
  Write(Record("OLD1AB", "101010") + Record("DL1ABC"), std::ios::trunc);
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(Calls.front(), "DL1ABC");
  EXPECT_EQ(Follower->Problem(), "");
}

TEST_F(FollowerTest, AFileMadeWithTheFirstContactGivesThatContact) {
  StartFollower();
  EXPECT_FALSE(Follower->Problem().empty());
  Write("ADIF export<eoh>\n" + Record("DL1ABC"), std::ios::trunc);
  ASSERT_TRUE(WaitForCalls(1));
}

TEST_F(FollowerTest, AFolderInTheFilesPlaceIsNamed) {
  // A folder in the file's place.
  std::filesystem::create_directory(LogPath());
  StartFollower();
  EXPECT_NE(Follower->Problem().find("not a regular file"), std::string::npos)
      << Follower->Problem();
}

TEST_F(FollowerTest, AHugeAppendIsAnImportAndARecordOfAMegabyteIsPassedOver) {
  Write(Record("OLD1AB", "101010"), std::ios::trunc);
  StartFollower();
  std::string Import;
  for (int I = 0; I < 20000; ++I)
    Import += Record("K" + std::to_string(I % 10) + "IMP");
  Write(Import);
  Follower->Check();
  EXPECT_TRUE(Calls.empty());
  EXPECT_NE(Follower->Problem().find("import"), std::string::npos) << Follower->Problem();
  Write("<call:6>DL1ABC <comment:1048576>" + std::string(1024 * 1024, 'x') + " <eor>\n");
  Follower->Check();
  Write(Record("G4XYZ"));
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(Calls.front(), "G4XYZ");
}

// Many records of a log, each its own contact, dated Date.
std::string ManyRecords(int Count, const std::string& Date) {
  std::string Text;
  for (int I = 0; I < Count; ++I)
    Text += "<call:7>K" + std::to_string(1000000 + I).substr(1) + " <qso_date:8>" + Date +
            " <time_on:6>120000 <band:3>40m <mode:3>FT8 <eor>\n";
  return Text;
}

// A log of 1.5 MB saved again whole in place, as a program rewrites it: cut
// to nothing, then written in pieces of 64 KiB, a notice after each. Only
// the record added is a contact, each time.
TEST_F(FollowerTest, ALogSavedAgainInPlaceInPiecesGivesItsNewRecords) {
  const std::string Old = "ADIF export<eoh>\n" + ManyRecords(20000, "20201207");
  ASSERT_GT(Old.size(), 1500000u);
  Write(Old, std::ios::trunc);
  StartFollower();
  std::string Whole = Old;
  for (const char* Call : {"DL1NEW", "G4NEW"}) {
    Whole += Record(Call);
    std::ofstream Out(LogPath(), std::ios::binary | std::ios::trunc);
    Out.flush();
    Follower->Check();
    for (std::size_t At = 0; At < Whole.size(); At += 64 * 1024) {
      Out << Whole.substr(At, 64 * 1024);
      Out.flush();
      Follower->Check();
    }
  }
  ASSERT_TRUE(WaitForCalls(2)) << Follower->Problem();
  EXPECT_EQ(Calls, (std::vector<std::string>{"DL1NEW", "G4NEW"}));
  EXPECT_EQ(Follower->Problem(), "");
}

// After an import passed over, a record longer than a chunk written in
// pieces is passed over once whole, and reading goes on after it: the
// import is not read again.
TEST_F(FollowerTest, ARecordLongerThanAChunkWrittenInPiecesKeepsThePosition) {
  Write(Record("OLD1AB", "101010"), std::ios::trunc);
  StartFollower();
  Write(ManyRecords(20000, "20991207"));
  Follower->Check();
  EXPECT_NE(Follower->Problem().find("import"), std::string::npos) << Follower->Problem();
  const std::string Long = "<call:6>DL1ABC <comment:1572864>" + std::string(1572864, 'x') +
                           " <qso_date:8>20991207 <time_on:6>235959 <eor>\n";
  for (std::size_t At = 0; At < Long.size(); At += 64 * 1024) {
    Write(Long.substr(At, 64 * 1024));
    Follower->Check();
  }
  Write(Record("G4XYZ"));
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(Calls, (std::vector<std::string>{"G4XYZ"}));
}

TEST_F(FollowerTest, AContactFromTheSocketAndTheFileCountsOnce) {
  Write(Record("OLD1AB", "101010"), std::ios::trunc);
  TContactListener Listener;
  std::vector<std::string> Got;
  Listener.AddContactConsumer(
      [&](const TContact& C, const std::string&) { Got.push_back(C.Field("call")); });
  Listener.FollowFiles({LogPath()}, Dir.path().toStdString());
  Listener.Receive(LoggedAdif("DL1ABC")); // 2026-12-07 22:57:50 on 40m
  // The file's record of it says a minute later, as a program may round.
  Write("<call:6>DL1ABC <qso_date:8>20261207 <time_on:4>2258 <band:3>40m <mode:3>FT8 <eor>\n\n" +
        Record("G4XYZ"));
  ASSERT_TRUE(WaitFor([&] { return Got.size() >= 2; }));
  EXPECT_EQ(Got, (std::vector<std::string>{"DL1ABC", "G4XYZ"}));
}

} // namespace
