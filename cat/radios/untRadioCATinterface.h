// What every radio driver does alike: the reporting rule, the command choice,
// terminator framing with a bounded receive buffer, and the reading of
// frequency texts and hertz.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "cat/untCATinterface.h"
#include "platform/untStrToInt.h"

namespace vela {

struct TRadioModel;

// The values one complete reply carries; a value the reply does not carry
// stays empty. A frequency is its hertz, or, where a text radio's
// characters formed no number, those characters as the page shows them
// (FrequencyWord). A mode is its Hamlib name, with the page's word for it
// (ModeWord) where no Hamlib name fits.
struct TReplyValues {
  std::optional<std::int64_t> Hz;
  std::optional<std::string> FrequencyWord;
  std::optional<std::string> NativeMode;
  std::optional<std::string> ModeWord;
};

// One row of a binary radio's mode tables: the radio's byte, the page's mode
// name and the Hamlib name (nullptr where none fits). Set tables leave the
// page's name out: it follows from the Hamlib name.
struct TModeByte {
  std::uint8_t Byte;
  const char* Text;
  const char* Native;
};

// The row of Table whose Native is Mode, or nullptr.
template <class TTable> auto FindNativeMode(const TTable& Table, std::string_view Mode) {
  for (const auto& Entry : Table)
    if (Entry.Native && Mode == Entry.Native)
      return &Entry;
  return static_cast<decltype(&*std::begin(Table))>(nullptr);
}

// The Hamlib names of set-mode tables' rows (std::arrays), in the tables'
// order: built at compile time, so a radio's list of the modes it can be set
// to is its driver's set table itself.
template <class... TTables> constexpr auto NativeNames(const TTables&... Tables) {
  std::array<const char*, (std::tuple_size_v<TTables> + ...)> Names{};
  std::size_t At = 0;
  const auto Append = [&](const auto& Table) {
    for (const auto& Entry : Table)
      Names[At++] = Entry.Native;
  };
  (Append(Tables), ...);
  return Names;
}

// The list a driver gives of the Hamlib modes its set table takes.
using TNativeModeList = std::span<const char* const>;

// Which command GetNextCommand handed out: ckRead is a one-off read (the
// transmit state at start), not the standing poll.
enum class TCommandKind { ckPTT, ckFrequency, ckMode, ckRead, ckPoll };

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

// Splits a frequency text from the log page ("MHz.fraction") into its whole
// part (as written) and a fraction of exactly FractionDigits decimal digits,
// padded with zeros. Digits finer than that are dropped only when they are
// zeros (others would shift the value the radio reads). False without a dot,
// with anything but digits on either side of it (a sign, blanks, a
// hexadecimal prefix, a ";" that would end a command), or with non-zero finer
// digits. The whole part may be empty.
bool SplitFrequencyText(std::string_view Text, std::size_t FractionDigits, std::string& Whole,
                        std::string& Fraction);

class TRadioCATInterface : public TCATInterface {
public:
  // Runs the base constructor (which starts the worker), then records the
  // radio of AModel (the driver's own row) in the settings store.
  TRadioCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings, const TRadioModel& AModel,
                     TRadioPortSource ARadioPortSource = nullptr);

  // The plain command choice; drivers with a twist override it.
  void GetNextCommand(TObject* Sender, std::string& Command) override;

  // The page's mode names go through the Hamlib names: lsb, usb, CW, AM and
  // FM set LSB, USB, CW, AM and FM, and Digi what the radio's table row says.
  void SetMode(std::string AMode) override;
  bool TuneNativeMode(const std::string& Mode) override;
  bool TuneHz(std::int64_t Hz) override;
  // Inside the range of the radio's table row.
  bool TakesHz(std::int64_t Hz) const override;
  bool SetPTT(bool On) override;
  bool CanKey() const override { return !BuildPTTCommand(false).empty(); }

  // The Hamlib mode a page mode name sets on this radio; empty for a name
  // outside the six.
  std::string NativeForPageMode(std::string_view Mode) const override;
  // This driver's row of the radio table (never nullptr for the six radios).
  const TRadioModel* Model() const { return FModel; }
  // Whether the page's "Digi" sets the radio's data mode (the station's
  // setting, for a radio where that differs from RTTY).
  bool DigiMeansData() const;

protected:
  // The set-mode command for a Hamlib mode; false when the radio has none.
  // FromPage tells a page tune (the mode name of the page) from an exact one.
  virtual bool BuildModeCommand(const std::string& Native, bool FromPage,
                                std::string& Command) const = 0;
  // The set-frequency command for Hz, rounded to the command's step; false
  // when the command cannot carry it.
  virtual bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const = 0;
  // The radio's command that keys (On) or releases the transmitter; empty
  // when it has none.
  virtual std::string BuildPTTCommand(bool On) const = 0;
  // The command that reads whether the transmitter is keyed; empty when the
  // radio cannot tell (the release at start then goes out unasked). Its
  // answer goes to NoteTransmitting.
  virtual std::string BuildTransmitReadCommand() const { return {}; }
  void NoteTransmitting(bool Keyed);

  // The reporting rule for one reply: store the values it carries, then
  // raise OnRxData if the page's texts of the frequency or the mode changed
  // (the band follows the frequency), no tune command is pending and the
  // event is assigned.
  void ReportValues(const TReplyValues& Values);
  // The same rule in steps, for drivers that build a reply's values in
  // parts: each stores its value and says whether its page text changed.
  bool UpdateFrequency(std::optional<std::int64_t> Hz, const std::string& Word = {});
  bool UpdateMode(const std::string& Native, const std::string& Word = {});
  void RaiseIfChanged(bool Changed);

  // A pending release first; then the pending key, frequency and mode
  // commands in the order they were asked (each emptied when handed out);
  // else the poll command, which also takes its turn once set commands have
  // kept it waiting for PollTurn. At the program's start a release may come first of all
  // (see RearmProgramStart).
  TCommandKind ChooseCommand(std::string& Command);
  static constexpr std::chrono::milliseconds PollTurn{250};
  // How long the transmit state read at start is waited for before the
  // release goes out anyway.
  static constexpr std::chrono::milliseconds StartReadWait{1000};

private:
  const TRadioModel* FModel;
  // The release at start: decided by the transmit state read (asked at
  // FStartReadAt; FStartKeyed once answered), or sent unasked.
  bool ChooseStartRelease(std::string& Command, TCommandKind& Kind);
  std::optional<std::chrono::steady_clock::time_point> FStartReadAt;
  std::optional<bool> FStartKeyed;
  // When the set commands handed out since the last poll began.
  std::optional<std::chrono::steady_clock::time_point> FSetRunSince;
};

} // namespace vela
