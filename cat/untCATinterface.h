// The base of the radio drivers.
//
// A driver holds the last reported frequency, band and mode, the two pending
// tune commands and its standing poll command; it starts (and restarts) the
// port worker with the stored port settings, hooks its reply parser and its
// command producer into that worker, turns tune requests from the log page
// into commands, and reports the radio's value through OnRxData.
//
// Everything here runs on the main thread: the worker calls GetNextCommand
// (and reports reopens and link changes) through synchronised calls, and the
// radio port's bytes reach ParseReply on the main thread, so the fields need
// no lock. The trace hook also runs on the worker's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cat/transport/CPortTypes.h"
#include "cat/untLinkState.h"
#include "cat/untRadioValue.h"
#include "platform/untComponent.h"
#include "platform/untEvents.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

class TComPort;
class TCommPortThread;
class TCommPortThreadHandle;

// Sender (the driver), the radio's value.
using TRxDataEvent = TMethod<TObject*, const TRadioValue&>;
// Sender (the driver).
using TLinkChangeEvent = TMethod<TObject*>;
// Sender (the worker), Written (true: to the radio), Data.
using TTraceEvent = TMethod<TObject*, bool, std::string>;

// Why a tune from the log page changed nothing on the radio: trNone when it
// was taken (or there was nothing to change); a frequency outside what the
// radio can take; a transmitter keyed, or a PTT command on its way to key it.
enum class TTuneRefusal { trNone, trOutOfRange, trTransmitting };

// For a radio that is not on a serial line: makes, from the settings (on the
// main thread, whenever a worker starts), the factory of the worker's radio
// port.
using TRadioPortSource =
    std::function<std::unique_ptr<TComPort>()> (*)(TVelaLogSettings* ASettings);

class TCATInterface : public TComponent {
public:
  TCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                TRadioPortSource ARadioPortSource = nullptr);
  ~TCATInterface() override;

  // Stops the current worker (waiting until it has closed its ports) and
  // starts a new one with these values.
  void StartPortThread(int AComPort, int AComPort2, bool ACom2Enable, TBaudRate ABaudRate);
  // Restarts the worker with the values the settings store holds now.
  void ResetCAT();
  // Writes the four values and restarts, unless all four equal the stored ones.
  void ApplyPortSettings(int AComPort, int AComPort2, bool ACom2Enable, TBaudRate ABaudRate);
  // Queues the commands that tune the radio to the page's frequency and mode,
  // each where it differs from the radio's, or, while an earlier tune has not
  // been read back yet, from what that tune told the radio. Nothing is
  // queued for a frequency the radio cannot take or while the transmitter is
  // keyed; the refusal is returned and shown as the driver's note.
  TTuneRefusal TuneRadio(const std::string& Frequency, const std::string& Mode);
  // The note's words for a refusal ("page tune refused: ...").
  static std::string TuneRefusalWords(TTuneRefusal Refusal);

  // The driver's options in the settings store changed: a worker that
  // idles because the driver said it had nothing to write asks it again.
  void OptionsChanged() { WakeWorker(); }

  // Read from the settings store at each access.
  int ComPort() const;
  int ComPort2() const;
  bool Com2Enable() const;
  TRadioType Radio() const;

  TRxDataEvent OnRxData() const { return FOnRxData; }
  void setOnRxData(const TRxDataEvent& Value) { FOnRxData = Value; }

  // Whether the current worker has its radio port open (asks the port).
  bool RadioPortConnected() const;

  // The link states of the current worker's radio port and Virtual CAT port
  // (off when Virtual CAT is switched off); any thread.
  TLinkStatus RadioLinkStatus() const;
  TLinkStatus VirtualLinkStatus() const;
  // Raised on the main thread when either state changes, and once when a
  // worker starts.
  TLinkChangeEvent OnLinkChange() const { return FOnLinkChange; }
  void setOnLinkChange(const TLinkChangeEvent& Value) { FOnLinkChange = Value; }
  // Every block written to or read from the radio port, on the thread that
  // moves it (the worker's for writes, the main thread for reads); its object
  // must outlive the driver.
  TTraceEvent OnTrace() const { return FOnTrace; }
  void setOnTrace(const TTraceEvent& Value);

  // A failure to record the radio type in the settings store during
  // construction (a settings file that refuses writes). The driver is still
  // complete and polling; its creator reports the failure. Empties it.
  std::exception_ptr TakeCreateError() { return std::exchange(FCreateError, nullptr); }

  // Read access for the settings dialog, tests and tools: the page's texts
  // of the value last reported (the frequency "0" after the page handed
  // back an empty one), and the pending commands.
  const std::string& Frequency() const { return FFrequency; }
  const std::string& Band() const { return FBand; }
  const std::string& Mode() const { return FMode; }
  const std::string& PollCommand() const { return FPollCommand; }
  const std::string& FrequencyCommand() const { return FFrequencyCommand; }
  const std::string& ModeCommand() const { return FModeCommand; }

  // The radio's value, updated by every reply but reported only when the
  // page's texts of it change: the frequency in hertz at the radio's
  // resolution (0 before the first reply after a start), and the radio's
  // own mode by its Hamlib name (empty while unknown).
  std::int64_t FrequencyHz() const { return FValue.HzOrZero(); }
  const std::string& NativeMode() const { return FValue.NativeMode; }
  // What the radio is about to be: the value of the last tune (from the
  // page, a program sharing the radio or the logbook) while its command
  // waits, and after it went out until the radio reports a change or
  // ReadBackHold passes; nothing otherwise.
  std::optional<std::int64_t> PendingHz();
  std::optional<std::string> PendingNativeMode();
  static constexpr std::chrono::milliseconds ReadBackHold{1500};
  // Queue a set-frequency command in hertz (rounded to what the radio's
  // command carries) or a set-mode command by Hamlib name, on the same
  // pending path as a tune from the page, replacing one still waiting.
  // False, with nothing queued, when the radio cannot take the value (also a
  // frequency outside its range: see TakesHz).
  virtual bool TuneHz(std::int64_t Hz) {
    (void)Hz;
    return false;
  }
  virtual bool TuneNativeMode(const std::string& Mode) {
    (void)Mode;
    return false;
  }
  // The frequency a set command for Hz puts the radio on: Hz rounded to the
  // step the command carries.
  virtual std::int64_t TunedHz(std::int64_t Hz) const { return Hz; }
  // Whether the radio can be tuned to Hz (its range).
  virtual bool TakesHz(std::int64_t Hz) const { return Hz > 0; }

  // Keying the transmitter by CAT, for programs sharing the radio. SetPTT
  // queues the radio's PTT command, replacing one still waiting, and has the
  // worker write it at the line's next free moment: a release ahead of every
  // other command, a key after every frequency and mode command asked before
  // it; false, with nothing queued, when the radio has none. PTT is the
  // state last asked for; PTTWritten the state last written to the radio
  // port, and PTTUnwritten whether the last PTT command is still on its way
  // (a command the worker dropped stays on its way until the next one). A
  // keyed transmitter is released at every restart of the worker and when
  // the driver is freed: with the radio port open, the release is handed to
  // the worker at once and the stop waits until it is written, at most
  // 2.5 s (the worker's longest wait for a quiet line, then the
  // write's own time-out); a release not written by then, or with the port
  // closed, is not waited for. A restart or reopened port also makes the
  // release the new worker's first command.
  virtual bool SetPTT(bool On) {
    (void)On;
    return false;
  }
  virtual bool CanKey() const { return false; }
  bool PTT() const { return FPTT; }
  // Keyed, or about to be: a key asked for (written or on its way), or the
  // last state written keyed while its release is on its way.
  bool Transmitting() const { return FPTT || PTTWritten(); }
  bool PTTWritten() const;
  bool PTTUnwritten() const;
  const std::string& PTTCommand() const { return FPTTCommand; }

  // The five operations a driver overrides, in this order. The base bodies
  // are empty, so a bare TCATInterface polls nothing and reports nothing.
  // Clears the driver's own reception state (buffers, byte windows, counters).
  virtual void ResetState() {}
  // Bytes just read from the radio port; Count is what the port reported.
  virtual void ParseReply(TObject* Sender, std::string Data, int Count) {
    (void)Sender, (void)Data, (void)Count;
  }
  // Command is empty on entry; leaving it empty writes nothing this cycle.
  // The base hands out nothing but a pending PTT command (the release that
  // the destructor queues, when the driver's own choice is already gone).
  virtual void GetNextCommand(TObject* Sender, std::string& Command);
  virtual void SetFrequency(std::string AFrequency) { (void)AFrequency; }
  virtual void SetMode(std::string AMode) { (void)AMode; }

  // The worker calls this just before ParseReply when the bytes it hands
  // over are the first after a silence on the line (it wrote a command to a
  // quiet line since the last bytes). Drivers that frame replies by counting
  // bytes resynchronise here; the others need nothing.
  virtual void LineWasQuiet(TObject* Sender) { (void)Sender; }

  // The radio reports its changes by itself and the driver follows those
  // reports, reading the radio only to keep the link alive.
  virtual bool FollowingReports() const { return false; }

  // Bytes just read from a shared radio port, every block in order: the
  // messages the radio sent of its own accord that they complete, whole, go
  // to Unsolicited (the worker hands them to the other program, and to
  // ParseReply, whoever asked). None by default: every byte is a reply to
  // whoever asked.
  virtual void TakeUnsolicited(TObject* Sender, std::string Data, std::string& Unsolicited) {
    (void)Sender, (void)Data, (void)Unsolicited;
  }

  // What the operator should know beside the link's state: when the link is
  // fine but the radio is not (a daemon that answers for a radio that does
  // not), or, for NoteHold after it happened, what the driver did or refused
  // on its own (a release sent at start, a page tune refused); empty
  // otherwise. A new note raises OnLinkChange, so the displays show it.
  virtual std::string RadioNote() const;
  static constexpr std::chrono::seconds NoteHold{30};

  // The first driver made in a program with sharing and keying by network
  // clients allowed sends the radio a release among its first commands: a
  // program that ended without releasing (a crash, a kill) may have left
  // the transmitter keyed. Later drivers and restarts do not: a program
  // sharing the radio through Virtual CAT may be transmitting then.
  // Tests that play a program start in one process call this first.
  static void RearmProgramStart();

protected:
  // Writes the driver's radio type into the settings store; a failed write
  // is kept for TakeCreateError instead of aborting the construction.
  void RecordRadioType(TRadioType ARadio);
  // Whether the current worker shares the radio's line with another program
  // (Virtual CAT): that program's replies then cross the same line.
  bool LineShared() const { return FLineShared; }

  TRxDataEvent FOnRxData;
  TRadioPortSource FRadioPortSource;
  bool FLineShared = false;
  std::shared_ptr<TCommPortThreadHandle> FPortThread;
  TVelaLogSettings* FSettings;
  std::string FPollCommand;
  std::string FFrequencyCommand;
  std::string FModeCommand;
  // The page's texts of the value last reported (see Frequency()).
  std::string FMode;
  std::string FFrequency;
  std::string FBand;
  TRadioValue FValue;
  // The pending PTT command, the command that releases the transmitter
  // (kept from the first SetPTT on), and the state last asked for.
  std::string FPTTCommand;
  std::string FPTTRelease;
  bool FPTT = false;
  // Hands out the pending PTT command (empty when there is none), noting
  // which of the worker's calls took it so that its write can be seen.
  std::string TakePTTCommand();
  // Tells the worker that a command must not wait for the next cycle.
  void UrgeWorker();
  // Called from the command hook when it hands out nothing: the next Count
  // calls would hand out nothing either, unless a command is queued first
  // (which wakes the worker), so the worker may leave them out. AsksSkipped
  // is how many calls it left out before this one.
  void NothingForAsks(int Count);
  int AsksSkipped() const;
  // Queue a set command, replacing one still waiting (whose place in the
  // order it takes), and note when it was asked for: commands go out in the
  // order they were asked.
  void QueueFrequencyCommand(std::string Command);
  void QueueModeCommand(std::string Command);
  // Record what the set command just queued tells the radio (nothing when
  // none was queued): the hertz (when known) and the page's text of a
  // frequency, the Hamlib name and the page's text of a mode.
  void TellFrequency(std::optional<std::int64_t> Hz, const std::string& Text);
  void TellMode(const std::string& Native, const std::string& Text);
  // The Hamlib mode a page mode text sets on this radio; empty when unknown.
  virtual std::string NativeForPageMode(std::string_view Mode) const {
    (void)Mode;
    return {};
  }
  // The order in which the pending commands were asked (larger is later).
  std::uint64_t FFrequencyAsked = 0;
  std::uint64_t FModeAsked = 0;
  std::uint64_t FPTTAsked = 0;
  std::uint64_t NextAsk() { return ++FAsks; }
  // Tells the worker that the command being handed out asks the radio
  // nothing (a set or PTT command): only an unanswered read counts towards
  // the link's silence. Called from the command hook.
  void NoteCommandIsNoRead();
  // Shows Text as the driver's note (see RadioNote).
  void SetNote(const std::string& Text);
  // Whether this driver is the first of the program and is to release the
  // transmitter at start (see RearmProgramStart); true once only.
  static bool TakeProgramStart();
  // Hands out Release as the release at the program's start (empty when
  // the radio has none), to be watched until it is written; Known: the radio
  // said it was keyed (else it could not tell).
  std::string TakeStartRelease(const std::string& Release, bool Known);
  // The release sent at start has been written: the note says so.
  void SettleStartRelease();
  bool FStartReleasePending = false;
  // Set once the transmitter was keyed: from then on every restart or
  // reopen sends the release first. Whether the last release reached the
  // radio cannot be known (a write to a line being pulled fails quietly),
  // and a release to a transmitter that is not keyed does no harm.
  bool FPTTKeyed = false;

private:
  // The hertz or mode a tune told the radio (with the page's text when the
  // page asked), the command that carries it and the radio's value when it
  // was told; standing as PendingHz says. One record for every way of tuning.
  struct TTold {
    using TClock = std::chrono::steady_clock;
    std::optional<std::int64_t> Hz;
    std::string Native;
    std::string Text;
    std::string Command;
    TRadioValue Before;
    TClock::time_point Since;
  };
  TTold FFrequencyTold;
  TTold FModeTold;
  // Whether Told stands: its command still waits, or went out and the
  // radio has reported neither it nor any other change for ReadBackHold.
  // A told value that no longer stands is forgotten.
  bool Standing(TTold& Told, const std::string& Queued, bool ReadBack, bool Moved);
  bool FrequencyStanding();
  bool ModeStanding();

  void StopPortThread();
  // Writes the release of a keyed transmitter, and waits (bounded) until it
  // is on the line, before the worker stops.
  void ReleasePTTBeforeStop();
  // Makes the release the next command when the transmitter may be keyed.
  void QueuePTTRelease();
  // Ends the worker's wait when the driver said it had nothing to write.
  void WakeWorker();
  // Calls Call on the current worker, if one runs.
  void TellWorker(void (TCommPortThread::*Call)());
  // Takes the outcome of the PTT command handed out last, once written.
  void SettlePTT() const;
  // The PTT command handed out last and not yet seen written: the worker's
  // call that took it (0: none), its state, and that worker's handle.
  mutable std::uint64_t FPTTTicket = 0;
  bool FPTTTicketOn = false;
  mutable std::shared_ptr<TCommPortThreadHandle> FPTTTicketHandle;
  mutable bool FPTTWritten = false;
  // The worker reopened the radio port by itself: the radio's values are
  // unknown again, as after a restart; pending tune commands stay.
  void PortReopened(TObject* Sender);
  void ForgetRadioValues();
  void LinkChanged(TObject* Sender);

  TLinkChangeEvent FOnLinkChange;
  TTraceEvent FOnTrace;
  std::exception_ptr FCreateError;
  std::uint64_t FAsks = 0;
  std::uint64_t FStartReleaseTicket = 0;
  bool FStartReleaseKnown = false;
  std::string FNote;
  std::chrono::steady_clock::time_point FNoteSince;
};

} // namespace vela
