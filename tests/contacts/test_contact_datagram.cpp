// The datagram reader by table: datagrams built in their wire layout go
// through the reader, and each contact is checked as the line velalog-cat
// prints (the page's texts and the further fields); refused datagrams by
// their reason.
#include <gtest/gtest.h>

#include "common/ContactDatagrams.h"
#include "contacts/untAdif.h"
#include "contacts/untContactDatagram.h"
#include "platform/untText.h"

using namespace vela;
using namespace vela::test;

namespace {

struct TCase {
  const char* Name;
  std::string Bytes;
  TDatagramKind Kind;
  std::string Expected; // the contacts' lines joined by '\n', or part of the error
};

const std::string Full =
    "contact\tDL1ABC\t40m\t7.0755\tDigi\t2026-12-07\t22:57\tgridsquare=JO62\tmode=FT8\t"
    "rst_sent=-10\trst_rcvd=-12\ttx_pwr=5\tcomment=tnx\tname=Hans\tqso_date_off=20261207\t"
    "time_off=225805\tstation_callsign=K1ABC\tmy_gridsquare=FN42";

void PrintTo(const TCase& C, std::ostream* Out) {
  *Out << C.Name;
}

std::vector<TCase> Cases() {
  const std::string Adif12 =
      "contact\tDL1ABC\t40m\t7.0755\tDigi\t2026-12-07\t22:57\tgridsquare=JO62\tmode=FT8\t"
      "rst_sent=-10\trst_rcvd=-12\tqso_date_off=20261207\ttime_off=225805\t"
      "station_callsign=K1ABC\tmy_gridsquare=FN42";
  auto Head = [](std::uint32_t Type, std::uint32_t Schema = 2) {
    return TDatagramBuilder(Type, Schema);
  };
  std::string Big(64 * 1024, 'x');
  std::string TooBig(64 * 1024 + 1, '\0');
  return {
      {"type 5, schema 2", ContactLogged("DL1ABC"), TDatagramKind::dkContacts, Full},
      {"type 5, schema 3",
       [] {
         std::string D = ContactLogged("DL1ABC");
         D[7] = 3;
         return D;
       }(),
       TDatagramKind::dkContacts, Full},
      {"type 5 of an older sender: no time on", ContactLoggedHead("DL1ABC", 14074000).Data(),
       TDatagramKind::dkContacts,
       "contact\tDL1ABC\t20m\t14.0740\tDigi\t\t\tgridsquare=JO62\tmode=FT8\trst_sent=-10\t"
       "rst_rcvd=-12\ttx_pwr=5\tcomment=tnx\tname=Hans\tqso_date_off=20261207\ttime_off=225805"},
      {"type 5, null time on",
       ContactLoggedHead("DL1ABC", 7075500).DateTime(INT64_MIN, 0xFFFFFFFF, 1).Data(),
       TDatagramKind::dkContacts, ""},
      {"type 5, time on with an offset from UTC",
       ContactLoggedHead("DL1ABC", 7075500).DateTime(Dec7th2026 + 1, 30 * 60000, 2, 3600).Data(),
       TDatagramKind::dkContacts, "\t2026-12-07\t23:30\t"},
      {"type 5, SSB below 10 MHz", ContactLogged("DL1ABC", 7150000, "SSB"),
       TDatagramKind::dkContacts, "\t40m\t7.1500\tlsb\t"},
      {"type 5, SSB above 10 MHz", ContactLogged("DL1ABC", 14200000, "SSB"),
       TDatagramKind::dkContacts, "\t20m\t14.2000\tusb\t"},
      {"type 5, CW", ContactLogged("DL1ABC", 10116000, "CW"), TDatagramKind::dkContacts,
       "\t30m\t10.1160\tCW\t"},
      {"type 5, outside every band", ContactLogged("DL1ABC", 1296200000, "FT8"),
       TDatagramKind::dkContacts, "\tDL1ABC\t\t1296.2000\tDigi\t"},
      {"type 5 cut inside a string", ContactLogged("DL1ABC").substr(0, 50),
       TDatagramKind::dkRefused, "past the end"},
      {"type 5 with an absurd string length",
       Head(5).DateTime(Dec7th2026, 0).U32(0x7FFFFFFF).Raw("DL1ABC").Data(),
       TDatagramKind::dkRefused, "past the end"},
      {"type 5 with a time zone date-time", Head(5).DateTime(Dec7th2026, 0, 3).Data(),
       TDatagramKind::dkRefused, "time basis 3"},
      {"type 12", LoggedAdif("DL1ABC"), TDatagramKind::dkContacts, Adif12},
      {"type 12 with a wrong field length",
       Head(12).Text("<call:4>DL1ABC <mode:3>FT8 <eor>").Data(), TDatagramKind::dkRefused,
       "wrong length"},
      {"type 12 with a length past the end", Head(12).Text("<call:40>DL1ABC <eor>").Data(),
       TDatagramKind::dkRefused, "wrong length"},
      {"type 12 without <eor>", Head(12).Text("<call:6>DL1ABC <mode:3>FT8").Data(),
       TDatagramKind::dkRefused, "without <eor>"},
      {"plain ADIF",
       "<call:5>G4XYZ <freq:6>3.5731 <mode:2>CW <qso_date:8>20261207 "
       "<time_on:4>2301 <EOR>\n",
       TDatagramKind::dkContacts, "contact\tG4XYZ\t80m\t3.5731\tCW\t2026-12-07\t23:01"},
      {"plain ADIF, SSB by band alone", "<call:5>G4XYZ <band:3>80M <mode:3>SSB <eor>",
       TDatagramKind::dkContacts, "contact\tG4XYZ\t80m\t\tlsb\t"},
      {"plain ADIF, two records", "<call:3>A1A <eor><call:3>B2B <eor>", TDatagramKind::dkContacts,
       "contact\tA1A\t\t\t\t\t\ncontact\tB2B\t\t\t\t\t"},
      {"status", Head(1).U64(14074000).Text("FT8").Text("DL1ABC").Data(), TDatagramKind::dkStatus,
       ""},
      {"status cut short", Head(1).U64(14074000).Data(), TDatagramKind::dkRefused, "ends inside"},
      {"heartbeat", Head(0).U32(3).Text("2.6.1").Data(), TDatagramKind::dkIgnored, ""},
      {"unknown type", Head(99).Data(), TDatagramKind::dkIgnored, ""},
      {"schema 4", Head(5, 4).Data(), TDatagramKind::dkRefused, "schema 4"},
      {"schema 1", Head(5, 1).Data(), TDatagramKind::dkRefused, "schema 1"},
      {"wrong magic", TDatagramBuilder(5, 2, 0xADBCCBDB).Data(), TDatagramKind::dkRefused,
       "wrong magic"},
      {"id cut short", std::string("\xAD\xBC\xCB\xDA\0\0\0\2\0\0\0\5\0\0\0\x09WS", 18),
       TDatagramKind::dkRefused, "past the end"},
      {"64 KiB of text", Big, TDatagramKind::dkRefused, "wrong magic"},
      {"over 64 KiB", TooBig, TDatagramKind::dkRefused, "65537 bytes"},
      {"empty", "", TDatagramKind::dkRefused, "wrong magic"},
  };
}

class DatagramTable : public testing::TestWithParam<TCase> {};

TEST_P(DatagramTable, ReadsAsExpected) {
  const TCase& C = GetParam();
  const TContactDatagram D = ReadContactDatagram(C.Bytes);
  ASSERT_EQ(static_cast<int>(D.Kind), static_cast<int>(C.Kind)) << D.Error;
  if (C.Kind == TDatagramKind::dkRefused) {
    EXPECT_NE(D.Error.find(C.Expected), std::string::npos) << D.Error;
    EXPECT_TRUE(D.Contacts.empty());
    return;
  }
  std::string Lines;
  for (const TContact& Contact : D.Contacts)
    Lines += (Lines.empty() ? "" : "\n") + ContactLine(Contact);
  if (C.Expected.starts_with("contact"))
    EXPECT_EQ(Lines.substr(0, C.Expected.size()), C.Expected);
  else
    EXPECT_NE(Lines.find(C.Expected), std::string::npos) << Lines;
}

INSTANTIATE_TEST_SUITE_P(Datagrams, DatagramTable, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<TCase>& Info) {
                           std::string Name;
                           for (const char* P = Info.param.Name; *P; ++P)
                             Name += std::isalnum(static_cast<unsigned char>(*P)) ? *P : '_';
                           return Name;
                         });

TEST(Datagram, StatusCarriesDialFrequencyAndMode) {
  const TContactDatagram D =
      ReadContactDatagram(TDatagramBuilder(1).U64(14074000).Text("FT4").Data());
  EXPECT_EQ(D.Status.DialHz, 14074000u);
  EXPECT_EQ(D.Status.Mode, "FT4");
  EXPECT_EQ(D.Status.Id, "WSJT-X");
}

TEST(Datagram, FiveAndTwelveOfOneContactShareTheirKey) {
  const auto Five = ReadContactDatagram(ContactLogged("DL1ABC"));
  const auto Twelve = ReadContactDatagram(LoggedAdif("dl1abc"));
  ASSERT_EQ(Five.Contacts.size(), 1u);
  ASSERT_EQ(Twelve.Contacts.size(), 1u);
  EXPECT_EQ(ContactKey(Five.Contacts[0]), ContactKey(Twelve.Contacts[0]));
  EXPECT_NE(ContactKey(Five.Contacts[0]),
            ContactKey(ReadContactDatagram(ContactLogged("DL1ABC", 14074000)).Contacts[0]));
}

// The door: what a contact must look like to be taken, and what its texts
// lose on the way in.
TEST(Datagram, CallsMustLookLikeCallsAndTextsCarryNoTags) {
  const struct {
    std::string Call;
    std::string Taken; // the call as taken; empty: refused
  } Calls[] = {
      {"DL1ABC", "DL1ABC"},
      {" DL1ABC ", "DL1ABC"},
      {"VP2E/DL1ABC/P", "VP2E/DL1ABC/P"},
      {"", ""},
      {"K1\n<CALL:5>G4WJX", ""},
      {std::string("K1A\0BC", 6), ""},
      {"K1 ABC", ""},
      {"K1ABC'; DROP TABLE qsos; --", ""},
      {"R4SEC<eor>", ""},
      {"AB", ""},
      {std::string(21, 'A'), ""},
      {"DL1\xff"
       "B",
       ""},
  };
  for (const auto& C : Calls) {
    const TContactDatagram D = ReadContactDatagram(ContactLogged(C.Call));
    EXPECT_EQ(D.Kind, TDatagramKind::dkContacts) << C.Call;
    EXPECT_EQ(D.Rejected, C.Taken.empty() ? 1u : 0u) << C.Call;
    EXPECT_EQ(D.Contacts.empty() ? "" : D.Contacts[0].Field("call"), C.Taken) << C.Call;
  }
  EXPECT_NE(ReadContactDatagram(ContactLogged("")).Error.find("without a call"), std::string::npos);

  const std::string Comment = "tnx <eor><call:5>G4WJX\x01\n73";
  const TContactDatagram D =
      ReadContactDatagram("<call:5>K1ABC <comment:" + std::to_string(Comment.size()) + ">" +
                          Comment + " <qth:2>\x01\x02 <eor>");
  ASSERT_EQ(D.Contacts.size(), 1u) << D.Error;
  EXPECT_EQ(D.Contacts[0].Field("comment"), "tnx \u2039eor\u203A\u2039call:5\u203AG4WJX 73");
  EXPECT_FALSE(D.Contacts[0].Has("qth")); // control characters alone: no value
  EXPECT_EQ(AdifRecordText(D.Contacts[0]).find("<call:5>G4WJX"), std::string::npos);
}

TEST(Datagram, OneDatagramYieldsAFewContactsAtMost) {
  auto Records = [](std::size_t Count) {
    std::string Text;
    for (std::size_t I = 0; I < Count; ++I)
      Text += "<call:5>K" + std::to_string(I % 10) + "ABC <eor>\n";
    return Text;
  };
  EXPECT_EQ(ReadContactDatagram(Records(MaxContactsPerDatagram)).Contacts.size(),
            MaxContactsPerDatagram);
  const TContactDatagram Flood = ReadContactDatagram(Records(MaxContactsPerDatagram + 1));
  EXPECT_EQ(Flood.Kind, TDatagramKind::dkRefused);
  EXPECT_NE(Flood.Error.find("at most"), std::string::npos);
}

// Lengths as the senders write them: characters, or bytes where characters
// cannot end the field; a length that fits neither fails the text.
TEST(Adif, LengthsCountCharactersOrElseBytes) {
  const struct {
    std::string Text;
    std::string Name; // the name read; "!": the text fails
  } Cases[] = {
      {"<name:4>Jos\xC3\xA9 <eor>", "Jos\xC3\xA9"},
      {"<name:5>Jos\xC3\xA9<eor>", "Jos\xC3\xA9"},
      {"<name:4>\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E<eor>",
       "\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E"},
      {"<name:12>\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E<eor>",
       "\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E"},
      {"<name:3>Jos\xC3\xA9 <eor>", "!"},
      {"<name:4>Jos\xC3\xA9x <eor>", "!"}, // bytes would end inside the é
      {"<name:6>Jos\xC3\xA9 <eor>", "Jos\xC3\xA9 "},
  };
  for (const auto& C : Cases) {
    const TAdifDocument Doc = ReadAdif(C.Text);
    if (C.Name == "!") {
      EXPECT_TRUE(Doc.Records.empty()) << C.Text;
      ASSERT_EQ(Doc.Damaged.size(), 1u) << C.Text;
      EXPECT_NE(Doc.Damaged[0].Why.find("wrong length"), std::string::npos) << C.Text;
      continue;
    }
    ASSERT_EQ(Doc.Records.size(), 1u) << C.Text << ": " << Doc.Error;
    EXPECT_EQ(Doc.Records[0].Field("name"), C.Name) << C.Text;
  }
}

// Written in characters, read back the same: texts that reach the logbook
// whole.
TEST(Adif, NonAsciiTextsRoundTrip) {
  const struct {
    std::string Name, Comment, Written;
  } Cases[] = {
      {"J\xC3\xB6rg M\xC3\xBCller", "73", "<name:11>J\xC3\xB6rg M\xC3\xBCller "},
      {"Gr\xC3\xBC\xC3\x9F"
       "e aus K\xC3\xB6ln",
       "tnx", "<name:14>Gr"},
      {"\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E", "\xE3\x81\x82", "<name:4>"},
      {"Jos\xC3\xA9", "73 \xF0\x9F\x98\x80 <eor>", "<comment:10>73 "},
      {"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "", "<name:4>"},
  };
  for (const auto& C : Cases) {
    TContact Contact;
    Contact.Set("call", "DL1ABC");
    Contact.Set("name", C.Name);
    Contact.Set("comment", C.Comment);
    Contact.Set("qso_date", "20261207");
    const std::string Record = AdifRecordText(Contact);
    EXPECT_NE(Record.find(C.Written), std::string::npos) << Record;
    const TAdifDocument Doc = ReadAdif(AdifHeaderText() + Record + "\n" + Record);
    ASSERT_EQ(Doc.Records.size(), 2u) << Record << ": " << Doc.Error;
    EXPECT_EQ(Doc.Records[0], Contact);
    EXPECT_EQ(Doc.Records[1], Contact);
  }
}

// ADIF bytes as senders write them, UTF-8 or Latin-1 (Windows-1252), and
// what the reader makes of them: UTF-8 text, each field's length counted in
// characters either way.
TEST(Adif, TextsAreReadAsUtf8OrLatin1) {
  const struct {
    std::string Text, Field, Value; // Value "!": the record is passed over
  } Cases[] = {
      {"<name:11>J\xC3\xB6rg M\xC3\xBCller <eor>", "name", "J\u00F6rg M\u00FCller"},
      {"<name:11>J\xF6rg M\xFCller <eor>", "name", "J\u00F6rg M\u00FCller"},
      {"<name:6>M\xFCller<eor>", "name", "M\u00FCller"},
      {"<name:7>M\xC3\xBCller<eor>", "name", "M\u00FCller"}, // a sender counting bytes
      {"<name:6>?ukasz <eor>", "name", "?ukasz"},
      {"<name:1>? <eor>", "name", "?"},
      // Latin-1 bytes that would be UTF-8 continuation bytes count one each.
      {"<comment:6>5\xB0"
       "C \xA9x <eor>",
       "comment", "5\u00B0C \u00A9x"},
      {"<comment:4>\x80\x93x\x94 <eor>", "comment", "\u20AC\u201Cx\u201D"},
      {"<comment:2>\x81\x9F <eor>", "comment", "\u0081\u0178"},
      // Valid UTF-8 and a stray Latin-1 byte in one value.
      {"<name:8>M\xC3\xBCller \xE9 <eor>", "name", "M\u00FCller \u00E9"},
      {"<name:3>\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA<eor>", "name",
       "\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA"},
      {"\xEF\xBB\xBF<call:5>G4XYZ <eor>", "call", "G4XYZ"},
      {"\xEF\xBB\xBF"
       "ADIF export <eoh><call:5>G4XYZ <eor>",
       "call", "G4XYZ"},
      {"<name:5>J\xF6rg M\xFCller <eor>", "name", "!"},
  };
  for (const auto& C : Cases) {
    const TAdifDocument Doc = ReadAdif(C.Text);
    if (C.Value == "!") {
      EXPECT_TRUE(Doc.Records.empty()) << C.Text;
      EXPECT_EQ(Doc.Damaged.size(), 1u) << C.Text;
      continue;
    }
    ASSERT_EQ(Doc.Records.size(), 1u) << C.Text;
    EXPECT_EQ(Doc.Records[0].Field(C.Field), C.Value) << C.Text;
    EXPECT_EQ(Doc.Records[0].Field(C.Field), ValidUtf8(C.Value)) << C.Text;
  }
  // The same rule for a plain datagram, and a JSON one behind a byte order
  // mark.
  const auto Plain = ReadContactDatagram("<call:5>G4XYZ <name:6>M\xFCller <eor>");
  ASSERT_EQ(Plain.Contacts.size(), 1u) << Plain.Error;
  EXPECT_EQ(Plain.Contacts[0].Field("name"), "M\u00FCller");
  EXPECT_EQ(ReadContactDatagram("\xEF\xBB\xBF{\"type\":\"PING\"}").Kind, TDatagramKind::dkIgnored);
}

// Records cut short by a writer that died half-way and wrote the next one
// after them: the damaged record is passed over, never joined to the next,
// and every whole record is read whole.
TEST(Adif, ACutRecordIsNeverJoinedToTheNext) {
  const std::string A = "<call:5>AAA1A <band:3>40m <mode:2>CW ";
  const std::string B = "<call:5>BBB1B <band:3>20m <rst_sent:3>599 <eor>";
  const struct {
    std::string Text;
    std::string Records; // each record's call, band and report, "; "-joined
    std::size_t Damaged;
  } Cases[] = {
      {A + "<rst_sent:3>-10 <EO" + B, "BBB1B 20m 599", 1},
      {A + "<rst_sent:3>-1" + B, "BBB1B 20m 599", 1},
      {A + "<rst_sent:" + B, "BBB1B 20m 599", 1},
      {A + "<rst_sent:3>-10 " + B, "BBB1B 20m 599", 1},
      {A + "<eo" + B, "BBB1B 20m 599", 1},
      {A + "<" + B, "BBB1B 20m 599", 1},
      {A + "<eor>\n" + B, "AAA1A 40m ; BBB1B 20m 599", 0},
      {A + "<eor><call:5>CCC1C <name:x>y <eor>" + B, "AAA1A 40m ; BBB1B 20m 599", 1},
      {A + "<eor><call:5>CCC1C <c@ll:5>y <eor>" + B, "AAA1A 40m ; BBB1B 20m 599", 1},
      {A + "<eor><call:5>CCC1C <comment:9>x <eor>" + B, "AAA1A 40m ; BBB1B 20m 599", 1},
      {A + "<eor>" + B.substr(0, 30), "AAA1A 40m ", 1},
      {A + "<eor><call:5>BBB1B", "AAA1A 40m ", 1},
      {"Log <by me> <adif_ver:5>3.1.4 <eoh>" + A + "<eor>", "AAA1A 40m ", 0},
  };
  for (const auto& C : Cases) {
    const TAdifDocument Doc = ReadAdif(C.Text);
    EXPECT_EQ(Doc.Error, "") << C.Text;
    std::string Records;
    for (const TContact& R : Doc.Records)
      Records += (Records.empty() ? "" : "; ") + R.Field("call") + " " + R.Field("band") + " " +
                 R.Field("rst_sent");
    EXPECT_EQ(Records, C.Records) << C.Text;
    EXPECT_EQ(Doc.Damaged.size(), C.Damaged) << C.Text;
    // Each record ends right after its own "<eor>".
    for (std::size_t I = 0; I < Doc.Ends.size(); ++I)
      EXPECT_EQ(AsciiLower(C.Text.substr(Doc.Ends[I] - 5, 5)), "<eor>") << C.Text;
  }
}

TEST(Adif, RecordTextReadsBackTheSameContact) {
  const auto Five = ReadContactDatagram(ContactLogged("DL1ABC"));
  ASSERT_EQ(Five.Contacts.size(), 1u);
  TContact Contact = Five.Contacts[0];
  Contact.Set("comment", "a <eor> inside, and ümlauts");
  const TAdifDocument Doc = ReadAdif(AdifHeaderText() + AdifRecordText(Contact) + "\n");
  ASSERT_TRUE(Doc.Error.empty()) << Doc.Error;
  ASSERT_EQ(Doc.Records.size(), 1u);
  EXPECT_EQ(Doc.Records[0], Contact);
}

} // namespace
