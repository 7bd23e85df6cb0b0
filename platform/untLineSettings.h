// A serial line's speed and modem-line policy as the settings store keeps
// them: plain values with fixed ordinals (an ordinal outside the list is
// carried unchanged), below both the store and the serial port.
#pragma once

#include <array>
#include <cstdint>

namespace vela {

enum TBaudRate : std::uint8_t {
  brCustom = 0,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};

// What opening a port does with a modem line: raise it, hold it low, or
// leave it as the system has it.
enum TLinePolicy : std::uint8_t { lpOn, lpOff, lpKeep };

// Bits per second of br110 to br256000, in the order of their ordinals: the
// list the settings dialog shows and the tools take.
inline constexpr std::array<int, 15> StandardBaudRates = {110,   300,   600,    1200,   2400,
                                                          4800,  9600,  14400,  19200,  38400,
                                                          56000, 57600, 115200, 128000, 256000};

// Bits per second of a baud-rate ordinal; brCustom gives Custom, an ordinal
// outside the list gives 0.
int BaudRateToInt(TBaudRate Rate, int Custom = 9600);
// The ordinal (br110 to br256000) of a rate in bits per second; false for a
// rate outside the list.
bool BaudRateFromInt(int Bits, TBaudRate& Rate);

} // namespace vela
