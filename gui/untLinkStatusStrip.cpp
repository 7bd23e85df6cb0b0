#include "gui/untLinkStatusStrip.h"

#include <QFontMetrics>
#include <QTimer>

namespace vela {

TLinkStatusStrip::TLinkStatusStrip(QWidget* Parent) : QLabel(Parent), FTimer(new QTimer(this)) {
  FTimer->setInterval(1000);
  connect(FTimer, &QTimer::timeout, this, [this] { Refresh(); });
  setTextFormat(Qt::PlainText);
}

void TLinkStatusStrip::setSource(const TSource& Source) {
  FSource = Source;
  Refresh();
}

void TLinkStatusStrip::Refresh() {
  const QString Text = FSource ? QString::fromStdString(FSource()) : QString();
  if (Text == FFullText)
    return;
  FFullText = Text;
  setToolTip(Text);
  Elide();
}

void TLinkStatusStrip::Elide() {
  const int Room = contentsRect().width() - 2 * margin();
  // Cut at its end: what leads (the radio, then contacts, then the logbook)
  // stays whole, and the tool tip holds the rest.
  setText(QFontMetrics(font()).elidedText(FFullText, Qt::ElideRight, Room > 0 ? Room : width()));
}

void TLinkStatusStrip::showEvent(QShowEvent* Event) {
  QLabel::showEvent(Event);
  Refresh();
  FTimer->start();
}

void TLinkStatusStrip::hideEvent(QHideEvent* Event) {
  FTimer->stop();
  QLabel::hideEvent(Event);
}

void TLinkStatusStrip::resizeEvent(QResizeEvent* Event) {
  QLabel::resizeEvent(Event);
  Elide();
}

} // namespace vela
