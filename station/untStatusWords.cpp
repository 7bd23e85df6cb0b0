#include "station/untStatusWords.h"

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"
#include "cat/untLinkState.h"

namespace vela {

std::string RadioDisplayName(TRadioType Radio) {
  if (Radio == rtRigctld)
    return "Hamlib rigctld";
  // A stored type outside the table is served by the IC-7300's driver, as
  // the station does.
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

} // namespace vela
