// The link health shown to the operator: one line of text per window, where
// the radio's port leads and the link's state in words (in the main window
// after the radio's model, and followed by the Virtual CAT port's when on). The words come from
// the station (station/untStatusWords); this only places them.
#pragma once

#include <QLabel>
#include <functional>
#include <string>

class QTimer;

namespace vela {

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
