#include "cat/radios/untFlexCATinterface.h"

#include "cat/radios/untModeNames.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Two-digit mode code of the status reply: LSB, USB, DSB (logged as AM), CW
// on the lower and the upper side, FM, AM, DIGU, the spectrum display, DIGL,
// synchronous AM, DRM.
constexpr std::array<TModeCode, 12> FlexReplyModes{{
    {"00", NativeLSB},
    {"01", NativeUSB},
    {"02", NativeAM},
    {"03", NativeCWR},
    {"04", NativeCW},
    {"05", NativeFM},
    {"06", NativeAM},
    {"07", NativePKTUSB},
    {"08", nullptr, ModeDigi},
    {"09", NativePKTLSB},
    {"10", NativeAM},
    {"11", nullptr, ModeDigi},
}};

constexpr std::array<TSetCode, 8> FlexSetModes{{
    {"00", NativeLSB},
    {"01", NativeUSB},
    {"03", NativeCWR},
    {"04", NativeCW},
    {"05", NativeFM},
    {"06", NativeAM},
    {"07", NativePKTUSB},
    {"09", NativePKTLSB},
}};
constexpr auto FlexSetNames = NativeNames(FlexSetModes);

constexpr TTextProtocol FlexProtocol{
    .Model = &TFlexCATInterface::RadioModel,
    .PollCommand = "ZZIF;",
    // Only "ZZIF" marks a status reply: a program sharing the line through
    // Virtual CAT may poll the plain "IF;", whose reply carries its mode at
    // other positions.
    .StatusMarker = "ZZIF",
    // First nine of the eleven frequency digits (Hz): the count in 100 Hz.
    .FrequencyMinLength = 10,
    .FrequencyOffset = 0,
    .FrequencyDigits = 9,
    .HzDigits = 11,
    // Two-digit mode code at positions 28 and 29.
    .ModeMinLength = 30,
    .ModeOffset = 27,
    .ModeLength = 2,
    .ReplyModes = FlexReplyModes,
    // "ZZFA" + MHz (five digits) + fraction (six digits) + ";": the frequency in Hz.
    .SetFrequencyPrefix = "ZZFA",
    .MegahertzWidth = 5,
    .FractionWidth = 6,
    .SetModePrefix = "ZZMD",
    .SetModes = FlexSetModes,
    .PTTOn = "ZZTX1;",
    .PTTOff = "ZZTX0;",
    .PTTRead = "ZZTX;",
};

} // namespace

constinit const TRadioModel TFlexCATInterface::RadioModel{.Radio = rtFlex,
                                                          .DisplayName = "Flex",
                                                          .Name = "flex",
                                                          .Create = MakeDriver<TFlexCATInterface>,
                                                          .DefaultCIVAddress = 0,
                                                          .HasDataMode = true,
                                                          .ResolutionHz = 1,
                                                          .DigiRTTYMode = NativePKTUSB,
                                                          .DigiDataMode = NativePKTUSB,
                                                          .NativeModes =
                                                              &TFlexCATInterface::NativeModes,
                                                          .LowHz = 30000,
                                                          .HighHz = 54000000,
                                                          .Binary = false};

TFlexCATInterface::TFlexCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TTextCATInterface(AOwner, ASettings, FlexProtocol) {}

TNativeModeList TFlexCATInterface::NativeModes() {
  return FlexSetNames;
}

} // namespace vela
