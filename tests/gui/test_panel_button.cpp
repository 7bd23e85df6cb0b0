// The panel button: press shift, click only on a release inside, Space and
// Enter press it, and the caption highlight moves within its group.
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <stdexcept>

#include "GuiTestSupport.h"
#include "gui/untPanelButton.h"

using namespace vela;

namespace {

class PanelButtonTest : public ::testing::Test {
protected:
  void SetUp() override {
    Window.resize(300, 100);
    for (int i = 0; i < 3; ++i) {
      Buttons[i] = new TPanelButton(&Window, QStringLiteral("B%1").arg(i));
      Buttons[i]->setGeometries(QRect(10 + 90 * i, 10, 78, 25), QRect(2, 2, 74, 21));
      Buttons[i]->setGroup(&Group);
    }
  }
  QColor CaptionOf(int i) const {
    return Buttons[i]->Face()->palette().color(QPalette::WindowText);
  }

  QWidget Window;
  TPanelButtonGroup Group;
  TPanelButton* Buttons[3] = {};
};

TEST_F(PanelButtonTest, PressShiftsOnePixelAndReleaseInsideClicks) {
  QSignalSpy Clicked(Buttons[0], &TPanelButton::clicked);
  QWidget* Face = Buttons[0]->Face();
  QTest::mousePress(Face, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(Face->pos(), QPoint(3, 3));
  EXPECT_TRUE(Buttons[0]->Pressed());
  EXPECT_EQ(Clicked.count(), 0);
  QTest::mouseRelease(Face, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(Face->pos(), QPoint(2, 2));
  EXPECT_EQ(Clicked.count(), 1);
}

TEST_F(PanelButtonTest, ReleaseOutsideOrOtherButtonDoesNotClick) {
  QSignalSpy Clicked(Buttons[0], &TPanelButton::clicked);
  QWidget* Face = Buttons[0]->Face();
  QTest::mousePress(Face, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(Face, Qt::LeftButton, {}, QPoint(200, 10));
  EXPECT_EQ(Face->pos(), QPoint(2, 2));
  QTest::mouseClick(Face, Qt::RightButton);
  EXPECT_EQ(Face->pos(), QPoint(2, 2));
  EXPECT_EQ(Clicked.count(), 0);
}

TEST_F(PanelButtonTest, SpaceAndEnterPressTheFocusedButtonOtherKeysDoNot) {
  QSignalSpy Clicked(Buttons[1], &TPanelButton::clicked);
  QWidget* Face = Buttons[1]->Face();
  for (int Key : {Qt::Key_Select, Qt::Key_A, Qt::Key_Escape})
    QTest::keyClick(Face, static_cast<Qt::Key>(Key));
  EXPECT_EQ(Clicked.count(), 0);
  // Space shifts the face while held and clicks on release.
  QTest::keyPress(Face, Qt::Key_Space);
  EXPECT_TRUE(Buttons[1]->Pressed());
  EXPECT_EQ(Clicked.count(), 0);
  QTest::keyRelease(Face, Qt::Key_Space);
  EXPECT_FALSE(Buttons[1]->Pressed());
  EXPECT_EQ(Clicked.count(), 1);
  QTest::keyClick(Face, Qt::Key_Return);
  QTest::keyClick(Face, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(Clicked.count(), 3);
  EXPECT_EQ(Face->pos(), QPoint(2, 2));
  EXPECT_EQ(Face->focusPolicy(), Qt::TabFocus);
  EXPECT_EQ(Face->accessibleName(), QStringLiteral("B1"));
}

TEST_F(PanelButtonTest, FocusHighlightsAndLosingItReturnsToNormal) {
  QFocusEvent In(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(Buttons[0]->Face(), &In);
  EXPECT_TRUE(Buttons[0]->Highlighted());
  QFocusEvent Out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(Buttons[0]->Face(), &Out);
  EXPECT_FALSE(Buttons[0]->Highlighted());
}

TEST_F(PanelButtonTest, CaptionColoursAreTheOwnersChoice) {
  // The main window's look: yellow frames, black captions.
  Buttons[0]->setFrameColor(QColor(255, 255, 0));
  Buttons[0]->setCaptionColor(Qt::black);
  EXPECT_EQ(Buttons[0]->palette().color(QPalette::Window), QColor(255, 255, 0));
  EXPECT_EQ(CaptionOf(0), QColor(Qt::black));
  Group.Highlight(Buttons[0]);
  EXPECT_EQ(CaptionOf(0), QColor(255, 255, 0));
}

TEST_F(PanelButtonTest, FailingClickHandlerReachesTheErrorBox) {
  QObject::connect(Buttons[0], &TPanelButton::clicked,
                   [] { throw std::runtime_error("Unable to write to x.ini"); });
  Window.show();
  const auto Texts =
      velatest::CatchMessageBoxes([&] { QTest::mouseClick(Buttons[0]->Face(), Qt::LeftButton); });
  ASSERT_EQ(Texts.size(), 1u);
  EXPECT_EQ(Texts[0], QStringLiteral("Unable to write to x.ini"));
  EXPECT_EQ(Buttons[0]->Face()->pos(), QPoint(2, 2));
}

TEST(PanelButtonGroupTest, ButtonsLeaveTheGroupWhenFreed) {
  TPanelButtonGroup Group;
  QWidget Window;
  auto* A = new TPanelButton(&Window, "A");
  auto* B = new TPanelButton(&Window, "B");
  A->setGroup(&Group);
  B->setGroup(&Group);
  delete A;
  ASSERT_EQ(Group.Buttons().size(), 1u);
  Group.ClearHighlight(); // must not touch the freed button
  EXPECT_EQ(Group.Buttons()[0], B);
}

} // namespace
