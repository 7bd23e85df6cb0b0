#include "cat/radios/untFlexCATinterface.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Two-digit mode code of the status reply: LSB, USB, DSB (logged as AM), CW
// on the lower and the upper side, FM, AM, DIGU, the spectrum display, DIGL,
// synchronous AM, DRM.
constexpr std::array<TModeCode, 12> FlexReplyModes{{
    {"00", ModeLSB, "LSB"},
    {"01", ModeUSB, "USB"},
    {"02", ModeAM, "AM"},
    {"03", ModeCW, "CWR"},
    {"04", ModeCW, "CW"},
    {"05", ModeFM, "FM"},
    {"06", ModeAM, "AM"},
    {"07", ModeDigi, "PKTUSB"},
    {"08", ModeDigi, nullptr},
    {"09", ModeDigi, "PKTLSB"},
    {"10", ModeAM, "AM"},
    {"11", ModeDigi, nullptr},
}};

constexpr std::array<TSetCode, 8> FlexSetModes{{
    {"00", "LSB"},
    {"01", "USB"},
    {"03", "CWR"},
    {"04", "CW"},
    {"05", "FM"},
    {"06", "AM"},
    {"07", "PKTUSB"},
    {"09", "PKTLSB"},
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

TFlexCATInterface::TFlexCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TTextCATInterface(AOwner, ASettings, FlexProtocol) {}

} // namespace vela
