#include "cat/radios/untIC7300CATinterface.h"

namespace vela {

TIC7300CATInterface::TIC7300CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TIcomCATInterface(AOwner, ASettings, rtIC7300) {}

TNativeModeList TIC7300CATInterface::NativeModes() {
  return SetModeNames(true);
}

} // namespace vela
