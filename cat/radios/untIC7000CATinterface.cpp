#include "cat/radios/untIC7000CATinterface.h"

namespace vela {

TIC7000CATInterface::TIC7000CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TIcomCATInterface(AOwner, ASettings, rtIC7000) {}

TNativeModeList TIC7000CATInterface::NativeModes() {
  return SetModeNames(false);
}

} // namespace vela
