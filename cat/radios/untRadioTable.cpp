#include "cat/radios/untRadioTable.h"

#include <array>

#include "cat/radios/untModeNames.h"

#include "cat/radios/untFT100DCATinterface.h"
#include "cat/radios/untFT897DCATinterface.h"
#include "cat/radios/untFT950CATinterface.h"
#include "cat/radios/untFlexCATinterface.h"
#include "cat/radios/untIC7000CATinterface.h"
#include "cat/radios/untIC7300CATinterface.h"
#include "cat/radios/untRigctldCATinterface.h"

namespace vela {

namespace {

template <class TDriver>
std::unique_ptr<TCATInterface> Make(TComponent* AOwner, TVelaLogSettings* ASettings) {
  return std::make_unique<TDriver>(AOwner, ASettings);
}

// The FT-100D reports in 1.25 Hz steps; the FT-897D in 10 Hz.
const std::array<TRadioModel, 7> Models{{
    {rtFlex, "Flex", "flex", Make<TFlexCATInterface>, 0, true, 1, NativePKTUSB, NativePKTUSB,
     &TFlexCATInterface::NativeModes, 30000, 54000000, false},
    {rtFT100D, "FT100D", "ft100d", Make<TFT100DCATInterface>, 0, true, 1.25, NativePKTUSB,
     NativePKTUSB, &TFT100DCATInterface::NativeModes, 100000, 970000000, true},
    {rtFT897D, "FT897D", "ft897d", Make<TFT897DCATInterface>, 0, true, 10, NativePKTUSB,
     NativePKTUSB, &TFT897DCATInterface::NativeModes, 100000, 470000000, true},
    {rtFT950, "FT950", "ft950", Make<TFT950CATInterface>, 0, true, 1, NativeRTTY, NativePKTUSB,
     &TFT950CATInterface::NativeModes, 30000, 56000000, false},
    {rtIC7000, "IC-7000 (70h)", "ic7000", Make<TIC7000CATInterface>,
     TIC7000CATInterface::DefaultAddress, false, 1, NativeRTTY, NativeRTTY,
     &TIC7000CATInterface::NativeModes, 30000, 470000000, true},
    {rtIC7300, "IC-7300 (94h)", "ic7300", Make<TIC7300CATInterface>,
     TIC7300CATInterface::DefaultAddress, true, 1, NativeRTTY, NativePKTUSB,
     &TIC7300CATInterface::NativeModes, 30000, 74800000, true},
    // Any radio the daemon serves, over TCP.
    {rtRigctld, "Hamlib rigctld (network)", "rigctld", Make<TRigctldCATInterface>, 0, true, 1,
     NativeRTTY, NativePKTUSB, &TRigctldCATInterface::NativeModes, 30000, 1300000000, false},
}};

} // namespace

bool ValidCIVAddress(std::int32_t Address) {
  return Address >= 0x01 && Address <= 0xDF && Address != CIVControllerAddress;
}

std::uint8_t CIVAddressFor(const TRadioModel& Model, std::int32_t Stored) {
  return ValidCIVAddress(Stored) ? static_cast<std::uint8_t>(Stored) : Model.DefaultCIVAddress;
}

std::span<const TRadioModel> RadioModels() {
  return Models;
}

const TRadioModel* FindRadioModel(TRadioType Radio) {
  for (const TRadioModel& Model : Models)
    if (Model.Radio == Radio)
      return &Model;
  return nullptr;
}

const TRadioModel* FindRadioModel(std::string_view Name) {
  for (const TRadioModel& Model : Models)
    if (Name == Model.Name)
      return &Model;
  return nullptr;
}

} // namespace vela
