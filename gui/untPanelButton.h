// The panel buttons of the program's windows.
//
// A panel button is a frame panel (black in the settings dialog, yellow in the
// main window) holding a slightly smaller caption panel, the face. The face
// takes the focus from the Tab key only, and its caption turns to the
// highlight colour while the mouse moves over it or it has the focus. Mouse
// down shifts the face one pixel right and down and mouse up moves it back; a
// click is a left-button release inside the face after a press on it. From the
// keyboard, Space (on its release) and Enter press the focused button. The
// caption is the button's accessible name.
//
// Buttons that belong together share a TPanelButtonGroup, so that highlighting
// one returns the captions of the others to their normal colour, and the owner
// can return all of them at once (mouse moves over the window's background).
#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QRect>
#include <QString>
#include <vector>

namespace vela {

class TPanelButton;
class TPanelButtonGroup;

// The clickable caption panel inside a panel button's frame.
class TPanelButtonFace : public QLabel {
  Q_OBJECT
public:
  explicit TPanelButtonFace(TPanelButton* AButton);

protected:
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;

private:
  TPanelButton* FButton;
};

class TPanelButton : public QFrame {
  Q_OBJECT
public:
  TPanelButton(QWidget* Parent, const QString& ACaption);
  ~TPanelButton() override;

  // The frame's geometry in its parent and the face's resting geometry within
  // the frame.
  void setGeometries(const QRect& AFrame, const QRect& AFace);

  QWidget* Face() const { return FFace; }
  QString Caption() const { return FFace->text(); }
  void setCaption(const QString& Value);

  QColor FrameColor() const { return FFrameColor; }
  void setFrameColor(const QColor& Value);
  QColor FaceColor() const { return FFaceColor; }
  void setFaceColor(const QColor& Value);
  // The caption colour while not highlighted, and while highlighted.
  QColor CaptionColor() const { return FCaptionColor; }
  void setCaptionColor(const QColor& Value);
  QColor HighlightColor() const { return FHighlightColor; }
  void setHighlightColor(const QColor& Value);
  void setCaptionFont(const QFont& Value) { FFace->setFont(Value); }

  // Whether the caption shows the highlight colour.
  bool Highlighted() const { return FHighlighted; }
  // Sets this caption's colour only; the group is not consulted.
  void setHighlighted(bool Value);
  // Whether the face is shifted by a mouse press.
  bool Pressed() const { return FPressed; }

  TPanelButtonGroup* Group() const { return FGroup; }
  void setGroup(TPanelButtonGroup* Value);

signals:
  void clicked();

private:
  friend class TPanelButtonFace;
  friend class TPanelButtonGroup;

  void HighlightInGroup();
  void Press();
  void Release(bool Inside);
  void UpdateColors();

  TPanelButtonFace* FFace;
  QRect FFaceRest;
  QColor FFrameColor{0, 0, 0};
  QColor FFaceColor{68, 68, 68};
  QColor FCaptionColor{255, 255, 255};
  QColor FHighlightColor{255, 255, 0};
  bool FHighlighted = false;
  bool FPressed = false;
  TPanelButtonGroup* FGroup = nullptr;
};

// Panel buttons whose captions are highlighted one at a time.
class TPanelButtonGroup {
public:
  TPanelButtonGroup() = default;
  ~TPanelButtonGroup();
  TPanelButtonGroup(const TPanelButtonGroup&) = delete;
  TPanelButtonGroup& operator=(const TPanelButtonGroup&) = delete;

  void Add(TPanelButton* Button);
  void Remove(TPanelButton* Button);
  // Highlights Button's caption and returns the others to normal.
  void Highlight(TPanelButton* Button);
  // Returns every caption of the group to its normal colour.
  void ClearHighlight();
  const std::vector<TPanelButton*>& Buttons() const { return FButtons; }

private:
  std::vector<TPanelButton*> FButtons;
};

} // namespace vela
