#include "cat/radios/untIC7300CATinterface.h"

#include "cat/radios/untModeNames.h"

namespace vela {

constinit const TRadioModel TIC7300CATInterface::RadioModel{rtIC7300,
                                                            "IC-7300 (94h)",
                                                            "ic7300",
                                                            MakeDriver<TIC7300CATInterface>,
                                                            TIC7300CATInterface::DefaultAddress,
                                                            true,
                                                            1,
                                                            NativeRTTY,
                                                            NativePKTUSB,
                                                            &TIC7300CATInterface::NativeModes,
                                                            30000,
                                                            74800000,
                                                            true};

TIC7300CATInterface::TIC7300CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TIcomCATInterface(AOwner, ASettings, RadioModel) {}

TNativeModeList TIC7300CATInterface::NativeModes() {
  return SetModeNames(true);
}

} // namespace vela
