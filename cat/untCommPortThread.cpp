#include "cat/untCommPortThread.h"

#include <chrono>
#include <thread>

#include "serial/CPort.h"

namespace vela {

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr std::int64_t MsToNs(int Ms) {
  return static_cast<std::int64_t>(Ms) * 1000000;
}

// Appends to a forwarding queue, keeping only the newest bytes when a side
// floods faster than the other end takes them, so memory stays bounded.
void AppendBounded(std::string& Queue, const std::string& Data) {
  Queue += Data;
  if (Queue.size() > TCommPortThread::MaxQueueBytes)
    Queue.erase(0, Queue.size() - TCommPortThread::MaxQueueBytes);
}

} // namespace

TCommPortThread::TCommPortThread(TComponent* AOwner, int ARadioPort, int AVirtualPort,
                                 TBaudRate ABaudRate,
                                 std::shared_ptr<TCommPortThreadHandle> AHandle)
    : FHandle(std::move(AHandle)) {
  if (FHandle) {
    std::lock_guard<std::mutex> Guard(FHandle->Lock);
    FHandle->Thread = this;
  }
  FRadioPort =
      OpenPort(AOwner, ARadioPort, ABaudRate, MakeMethod(this, &TCommPortThread::RadioPortRxChar));
  if (AVirtualPort > 0) {
    FVirtualEnabled = true;
    FVirtualPort = OpenPort(AOwner, AVirtualPort, ABaudRate,
                            MakeMethod(this, &TCommPortThread::VirtualPortRxChar));
  }
}

std::unique_ptr<TComPort> TCommPortThread::OpenPort(TComponent* AOwner, int APort,
                                                    TBaudRate ABaudRate,
                                                    const TRxCharEvent& AHandler) {
  auto Port = std::make_unique<TComPort>(AOwner);
  Port->setOnRxChar(AHandler);
  Port->setPort("COM" + std::to_string(APort));
  Port->setBaudRate(ABaudRate);
  Port->Parity().setBits(prNone);
  Port->setDataBits(dbEight);
  Port->setStopBits(sbTwoStopBits);
  try {
    Port->Open();
  } catch (const std::exception&) {
    // A port that does not open stays closed; the worker runs without it.
  }
  if (Port->Connected()) {
    // Pseudo-terminals and some adapters have no modem lines; a radio that
    // needs DTR/RTS for its interface gets them where the device has them.
    try {
      Port->SetDtrLine(true);
      Port->SetRtsLine(true);
    } catch (const std::exception&) {
    }
  }
  return Port;
}

void TCommPortThread::ClosePort(std::unique_ptr<TComPort>& APort) {
  if (!APort)
    return;
  APort->setOnRxChar(TRxCharEvent());
  try {
    APort->Close();
  } catch (const std::exception&) {
  }
  APort.reset();
}

TCommPortThread::~TCommPortThread() {
  // The receive handlers check the flag, so none of them touches this object
  // once the ports' event threads have delivered their last event.
  Terminate();
  if (FHandle) {
    std::lock_guard<std::mutex> Guard(FHandle->Lock);
    FHandle->Thread = nullptr;
  }
  // Closing waits for each port's event thread, which may be waiting for the
  // main thread to run a delivery; no lock is held here, so the main thread
  // is free to serve it.
  ClosePort(FRadioPort);
  ClosePort(FVirtualPort);
  if (FHandle) {
    FHandle->Ended = true;
    TThread::NotifyStateChange();
  }
}

bool TCommPortThread::RadioPortConnected() const {
  return FRadioPort && FRadioPort->Connected();
}

bool TCommPortThread::VirtualPortConnected() const {
  return FVirtualPort && FVirtualPort->Connected();
}

void TCommPortThread::Execute() {
  setFreeOnTerminate(true);
  while (!Terminated()) {
    FCommand.clear();
    TAsker Asker = TAsker::Driver;
    if (FVirtualEnabled) {
      std::string Outgoing;
      {
        std::lock_guard<std::mutex> Guard(FLock);
        if (!FFromVirtual.empty()) {
          FCommand.swap(FFromVirtual);
          FFromVirtual.clear();
          Asker = TAsker::Virtual;
        }
        Outgoing.swap(FToVirtual);
      }
      if (!Terminated() && !Outgoing.empty() && FVirtualPort && FVirtualPort->Connected()) {
        try {
          FVirtualPort->WritePort(Outgoing);
        } catch (const std::exception&) {
        }
      }
    }
    if (FCommand.empty()) {
      Synchronize([this] { DoGetCommand(); });
      Asker = TAsker::Driver;
    }
    if (!Terminated() && !FCommand.empty() && FRadioPort && FRadioPort->Connected()) {
      WaitForQuietLine();
      if (!Terminated())
        WriteToRadio(FCommand, Asker);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(CycleMs));
  }
}

void TCommPortThread::WaitForQuietLine() {
  // A reply still arriving (or waiting unread) belongs to the last asker; the
  // next command waits for it, so two askers' replies never interleave. A
  // radio whose reply is longer than a cycle at its baud rate (an FT-100D's
  // 32-byte status at 4800 baud takes 73 ms) is thereby never sent a new
  // command in the middle of a reply, which would pile up queued replies.
  for (;;) {
    if (Terminated())
      return;
    const std::int64_t Now = NowNs();
    if (Now - FLastWriteNs.load() >= MsToNs(LongestWaitMs))
      return;
    int Waiting = 0;
    try {
      Waiting = FRadioPort->BytesWaiting();
    } catch (const std::exception&) {
    }
    if (Waiting == 0 && Now - FLastRxNs.load() >= MsToNs(QuietMs))
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void TCommPortThread::WriteToRadio(const std::string& Data, TAsker Asker) {
  FAsker = static_cast<int>(Asker);
  FRxSinceWrite = false;
  FLastWriteNs = NowNs();
  try {
    FRadioPort->WritePort(Data);
  } catch (const std::exception&) {
    // A failed write is dropped; the next cycle carries on.
  }
}

bool TCommPortThread::ExchangeOpen(std::int64_t Now) const {
  if (static_cast<TAsker>(FAsker.load()) == TAsker::None)
    return false;
  if (Now - FLastWriteNs.load() >= MsToNs(LongestWaitMs))
    return false;
  // A reply came and the line then fell quiet: the exchange is over.
  return !(FRxSinceWrite.load() && Now - FLastRxNs.load() >= MsToNs(QuietMs));
}

void TCommPortThread::RadioPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated())
    return;
  std::string Data;
  FRadioPort->ReadPort(Data, Count);
  const std::int64_t Now = NowNs();
  const bool Open = ExchangeOpen(Now);
  FLastRxNs = Now;
  FRxSinceWrite = true;
  if (!FVirtualEnabled) {
    if (FOnPortData.Assigned())
      FOnPortData(this, Data, Count);
    return;
  }
  const TAsker Asker = static_cast<TAsker>(FAsker.load());
  // Bytes outside any exchange (a radio's unsolicited broadcast) go to both
  // sides; a reply goes only to the side that asked for it.
  const bool ToDriver = !Open || Asker != TAsker::Virtual;
  const bool ToVirtual = !Open || Asker == TAsker::Virtual;
  if (ToDriver && FOnPortData.Assigned())
    FOnPortData(this, Data, Count);
  if (ToVirtual) {
    std::lock_guard<std::mutex> Guard(FLock);
    AppendBounded(FToVirtual, Data);
  }
}

void TCommPortThread::VirtualPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated())
    return;
  std::string Data;
  FVirtualPort->ReadPort(Data, Count);
  std::lock_guard<std::mutex> Guard(FLock);
  AppendBounded(FFromVirtual, Data);
}

void TCommPortThread::DoGetCommand() {
  if (FOnGetCommand.Assigned())
    FOnGetCommand(this, FCommand);
}

} // namespace vela
