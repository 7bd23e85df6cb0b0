#include "cat/radios/untFT950CATinterface.h"

#include "cat/radios/untModeNames.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Mode character of the information reply: LSB, USB, CW, FM, AM, RTTY-LSB,
// CW-R, PKT-L, RTTY-USB, PKT-FM, FM-N, PKT-U.
constexpr std::array<TModeCode, 12> FT950ReplyModes{{
    {"1", NativeLSB},
    {"2", NativeUSB},
    {"3", NativeCW},
    {"4", NativeFM},
    {"5", NativeAM},
    {"6", NativeRTTY},
    {"7", NativeCWR},
    {"8", NativePKTLSB},
    {"9", NativeRTTYR},
    {"A", NativePKTFM},
    {"B", NativeFM},
    {"C", NativePKTUSB},
}};

// "MD" takes the digit 0 and the mode character.
constexpr std::array<TSetCode, 11> FT950SetModes{{
    {"01", NativeLSB},
    {"02", NativeUSB},
    {"03", NativeCW},
    {"04", NativeFM},
    {"05", NativeAM},
    {"06", NativeRTTY},
    {"07", NativeCWR},
    {"08", NativePKTLSB},
    {"09", NativeRTTYR},
    {"0A", NativePKTFM},
    {"0C", NativePKTUSB},
}};
constexpr auto FT950SetNames = NativeNames(FT950SetModes);

constexpr TTextProtocol FT950Protocol{
    .Model = &TFT950CATInterface::RadioModel,
    .PollCommand = "IF;",
    // "IF" is the radio's own status command here.
    .StatusMarker = "IF",
    // Three characters (memory channel), then the first six of the eight
    // frequency digits (Hz): the count in 100 Hz.
    .FrequencyMinLength = 11,
    .FrequencyOffset = 3,
    .FrequencyDigits = 6,
    .HzDigits = 8,
    // Mode character at position 19.
    .ModeMinLength = 20,
    .ModeOffset = 18,
    .ModeLength = 1,
    .ReplyModes = FT950ReplyModes,
    // "FA" + MHz (two digits) + fraction (six digits) + ";": the frequency in Hz.
    .SetFrequencyPrefix = "FA",
    .MegahertzWidth = 2,
    .FractionWidth = 6,
    .SetModePrefix = "MD",
    .SetModes = FT950SetModes,
    .PTTOn = "TX1;",
    .PTTOff = "TX0;",
    // Answered TX0 (receiving), TX1 (keyed at the radio), TX2 (keyed by CAT).
    .PTTRead = "TX;",
};

} // namespace

constinit const TRadioModel TFT950CATInterface::RadioModel{
    .Radio = rtFT950,
    .DisplayName = "FT950",
    .Name = "ft950",
    .Create = MakeDriver<TFT950CATInterface>,
    .DefaultCIVAddress = 0,
    .HasDataMode = true,
    .ResolutionHz = 1,
    .DigiRTTYMode = NativeRTTY,
    .DigiDataMode = NativePKTUSB,
    .NativeModes = &TFT950CATInterface::NativeModes,
    .LowHz = 30000,
    .HighHz = 56000000,
    .Binary = false,
    // The CAT RATE menu item is 4800 out of the box.
    .UsualBaudRate = br4800};

TFT950CATInterface::TFT950CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TTextCATInterface(AOwner, ASettings, FT950Protocol) {}

TNativeModeList TFT950CATInterface::NativeModes() {
  return FT950SetNames;
}

} // namespace vela
