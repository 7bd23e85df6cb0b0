#include "cat/radios/untFT950CATinterface.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Mode character of the information reply: LSB, USB, CW, FM, AM, RTTY-LSB,
// CW-R, PKT-L, RTTY-USB, PKT-FM, FM-N, PKT-U.
constexpr std::array<TModeCode, 12> FT950ReplyModes{{
    {"1", ModeLSB, "LSB"},
    {"2", ModeUSB, "USB"},
    {"3", ModeCW, "CW"},
    {"4", ModeFM, "FM"},
    {"5", ModeAM, "AM"},
    {"6", ModeDigi, "RTTY"},
    {"7", ModeCW, "CWR"},
    {"8", ModeDigi, "PKTLSB"},
    {"9", ModeDigi, "RTTYR"},
    {"A", ModeDigi, "PKTFM"},
    {"B", ModeFM, "FM"},
    {"C", ModeDigi, "PKTUSB"},
}};

// "MD" takes the digit 0 and the mode character.
constexpr std::array<TSetCode, 11> FT950SetModes{{
    {"01", "LSB"},
    {"02", "USB"},
    {"03", "CW"},
    {"04", "FM"},
    {"05", "AM"},
    {"06", "RTTY"},
    {"07", "CWR"},
    {"08", "PKTLSB"},
    {"09", "RTTYR"},
    {"0A", "PKTFM"},
    {"0C", "PKTUSB"},
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

TFT950CATInterface::TFT950CATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TTextCATInterface(AOwner, ASettings, FT950Protocol) {}

} // namespace vela
