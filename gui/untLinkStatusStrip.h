// The link health shown to the operator: one line of text per window, where
// the radio's port leads and the link's state in words (in the main window
// after the radio's model, and followed by the Virtual CAT port's when on). The words come from
// untLinkState; this only places them.
#pragma once

#include <QLabel>
#include <functional>
#include <string>

#include "settings/untVelaLogSettings.h"

class QTimer;

namespace vela {

class TCATInterface;

// The radio's name for the operator ("FT950").
std::string RadioDisplayName(TRadioType Radio);
// The radio link's state with the driver's note ("COM1 → /dev/ttyUSB0 · live").
std::string RadioLinkText(const TCATInterface& CAT);
// "FT950 · COM3 → /dev/ttyUSB0 · live"; with WithVirtual and Virtual CAT
// on, "   |   Virtual CAT · COM5 → /dev/pts/4 · live" follows.
std::string LinkSummary(const TCATInterface& CAT, bool WithVirtual);

// A one-line label whose text comes from a source function: refreshed on
// Refresh() and every second while visible (a silent link counts its
// seconds); the text is elided at its end to the width, and the whole text
// is the tool tip.
class TLinkStatusStrip : public QLabel {
  Q_OBJECT
public:
  explicit TLinkStatusStrip(QWidget* Parent = nullptr);

  using TSource = std::function<std::string()>;
  void setSource(const TSource& Source);
  void Refresh();
  // The whole text (the label shows it elided when it is too long).
  const QString& FullText() const { return FFullText; }

protected:
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  void Elide();
  TSource FSource;
  QString FFullText;
  QTimer* FTimer;
};

} // namespace vela
