#include "cat/transport/CPort.h"

#include "cat/transport/CPortTermios2.h"

#include "platform/untPaths.h"

#include <fcntl.h>
#include <libintl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace vela {

namespace {

const char* const CPortDomain = "cport";

const char* const CPortMessages[23] = {"Unable to open com port",
                                       "WriteFile function failed",
                                       "ReadFile function failed",
                                       "Invalid Async parameter",
                                       "PurgeComm function failed",
                                       "Unable to get async status",
                                       "SetCommState function failed",
                                       "SetCommTimeouts failed",
                                       "SetupComm function failed",
                                       "ClearCommError function failed",
                                       "GetCommModemStatus function failed",
                                       "EscapeCommFunction function failed",
                                       "TransmitCommChar function failed",
                                       "Cannot set property while connected",
                                       "EnumPorts function failed",
                                       "Failed to store settings",
                                       "Failed to load settings",
                                       "Link (un)registration failed",
                                       "Cannot change led state if ComPort is selected",
                                       "Cannot wait for event if event thread is created",
                                       "WaitForEvent method failed",
                                       "A component is linked to OnRxBuf event",
                                       "Registry error"};

// The operating system's own text for the error, then its number.
const char* const CPortSuffix = ": %s (error %d)";

// The kernel's "ioctl not supported by this driver" code, which some tty
// drivers let through to user space.
constexpr int ENOIOCTLCMD_ = 515;

void BindCatalogueDir(const std::string& Dir) {
  ::bindtextdomain(CPortDomain, Dir.c_str());
  ::bind_textdomain_codeset(CPortDomain, "UTF-8");
}

std::once_flag CatalogueOnce;

void EnsureCatalogue() {
  std::call_once(CatalogueOnce, [] { BindCatalogue(CPortDomain); });
}

std::string Translate(const char* MsgId) {
  EnsureCatalogue();
  return ::dgettext(CPortDomain, MsgId);
}

std::mutex PortsDirLock;
std::string PortsDirValue; // empty: the default

// "COM<n>" (any case, n >= 1): n; otherwise 0.
unsigned ComNumber(const std::string& Name) {
  if (Name.size() < 4 || Name.size() > 12 || ::strncasecmp(Name.c_str(), "COM", 3) != 0)
    return 0;
  unsigned long long N = 0;
  for (size_t I = 3; I < Name.size(); ++I) {
    if (Name[I] < '0' || Name[I] > '9')
      return 0;
    N = N * 10 + static_cast<unsigned>(Name[I] - '0');
  }
  return N >= 1 && N <= 1000000 ? static_cast<unsigned>(N) : 0;
}

bool NoModemLines(int Err) {
  return Err == ENOTTY || Err == EINVAL || Err == ENOIOCTLCMD_;
}

// Raises or lowers one modem line; a device without modem lines ignores it.
void SetModemLine(int Fd, int Bit, bool On, int Code) {
  int Bits = Bit;
  if (::ioctl(Fd, On ? TIOCMBIS : TIOCMBIC, &Bits) != 0 && !NoModemLines(errno))
    throw EComPort(Code, errno);
}

struct TSpeed {
  int Baud;
  speed_t Code;
};
const TSpeed StandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

speed_t StandardSpeed(int Baud) {
  for (const TSpeed& S : StandardSpeeds)
    if (S.Baud == Baud)
      return S.Code;
  return B0;
}

using TClock = std::chrono::steady_clock;

int MsUntil(TClock::time_point Deadline) {
  const auto Left =
      std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  if (Left <= 0)
    return 0;
  return Left > INT_MAX ? INT_MAX : static_cast<int>(Left) + 1;
}

void SignalEvent(int Fd) {
  if (Fd < 0)
    return;
  const std::uint64_t One = 1;
  while (::write(Fd, &One, sizeof(One)) < 0 && errno == EINTR) {
  }
}

} // namespace

// ---------------------------------------------------------------- EComPort

EComPort::EComPort(int ACode, int ASystemErrorCode)
    : Exception(FormatMessage(ACode, ASystemErrorCode)), FErrorCode(ACode),
      FSystemErrorCode(ASystemErrorCode) {}

std::string EComPort::MessageText(int ACode) {
  if (ACode < 1 || ACode > 23)
    return std::string();
  return Translate(CPortMessages[ACode - 1]);
}

std::string EComPort::FormatMessage(int ACode, int ASystemErrorCode) {
  std::string Text = MessageText(ACode);
  if (ASystemErrorCode == -1)
    return Text;
  // Text and number go in by substitution, not printf: a translated suffix
  // with another conversion in it must not be able to crash the program.
  std::string Suffix = Translate(CPortSuffix);
  if (Suffix.find("%s") == std::string::npos || Suffix.find("%d") == std::string::npos)
    Suffix = CPortSuffix;
  const std::string Number = std::to_string(ASystemErrorCode);
  const std::string Reason = std::generic_category().message(ASystemErrorCode);
  std::string Result;
  for (size_t I = 0; I < Suffix.size(); ++I) {
    if (Suffix[I] == '%' && I + 1 < Suffix.size() &&
        (Suffix[I + 1] == 's' || Suffix[I + 1] == 'd')) {
      Result += Suffix[I + 1] == 's' ? Reason : Number;
      ++I;
    } else {
      Result += Suffix[I];
    }
  }
  return Text + Result;
}

void EComPort::SetCatalogueDir(const std::string& Dir) {
  EnsureCatalogue();
  BindCatalogueDir(Dir);
}

// --------------------------------------------------------- settings objects

void TComParity::Changed() {
  if (FComPort->Connected())
    FComPort->ApplyLineSettings();
}
void TComParity::setBits(TParityBits Value) {
  if (Value != FBits) {
    FBits = Value;
    Changed();
  }
}
void TComFlowControl::Changed() {
  if (FComPort->Connected())
    FComPort->ApplyLineSettings();
}

#define VELA_FLOW_SETTER(Name, Field, Type)                                                        \
  void TComFlowControl::set##Name(Type Value) {                                                    \
    if (Value != Field) {                                                                          \
      Field = Value;                                                                               \
      Changed();                                                                                   \
    }                                                                                              \
  }
VELA_FLOW_SETTER(ControlDTR, FControlDTR, TDTRFlowControl)
VELA_FLOW_SETTER(ControlRTS, FControlRTS, TRTSFlowControl)
VELA_FLOW_SETTER(KeepDTR, FKeepDTR, bool)
VELA_FLOW_SETTER(KeepRTS, FKeepRTS, bool)
#undef VELA_FLOW_SETTER

void TComTimeouts::Changed() {
  if (FComPort->Connected())
    FComPort->ApplyTimeouts();
}
#define VELA_TIMEOUT_SETTER(Name, Field)                                                           \
  void TComTimeouts::set##Name(int Value) {                                                        \
    if (Value != Field) {                                                                          \
      Field = Value;                                                                               \
      Changed();                                                                                   \
    }                                                                                              \
  }
VELA_TIMEOUT_SETTER(ReadInterval, FReadInterval)
VELA_TIMEOUT_SETTER(ReadTotalConstant, FReadTotalC)
VELA_TIMEOUT_SETTER(WriteTotalMultiplier, FWriteTotalM)
VELA_TIMEOUT_SETTER(WriteTotalConstant, FWriteTotalC)
#undef VELA_TIMEOUT_SETTER

// --------------------------------------------------------------- TComThread

TComThread::TComThread(TCustomComPort* AComPort, int ADevice, int AStopEvent, int AReleaseEvent)
    : FComPort(AComPort), FDevice(ADevice), FStopEvent(AStopEvent), FReleaseEvent(AReleaseEvent),
      FSyncMethod(AComPort->SyncMethod()), FCharacterNs(AComPort->CharacterTimeNs()) {}

TComThread::~TComThread() {
  if (Started() && !Finished() && !DispatchingHere()) {
    Stop();
    WaitFor();
  }
  if (FStopEvent >= 0)
    ::close(FStopEvent);
}

void TComThread::Stop() {
  Terminate();
  SignalEvent(FStopEvent);
}

bool TComThread::WaitStop(int TimeoutMs) {
  pollfd P{FStopEvent, POLLIN, 0};
  const int R = ::poll(&P, 1, TimeoutMs);
  return R > 0 || Terminated();
}

bool TComThread::Park() {
  while (FComPort->FHoldDelivery.load() && !Terminated()) {
    pollfd P[2] = {{FStopEvent, POLLIN, 0}, {FReleaseEvent, POLLIN, 0}};
    if (::poll(P, 2, -1) < 0 && errno != EINTR)
      return false;
    if (P[0].revents != 0)
      return true;
    TakeRelease();
  }
  return Terminated();
}

void TComThread::TakeRelease() {
  std::uint64_t Count;
  while (::read(FReleaseEvent, &Count, sizeof(Count)) < 0 && errno == EINTR) {
  }
}

void TComThread::Deliver() {
  auto Run = [this] {
    FDispatchThread = std::this_thread::get_id();
    struct TReset {
      std::atomic<std::thread::id>& Id;
      ~TReset() { Id = std::thread::id(); }
    } Reset{FDispatchThread};
    FComPort->DispatchRxChar();
  };
  if (FSyncMethod == smNone)
    Run();
  else
    Synchronize(Run);
}

namespace {
// Receive gathering: a burst is delivered after this long or this many bytes
// at the latest.
constexpr int GatherMaxMs = 30;
constexpr int GatherMaxBytes = 512;
} // namespace

bool TComThread::Gather(int Expect, int GapMs, int& Waiting) {
  // Without an expectation: until the line pauses for GapMs, for a short
  // time at most. With one: one wait per stretch of missing bytes, not one
  // per few milliseconds; a line that runs at its rate fills
  // the burst in about one wait, a reply shorter than expected ends with the
  // first wait that brings nothing, and a line that trickles slower than its
  // rate is handed over after twice the burst's time on the line.
  const bool Expecting = Expect > Waiting;
  const int Target = Expecting ? Expect : GatherMaxBytes;
  const int LimitMs =
      Expecting ? static_cast<int>(2 * Expect * FCharacterNs / 1000000) + GatherMaxMs : GatherMaxMs;
  for (int Spent = 0; Waiting < Target && Spent < LimitMs;) {
    const std::int64_t MissingNs = (Target - Waiting) * FCharacterNs;
    const int WaitMs =
        Expecting ? std::max<int>(GapMs, static_cast<int>(MissingNs / 1000000) + 1) : GapMs;
    Spent += WaitMs;
    const int Before = Waiting;
    if (WaitStop(WaitMs))
      return true;
    if (::ioctl(FDevice, FIONREAD, &Waiting) != 0 || Waiting == Before)
      break;
  }
  return false;
}

void TComThread::Execute() {
  // Named for the operator's tools (top -H, the benchmarks' per-thread counts).
  ::pthread_setname_np(::pthread_self(), "vela-port-rx");
  // POLLIN stays set while bytes are unread. When a handler took nothing,
  // the same bytes are not delivered again until more arrive (re-checked
  // after a short wait), so an idle handler costs no busy loop.
  bool Consumed = true;
  int Delivered = 0; // the waiting count after the last delivery
  int Failure = 0;   // why the device ended delivery (errno), 0 for a stop
  while (!Terminated()) {
    // Held, the bytes are another reader's: not even their arrival wakes
    // this thread (a hang-up is then seen once the hold ends).
    if (FComPort->FHoldDelivery.load() && Park())
      break;
    pollfd P[3] = {{FDevice, POLLIN, 0}, {FStopEvent, POLLIN, 0}, {FReleaseEvent, POLLIN, 0}};
    const int R = ::poll(P, 3, -1);
    if (R < 0) {
      if (errno == EINTR)
        continue;
      Failure = errno;
      break;
    }
    if (P[1].revents != 0 || Terminated())
      break;
    if (P[2].revents != 0)
      TakeRelease();
    // A hang-up (the other end of a pty closed, an adapter pulled) or an
    // error ends delivery: the device will not recover under this handle.
    if (P[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      Failure = (P[0].revents & POLLNVAL) ? EBADF : EIO;
      break;
    }
    // The first bytes of a reply whose delivery was held after this wait
    // began: they are left for the reader that holds it.
    if (!(P[0].revents & POLLIN) || FComPort->FHoldDelivery.load())
      continue;
    int Waiting = 0;
    if (::ioctl(FDevice, FIONREAD, &Waiting) != 0) {
      Failure = errno;
      break;
    }
    if (!Consumed && Waiting == Delivered) {
      if (WaitStop(50))
        break;
      continue;
    }
    // A UART (or a radio that paces its reply) hands bytes over one at a
    // time; each delivery is a round trip to the main thread. Gather the
    // burst first: to the length the port was told to expect, else until the
    // line pauses (unless the port is to hand bytes over as they come).
    const int Expect = std::min(FComPort->FExpectBurst.exchange(0), GatherMaxBytes);
    const int GapMs = FComPort->FGatherGapMs.load();
    if (GapMs > 0 && Gather(Expect, GapMs, Waiting))
      break;
    const unsigned ReadsBefore = FComPort->FReadCount;
    // A handler's exception leaves Execute and ends the thread.
    try {
      Deliver();
    } catch (const EComPort& E) {
      NoteFailure(E.SystemErrorCode() > 0 ? E.SystemErrorCode() : EIO);
      throw;
    } catch (...) {
      NoteFailure(EIO);
      throw;
    }
    // After a delivery the port may be closed (even freed) by the handler;
    // Close sets Terminated before it lets go of the device.
    if (Terminated())
      break;
    Consumed = FComPort->FReadCount != ReadsBefore;
    if (::ioctl(FDevice, FIONREAD, &Delivered) != 0) {
      Failure = errno;
      break;
    }
  }
  NoteFailure(Failure);
}

void TComThread::NoteFailure(int Errno) {
  // Close sets Terminated before it lets go of the port, and waits for this
  // thread otherwise, so the port is still there when this is false.
  if (Errno != 0 && !Terminated())
    FComPort->FLineFailure = Errno;
}

// ----------------------------------------------------------- TCustomComPort

// Counts a read, write or query in progress so that Close can wait for it
// before the descriptor is released (and so never reused under it).
class TCustomComPort::TIoGuard {
public:
  TIoGuard(TCustomComPort& APort, int Code) : FPort(APort) {
    ++FPort.FIoCount;
    Fd = FPort.FClosing ? -1 : FPort.FHandle.load();
    if (Fd < 0) {
      Release();
      throw EComPort(Code, EBADF);
    }
  }
  ~TIoGuard() { Release(); }
  TIoGuard(const TIoGuard&) = delete;
  TIoGuard& operator=(const TIoGuard&) = delete;
  int Fd;

private:
  void Release() {
    if (--FPort.FIoCount == 0 && FPort.FClosing)
      TThread::NotifyStateChange();
  }
  TCustomComPort& FPort;
};

TCustomComPort::TCustomComPort(TComponent* AOwner) : TComponent(AOwner) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
  }
}

void TCustomComPort::setPort(const std::string& Value) {
  if (Value == FPort)
    return;
  const bool WasOpen = FConnected;
  if (WasOpen)
    Close();
  FPort = Value;
  if (WasOpen)
    Open();
}

void TCustomComPort::setBaudRate(TBaudRate Value) {
  if (Value != FBaudRate) {
    FBaudRate = Value;
    if (FConnected)
      ApplyLineSettings();
  }
}

void TCustomComPort::setCustomBaudRate(int Value) {
  if (Value != FCustomBaudRate) {
    FCustomBaudRate = Value;
    if (FConnected)
      ApplyLineSettings();
  }
}

void TCustomComPort::setDataBits(TDataBits Value) {
  if (Value != FDataBits) {
    FDataBits = Value;
    if (FConnected)
      ApplyLineSettings();
  }
}

void TCustomComPort::setStopBits(TStopBits Value) {
  if (Value != FStopBits) {
    FStopBits = Value;
    if (FConnected)
      ApplyLineSettings();
  }
}

void TCustomComPort::setSyncMethod(TSyncMethod Value) {
  if (FConnected)
    throw EComPort(CError_ConnChangeProp);
  FSyncMethod = Value;
}

void TCustomComPort::setConnected(bool Value) {
  if (Value)
    Open();
  else
    Close();
}

TRxCharEvent TCustomComPort::OnRxChar() const {
  std::lock_guard<std::mutex> Guard(FEventLock);
  return FOnRxChar;
}

void TCustomComPort::setOnRxChar(const TRxCharEvent& Value) {
  std::lock_guard<std::mutex> Guard(FEventLock);
  FOnRxChar = Value;
}

void TCustomComPort::Open() {
  if (FConnected)
    return;
  OpenDevice();
  FConnected = true;
  try {
    ApplyAllSettings();
  } catch (...) {
    CloseDevice();
    FConnected = false;
    throw;
  }
  if (!FRxEvents)
    return;
  const int Stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (Stop < 0) {
    const int Err = errno;
    CloseDevice();
    FConnected = false;
    throw EComPort(CError_OpenFailed, Err);
  }
  const int Release = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (Release < 0) {
    const int Err = errno;
    ::close(Stop);
    CloseDevice();
    FConnected = false;
    throw EComPort(CError_OpenFailed, Err);
  }
  FHoldDelivery = false;
  {
    std::lock_guard<std::mutex> Guard(FReleaseLock);
    FReleaseEvent = Release;
  }
  auto* Thread = new TComThread(this, FHandle, Stop, Release);
  try {
    Thread->Start();
  } catch (const std::system_error& E) {
    delete Thread;
    CloseReleaseEvent();
    CloseDevice();
    FConnected = false;
    throw EComPort(CError_OpenFailed, E.code().value());
  }
  FEventThread = Thread;
}

void TCustomComPort::OpenDevice() {
  const std::string Path = ResolvePortName(FPort);
  const int Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0)
    throw EComPort(CError_OpenFailed, errno);
  // Exclusive use: the lock keeps out every other opener that locks (this
  // program, other serial programs); TIOCEXCL keeps out other plain opens
  // by users without CAP_SYS_ADMIN. A held device reports EBUSY.
  if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
    const int Err = errno;
    ::close(Fd);
    throw EComPort(CError_OpenFailed, Err == EWOULDBLOCK ? EBUSY : Err);
  }
  ::ioctl(Fd, TIOCEXCL);
  const int Abort = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (Abort < 0) {
    const int Err = errno;
    ::ioctl(Fd, TIOCNXCL);
    ::close(Fd);
    throw EComPort(CError_OpenFailed, Err);
  }
  FClosing = false;
  FStopping = false;
  FLineFailure = 0;
  FAbortEvent = Abort;
  FHandle = Fd;
}

void TCustomComPort::CloseDevice() {
  const int Fd = FHandle.exchange(-1);
  if (Fd >= 0) {
    KeepLinesLowWhileClosed(Fd);
    ::ioctl(Fd, TIOCNXCL);
    // Unlock explicitly: an event thread that outlives Close must not keep
    // the device locked against the next Open.
    ::flock(Fd, LOCK_UN);
    ::close(Fd);
  }
  const int Abort = FAbortEvent.exchange(-1);
  if (Abort >= 0)
    ::close(Abort);
}

void TCustomComPort::Close() {
  if (!FConnected)
    return;
  FStopping = true;
  StopEventThread();
  CloseReleaseEvent();
  // Wake reads and writes that wait, refuse new ones, and let those under
  // way leave before the descriptor goes.
  FClosing = true;
  SignalEvent(FAbortEvent);
  TThread::WaitWhileServing([this] { return FIoCount.load() == 0; });
  const int Fd = FHandle;
  if (Fd >= 0) {
    // Bytes already written (a transmitter's release, say) still leave:
    // wait until the output queue is empty, bounded by the write time-out,
    // and drop only what is left then, so that close() itself never waits
    // for a line that does not move.
    const bool Drained = DrainOutput(Fd, std::max(FTimeouts.WriteTotalConstant(), 0));
    ::tcflush(Fd, Drained ? TCIFLUSH : TCIOFLUSH);
  }
  CloseDevice();
  FConnected = false;
}

bool TCustomComPort::DrainOutput(int Fd, int LimitMs) {
  const auto Deadline = TClock::now() + std::chrono::milliseconds(LimitMs);
  for (;;) {
    int Queued = 0;
    if (::ioctl(Fd, TIOCOUTQ, &Queued) != 0 || Queued <= 0)
      return true;
    if (TClock::now() >= Deadline)
      return false;
    // A byte at the slowest rate takes about 10 ms; a short look suffices.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void TCustomComPort::StopEventThread() {
  TComThread* Thread = FEventThread;
  if (!Thread)
    return;
  FEventThread = nullptr;
  Thread->Stop();
  if (Thread->DispatchingHere()) {
    // Closed from inside this port's own delivery: the event thread is
    // waiting for this very call to return, so it cannot be waited for. It
    // ends by itself after the delivery, touching nothing of the port, and
    // frees itself.
    Thread->setFreeOnTerminate(true);
    return;
  }
  std::this_thread::yield();
  Thread->WaitFor();
  delete Thread;
}

void TCustomComPort::ApplyAllSettings() {
  ApplyLineSettings();
  ApplyTimeouts();
}

void TCustomComPort::ApplyTimeouts() {
  // The time-outs are kept by ReadPort and WritePort; the device stays in
  // non-blocking raw mode (VMIN = VTIME = 0).
}

void TCustomComPort::ApplyModemLines(int Fd) {
  if (!FFlowControl.KeepDTR())
    DriveModemLine(Fd, TIOCM_DTR, FFlowControl.ControlDTR() != dtrDisable, CError_SetStateFailed);
  if (!FFlowControl.KeepRTS() && FFlowControl.ControlRTS() != rtsHandshake)
    DriveModemLine(Fd, TIOCM_RTS, FFlowControl.ControlRTS() == rtsEnable, CError_SetStateFailed);
}

void TCustomComPort::KeepLinesLowWhileClosed(int Fd) {
  // The tty keeps its settings between opens, and open() raises DTR and RTS
  // unless the kept speed is 0. With both lines off the device is left at
  // speed 0 (which lowers both, as they are anyway), so the next open (a
  // retry, Reset CAT) raises neither; the lines may rise only when the line
  // settings leave speed 0, and ApplyLineSettings lowers them in its next
  // call. A line to be raised or kept stays as it is, so no speed 0 then.
  if (FFlowControl.KeepDTR() || FFlowControl.KeepRTS() || FFlowControl.ControlDTR() != dtrDisable ||
      FFlowControl.ControlRTS() != rtsDisable)
    return;
  termios T;
  if (::tcgetattr(Fd, &T) != 0)
    return; // a device that is gone keeps nothing
  ::cfsetospeed(&T, B0);
  ::tcsetattr(Fd, TCSANOW, &T);
}

void TCustomComPort::DriveModemLine(int Fd, int Bit, bool On, int Code) {
  SetModemLine(Fd, Bit, On, Code);
}

void TCustomComPort::ApplyLineSettings() {
  const int Fd = FHandle;
  if (Fd < 0)
    return;
  // The modem lines come first: opening a device raises both, and a line
  // that is to be low (it may key a transmitter) goes low before anything
  // else happens on the port.
  ApplyModemLines(Fd);
  termios T;
  if (::tcgetattr(Fd, &T) != 0)
    throw EComPort(CError_SetStateFailed, errno);
  // Closing with HUPCL drops both lines. Only a kept line follows the
  // system's choice, and only while no line is to stay raised after close.
  const bool Raises = (!FFlowControl.KeepDTR() && FFlowControl.ControlDTR() != dtrDisable) ||
                      (!FFlowControl.KeepRTS() && FFlowControl.ControlRTS() != rtsDisable);
  const bool Keeps = FFlowControl.KeepDTR() || FFlowControl.KeepRTS();
  const tcflag_t HangUp = Keeps && !Raises ? (T.c_cflag & HUPCL) : 0;
  // Built from scratch: raw bytes both ways, no echo, no signals.
  T.c_iflag = 0;
  T.c_oflag = 0;
  T.c_lflag = 0;
  T.c_cflag = CREAD | CLOCAL | HangUp;
  std::memset(T.c_cc, 0, sizeof(T.c_cc));
  T.c_cc[VMIN] = 0;
  T.c_cc[VTIME] = 0;
  switch (FDataBits) {
  case dbFive:
    T.c_cflag |= CS5;
    break;
  case dbSix:
    T.c_cflag |= CS6;
    break;
  case dbSeven:
    T.c_cflag |= CS7;
    break;
  case dbEight:
    T.c_cflag |= CS8;
    break;
  default:
    throw EComPort(CError_SetStateFailed, EINVAL);
  }
  switch (FStopBits) {
  case sbOneStopBit:
    break;
  case sbOne5StopBits: // 1.5 with five data bits, as the UART does it
  case sbTwoStopBits:
    T.c_cflag |= CSTOPB;
    break;
  default:
    throw EComPort(CError_SetStateFailed, EINVAL);
  }
  switch (FParity.Bits()) {
  case prNone:
    break;
  case prOdd:
    T.c_cflag |= PARENB | PARODD;
    break;
  case prEven:
    T.c_cflag |= PARENB;
    break;
  case prMark:
    T.c_cflag |= PARENB | CMSPAR | PARODD;
    break;
  case prSpace:
    T.c_cflag |= PARENB | CMSPAR;
    break;
  default:
    throw EComPort(CError_SetStateFailed, EINVAL);
  }
  if (FFlowControl.ControlRTS() == rtsHandshake)
    T.c_cflag |= CRTSCTS;

  const int Baud = BaudRateToInt(FBaudRate, FCustomBaudRate);
  if (Baud <= 0)
    throw EComPort(CError_SetStateFailed, EINVAL);
  const speed_t Speed = StandardSpeed(Baud);
  ::cfsetispeed(&T, Speed != B0 ? Speed : B38400);
  ::cfsetospeed(&T, Speed != B0 ? Speed : B38400);
  if (::tcsetattr(Fd, TCSANOW, &T) != 0)
    throw EComPort(CError_SetStateFailed, errno);
  if (Speed == B0) {
    if (const int Err = termios2::SetCustomBaud(Fd, Baud))
      throw EComPort(CError_SetStateFailed, Err);
  }
  // Again after the line settings: leaving speed 0 raises both lines.
  ApplyModemLines(Fd);
}

void TCustomComPort::DispatchRxChar() {
  if (FStopping)
    return;
  const int Count = BytesWaiting();
  if (Count <= 0)
    return;
  const TRxCharEvent Handler = OnRxChar();
  // Nothing of the port is touched after the handler: it may close or free it.
  if (Handler.Assigned())
    Handler(this, Count);
}

int TCustomComPort::WritePort(const std::string& Data) {
  if (Data.empty())
    return 0;
  TIoGuard Io(*this, CError_WriteFailed);
  const long long Mult = FTimeouts.WriteTotalMultiplier();
  const long long Const = FTimeouts.WriteTotalConstant();
  const bool Limited = Mult >= 0 && Const >= 0 && (Mult > 0 || Const > 0);
  const auto Deadline =
      TClock::now() +
      std::chrono::milliseconds(Limited ? Mult * static_cast<long long>(Data.size()) + Const : 0);
  size_t Done = 0;
  while (Done < Data.size()) {
    const ssize_t N = ::write(Io.Fd, Data.data() + Done, Data.size() - Done);
    if (N > 0) {
      Done += static_cast<size_t>(N);
      continue;
    }
    if (N < 0 && errno == EINTR)
      continue;
    if (N < 0 && errno != EAGAIN)
      throw EComPort(CError_WriteFailed, errno);
    int Wait = -1;
    if (Limited) {
      Wait = MsUntil(Deadline);
      if (Wait == 0)
        throw EComPort(CError_WriteFailed, ETIMEDOUT);
    }
    pollfd P[2] = {{Io.Fd, POLLOUT, 0}, {FAbortEvent.load(), POLLIN, 0}};
    const int R = ::poll(P, 2, Wait);
    if (R < 0) {
      if (errno == EINTR)
        continue;
      throw EComPort(CError_WriteFailed, errno);
    }
    if (R == 0)
      throw EComPort(CError_WriteFailed, ETIMEDOUT);
    if (P[1].revents != 0)
      throw EComPort(CError_WriteFailed, ECANCELED);
    if ((P[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(P[0].revents & POLLOUT))
      throw EComPort(CError_WriteFailed, EIO);
  }
  return static_cast<int>(Done);
}

int TCustomComPort::ReadPort(std::string& Data, int Count) {
  Data.clear();
  if (Count <= 0)
    return 0;
  TIoGuard Io(*this, CError_ReadFailed);
  const size_t Want = static_cast<size_t>(Count);
  const long long Interval = FTimeouts.ReadInterval();
  const long long Const = FTimeouts.ReadTotalConstant();
  // Interval -1 with a total of 0: return at once with what is waiting.
  const bool Immediate = Interval == -1 && Const == 0;
  const bool Limited = Const > 0;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Limited ? Const : 0);
  // The buffer grows by what actually arrives, never by Count at once.
  constexpr size_t Chunk = 65536;
  for (;;) {
    while (Data.size() < Want) {
      const size_t Old = Data.size();
      const size_t Step = std::min(Want - Old, Chunk);
      Data.resize(Old + Step);
      const ssize_t N = ::read(Io.Fd, &Data[Old], Step);
      Data.resize(Old + (N > 0 ? static_cast<size_t>(N) : 0));
      if (N > 0)
        continue;
      if (N == 0 || errno == EAGAIN)
        break;
      if (errno == EINTR)
        continue;
      throw EComPort(CError_ReadFailed, errno);
    }
    if (Data.size() == Want || Immediate || (Interval == -1 && !Data.empty()))
      break;
    int Wait = -1;
    if (Limited) {
      Wait = MsUntil(Deadline);
      if (Wait == 0)
        break;
    }
    if (Interval > 0 && !Data.empty())
      Wait = Wait < 0 ? static_cast<int>(std::min<long long>(Interval, INT_MAX))
                      : static_cast<int>(std::min<long long>(Interval, Wait));
    pollfd P[2] = {{Io.Fd, POLLIN, 0}, {FAbortEvent.load(), POLLIN, 0}};
    const int R = ::poll(P, 2, Wait);
    if (R < 0) {
      if (errno == EINTR)
        continue;
      throw EComPort(CError_ReadFailed, errno);
    }
    if (R == 0)
      break;
    if (P[1].revents != 0)
      throw EComPort(CError_ReadFailed, ECANCELED);
    if ((P[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(P[0].revents & POLLIN)) {
      if (!Data.empty())
        break;
      throw EComPort(CError_ReadFailed, EIO);
    }
  }
  if (!Data.empty())
    ++FReadCount;
  return static_cast<int>(Data.size());
}

void TCustomComPort::SetDtrLine(bool On) {
  TIoGuard Io(*this, CError_EscapeComFailed);
  DriveModemLine(Io.Fd, TIOCM_DTR, On, CError_EscapeComFailed);
}

void TCustomComPort::SetRtsLine(bool On) {
  TIoGuard Io(*this, CError_EscapeComFailed);
  DriveModemLine(Io.Fd, TIOCM_RTS, On, CError_EscapeComFailed);
}

bool TCustomComPort::HoldDelivery(bool On) {
  std::lock_guard<std::mutex> Guard(FReleaseLock);
  if (FReleaseEvent < 0) {
    FHoldDelivery = false;
    return false;
  }
  if (FHoldDelivery.exchange(On) && !On)
    SignalEvent(FReleaseEvent);
  return On;
}

void TCustomComPort::CloseReleaseEvent() {
  std::lock_guard<std::mutex> Guard(FReleaseLock);
  FHoldDelivery = false;
  if (FReleaseEvent >= 0)
    ::close(FReleaseEvent);
  FReleaseEvent = -1;
}

void TCustomComPort::ExpectBurst(int Bytes) {
  FExpectBurst = std::max(Bytes, 0);
}

std::int64_t TCustomComPort::CharacterTimeNs() const {
  static constexpr int DataBitCounts[] = {5, 6, 7, 8};
  const int Data = FDataBits <= dbEight ? DataBitCounts[FDataBits] : 8;
  const int Parity = FParity.Bits() == prNone ? 0 : 1;
  // One and a half stop bits count as two: the estimate errs on the long side.
  const int Stop = FStopBits == sbOneStopBit ? 1 : 2;
  const std::int64_t Baud = BaudRateToInt(FBaudRate, FCustomBaudRate);
  return Baud > 0 ? (1 + Data + Parity + Stop) * 1000000000LL / Baud : 0;
}

int TCustomComPort::BytesWaiting() {
  TIoGuard Io(*this, CError_ClearComFailed);
  int Count = 0;
  if (::ioctl(Io.Fd, FIONREAD, &Count) != 0)
    throw EComPort(CError_ClearComFailed, errno);
  return Count;
}

int TCustomComPort::ModemStatus() {
  TIoGuard Io(*this, CError_ModemStatFailed);
  int Bits = 0;
  if (::ioctl(Io.Fd, TIOCMGET, &Bits) != 0) {
    if (NoModemLines(errno))
      return 0;
    throw EComPort(CError_ModemStatFailed, errno);
  }
  return Bits;
}

std::string TCustomComPort::ResolvePortName(const std::string& Port) {
  const unsigned N = ComNumber(Port);
  if (N == 0)
    return Port;
  const std::string Link = PortsDir() + "/com" + std::to_string(N);
  struct stat St;
  if (::lstat(Link.c_str(), &St) == 0)
    return Link;
  return "/dev/ttyS" + std::to_string(N - 1);
}

std::string TCustomComPort::PortLinkTarget(const std::string& Port) {
  const std::string Path = ResolvePortName(Port);
  char Buf[PATH_MAX];
  const ssize_t N = ::readlink(Path.c_str(), Buf, sizeof(Buf) - 1);
  return N > 0 ? std::string(Buf, static_cast<size_t>(N)) : std::string();
}

std::string TCustomComPort::PortDevice(const std::string& Port) {
  const std::string Path = ResolvePortName(Port);
  char Buf[PATH_MAX];
  if (::realpath(Path.c_str(), Buf))
    return Buf;
  // A link to a device that is gone: name what it pointed at.
  const std::string Target = PortLinkTarget(Port);
  return Target.empty() ? Path : Target;
}

void TCustomComPort::SetPortsDir(const std::string& Dir) {
  std::lock_guard<std::mutex> Guard(PortsDirLock);
  PortsDirValue = Dir;
}

std::string TCustomComPort::PortsDir() {
  {
    std::lock_guard<std::mutex> Guard(PortsDirLock);
    if (!PortsDirValue.empty())
      return PortsDirValue;
  }
  return ExecutableFolder() + "ports";
}

} // namespace vela
