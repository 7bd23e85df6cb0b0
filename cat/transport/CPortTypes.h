// The serial port's own enumerations and its receive event; the speed and
// modem-line values it shares with the settings store are in
// platform/untLineSettings.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/untEvents.h"
#include "platform/untLineSettings.h"
#include "platform/untObject.h"

namespace vela {

enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
// smNone keeps ordinal 2: 1 stood for delivery by window message, which a
// program without windows of its own has no use for.
enum TSyncMethod : std::uint8_t { smThreadSync = 0, smNone = 2 };
// OnRxChar: Sender is the port, Count the bytes waiting in the input queue.
using TRxCharEvent = TMethod<TObject*, int>;

} // namespace vela
