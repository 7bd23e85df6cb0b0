#include "gui/untLinkStatusStrip.h"

#include <QFontMetrics>
#include <QTimer>

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"

namespace vela {

std::string RadioDisplayName(TRadioType Radio) {
  if (Radio == rtRigctld)
    return "Hamlib rigctld";
  // A stored type outside the table is served by the IC-7300's driver, as
  // the dialog does.
  const TRadioModel* Model = FindRadioModel(Radio);
  return Model ? Model->DisplayName : FindRadioModel(rtIC7300)->DisplayName;
}

std::string RadioLinkText(const TCATInterface& CAT) {
  std::string Text = LinkStatusText(TLinkRole::lrRadio, CAT.RadioLinkStatus());
  if (const std::string Note = CAT.RadioNote(); !Note.empty())
    Text += " — " + Note;
  return Text;
}

std::string LinkSummary(const TCATInterface& CAT, bool WithVirtual) {
  std::string Text = RadioDisplayName(CAT.Radio()) + " · " + RadioLinkText(CAT);
  if (WithVirtual) {
    const TLinkStatus Virtual = CAT.VirtualLinkStatus();
    if (Virtual.State != TLinkState::lsOff)
      Text += "   |   Virtual CAT · " + LinkStatusText(TLinkRole::lrVirtual, Virtual);
  }
  return Text;
}

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
