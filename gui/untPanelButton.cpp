#include "gui/untPanelButton.h"

#include "gui/untErrorBox.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
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
  // A Space held while the focus leaves presses nothing.
  FButton->Release(false);
}

namespace {
bool IsEnterKey(int Key) {
  return Key == Qt::Key_Return || Key == Qt::Key_Enter;
}
} // namespace

// Space presses the focused button like the mouse (shifted while held,
// clicked on release); Enter clicks it at once. Tab and every other key go
// to the window.
void TPanelButtonFace::keyPressEvent(QKeyEvent* Event) {
  if (Event->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier)) {
    Event->ignore();
    return;
  }
  if (Event->key() == Qt::Key_Space) {
    if (!Event->isAutoRepeat())
      FButton->Press();
    Event->accept();
  } else if (IsEnterKey(Event->key())) {
    if (!Event->isAutoRepeat()) {
      FButton->Press();
      FButton->Release(true);
    }
    Event->accept();
  } else {
    Event->ignore();
  }
}

void TPanelButtonFace::keyReleaseEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Space && !Event->isAutoRepeat()) {
    FButton->Release(true);
    Event->accept();
    return;
  }
  Event->ignore();
}

TPanelButton::TPanelButton(QWidget* Parent, const QString& ACaption)
    : QFrame(Parent), FFace(new TPanelButtonFace(this)) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  setCaption(ACaption);
  UpdateColors();
}

void TPanelButton::setCaption(const QString& Value) {
  FFace->setText(Value);
  // Screen readers name the button by its caption.
  FFace->setAccessibleName(Value);
  FFace->setAccessibleDescription(QStringLiteral("button"));
  setAccessibleName(Value);
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
  } catch (...) {
    ShowCurrentException();
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

} // namespace vela
