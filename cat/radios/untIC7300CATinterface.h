// The driver for the Icom IC-7300 on the CI-V bus, at radio address 94h
// unless the station chose another.
#pragma once

#include "cat/radios/untIcomCATinterface.h"
#include "cat/radios/untRadioModel.h"

namespace vela {

class TIC7300CATInterface : public TIcomCATInterface {
public:
  // Its CI-V address out of the box.
  static constexpr std::uint8_t DefaultAddress = 0x94;

  TIC7300CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);
  // The Hamlib modes it can be set to: the plain ones and the data modes.
  static TNativeModeList NativeModes();
  // Its row of the radio table.
  static const TRadioModel RadioModel;
};

} // namespace vela
