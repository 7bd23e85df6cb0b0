#include "gui/untPanelButton.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPointer>
#include <algorithm>
#include <exception>

namespace vela {

TPanelButtonFace::TPanelButtonFace(TPanelButton* AButton) : QLabel(AButton), FButton(AButton) {
  setAlignment(Qt::AlignCenter);
  setAutoFillBackground(true);
  // Tab reaches the face; a mouse click does not move the focus to it.
  setFocusPolicy(Qt::TabFocus);
  setMouseTracking(true);
}

void TPanelButtonFace::mouseMoveEvent(QMouseEvent* Event) {
  FButton->HighlightInGroup();
  Event->accept();
}

void TPanelButtonFace::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton)
    FButton->Press();
  Event->accept();
}

void TPanelButtonFace::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton)
    FButton->Release(rect().contains(Event->position().toPoint()));
  Event->accept();
}

void TPanelButtonFace::focusInEvent(QFocusEvent* Event) {
  QLabel::focusInEvent(Event);
  FButton->HighlightInGroup();
}

void TPanelButtonFace::focusOutEvent(QFocusEvent* Event) {
  QLabel::focusOutEvent(Event);
  FButton->setHighlighted(false);
}

void TPanelButtonFace::keyPressEvent(QKeyEvent* Event) {
  // No key presses a panel button; Tab and the rest go to the window.
  Event->ignore();
}

TPanelButton::TPanelButton(QWidget* Parent, const QString& ACaption)
    : QFrame(Parent), FFace(new TPanelButtonFace(this)) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  FFace->setText(ACaption);
  UpdateColors();
}

TPanelButton::~TPanelButton() {
  if (FGroup)
    FGroup->Remove(this);
}

void TPanelButton::setGeometries(const QRect& AFrame, const QRect& AFace) {
  setGeometry(AFrame);
  FFaceRest = AFace;
  FFace->setGeometry(FPressed ? AFace.translated(1, 1) : AFace);
}

void TPanelButton::setFrameColor(const QColor& Value) {
  FFrameColor = Value;
  UpdateColors();
}

void TPanelButton::setFaceColor(const QColor& Value) {
  FFaceColor = Value;
  UpdateColors();
}

void TPanelButton::setCaptionColor(const QColor& Value) {
  FCaptionColor = Value;
  UpdateColors();
}

void TPanelButton::setHighlightColor(const QColor& Value) {
  FHighlightColor = Value;
  UpdateColors();
}

void TPanelButton::setHighlighted(bool Value) {
  if (FHighlighted == Value)
    return;
  FHighlighted = Value;
  UpdateColors();
}

void TPanelButton::setGroup(TPanelButtonGroup* Value) {
  if (FGroup == Value)
    return;
  if (FGroup)
    FGroup->Remove(this);
  if (Value)
    Value->Add(this);
}

void TPanelButton::HighlightInGroup() {
  if (FGroup)
    FGroup->Highlight(this);
  else
    setHighlighted(true);
}

void TPanelButton::Press() {
  FPressed = true;
  FFace->move(FFaceRest.topLeft() + QPoint(1, 1));
}

void TPanelButton::Release(bool Inside) {
  if (!FPressed)
    return;
  FPressed = false;
  FFace->move(FFaceRest.topLeft());
  if (!Inside)
    return;
  // A click handler's failure is shown to the operator here, so that it
  // never unwinds through the toolkit's event dispatch.
  try {
    emit clicked();
  } catch (const std::exception& E) {
    ShowExceptionBox(E);
  }
}

void TPanelButton::UpdateColors() {
  QPalette Frame = palette();
  Frame.setColor(QPalette::Window, FFrameColor);
  setPalette(Frame);
  QPalette Face = FFace->palette();
  Face.setColor(QPalette::Window, FFaceColor);
  Face.setColor(QPalette::WindowText, FHighlighted ? FHighlightColor : FCaptionColor);
  FFace->setPalette(Face);
}

TPanelButtonGroup::~TPanelButtonGroup() {
  for (TPanelButton* Button : FButtons)
    Button->FGroup = nullptr;
}

void TPanelButtonGroup::Add(TPanelButton* Button) {
  if (std::find(FButtons.begin(), FButtons.end(), Button) != FButtons.end())
    return;
  FButtons.push_back(Button);
  Button->FGroup = this;
}

void TPanelButtonGroup::Remove(TPanelButton* Button) {
  FButtons.erase(std::remove(FButtons.begin(), FButtons.end(), Button), FButtons.end());
  if (Button->FGroup == this)
    Button->FGroup = nullptr;
}

void TPanelButtonGroup::Highlight(TPanelButton* Button) {
  for (TPanelButton* Other : FButtons)
    if (Other != Button)
      Other->setHighlighted(false);
  Button->setHighlighted(true);
}

void TPanelButtonGroup::ClearHighlight() {
  for (TPanelButton* Button : FButtons)
    Button->setHighlighted(false);
}

void ShowExceptionBox(const std::exception& E) {
  QString Title = QApplication::applicationDisplayName();
  if (Title.isEmpty())
    Title = QStringLiteral("VELA Log");
  QMessageBox::critical(QApplication::activeWindow(), Title, QString::fromLocal8Bit(E.what()));
}

} // namespace vela
