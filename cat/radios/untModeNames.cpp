#include "cat/radios/untModeNames.h"

#include <array>

#include "cat/radios/untRadioModel.h"
#include "platform/untText.h"

namespace vela {

namespace {

// In the network protocol's order of mode bits, which is the order its
// filter list is written in. Where a page text or a logbook name stands for
// several modes, the first row is the one set for it.
constexpr std::array<TModeRow, 13> Rows{{
    // Native, Page, RigctlBit, Passband, Logbook, RidesOn, AdifMode, AdifSubmode, Tune, OtherNames
    {NativeAM, ModeAM, 0x1, 6000, "AM", nullptr, "AM", nullptr, "am", ""},
    {NativeSAM, ModeAM, 0, 0, "AM", nullptr, "AM", nullptr, nullptr, ""},
    {NativeCW, ModeCW, 0x2, 500, "CW", nullptr, "CW", nullptr, "cw", ""},
    {NativeUSB, ModeUSB, 0x4, 2400, "USB", nullptr, "SSB", "USB", "usb", ""},
    {NativeLSB, ModeLSB, 0x8, 2400, "LSB", nullptr, "SSB", "LSB", "lsb", ""},
    {NativeRTTY, ModeDigi, 0x10, 500, "RTTY", nullptr, "RTTY", nullptr, "rtty", ""},
    {NativeFM, ModeFM, 0x20, 12000, "FM", nullptr, "FM", nullptr, "fm", ""},
    {NativeWFM, ModeFM, 0x40, 230000, "FM", nullptr, "FM", nullptr, nullptr, ""},
    {NativeCWR, ModeCW, 0x80, 500, "CW", nullptr, "CW", nullptr, nullptr, ""},
    {NativeRTTYR, ModeDigi, 0x100, 500, "RTTY", nullptr, "RTTY", nullptr, nullptr, ""},
    {NativePKTLSB, ModeDigi, 0x400, 3000, "LSB-D", NativeLSB, nullptr, nullptr, nullptr,
     "LSB-D DIGL"},
    {NativePKTUSB, ModeDigi, 0x800, 3000, "USB-D", NativeUSB, nullptr, nullptr, nullptr,
     "USB-D DIGU"},
    {NativePKTFM, ModeDigi, 0x1000, 12000, "FM", NativeFM, nullptr, nullptr, nullptr, "FM-D"},
}};

// The page's "Digi" as a click-to-tune name.
constexpr const char* DigiTuneNames[] = {"pkt", "dig"};

// The digital modes a program or a logbook's spot may name; all ride on the
// upper sideband's data mode.
constexpr const char* DigitalModeNames[] = {
    "FT8",      "FT4",  "JS8",    "JT65",   "JT9",   "JT4",    "Q65",    "MSK144", "FST4",
    "FST4W",    "WSPR", "PSK",    "PSK31",  "PSK63", "PSK125", "BPSK31", "QPSK31", "OLIVIA",
    "CONTESTI", "MFSK", "MFSK16", "DOMINO", "THOR",  "HELL",   "FSK441",
};

bool SameLetters(std::string_view A, std::string_view B) {
  return A.size() == B.size() && AsciiLower(A) == AsciiLower(B);
}

// Whether Name is one of the blank-separated words of Names, in any case.
bool AmongNames(std::string_view Names, std::string_view Name) {
  while (!Names.empty()) {
    const std::size_t End = Names.find(' ');
    if (SameLetters(Names.substr(0, End), Name))
      return true;
    if (End == std::string_view::npos)
      break;
    Names.remove_prefix(End + 1);
  }
  return false;
}

} // namespace

std::span<const TModeRow> ModeRows() {
  return Rows;
}

const TModeRow* FindNativeModeRow(std::string_view Native) {
  for (const TModeRow& Row : Rows)
    if (Native == Row.Native)
      return &Row;
  return nullptr;
}

std::string PageModeForNative(std::string_view NativeMode) {
  const TModeRow* Row = FindNativeModeRow(NativeMode);
  return Row ? Row->Page : std::string();
}

std::string DataModeForName(std::string_view Name) {
  for (const TModeRow& Row : Rows)
    if (Row.RidesOn && (SameLetters(Name, Row.Native) || AmongNames(Row.OtherNames, Name)))
      return Row.Native;
  return {};
}

bool IsDataMode(std::string_view Native) {
  const TModeRow* Row = FindNativeModeRow(Native);
  return Row && Row->RidesOn;
}

bool IsDigitalModeName(std::string_view Name) {
  for (const char* Entry : DigitalModeNames)
    if (SameLetters(Name, Entry))
      return true;
  return false;
}

std::string NativeForPageMode(std::string_view Page, TDigiMode Digi, const TRadioModel* Model) {
  if (Page == ModeDigi)
    return DigiNativeMode(Digi, Model);
  for (const TModeRow& Row : Rows)
    if (Page == Row.Page)
      return Row.Native;
  return {};
}

std::string DigiNativeMode(TDigiMode Digi, const TRadioModel* Model, std::string_view DataMode) {
  if (!Model)
    return Digi == dmRTTY ? std::string(NativeRTTY) : std::string(DataMode);
  return Digi == dmRTTY ? Model->DigiRTTYMode : Model->DigiDataMode;
}

const TModeRow* FindTuneModeRow(std::string_view Name) {
  for (const TModeRow& Row : Rows)
    if (Row.Tune && Name == Row.Tune)
      return &Row;
  return nullptr;
}

bool IsDigiTuneName(std::string_view Name) {
  for (const char* Entry : DigiTuneNames)
    if (Name == Entry)
      return true;
  return false;
}

const TModeRow* FindAdifModeRow(std::string_view Name) {
  for (const TModeRow& Row : Rows)
    if (Row.AdifSubmode ? SameLetters(Name, Row.AdifSubmode)
                        : Row.AdifMode && SameLetters(Name, Row.AdifMode))
      return &Row;
  return nullptr;
}

} // namespace vela
