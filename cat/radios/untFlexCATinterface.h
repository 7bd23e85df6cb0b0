// The driver for a Flex radio: text commands with the extended "ZZ" names,
// polled with its status command "ZZIF;".
#pragma once

#include "cat/radios/untRadioModel.h"
#include "cat/radios/untTextCATinterface.h"

namespace vela {

class TFlexCATInterface : public TTextCATInterface {
public:
  TFlexCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);
  // The Hamlib modes its set-mode table takes (the radio table's list).
  static TNativeModeList NativeModes();
  // Its row of the radio table.
  static const TRadioModel RadioModel;
};

} // namespace vela
