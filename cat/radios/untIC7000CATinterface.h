// The driver for the Icom IC-7000 on the CI-V bus, at radio address 70h
// unless the station chose another. It has no data mode: "Digi" is RTTY.
#pragma once

#include "cat/radios/untIcomCATinterface.h"
#include "cat/radios/untRadioModel.h"

namespace vela {

class TIC7000CATInterface : public TIcomCATInterface {
public:
  // Its CI-V address out of the box.
  static constexpr std::uint8_t DefaultAddress = 0x70;

  TIC7000CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);
  // The Hamlib modes it can be set to: the plain ones (no data mode).
  static TNativeModeList NativeModes();
  // Its row of the radio table.
  static const TRadioModel RadioModel;
};

} // namespace vela
