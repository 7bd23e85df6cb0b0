#include "cat/untCommPortThread.h"

#include "cat/transport/CPort.h"
#include "cat/untPortClock.h"

#include <pthread.h>

namespace vela {

TCommPortThread::TCommPortThread(TComponent* AOwner, int ARadioPort, int AVirtualPort,
                                 TBaudRate ABaudRate,
                                 std::shared_ptr<TCommPortThreadHandle> AHandle, TLinePolicy ADTR,
                                 TLinePolicy ARTS, const TRadioPortFactory& AMakeRadioPort)
    : FHandle(AHandle ? std::move(AHandle) : std::make_shared<TCommPortThreadHandle>()),
      // A network port has no line speed to suggest when the radio is silent.
      FLinks(FHandle, AMakeRadioPort ? 0 : BaudRateToInt(ABaudRate)),
      FCycle(*this, FLinks, ABaudRate) {
  {
    std::lock_guard<std::mutex> Guard(FHandle->Lock);
    FHandle->Thread = this;
  }
  FRadioPort =
      MakePort(AOwner, ARadioPort, ABaudRate, MakeMethod(this, &TCommPortThread::RadioPortRxChar),
               0, ADTR, ARTS, AMakeRadioPort);
  FCycle.SetRadioPort(FRadioPort.get());
  FLinks.Start(TLinkRole::lrRadio, FRadioPort.get());
  if (AVirtualPort > 0) {
    FVirtualPort =
        MakePort(AOwner, AVirtualPort, ABaudRate,
                 MakeMethod(this, &TCommPortThread::VirtualPortRxChar), VirtualWriteTimeoutMs);
    FCycle.SetVirtualPort(FVirtualPort.get());
  }
  FLinks.Start(TLinkRole::lrVirtual, FVirtualPort.get());
}

std::unique_ptr<TComPort>
TCommPortThread::MakePort(TComponent* AOwner, int APort, TBaudRate ABaudRate,
                          const TRxCharEvent& AHandler, int AWriteTimeoutMs, TLinePolicy ADTR,
                          TLinePolicy ARTS, const TRadioPortFactory& AMakePort) {
  std::unique_ptr<TComPort> Port = AMakePort ? AMakePort() : std::make_unique<TComPort>(AOwner);
  if (AWriteTimeoutMs > 0) {
    // The other program may stop reading (or quit) at any time; its bytes are
    // then dropped after a short wait instead of stalling the radio's polls.
    Port->Timeouts().setWriteTotalConstant(AWriteTimeoutMs);
    Port->Timeouts().setWriteTotalMultiplier(0);
  }
  Port->setOnRxChar(AHandler);
  if (!AMakePort)
    Port->setPort("COM" + std::to_string(APort));
  Port->setBaudRate(ABaudRate);
  Port->Parity().setBits(prNone);
  Port->setDataBits(dbEight);
  Port->setStopBits(sbTwoStopBits);
  // The port sets the lines as part of opening, before the line settings,
  // and closes without raising them again. Pseudo-terminals and some
  // adapters have no modem lines; they ignore this.
  Port->FlowControl().setControlDTR(ADTR == lpOn ? dtrEnable : dtrDisable);
  Port->FlowControl().setKeepDTR(ADTR == lpKeep);
  Port->FlowControl().setControlRTS(ARTS == lpOn ? rtsEnable : rtsDisable);
  Port->FlowControl().setKeepRTS(ARTS == lpKeep);
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

void TCommPortThread::setOnTrace(const TPortTraceEvent& Value) {
  std::lock_guard<std::mutex> Guard(FTraceLock);
  FOnTrace = Value;
}

void TCommPortThread::Trace(bool Written, const std::string& Data) {
  std::lock_guard<std::mutex> Guard(FTraceLock);
  if (FOnTrace.Assigned())
    FOnTrace(this, Written, Data);
}

void TCommPortThread::Execute() {
  setFreeOnTerminate(true);
  ::pthread_setname_np(::pthread_self(), "vela-worker");
  FCycle.Run();
}

void TCommPortThread::CheckLinks() {
  if (!FLinks.CheckLinks(
          *FRadioPort, FVirtualPort.get(), [this] { return Terminated(); },
          [this] { RadioReopened(); }))
    return;
  try {
    Synchronize([this] {
      if (FOnLinkChange.Assigned())
        FOnLinkChange(this);
    });
  } catch (...) {
    // A display that fails must not stop the radio's polls.
  }
}

void TCommPortThread::RadioReopened() {
  // The radio may have been turned or swapped meanwhile: the driver starts
  // afresh so that its next reply is reported in full, and is asked at once
  // even if it said before that it had nothing to write.
  FCycle.Wake();
  try {
    Synchronize([this] {
      if (FOnReopened.Assigned())
        FOnReopened(this);
    });
  } catch (...) {
    FLinks.NoteFailure(TLinkRole::lrRadio, std::current_exception());
  }
}

std::string TCommPortThread::AskDriver(int Skipped) {
  FCommand.clear();
  FHandle->SkippedAsks = Skipped;
  try {
    Synchronize([this] { DoGetCommand(); });
  } catch (...) {
    FCommand.clear();
    FLinks.NoteFailure(TLinkRole::lrRadio, std::current_exception());
  }
  return FCommand;
}

void TCommPortThread::PostDeliverAndAsk(int Count, int Skipped) {
  FCommand.clear();
  FHandle->SkippedAsks = Skipped;
  FAsk.Post([this, Count] {
    // The receive handler contains its own failures (they count against the
    // radio's link), so the ask follows whatever the bytes did.
    RadioPortRxChar(this, Count);
    DoGetCommand();
  });
}

std::string TCommPortThread::TakeAskedCommand() {
  try {
    FAsk.Wait();
  } catch (...) {
    FCommand.clear();
    FLinks.NoteFailure(TLinkRole::lrRadio, std::current_exception());
  }
  return FCommand;
}

void TCommPortThread::DriverCommandWritten() {
  if (FCommandAsk != 0 && FCommandAsk == FHandle->Watch.load()) {
    FHandle->Written = FCommandAsk;
    TThread::NotifyStateChange();
  }
}

void TCommPortThread::DeliverToDriver(const std::string& Data, int Count, bool AfterQuiet) {
  if (AfterQuiet && FOnLineQuiet.Assigned())
    FOnLineQuiet(this);
  if (FOnPortData.Assigned())
    FOnPortData(this, Data, Count);
}

std::string TCommPortThread::TakeUnsolicited(const std::string& Data) {
  std::string Unsolicited;
  if (FOnUnsolicited.Assigned())
    FOnUnsolicited(this, Data, Unsolicited);
  return Unsolicited;
}

void TCommPortThread::RadioPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated() || FLinks.Failed(TLinkRole::lrRadio))
    return;
  // A failed read or parse no longer ends the port's deliveries: the link
  // counts as lost and the worker reopens it.
  try {
    FCycle.ReceiveFromRadio(Count);
  } catch (...) {
    FLinks.NoteFailure(TLinkRole::lrRadio, std::current_exception());
  }
}

void TCommPortThread::VirtualPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated() || FLinks.Failed(TLinkRole::lrVirtual))
    return;
  try {
    FCycle.ReceiveFromVirtual(Count);
  } catch (...) {
    FLinks.NoteFailure(TLinkRole::lrVirtual, std::current_exception());
  }
}

void TCommPortThread::DoGetCommand() {
  FCommandAsk = ++FHandle->Asks;
  FHandle->CommandIsRead = true;
  FHandle->IdleAsks = 0;
  if (FOnGetCommand.Assigned())
    FOnGetCommand(this, FCommand);
}

} // namespace vela
