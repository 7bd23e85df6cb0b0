// What describes one radio model: the settings number, the names shown and
// typed, the driver factory, the CI-V address, what its "Digi" sets, the
// Hamlib modes it can be set to, its resolution and range. Each driver
// describes its own radio (its static RadioModel); the radio table lists
// them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "cat/untCATinterface.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

struct TRadioModel {
  TRadioType Radio;        // the stored "Radio" value
  const char* DisplayName; // the settings dialog's radio list
  const char* Name;        // command-line name: flex ft100d ft897d ft950 ic7000 ic7300 rigctld
  // Creates the driver, which starts its port worker and records Radio.
  std::unique_ptr<TCATInterface> (*Create)(TComponent*, TVelaLogSettings*);
  // The radio's CI-V address out of the box; 0 for radios without CI-V.
  std::uint8_t DefaultCIVAddress;
  // Whether the radio has a data (packet) mode that the program can set.
  bool HasDataMode;
  // The step of the frequency the radio reports, in hertz.
  double ResolutionHz;
  // The Hamlib mode the page's "Digi" sets with "Digi means RTTY" and with
  // "Digi means data"; equal where the choice makes no difference.
  const char* DigiRTTYMode;
  const char* DigiDataMode;
  // The Hamlib modes TuneNativeMode takes: the driver's own list, made
  // from its set-mode table.
  std::span<const char* const> (*NativeModes)();
  // What the radio receives, in hertz, for programs sharing it that ask.
  std::int64_t LowHz;
  std::int64_t HighHz;
  // Whether the radio receives Hz (LowHz to HighHz): the one range check.
  bool Receives(std::int64_t Hz) const { return Hz >= LowHz && Hz <= HighHz; }
  // Whether its commands and replies are binary (shown in hex when traced).
  bool Binary;
  // The CAT rate the radio is set to out of the box (its manual's default),
  // which the settings dialog suggests; brCustom where the line has none.
  TBaudRate UsualBaudRate = brCustom;
};

// The address this program sends from on a CI-V bus.
inline constexpr std::uint8_t CIVControllerAddress = 0xCC;
// A radio address the operator may choose: 01h to DFh, and not the
// controller's own.
bool ValidCIVAddress(std::int32_t Address);
// The CI-V address of Model with the stored one: the stored address when it
// is valid, else the model's own.
std::uint8_t CIVAddressFor(const TRadioModel& Model, std::int32_t Stored);

// The factory of a row: makes the driver, which starts its port worker.
template <class TDriver>
std::unique_ptr<TCATInterface> MakeDriver(TComponent* AOwner, TVelaLogSettings* ASettings) {
  return std::make_unique<TDriver>(AOwner, ASettings);
}

} // namespace vela
