#include "cat/radios/untIC7300CATinterface.h"

#include "cat/radios/untModeNames.h"

namespace vela {

constinit const TRadioModel TIC7300CATInterface::RadioModel{
    .Radio = rtIC7300,
    .DisplayName = "IC-7300 (94h)",
    .Name = "ic7300",
    .Create = MakeDriver<TIC7300CATInterface>,
    .DefaultCIVAddress = TIC7300CATInterface::DefaultAddress,
    .HasDataMode = true,
    .ResolutionHz = 1,
    .DigiRTTYMode = NativeRTTY,
    .DigiDataMode = NativePKTUSB,
    .NativeModes = &TIC7300CATInterface::NativeModes,
    .LowHz = 30000,
    .HighHz = 74800000,
    .Binary = true,
    // The USB port's CI-V rate out of the box.
    .UsualBaudRate = br115200};

TIC7300CATInterface::TIC7300CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TIcomCATInterface(AOwner, ASettings, RadioModel) {}

TNativeModeList TIC7300CATInterface::NativeModes() {
  return SetModeNames(true);
}

} // namespace vela
