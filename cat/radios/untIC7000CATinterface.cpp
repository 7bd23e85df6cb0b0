#include "cat/radios/untIC7000CATinterface.h"

#include "cat/radios/untModeNames.h"

namespace vela {

constinit const TRadioModel TIC7000CATInterface::RadioModel{
    .Radio = rtIC7000,
    .DisplayName = "IC-7000 (70h)",
    .Name = "ic7000",
    .Create = MakeDriver<TIC7000CATInterface>,
    .DefaultCIVAddress = TIC7000CATInterface::DefaultAddress,
    .HasDataMode = false,
    .ResolutionHz = 1,
    .DigiRTTYMode = NativeRTTY,
    .DigiDataMode = NativeRTTY,
    .NativeModes = &TIC7000CATInterface::NativeModes,
    .LowHz = 30000,
    .HighHz = 470000000,
    .Binary = true,
    // Its CI-V rate "Auto" follows the controller; 19200 is the fastest.
    .UsualBaudRate = br19200};

TIC7000CATInterface::TIC7000CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TIcomCATInterface(AOwner, ASettings, RadioModel) {}

TNativeModeList TIC7000CATInterface::NativeModes() {
  return SetModeNames(false);
}

} // namespace vela
