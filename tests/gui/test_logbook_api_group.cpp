// The settings dialog's web logbook group: keys it must refuse, and its Test
// against a logbook on 127.0.0.1, which fills the station chooser.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include "gui/untLogbookApiGroup.h"
#include "logbook/LogbookTestKit.h"
#include "logbook/untApiKeyStore.h"
#include "settings/untVelaLogSettings.h"

using namespace vela;

TEST(LogbookApiGroup, RefusesUnusableKeysAndFindsTheStationsWithTest) {
  QTemporaryDir Dir;
  TVelaLogSettings Settings(nullptr, (Dir.path() + "/VelaLog.ini").toStdString());
  TApiKeyStore Keys(Settings, false);
  QWidget Panel;
  Panel.resize(502, 150);
  auto* Group = new TLogbookApiGroup(&Panel);
  Group->setKeyStore(&Keys);
  Group->Load(Settings);
  velatest::TFakeLogbook Logbook;
  Group->chkEnabled()->setChecked(true);
  Group->edtUrl()->setText(QString::fromStdString(Logbook.Url()));
  for (const char* Bad : {"", "two words"}) {
    Group->edtKey()->setText(Bad);
    Group->Store(Settings);
    EXPECT_FALSE(Settings.blnLogbookApiEnabled()) << Bad;
    EXPECT_TRUE(Group->lblResult()->text().startsWith("API key:")) << Bad;
  }

  Group->edtKey()->setText("wl123abc");
  Logbook.Script = {
      {200, R"({"status":"valid","rights":"rw"})"},
      {200, R"([{"station_id":"3","station_profile_name":"Home","station_callsign":"DL1AB",
                 "station_active":"1"},
                {"station_id":7,"station_profile_name":"Portable","station_callsign":"DL1AB/P"}])"},
  };
  Group->Test();
  ASSERT_TRUE(velatest::WaitFor([&] {
    return Group->lblResult()->text().contains("The key owns: Home, Portable;");
  })) << Group->lblResult()->text().toStdString();
  EXPECT_TRUE(Group->lblResult()->text().startsWith("The key is valid (read and write)."));
  // No version answered: the logbook is not named, its active station is.
  EXPECT_TRUE(velatest::WaitFor([&] {
    return Group->lblResult()->text().endsWith(
        QString::fromStdString(" The logbook at " + Logbook.Url() + " \u00b7 station Home."));
  })) << Group->lblResult()->text().toStdString();
  ASSERT_EQ(Group->cbxStation()->count(), 3);
  EXPECT_EQ(Group->cbxStation()->itemText(1), "Home (DL1AB), active");
  Group->cbxStation()->setCurrentIndex(Group->cbxStation()->findData(7));

  Group->Store(Settings);
  EXPECT_TRUE(Settings.blnLogbookApiEnabled());
  EXPECT_EQ(Settings.strLogbookApiUrl(), Logbook.Url());
  EXPECT_EQ(Settings.intLogbookStationId(), 7);
  EXPECT_TRUE(velatest::WaitFor([&] { return Settings.strLogbookApiKey() == "wl123abc"; }));
  EXPECT_TRUE(
      velatest::WaitFor([&] { return Group->lblResult()->text().contains("the settings file"); }));
}

TEST(LogbookApiGroup, TestNamesTheLogbookAndItsStation) {
  QTemporaryDir Dir;
  TVelaLogSettings Settings(nullptr, (Dir.path() + "/VelaLog.ini").toStdString());
  QWidget Panel;
  Panel.resize(502, 150);
  auto* Group = new TLogbookApiGroup(&Panel);
  Group->Load(Settings);
  velatest::TCloudlogBook Book;
  Book.Book.Default = {200, R"({"status":"valid","rights":"rw"})"};
  Group->edtUrl()->setText(QString::fromStdString(Book.Url()));
  Group->edtKey()->setText("cl123abc");
  Group->Test();
  EXPECT_TRUE(velatest::WaitFor([&] {
    return Group->lblResult()->text().endsWith(
        QString::fromStdString("Cloudlog at " + Book.Url() + " \u00b7 station Boston."));
  })) << Group->lblResult()->text().toStdString();
}

// A page's address pasted in is cut back to the logbook's root, and a
// configured station the key does not own is named, not counted.
TEST(LogbookApiGroup, APageAddressBecomesTheRootAndAStationNotOwnedIsNamed) {
  QTemporaryDir Dir;
  TVelaLogSettings Settings(nullptr, (Dir.path() + "/VelaLog.ini").toStdString());
  Settings.setIntLogbookStationId(9);
  QWidget Panel;
  Panel.resize(502, 150);
  auto* Group = new TLogbookApiGroup(&Panel);
  Group->Load(Settings);
  velatest::TCloudlogBook Book;
  Book.Book.Default = {200, R"({"status":"valid","rights":"rw"})"};
  Group->edtUrl()->setText(QString::fromStdString(Book.Url() + "/index.php/qso"));
  Group->edtKey()->setText("cl123abc");
  Group->Test();
  EXPECT_EQ(Group->edtUrl()->text().toStdString(), Book.Url() + "/");
  ASSERT_TRUE(velatest::WaitFor([&] {
    const QString Text = Group->lblResult()->text();
    return Text.contains("The key owns: Boston;") && Text.contains("station 9 is not one of them");
  })) << Group->lblResult()->text().toStdString();
  // The whole result shows: the group grew to hold it.
  EXPECT_GE(Group->lblResult()->height(),
            Group->lblResult()->heightForWidth(Group->lblResult()->width()));
  EXPECT_LE(Group->lblResult()->geometry().bottom(), Panel.height());
}
