// The program's one vocabulary of modes: a row per radio mode, named by its
// Hamlib name, with what each side calls it: the log page's six mode texts,
// the network protocol's mode bit and usual passband, the web logbook's
// name, the plain mode a data mode rides on, the ADIF mode and submode, the
// click-to-tune name and the other names programs give the data modes. The
// "Digi means" rule is here too. Drivers, sharing, contacts and the logbook
// all read these rows; no other unit spells a mode name.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "settings/untVelaLogSettings.h"

namespace vela {

struct TRadioModel;

// The six mode texts, spelt exactly as the log page expects them.
inline constexpr const char* ModeLSB = "lsb";
inline constexpr const char* ModeUSB = "usb";
inline constexpr const char* ModeCW = "CW";
inline constexpr const char* ModeAM = "AM";
inline constexpr const char* ModeFM = "FM";
inline constexpr const char* ModeDigi = "Digi";

// A radio's modes by their Hamlib names.
inline constexpr const char* NativeLSB = "LSB";
inline constexpr const char* NativeUSB = "USB";
inline constexpr const char* NativeCW = "CW";
inline constexpr const char* NativeCWR = "CWR";
inline constexpr const char* NativeAM = "AM";
inline constexpr const char* NativeSAM = "SAM";
inline constexpr const char* NativeFM = "FM";
inline constexpr const char* NativeWFM = "WFM";
inline constexpr const char* NativeRTTY = "RTTY";
inline constexpr const char* NativeRTTYR = "RTTYR";
inline constexpr const char* NativePKTUSB = "PKTUSB";
inline constexpr const char* NativePKTLSB = "PKTLSB";
inline constexpr const char* NativePKTFM = "PKTFM";

struct TModeRow {
  const char* Native;      // Hamlib's name
  const char* Page;        // the log page's mode text
  std::uint64_t RigctlBit; // its bit in the network protocol's mode sets; 0: none
  std::int32_t Passband;   // the usual passband the protocol reports, in hertz
  const char* Logbook;     // the web logbook's name
  const char* RidesOn;     // a data mode: the plain mode it rides on; nullptr otherwise
  const char* AdifMode;    // ADIF's mode; nullptr: the digital-mode program's own
  const char* AdifSubmode; // ADIF's submode; nullptr: none
  const char* Tune;        // the click-to-tune name (lower case); nullptr: none
  const char* OtherNames;  // a data mode's other names, blank-separated; "" for none
};

// Every mode the program knows, in the protocol's order of mode bits.
std::span<const TModeRow> ModeRows();
// The row of a Hamlib mode name (exact); nullptr for any other name.
const TModeRow* FindNativeModeRow(std::string_view Native);

// The page's mode text for a Hamlib mode (CW and CWR are "CW", SAM is "AM",
// WFM is "FM", the RTTY and packet modes are "Digi"); empty for any other
// name.
std::string PageModeForNative(std::string_view NativeMode);

// The Hamlib data mode that a mode name given outright stands for, in any
// letter case: PKTUSB, USB-D and DIGU name PKTUSB; PKTLSB, LSB-D and DIGL
// PKTLSB; PKTFM and FM-D PKTFM. The empty text for any other name: RTTY and
// the page's "Digi" follow the station's "Digi means" instead.
std::string DataModeForName(std::string_view Name);
// Whether a Hamlib mode is a data mode (one that rides on a plain mode).
bool IsDataMode(std::string_view Native);
// Whether Name (any case) is a digital mode that runs on a data mode's
// upper sideband (FT8, FT4, JS8, PSK31, ...), as the digital-mode programs
// and web logbooks name them.
bool IsDigitalModeName(std::string_view Name);

// The Hamlib mode a page mode text sets: lsb, usb, CW, AM and FM set LSB,
// USB, CW, AM and FM, and Digi what DigiNativeMode says. Empty for a text
// outside the six (compared byte for byte).
std::string NativeForPageMode(std::string_view Page, TDigiMode Digi, const TRadioModel* Model);

// What the page's "Digi" sets: the radio's RTTY or data mode as its row of
// the radio table says, by the station's "Digi means". Without a radio:
// RTTY, or DataMode.
std::string DigiNativeMode(TDigiMode Digi, const TRadioModel* Model,
                           std::string_view DataMode = NativePKTUSB);

// The row of a click-to-tune name (lower case: lsb usb cw fm am rtty);
// nullptr for any other name.
const TModeRow* FindTuneModeRow(std::string_view Name);
// Whether a click-to-tune name (lower case) is the page's "Digi": pkt, dig.
bool IsDigiTuneName(std::string_view Name);

// The sideband SSB means at a frequency: the lower below SidebandSplitHz
// (10 MHz), the upper from there up; ModeLSB or ModeUSB, which are the
// click-to-tune names too.
inline constexpr std::int64_t SidebandSplitHz = 10'000'000;
inline const char* SsbSideband(std::int64_t Hz) {
  return Hz < SidebandSplitHz ? ModeLSB : ModeUSB;
}

// The row whose ADIF mode or submode is Name (any case: "CW", "lsb"); SSB
// itself names no row, its sideband depends on the frequency. nullptr for
// the digital modes' names and anything else.
const TModeRow* FindAdifModeRow(std::string_view Name);

} // namespace vela
