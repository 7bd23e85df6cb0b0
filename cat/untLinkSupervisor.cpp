#include "cat/untLinkSupervisor.h"

#include "cat/transport/CPort.h"
#include "cat/untCommPortThreadHandle.h"
#include "cat/untPortClock.h"

#include <cerrno>

namespace vela {

namespace {

std::atomic<int> RetryMs{1000};
std::atomic<int> SlowAfterMs{60000};
std::atomic<int> SlowRetryMs{5000};

} // namespace

void TLinkSupervisor::SetRetryTiming(int ARetryMs, int ASlowAfterMs, int ASlowRetryMs) {
  RetryMs = ARetryMs;
  SlowAfterMs = ASlowAfterMs;
  SlowRetryMs = ASlowRetryMs;
}

TLinkSupervisor::TLinkSupervisor(std::shared_ptr<TCommPortThreadHandle> AHandle, int ABaud)
    : FHandle(std::move(AHandle)), FBaud(ABaud) {}

void TLinkSupervisor::Start(TLinkRole Role, TComPort* Port) {
  if (!Port) {
    FHandle->setLink(Role, TLinkStatus());
    return;
  }
  TryOpen(Link(Role), *Port);
  Publish(Link(Role), *Port, NowNs());
}

bool TLinkSupervisor::TryOpen(TLink& Link, TComPort& Port) {
  const std::int64_t Now = NowNs();
  // COMn is resolved again at every attempt: its link may now lead elsewhere.
  Link.Path = TCustomComPort::ResolvePortName(Port.Port());
  Link.NextResolveNs = Now + MsToNs(RetryMs);
  Link.Device = TCustomComPort::PortDevice(Port.Port());
  Link.Where = Link.Device == Port.Port() ? Link.Device : Port.Port() + " → " + Link.Device;
  const bool WasLost = Link.Lost;
  Link.Lost = false;
  Link.Failure = 0;
  Link.Dirty = true;
  try {
    Port.Open();
    // A network port connects after Open returns: until it has, the state
    // before (lost, refused) stands (see CheckConnecting).
    Link.Connecting = Port.Connected() && Port.Opening();
    Link.Lost = Link.Connecting && WasLost;
    if (!Link.Connecting)
      Link.OpenError = 0;
  } catch (const EComPort& E) {
    Link.OpenError = E.SystemErrorCode() > 0 ? E.SystemErrorCode() : EIO;
  } catch (const std::exception&) {
    Link.OpenError = EIO;
  }
  if (!Port.Connected()) {
    // A port that does not open stays closed; the worker runs without it
    // and tries again later.
    RetryLater(Link, Now);
    return false;
  }
  if (!Link.Connecting)
    Link.FailingSinceNs = 0;
  Link.LastRxNs = 0;
  // The modem lines are as the station set them (the worker's MakePort): an
  // interface that keys the transmitter from one must never see it raised
  // here.
  return true;
}

void TLinkSupervisor::RetryLater(TLink& Link, std::int64_t Now) {
  if (Link.FailingSinceNs == 0)
    Link.FailingSinceNs = Now;
  const bool Slow = Now - Link.FailingSinceNs >= MsToNs(SlowAfterMs);
  Link.NextTryNs = Now + MsToNs(Slow ? SlowRetryMs : RetryMs);
}

void TLinkSupervisor::CheckConnecting(TLink& Link, TComPort& Port, std::int64_t Now) {
  if (!Link.Connecting || (Port.Connected() && Port.Opening()))
    return;
  Link.Connecting = false;
  Link.Lost = false;
  Link.Dirty = true;
  if (const int Failure = Port.Connected() ? Port.LineFailure() : 0) {
    // A connection that could not be made is a failed open, not a lost link.
    try {
      Port.Close();
    } catch (const std::exception&) {
    }
    Link.OpenError = Failure;
    RetryLater(Link, Now);
  } else {
    Link.OpenError = 0;
    Link.FailingSinceNs = 0;
  }
}

void TLinkSupervisor::NoteFailure(TLinkRole Role, int Errno) {
  int None = 0;
  Link(Role).Failure.compare_exchange_strong(None, Errno > 0 ? Errno : EIO);
}

void TLinkSupervisor::NoteFailure(TLinkRole Role, std::exception_ptr Failure) {
  TLink& Link = this->Link(Role);
  try {
    std::rethrow_exception(Failure);
  } catch (const EComPort& E) {
    NoteFailure(Role, E.SystemErrorCode());
  } catch (const std::exception& E) {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    int None = 0;
    if (Link.Failure.compare_exchange_strong(None, -1))
      Link.FailureText = E.what();
  } catch (...) {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    int None = 0;
    if (Link.Failure.compare_exchange_strong(None, -1))
      Link.FailureText = "unknown failure";
  }
}

bool TLinkSupervisor::CheckLinks(TComPort& Radio, TComPort* Virtual,
                                 const std::function<bool()>& Stopping,
                                 const std::function<void()>& Reopened) {
  const std::int64_t Now = NowNs();
  bool Changed = CheckLink(FRadioLink, Radio, Now, Stopping, Reopened);
  if (Virtual)
    Changed = CheckLink(FVirtualLink, *Virtual, Now, Stopping, Reopened) || Changed;
  if (!Changed && !FNotifyPending)
    return false;
  FNotifyPending = false;
  return true;
}

bool TLinkSupervisor::CheckLink(TLink& Link, TComPort& Port, std::int64_t Now,
                                const std::function<bool()>& Stopping,
                                const std::function<void()>& Reopened) {
  CheckConnecting(Link, Port, Now);
  if (Port.Connected() && !Link.Connecting) {
    int Failure = Link.Failure.load();
    if (Failure == 0)
      Failure = Port.LineFailure();
    if (Failure != 0) {
      // The device will not recover under this descriptor: close it, and
      // open the name afresh at the next attempt.
      try {
        Port.Close();
      } catch (const std::exception&) {
      }
      Link.Lost = true;
      Link.LostError = Failure;
      Link.Dirty = true;
      Link.FailingSinceNs = Now;
      Link.NextTryNs = Now + MsToNs(RetryMs);
    } else if (Now >= Link.NextResolveNs) {
      // The name may lead elsewhere now (its link made anew for another
      // device, or made at all while the fallback device was open): the
      // port follows its name.
      Link.NextResolveNs = Now + MsToNs(RetryMs);
      if (TCustomComPort::ResolvePortName(Port.Port()) != Link.Path) {
        try {
          Port.Close();
        } catch (const std::exception&) {
        }
        Link.NextTryNs = Now;
      }
    }
  }
  if (!Port.Connected() && Now >= Link.NextTryNs && !Stopping() && TryOpen(Link, Port) &&
      &Link == &FRadioLink) {
    FFirstUnansweredNs = 0;
    {
      std::lock_guard<std::mutex> Guard(FLinkLock);
      FEcho.clear();
      FEchoAt = 0;
    }
    Reopened();
  }
  return Publish(Link, Port, Now);
}

bool TLinkSupervisor::Publish(TLink& Link, TComPort& Port, std::int64_t Now) {
  const bool Radio = Link.Role == TLinkRole::lrRadio;
  TLinkFacts Facts;
  // Still connecting after a refused attempt: refused, until it connects.
  Facts.Open = Port.Connected() && !(Link.Connecting && Link.OpenError != 0);
  Facts.OpenError = Link.OpenError;
  Facts.Failed = Link.Lost || (Facts.Open && Link.Failure.load() != 0);
  Facts.NowNs = Now;
  Facts.LastRxNs = Link.LastRxNs.load();
  if (Radio)
    Facts.UnansweredSinceNs = FFirstUnansweredNs;
  TLinkState State = DeriveLinkState(Link.Role, Facts);
  if (State == TLinkState::lsSilent && State != Link.Published.State) {
    // Bytes still unread (a busy main thread) are an answer all the same.
    int Waiting = 0;
    try {
      Waiting = Port.BytesWaiting();
    } catch (const std::exception&) {
    }
    Facts.RxPending = Waiting > 0;
    State = DeriveLinkState(Link.Role, Facts);
  }
  if (!Link.Dirty && State == Link.Published.State)
    return false;
  TLinkStatus Status;
  Status.State = State;
  Status.Where = Link.Where;
  Status.Device = Link.Device;
  Status.Baud = FBaud;
  if (State == TLinkState::lsRefused || State == TLinkState::lsMissing)
    Status.Error = Link.OpenError;
  if (State == TLinkState::lsLost) {
    const int Failure = Link.Lost ? Link.LostError : Link.Failure.load();
    if (Failure > 0) {
      Status.Error = Failure;
    } else {
      std::lock_guard<std::mutex> Guard(FLinkLock);
      Status.Detail = Link.FailureText;
    }
  }
  if (State == TLinkState::lsSilent)
    Status.SinceNs = Facts.LastRxNs != 0 ? Facts.LastRxNs : FFirstUnansweredNs;
  Link.Dirty = false;
  if (Status == Link.Published)
    return false;
  Link.Published = Status;
  FHandle->setLink(Link.Role, Status);
  return true;
}

void TLinkSupervisor::NoteWrite(const std::string& Command, bool Read, std::int64_t Ns) {
  if (Read && (FFirstUnansweredNs == 0 || FRadioLink.LastRxNs.load() >= FFirstUnansweredNs))
    FFirstUnansweredNs = Ns;
  std::lock_guard<std::mutex> Guard(FLinkLock);
  FEcho = Command;
  FEchoAt = 0;
}

void TLinkSupervisor::NoteBytes(TLinkRole Role, const std::string& Data, std::int64_t Ns) {
  if (Data.empty())
    return;
  if (Role == TLinkRole::lrVirtual || IsAnswer(Data))
    Link(Role).LastRxNs = Ns;
}

bool TLinkSupervisor::IsAnswer(const std::string& Data) {
  std::lock_guard<std::mutex> Guard(FLinkLock);
  std::size_t At = 0;
  while (At < Data.size() && FEchoAt < FEcho.size() && Data[At] == FEcho[FEchoAt]) {
    ++At;
    ++FEchoAt;
  }
  if (At == Data.size())
    return false;
  // Something beyond the echo: from here on every byte is an answer.
  FEcho.clear();
  FEchoAt = 0;
  return true;
}

} // namespace vela
