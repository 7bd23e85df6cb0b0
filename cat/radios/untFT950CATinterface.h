// The driver for the Yaesu FT-950: two-letter text commands, polled with the
// information command "IF;".
#pragma once

#include "cat/radios/untRadioModel.h"
#include "cat/radios/untTextCATinterface.h"

namespace vela {

class TFT950CATInterface : public TTextCATInterface {
public:
  TFT950CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);
  // The Hamlib modes its set-mode table takes (the radio table's list).
  static TNativeModeList NativeModes();
  // Its row of the radio table.
  static const TRadioModel RadioModel;
};

} // namespace vela
