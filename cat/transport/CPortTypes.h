// The serial port's enumerations and the event types shared with the rest of
// the program. The settings store keeps TBaudRate as its ordinal, so the
// ordinals are fixed; an ordinal outside the list is carried unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/untEvents.h"
#include "platform/untObject.h"

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

enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
// smNone keeps ordinal 2: 1 stood for delivery by window message, which a
// program without windows of its own has no use for.
enum TSyncMethod : std::uint8_t { smThreadSync = 0, smNone = 2 };
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

// OnRxChar: Sender is the port, Count the bytes waiting in the input queue.
using TRxCharEvent = TMethod<TObject*, int>;

} // namespace vela
