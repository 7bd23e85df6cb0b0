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

constexpr const char* FlexModes[] = {NativeLSB, NativeUSB, NativeCW,     NativeCWR,
                                     NativeAM,  NativeFM,  NativePKTUSB, NativePKTLSB};
constexpr const char* FT100DModes[] = {NativeLSB, NativeUSB, NativeCW,    NativeCWR,
                                       NativeAM,  NativeFM,  NativePKTUSB};
constexpr const char* FT897DModes[] = {NativeLSB, NativeUSB, NativeCW,     NativeCWR,
                                       NativeAM,  NativeFM,  NativePKTUSB, NativePKTFM};
constexpr const char* FT950Modes[] = {NativeLSB,    NativeUSB,    NativeCW,   NativeCWR,
                                      NativeAM,     NativeFM,     NativeRTTY, NativeRTTYR,
                                      NativePKTUSB, NativePKTLSB, NativePKTFM};
constexpr const char* IC7000Modes[] = {NativeLSB, NativeUSB, NativeCW,   NativeCWR,
                                       NativeAM,  NativeFM,  NativeRTTY, NativeRTTYR};
// What the daemon is asked to set; the radio behind it may refuse a mode.
constexpr const char* RigctldModes[] = {
    NativeLSB, NativeUSB,  NativeCW,    NativeCWR,    NativeAM,     NativeSAM,  NativeFM,
    NativeWFM, NativeRTTY, NativeRTTYR, NativePKTUSB, NativePKTLSB, NativePKTFM};
constexpr const char* IC7300Modes[] = {NativeLSB,    NativeUSB,    NativeCW,   NativeCWR,
                                       NativeAM,     NativeFM,     NativeRTTY, NativeRTTYR,
                                       NativePKTUSB, NativePKTLSB, NativePKTFM};

// The FT-100D reports in 1.25 Hz steps; the FT-897D in 10 Hz.
const std::array<TRadioModel, 7> Models{{
    {rtFlex, "Flex", "flex", Make<TFlexCATInterface>, 0, true, 1, NativePKTUSB, NativePKTUSB,
     FlexModes, 30000, 54000000, false},
    {rtFT100D, "FT100D", "ft100d", Make<TFT100DCATInterface>, 0, true, 1.25, NativePKTUSB,
     NativePKTUSB, FT100DModes, 100000, 970000000, true},
    {rtFT897D, "FT897D", "ft897d", Make<TFT897DCATInterface>, 0, true, 10, NativePKTUSB,
     NativePKTUSB, FT897DModes, 100000, 470000000, true},
    {rtFT950, "FT950", "ft950", Make<TFT950CATInterface>, 0, true, 1, NativeRTTY, NativePKTUSB,
     FT950Modes, 30000, 56000000, false},
    {rtIC7000, "IC-7000 (70h)", "ic7000", Make<TIC7000CATInterface>,
     TIC7000CATInterface::DefaultAddress, false, 1, NativeRTTY, NativeRTTY, IC7000Modes, 30000,
     470000000, true},
    {rtIC7300, "IC-7300 (94h)", "ic7300", Make<TIC7300CATInterface>,
     TIC7300CATInterface::DefaultAddress, true, 1, NativeRTTY, NativePKTUSB, IC7300Modes, 30000,
     74800000, true},
    // Any radio the daemon serves, over TCP.
    {rtRigctld, "Hamlib rigctld (network)", "rigctld", Make<TRigctldCATInterface>, 0, true, 1,
     NativeRTTY, NativePKTUSB, RigctldModes, 30000, 1300000000, false},
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
