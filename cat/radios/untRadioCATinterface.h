// What every radio driver does alike: the reporting rule, the command choice,
// terminator framing with a bounded receive buffer, and the strict decimal
// parse used when building set commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cat/untCATinterface.h"

namespace vela {

// The values one complete reply carries; a value the reply does not carry
// stays empty. A frequency text without a count (its characters did not form
// a number) is reported with the empty band.
struct TReplyValues {
  std::optional<std::string> Frequency;
  std::optional<std::int32_t> Count;
  std::optional<std::string> Mode;
};

// Which command GetNextCommand handed out.
enum class TCommandKind { ckFrequency, ckMode, ckPoll };

// A receive buffer that holds at most this many bytes without a terminator;
// older bytes are dropped, so a radio that never sends one costs no memory.
inline constexpr std::size_t MaxPendingRxBytes = 1024;

// Appends Data to Buffer and calls OnMessage for every message before a
// Terminator, in order, without the terminator. The rest stays in Buffer,
// bounded by MaxPendingRxBytes. Cost is linear in the bytes received.
template <class F>
void TakeMessages(std::string& Buffer, std::string_view Data, char Terminator, F&& OnMessage) {
  // Worked on a local copy, so a handler that resets the driver (and so
  // empties Buffer) cannot pull the bytes away under the loop.
  std::string Work = std::move(Buffer);
  Buffer.clear();
  std::size_t ScanFrom = Work.size(); // the bytes already held hold no terminator
  Work.append(Data);
  std::size_t Start = 0;
  for (;;) {
    const std::size_t End = Work.find(Terminator, ScanFrom);
    if (End == std::string::npos)
      break;
    OnMessage(std::string_view(Work).substr(Start, End - Start));
    Start = End + 1;
    ScanFrom = Start;
  }
  Work.erase(0, Start);
  if (Work.size() > MaxPendingRxBytes)
    Work.erase(0, Work.size() - MaxPendingRxBytes);
  Buffer = std::move(Work);
}

// Decimal only: optional leading blanks, an optional sign, digits, nothing
// after them, within 32 bits. Set commands are built from page text with it,
// so a hexadecimal prefix or trailing junk never turns into radio digits.
bool TryDecimalToInt(std::string_view Text, std::int32_t& Value);

// True when Text is nothing but the digits 0 to 9 (also when it is empty).
bool AllDecimalDigits(std::string_view Text);

// Splits a frequency text from the log page ("MHz.fraction") into its whole
// part (as written) and a fraction of exactly FractionDigits decimal digits,
// padded with zeros. Digits finer than that are dropped only when they are
// zeros (others would shift the value the radio reads). False without a dot,
// with anything but digits in the fraction, or with non-zero finer digits.
bool SplitFrequencyText(std::string_view Text, std::size_t FractionDigits, std::string& Whole,
                        std::string& Fraction);

class TRadioCATInterface : public TCATInterface {
public:
  using TCATInterface::TCATInterface;

  // The plain command choice; drivers with a twist override it.
  void GetNextCommand(TObject* Sender, std::string& Command) override;

protected:
  // The reporting rule for one reply: store what differs (classifying the
  // band only when the frequency text changed), then raise OnRxData if
  // anything changed, no tune command is pending and the event is assigned.
  void ReportValues(const TReplyValues& Values);
  // The same rule in steps, for drivers that build a reply's values in parts.
  bool UpdateFrequency(const std::string& Text, std::optional<std::int32_t> Count);
  bool UpdateMode(const std::string& Mode);
  void RaiseIfChanged(bool Changed);

  // Pending frequency command, then pending mode command (each emptied when
  // handed out), else the poll command.
  TCommandKind ChooseCommand(std::string& Command);
};

} // namespace vela
