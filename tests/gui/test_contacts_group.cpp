// The settings dialog's contacts group against a real settings file: it
// shows the stored options, writes what changed, and keeps an address that
// cannot be listened on out of the file.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/guiContactsGroup.h"
#include "settings/untVelaLogSettings.h"

using namespace vela;

TEST(ContactsGroup, ShowsAndStoresTheOptions) {
  velatest::TScratch Scratch;
  TVelaLogSettings Settings(nullptr, Scratch.IniPath());
  QWidget Panel;
  Panel.resize(502, 112);
  TContactsGroup Group(&Panel);
  Group.Load(Settings);
  EXPECT_FALSE(Group.chkEnabled()->isChecked());
  EXPECT_EQ(Group.edtListen()->text(), "127.0.0.1:2237");
  EXPECT_FALSE(Group.chkSubmit()->isChecked());

  Group.edtListen()->setText("shack-pc:2237");
  Group.chkEnabled()->setChecked(true);
  Group.Store(Settings);
  EXPECT_EQ(Group.edtListen()->text(), "127.0.0.1:2237");
  EXPECT_TRUE(Group.lblNote()->text().startsWith("Not changed"))
      << Group.lblNote()->text().toStdString();
  std::string Ini = Scratch.ReadIni();
  EXPECT_EQ(velatest::IniValue(Ini, "Listen"), "");
  EXPECT_EQ(velatest::IniValue(Ini, "Enabled"), "1");

  Group.edtListen()->setText(" 224.0.0.1:2237 ");
  Group.chkSubmit()->setChecked(true);
  Group.Store(Settings);
  Ini = Scratch.ReadIni();
  EXPECT_EQ(velatest::IniValue(Ini, "Listen"), "224.0.0.1:2237");
  EXPECT_EQ(velatest::IniValue(Ini, "Submit"), "1");
  EXPECT_FALSE(Group.lblNote()->text().startsWith("Not changed"));
}

TEST(ContactsGroup, TheLogFileFieldIsTheFirstOfTheList) {
  velatest::TScratch Scratch;
  TVelaLogSettings Settings(nullptr, Scratch.IniPath());
  Settings.setContactsLogFiles({"/a/wsjtx_log.adi", "/b/js8call.log"});
  QWidget Panel;
  Panel.resize(502, 112);
  TContactsGroup Group(&Panel);
  Group.Load(Settings);
  EXPECT_EQ(Group.edtLogFile()->text(), "/a/wsjtx_log.adi");

  Group.edtLogFile()->setText(" /c/jtdx_log.adi ");
  Group.Store(Settings);
  EXPECT_EQ(Settings.ContactsLogFiles(),
            (std::vector<std::string>{"/c/jtdx_log.adi", "/b/js8call.log"}));
  Group.edtLogFile()->setText("");
  Group.Store(Settings);
  EXPECT_EQ(Settings.ContactsLogFiles(), (std::vector<std::string>{"/b/js8call.log"}));
  const std::string Ini = Scratch.ReadIni();
  EXPECT_EQ(velatest::IniValue(Ini, "LogFile0"), "/b/js8call.log");
}
