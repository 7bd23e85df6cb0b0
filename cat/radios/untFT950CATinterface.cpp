#include "cat/radios/untFT950CATinterface.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Mode character of the information reply.
constexpr std::array<TModeCode, 12> FT950ReplyModes{{
    {"1", ModeLSB},
    {"2", ModeUSB},
    {"3", ModeCW},
    {"4", ModeFM},
    {"5", ModeAM},
    {"6", ModeDigi},
    {"7", ModeCW},
    {"8", ModeDigi},
    {"9", ModeDigi},
    {"A", ModeDigi},
    {"B", ModeFM},
    {"C", ModeDigi},
}};

// "MD" takes the digit 0 and the mode character.
constexpr std::array<TModeCode, 6> FT950SetModes{{
    {"01", ModeLSB},
    {"02", ModeUSB},
    {"03", ModeCW},
    {"04", ModeFM},
    {"05", ModeAM},
    {"06", ModeDigi},
}};

constexpr TTextProtocol FT950Protocol{
    .Radio = rtFT950,
    .PollCommand = "IF;",
    // "IF" is the radio's own status command here.
    .StatusMarker = "IF",
    // Three characters (memory channel), then the first six of the eight
    // frequency digits (Hz): the count in 100 Hz.
    .FrequencyMinLength = 11,
    .FrequencyOffset = 3,
    .FrequencyDigits = 6,
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
};

} // namespace

TFT950CATInterface::TFT950CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TTextCATInterface(AOwner, ASettings, FT950Protocol) {}

} // namespace vela
