#include "cat/radios/untFlexCATinterface.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Two-digit mode code of the status reply.
constexpr std::array<TModeCode, 12> FlexReplyModes{{
    {"00", ModeLSB},
    {"01", ModeUSB},
    {"02", ModeAM},
    {"03", ModeCW},
    {"04", ModeCW},
    {"05", ModeFM},
    {"06", ModeAM},
    {"07", ModeDigi},
    {"08", ModeDigi},
    {"09", ModeDigi},
    {"10", ModeAM},
    {"11", ModeDigi},
}};

constexpr std::array<TModeCode, 6> FlexSetModes{{
    {"00", ModeLSB},
    {"01", ModeUSB},
    {"04", ModeCW},
    {"05", ModeFM},
    {"06", ModeAM},
    {"07", ModeDigi},
}};

constexpr TTextProtocol FlexProtocol{
    .Radio = rtFlex,
    .PollCommand = "ZZIF;",
    // Only "ZZIF" marks a status reply: a program sharing the line through
    // Virtual CAT may poll the plain "IF;", whose reply carries its mode at
    // other positions.
    .StatusMarker = "ZZIF",
    // First nine of the eleven frequency digits (Hz): the count in 100 Hz.
    .FrequencyMinLength = 10,
    .FrequencyOffset = 0,
    .FrequencyDigits = 9,
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
};

} // namespace

TFlexCATInterface::TFlexCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TTextCATInterface(AOwner, ASettings, FlexProtocol) {}

} // namespace vela
