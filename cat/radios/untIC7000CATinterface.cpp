#include "cat/radios/untIC7000CATinterface.h"

#include "cat/radios/untModeNames.h"

namespace vela {

constinit const TRadioModel TIC7000CATInterface::RadioModel{rtIC7000,
                                                            "IC-7000 (70h)",
                                                            "ic7000",
                                                            MakeDriver<TIC7000CATInterface>,
                                                            TIC7000CATInterface::DefaultAddress,
                                                            false,
                                                            1,
                                                            NativeRTTY,
                                                            NativeRTTY,
                                                            &TIC7000CATInterface::NativeModes,
                                                            30000,
                                                            470000000,
                                                            true};

TIC7000CATInterface::TIC7000CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TIcomCATInterface(AOwner, ASettings, RadioModel) {}

TNativeModeList TIC7000CATInterface::NativeModes() {
  return SetModeNames(false);
}

} // namespace vela
