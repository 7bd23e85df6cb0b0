#include "cat/untCATinterface.h"

#include <atomic>

#include "cat/untCommPortThread.h"

namespace vela {

namespace {

// The longest a stopping worker is given to write the transmitter's release:
// the wait for a quiet line, then the write's own time-out.
constexpr int ReleaseWaitMs = TCommPortThread::LongestWaitMs + 1500;

// Cleared by the first driver that takes the program's start.
std::atomic<bool> ProgramStartDue{true};

// The hertz of a page frequency text ("14.074", MHz with a dot); false for
// anything else, which the driver's own SetFrequency refuses in its way.
bool PageTextHz(const std::string& Text, std::int64_t& Hz) {
  const std::size_t Dot = Text.find('.');
  if (Dot == std::string::npos || Dot > 9)
    return false;
  std::int64_t Value = 0;
  int FractionDigits = 0;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    if (I == Dot)
      continue;
    const char C = Text[I];
    if (C < '0' || C > '9')
      return false;
    if (I > Dot && ++FractionDigits > 6) {
      if (C != '0')
        return false; // finer than a hertz
      continue;
    }
    Value = Value * 10 + (C - '0');
  }
  for (; FractionDigits < 6; ++FractionDigits)
    Value *= 10;
  Hz = Value;
  return true;
}

} // namespace

void TCATInterface::RearmProgramStart() {
  ProgramStartDue = true;
}

bool TCATInterface::TakeProgramStart() {
  return ProgramStartDue.exchange(false);
}

TCATInterface::TCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                             TRadioPortSource ARadioPortSource)
    : TComponent(AOwner), FRadioPortSource(ARadioPortSource), FSettings(ASettings) {
  FFrequencyCommand.clear();
  FModeCommand.clear();
  StartPortThread(FSettings->intCommPort(), FSettings->intCommPort2(), FSettings->blnComm2Enable(),
                  FSettings->BaudRate());
}

TCATInterface::~TCATInterface() {
  ReleasePTTBeforeStop();
  StopPortThread();
}

void TCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  Command = TakePTTCommand();
}

std::string TCATInterface::TakePTTCommand() {
  std::string Command = std::exchange(FPTTCommand, std::string());
  if (!Command.empty())
    NoteCommandIsNoRead();
  if (Command.empty() || !FPortThread)
    return Command;
  // Called from the worker's command hook, which has just counted the call.
  FPTTTicket = FPortThread->Asks.load();
  FPTTTicketOn = FPTT;
  FPTTTicketHandle = FPortThread;
  FPortThread->Watch = FPTTTicket;
  return Command;
}

void TCATInterface::SettlePTT() const {
  if (FPTTTicket != 0 && FPTTTicketHandle && FPTTTicketHandle->Written.load() == FPTTTicket) {
    FPTTWritten = FPTTTicketOn;
    FPTTTicket = 0;
    FPTTTicketHandle.reset();
  }
}

bool TCATInterface::PTTWritten() const {
  SettlePTT();
  return FPTTWritten;
}

bool TCATInterface::PTTUnwritten() const {
  SettlePTT();
  return !FPTTCommand.empty() || FPTTTicket != 0;
}

void TCATInterface::NoteCommandIsNoRead() {
  if (FPortThread)
    FPortThread->CommandIsRead = false;
}

void TCATInterface::NothingForAsks(int Count) {
  if (FPortThread)
    FPortThread->IdleAsks = Count;
}

int TCATInterface::AsksSkipped() const {
  return FPortThread ? FPortThread->SkippedAsks.load() : 0;
}

// A command that replaces one still waiting keeps the place of the first:
// a key asked in between must still wait for the change. A worker that was
// told there would be nothing to write is woken.
void TCATInterface::QueueFrequencyCommand(std::string Command) {
  if (FFrequencyCommand.empty())
    FFrequencyAsked = NextAsk();
  FFrequencyCommand = std::move(Command);
  WakeWorker();
}

void TCATInterface::QueueModeCommand(std::string Command) {
  if (FModeCommand.empty())
    FModeAsked = NextAsk();
  FModeCommand = std::move(Command);
  WakeWorker();
}

void TCATInterface::TellWorker(void (TCommPortThread::*Call)()) {
  if (!FPortThread)
    return;
  std::lock_guard<std::mutex> Guard(FPortThread->Lock);
  if (FPortThread->Thread)
    (FPortThread->Thread->*Call)();
}

void TCATInterface::WakeWorker() {
  TellWorker(&TCommPortThread::Wake);
}

void TCATInterface::SetNote(const std::string& Text) {
  FNote = Text;
  FNoteSince = std::chrono::steady_clock::now();
  if (FOnLinkChange.Assigned())
    FOnLinkChange(this);
}

std::string TCATInterface::RadioNote() const {
  if (FNote.empty() || std::chrono::steady_clock::now() - FNoteSince > NoteHold)
    return {};
  return FNote;
}

std::string TCATInterface::TakeStartRelease(const std::string& Release, bool Known) {
  if (Release.empty())
    return {};
  FStartReleaseKnown = Known;
  FPTTRelease = Release;
  FPTT = false;
  FPTTCommand = Release;
  std::string Command = TakePTTCommand();
  FStartReleaseTicket = FPTTTicket;
  return Command;
}

void TCATInterface::SettleStartRelease() {
  if (FStartReleaseTicket == 0)
    return;
  SettlePTT();
  if (FPTTTicket == FStartReleaseTicket)
    return; // still on its way
  // Written, unless a later PTT command took its place before it was.
  const bool Written = FPortThread && FPortThread->Written.load() >= FStartReleaseTicket;
  FStartReleaseTicket = 0;
  if (Written)
    SetNote(FStartReleaseKnown ? "released a transmitter left keyed"
                               : "sent a release at start, in case a transmitter was left keyed");
}

void TCATInterface::UrgeWorker() {
  TellWorker(&TCommPortThread::RequestTurn);
}

void TCATInterface::ReleasePTTBeforeStop() {
  if (FPTTRelease.empty() || !FPortThread)
    return;
  if (FPTT || !FPTTCommand.empty()) {
    FPTT = false;
    FPTTCommand = FPTTRelease;
  } else if (!PTTUnwritten()) {
    return; // released, and the release is on the line
  }
  if (!RadioPortConnected())
    return; // the release goes out first on the next line that opens
  // When the driver is being freed its own parts are gone and the worker
  // calls the base GetNextCommand, which hands out the release all the same.
  // A worker that has ended never asks: bounded wait.
  UrgeWorker();
  TThread::WaitWhileServing([&] { return !PTTUnwritten(); }, ReleaseWaitMs);
}

void TCATInterface::StopPortThread() {
  std::shared_ptr<TCommPortThreadHandle> Handle = std::move(FPortThread);
  FPortThread.reset();
  if (!Handle)
    return;
  {
    // The handle's lock keeps a worker that is ending by itself from being
    // freed while its hooks are emptied and it is told to stop.
    std::lock_guard<std::mutex> Guard(Handle->Lock);
    if (TCommPortThread* Thread = Handle->Thread) {
      Thread->setOnPortData(TPortDataEvent());
      Thread->setOnGetCommand(TGetCommandEvent());
      Thread->setOnLineQuiet(TLineQuietEvent());
      Thread->setOnUnsolicited(TUnsolicitedEvent());
      Thread->setOnReopened(TLinkEvent());
      Thread->setOnLinkChange(TLinkEvent());
      Thread->setOnTrace(TPortTraceEvent());
      Thread->Terminate();
    }
  }
  // Wait until the old worker has closed its ports, so that a new worker can
  // open the same device; synchronised calls are served meanwhile, so a worker
  // or event thread blocked on the main thread can finish.
  TThread::WaitWhileServing([&] { return Handle->Ended.load(); });
}

void TCATInterface::StartPortThread(int AComPort, int AComPort2, bool ACom2Enable,
                                    TBaudRate ABaudRate) {
  ReleasePTTBeforeStop();
  QueuePTTRelease();
  StopPortThread();
  // Virtual CAT shares a serial line; a radio on a network port has none.
  const bool Share = ACom2Enable && !FRadioPortSource;
  FLineShared = Share;
  ForgetRadioValues();
  auto Handle = std::make_shared<TCommPortThreadHandle>();
  auto* Thread = new TCommPortThread(this, AComPort, Share ? AComPort2 : 0, ABaudRate, Handle,
                                     FSettings->DTR(), FSettings->RTS(),
                                     FRadioPortSource ? FRadioPortSource(FSettings) : nullptr);
  FPortThread = Handle;
  Thread->setOnPortData(MakeMethod(this, &TCATInterface::ParseReply));
  Thread->setOnGetCommand(MakeMethod(this, &TCATInterface::GetNextCommand));
  Thread->setOnLineQuiet(MakeMethod(this, &TCATInterface::LineWasQuiet));
  Thread->setOnReopened(MakeMethod(this, &TCATInterface::PortReopened));
  Thread->setOnLinkChange(MakeMethod(this, &TCATInterface::LinkChanged));
  Thread->setOnTrace(FOnTrace);
  Thread->setOnUnsolicited(MakeMethod(this, &TCATInterface::TakeUnsolicited));
  Thread->Start();
}

void TCATInterface::QueuePTTRelease() {
  // A restart or a reopened port (the link reset or lost) never leaves the
  // transmitter keyed: the release is the next command, also when the last
  // one went to a line that was down.
  if ((FPTTKeyed || !FPTTCommand.empty()) && !FPTTRelease.empty()) {
    FPTT = false;
    FPTTCommand = FPTTRelease;
  }
}

void TCATInterface::PortReopened(TObject* Sender) {
  (void)Sender;
  QueuePTTRelease();
  ForgetRadioValues();
}

void TCATInterface::ForgetRadioValues() {
  // The radio's state is unknown until its next reply, which is then
  // reported in full.
  FFrequencyTold = TTold();
  FModeTold = TTold();
  FMode.clear();
  FFrequency.clear();
  FBand.clear();
  FValue = TRadioValue();
  ResetState();
}

void TCATInterface::LinkChanged(TObject* Sender) {
  (void)Sender;
  if (FOnLinkChange.Assigned())
    FOnLinkChange(this);
}

void TCATInterface::setOnTrace(const TTraceEvent& Value) {
  FOnTrace = Value;
  if (!FPortThread)
    return;
  std::lock_guard<std::mutex> Guard(FPortThread->Lock);
  if (FPortThread->Thread)
    FPortThread->Thread->setOnTrace(Value);
}

TLinkStatus TCATInterface::RadioLinkStatus() const {
  TLinkStatus Status;
  Status.State = TLinkState::lsLost;
  return FPortThread ? FPortThread->Link(TLinkRole::lrRadio) : Status;
}

TLinkStatus TCATInterface::VirtualLinkStatus() const {
  return FPortThread ? FPortThread->Link(TLinkRole::lrVirtual) : TLinkStatus();
}

void TCATInterface::ResetCAT() {
  StartPortThread(FSettings->intCommPort(), FSettings->intCommPort2(), FSettings->blnComm2Enable(),
                  FSettings->BaudRate());
}

void TCATInterface::ApplyPortSettings(int AComPort, int AComPort2, bool ACom2Enable,
                                      TBaudRate ABaudRate) {
  if (!StoreRadioPorts(*FSettings, AComPort, AComPort2, ACom2Enable, ABaudRate))
    return;
  StartPortThread(AComPort, AComPort2, ACom2Enable, ABaudRate);
}

std::string TCATInterface::TuneRefusalWords(TTuneRefusal Refusal) {
  switch (Refusal) {
  case TTuneRefusal::trOutOfRange:
    return "page tune refused: the radio cannot take that frequency";
  case TTuneRefusal::trTransmitting:
    return "page tune refused: transmitting";
  case TTuneRefusal::trNone:
    break;
  }
  return {};
}

TTuneRefusal TCATInterface::TuneRadio(const std::string& AFrequency, const std::string& AMode) {
  if (FFrequency.empty())
    return TTuneRefusal::trNone;
  if (AFrequency.empty()) {
    // The next reply then differs and is reported again, filling the page.
    FFrequency = "0";
    return TTuneRefusal::trNone;
  }
  // Never moved while it transmits, nor told a frequency it cannot take:
  // nothing goes out, and the operator sees why.
  TTuneRefusal Refusal = TTuneRefusal::trNone;
  std::int64_t Hz = 0;
  if (Transmitting())
    Refusal = TTuneRefusal::trTransmitting;
  else if (PageTextHz(AFrequency, Hz) && !TakesHz(Hz))
    Refusal = TTuneRefusal::trOutOfRange;
  if (Refusal != TTuneRefusal::trNone) {
    SetNote(TuneRefusalWords(Refusal));
    return Refusal;
  }
  // Compared with what the radio was last told while it has not yet read
  // that back: the request after a quick second page load, or one that
  // returns to the radio's old state, is then not taken for "already there".
  const bool FrequencyTold = FrequencyStanding() && !FFrequencyTold.Text.empty();
  if (AFrequency != (FrequencyTold ? FFrequencyTold.Text : FFrequency)) {
    SetFrequency(AFrequency);
    std::optional<std::int64_t> Told;
    if (PageTextHz(AFrequency, Hz))
      Told = TunedHz(Hz);
    TellFrequency(Told, AFrequency);
  }
  const bool ModeTold = ModeStanding() && !FModeTold.Text.empty();
  if (!FMode.empty() && !AMode.empty() && AMode != (ModeTold ? FModeTold.Text : FMode)) {
    SetMode(AMode);
    TellMode(NativeForPageMode(AMode), AMode);
  }
  return TTuneRefusal::trNone;
}

void TCATInterface::TellFrequency(std::optional<std::int64_t> Hz, const std::string& Text) {
  // A value the driver could not turn into a command told the radio nothing.
  if (FFrequencyCommand.empty())
    return;
  FFrequencyTold = {Hz, {}, Text, FFrequencyCommand, FValue, TTold::TClock::now()};
}

void TCATInterface::TellMode(const std::string& Native, const std::string& Text) {
  if (FModeCommand.empty())
    return;
  FModeTold = {{}, Native, Text, FModeCommand, FValue, TTold::TClock::now()};
}

bool TCATInterface::Standing(TTold& Told, const std::string& Queued, bool ReadBack, bool Moved) {
  if (Told.Command.empty())
    return false;
  if (Queued == Told.Command)
    return true; // not yet sent
  // Sent: read back, or never going to be (the radio reported another
  // value, or kept its own).
  if (ReadBack || Moved || TTold::TClock::now() - Told.Since > ReadBackHold) {
    Told = TTold();
    return false;
  }
  return true;
}

bool TCATInterface::FrequencyStanding() {
  const bool ReadBack = (FFrequencyTold.Hz && FValue.Hz == FFrequencyTold.Hz) ||
                        (!FFrequencyTold.Text.empty() && FFrequency == FFrequencyTold.Text);
  const bool Moved = FValue.Hz != FFrequencyTold.Before.Hz ||
                     FValue.FrequencyWord != FFrequencyTold.Before.FrequencyWord;
  return Standing(FFrequencyTold, FFrequencyCommand, ReadBack, Moved);
}

bool TCATInterface::ModeStanding() {
  const bool ReadBack = (!FModeTold.Native.empty() && FValue.NativeMode == FModeTold.Native) ||
                        (!FModeTold.Text.empty() && FMode == FModeTold.Text);
  const bool Moved = FValue.NativeMode != FModeTold.Before.NativeMode ||
                     FValue.ModeWord != FModeTold.Before.ModeWord;
  return Standing(FModeTold, FModeCommand, ReadBack, Moved);
}

std::optional<std::int64_t> TCATInterface::PendingHz() {
  if (!FrequencyStanding())
    return std::nullopt;
  return FFrequencyTold.Hz;
}

std::optional<std::string> TCATInterface::PendingNativeMode() {
  if (!ModeStanding() || FModeTold.Native.empty())
    return std::nullopt;
  return FModeTold.Native;
}

void TCATInterface::RecordRadioType(TRadioType ARadio) {
  try {
    FSettings->setRadio(ARadio);
  } catch (...) {
    FCreateError = std::current_exception();
  }
}

int TCATInterface::ComPort() const {
  return FSettings->intCommPort();
}
int TCATInterface::ComPort2() const {
  return FSettings->intCommPort2();
}
bool TCATInterface::Com2Enable() const {
  return FSettings->blnComm2Enable();
}
TRadioType TCATInterface::Radio() const {
  return FSettings->Radio();
}

bool TCATInterface::RadioPortConnected() const {
  if (!FPortThread)
    return false;
  std::lock_guard<std::mutex> Guard(FPortThread->Lock);
  return FPortThread->Thread && FPortThread->Thread->RadioPortConnected();
}

} // namespace vela
