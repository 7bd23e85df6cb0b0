// The status strip cut at its end with the whole text as its tool tip, and
// the logbook group's two resend buttons with the words they are given.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "gui/untLinkStatusStrip.h"
#include "gui/untLogbookApiGroup.h"

using namespace vela;

TEST(LinkStatusStrip, ALongTextIsCutAtItsEndWithTheWholeAsToolTip) {
  TLinkStatusStrip Strip;
  Strip.resize(300, 20);
  const std::string Text = "FT950 · COM3 → /dev/ttyUSB0 · live   ·   logbook: Wavelog at "
                           "https://log.example.org/ · the logbook refused DL1ABC: Wrong "
                           "station callsign K1XYZ while station profile callsign is K1ABC";
  Strip.setSource([&Text] { return Text; });
  Strip.show();
  EXPECT_EQ(Strip.toolTip().toStdString(), Text);
  EXPECT_TRUE(Strip.text().startsWith(QStringLiteral("FT950 · COM3")))
      << Strip.text().toStdString();
  EXPECT_TRUE(Strip.text().endsWith(QChar(0x2026))) << Strip.text().toStdString();
}

TEST(LogbookApiGroup, ResendButtonsSayWhatTheyAreToldAndNameTheStation) {
  QWidget Panel;
  Panel.resize(502, 150);
  auto* Group = new TLogbookApiGroup(&Panel);
  EXPECT_FALSE(Group->btnResendAsStation()->isEnabled());
  std::string Call;
  std::vector<bool> Asked;
  TLogbookApiGroup::TSay Later;
  Group->setOnResendRefused(
      [&](bool AsStation, const TLogbookApiGroup::TSay& Say) {
        Asked.push_back(AsStation);
        Later = Say;
      },
      [&Call] { return Call; });
  EXPECT_EQ(Group->btnResendAsStation()->text(), QStringLiteral("Send again as station"));
  Group->btnResendAsStation()->click();
  EXPECT_NE(Group->lblResult()->text().indexOf(QStringLiteral("Asking the logbook")), -1);
  // The answer comes later, with the callsign known by then.
  Call = "K1ABC";
  Later("2 set-aside contacts back in the queue as K1ABC");
  EXPECT_EQ(Group->lblResult()->text(),
            QStringLiteral("2 set-aside contacts back in the queue as K1ABC"));
  EXPECT_EQ(Group->btnResendAsStation()->text(), QStringLiteral("Send again as K1ABC"));
  Group->btnResendRefused()->click();
  EXPECT_EQ(Asked, (std::vector<bool>{true, false}));
  // An answer after the group is gone is dropped.
  delete Group;
  Later("too late");
}
