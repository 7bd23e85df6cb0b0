// The serial port component: one object per serial device, holding the line
// settings, opening the device for exclusive use, reading and writing byte
// strings, driving the modem lines, and running one event thread per open
// port that reports received bytes on the main thread through OnRxChar.
//
// Port names: "COM<n>" resolves to "<ports folder>/com<n>" when that entry
// exists (a symbolic link or a device node), otherwise to /dev/ttyS<n-1>. Any
// other name is opened as given (an absolute device path, for tools).
//
// Errors are raised as EComPort with a message number (1 to 23) and errno.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "cat/transport/CPortTypes.h"
#include "platform/untComponent.h"
#include "platform/untExceptions.h"
#include "platform/untThread.h"

namespace vela {

class TCustomComPort;

// The message numbers this port raises. The message table holds a text for
// each number from 1 to 23; the others name operations a tty does not have.
enum : int {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_SetStateFailed = 7,
  CError_ClearComFailed = 10,
  CError_ModemStatFailed = 11,
  CError_EscapeComFailed = 12,
  CError_ConnChangeProp = 14,
};

class EComPort : public Exception {
public:
  // ASystemErrorCode is errno, or -1 when there is none (the message then has
  // no error-code suffix).
  EComPort(int ACode, int ASystemErrorCode = -1);
  int ErrorCode() const { return FErrorCode; }
  int SystemErrorCode() const { return FSystemErrorCode; }

  // The (translated) message of a number, and the whole message with suffix.
  static std::string MessageText(int ACode);
  static std::string FormatMessage(int ACode, int ASystemErrorCode);

  // Binds the "cport" text domain to Dir (a folder holding
  // <lang>/LC_MESSAGES/cport.mo). By default the "locale" folder beside the
  // executable is used when it holds a cport catalogue, else the installed one
  // (CatalogueFolder in platform/untPaths.h).
  static void SetCatalogueDir(const std::string& Dir);

private:
  int FErrorCode;
  int FSystemErrorCode;
};

class TComParity {
public:
  explicit TComParity(TCustomComPort* AComPort) : FComPort(AComPort) {}
  TParityBits Bits() const { return FBits; }
  void setBits(TParityBits Value);

private:
  void Changed();
  TCustomComPort* FComPort;
  TParityBits FBits = prNone;
};

class TComFlowControl {
public:
  explicit TComFlowControl(TCustomComPort* AComPort) : FComPort(AComPort) {}
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  void setControlDTR(TDTRFlowControl Value);
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  void setControlRTS(TRTSFlowControl Value);
  // A kept line is left as the system has it: neither opening the port nor
  // a change of its settings touches it, and the port closes with the
  // system's hang-up setting (HUPCL) unless another line is to stay raised.
  bool KeepDTR() const { return FKeepDTR; }
  void setKeepDTR(bool Value);
  bool KeepRTS() const { return FKeepRTS; }
  void setKeepRTS(bool Value);

private:
  void Changed();
  TCustomComPort* FComPort;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FKeepDTR = false;
  bool FKeepRTS = false;
};

// Time-outs in milliseconds. A ReadInterval of -1 with a ReadTotalConstant
// of 0 makes a read return at once with what is waiting. A write may take at most
// WriteTotalConstant + WriteTotalMultiplier * bytes (both 0: no limit).
class TComTimeouts {
public:
  explicit TComTimeouts(TCustomComPort* AComPort) : FComPort(AComPort) {}
  int ReadInterval() const { return FReadInterval; }
  void setReadInterval(int Value);
  int ReadTotalConstant() const { return FReadTotalC; }
  void setReadTotalConstant(int Value);
  int WriteTotalMultiplier() const { return FWriteTotalM; }
  void setWriteTotalMultiplier(int Value);
  int WriteTotalConstant() const { return FWriteTotalC; }
  void setWriteTotalConstant(int Value);

private:
  void Changed();
  TCustomComPort* FComPort;
  int FReadInterval = -1;
  int FReadTotalC = 0;
  int FWriteTotalM = 100;
  int FWriteTotalC = 1000;
};

// The event thread of an open port: waits with poll() on the device and on
// its stop event, and hands received bytes to the port's dispatch. It ends on
// a stop request, on a hang-up or error of the device, or when a receive
// handler raises. It owns the stop event (an eventfd) it is given.
class TComThread : public TThread {
public:
  TComThread(TCustomComPort* AComPort, int ADevice, int AStopEvent, int AReleaseEvent);
  ~TComThread() override;
  // Sets the stop event; the thread ends at its next wake-up.
  void Stop();
  // True while the calling thread runs this thread's dispatch.
  bool DispatchingHere() const { return FDispatchThread.load() == std::this_thread::get_id(); }

protected:
  void Execute() override;

private:
  void Deliver();
  // Waits while a burst grows: towards Expect bytes, each time for as long
  // as the missing bytes take on the line (Expect no more than Waiting: no
  // expectation), until the line pauses for GapMs. Waiting is the count so
  // far, and becomes the count at the end. True when the stop event fired.
  bool Gather(int Expect, int GapMs, int& Waiting);
  // Waits while delivery is held, for the stop event or a release; true
  // when the stop event fired.
  bool Park();
  // Empties the release event.
  void TakeRelease();
  // Records on the port why delivery ended (not for a stop request).
  void NoteFailure(int Errno);
  // Waits up to TimeoutMs on the stop event alone; true when it fired.
  bool WaitStop(int TimeoutMs);
  TCustomComPort* FComPort;
  int FDevice;
  int FStopEvent;
  int FReleaseEvent; // the port's, signalled when a hold ends
  TSyncMethod FSyncMethod;
  std::int64_t FCharacterNs;
  std::atomic<std::thread::id> FDispatchThread{};
};

class TCustomComPort : public TComponent {
  friend class TComThread;
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;

public:
  explicit TCustomComPort(TComponent* AOwner = nullptr);
  ~TCustomComPort() override;

  const std::string& Port() const { return FPort; }
  void setPort(const std::string& Value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void setBaudRate(TBaudRate Value);
  int CustomBaudRate() const { return FCustomBaudRate; }
  void setCustomBaudRate(int Value);
  TDataBits DataBits() const { return FDataBits; }
  void setDataBits(TDataBits Value);
  TStopBits StopBits() const { return FStopBits; }
  void setStopBits(TStopBits Value);
  TComParity& Parity() { return FParity; }
  TComFlowControl& FlowControl() { return FFlowControl; }
  TComTimeouts& Timeouts() { return FTimeouts; }
  // Whether an open port runs its event thread and raises OnRxChar (the
  // default); without it, received bytes wait to be read. Takes effect at
  // the next Open.
  bool RxEvents() const { return FRxEvents; }
  void setRxEvents(bool Value) { FRxEvents = Value; }
  // smThreadSync delivers OnRxChar on the main thread; smNone on the event
  // thread.
  // Changing it on an open port raises code 14.
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void setSyncMethod(TSyncMethod Value);
  // The byte-stream surface the port worker uses is virtual, so that a
  // connection that is not a serial line (a TCP stream to a rig-control
  // daemon) can stand in for the port.
  virtual bool Connected() const { return FConnected; }
  void setConnected(bool Value);
  TRxCharEvent OnRxChar() const;
  void setOnRxChar(const TRxCharEvent& Value);

  virtual void Open();
  virtual void Close();

  // Writes all bytes; returns their number. Safe on one thread while another
  // thread reads.
  virtual int WritePort(const std::string& Data);
  // Reads up to Count bytes of what is waiting (with the default time-outs it
  // never waits); Data becomes exactly the bytes read.
  virtual int ReadPort(std::string& Data, int Count);
  // On a device without modem lines (a pseudo-terminal) these do nothing.
  virtual void SetDtrLine(bool On);
  virtual void SetRtsLine(bool On);
  // Bytes in the input queue.
  virtual int BytesWaiting();
  // The modem lines as TIOCM_* bits (DTR, RTS, CTS, DSR, CD, RI); 0 on a
  // device without modem lines.
  virtual int ModemStatus();

  // A hint for the event thread: the next burst of received bytes is expected
  // to hold Bytes bytes (0: no expectation). When a burst starts shorter, the
  // event thread waits for the rest, as long as the line keeps delivering at
  // its rate, and hands it over in one piece instead of as the pieces a paced
  // line makes. A shorter burst is handed over once the line pauses. The hint
  // holds for one burst; any thread may give it.
  void ExpectBurst(int Bytes);
  // Without an expected length, a burst is handed over once the line has
  // paused for this long (ms; default DefaultGatherGapMs). 0 gathers nothing,
  // not even an expected burst: bytes are handed over as they arrive, for a
  // reader that passes them on to a program waiting for each reply. Any
  // thread; it applies from the next burst.
  static constexpr int DefaultGatherGapMs = 3;
  void setGatherGapMs(int Ms) { FGatherGapMs = std::max(Ms, 0); }
  // While delivery is held, the event thread leaves received bytes waiting
  // and does not even wake for them: a reader that knows when a reply will
  // be whole (the port worker, which wrote the command and knows the reply's
  // length) reads it itself then, saving the event thread's wake-ups for
  // every piece and the hand-over. Releasing it lets the event thread hand
  // over whatever waits at once. Returns whether delivery is held now (never
  // for a port without an event thread). The worker's thread only; Open
  // starts released.
  virtual bool HoldDelivery(bool On);
  // How long one character takes on the line at the current settings (start
  // bit, data bits, parity, stop bits), in nanoseconds; 0 for a connection
  // that is not paced by a line.
  virtual std::int64_t CharacterTimeNs() const;

  // Why the event thread stopped delivering on this open port, as an errno
  // (EIO for a hang-up or a handler's failure); 0 while it delivers, and
  // again after the next Open.
  virtual int LineFailure() const { return FLineFailure; }
  // True while a port that finishes opening after Open returns (a network
  // connection) is still connecting; LineFailure then tells whether it failed.
  virtual bool Opening() const { return false; }
  // The device Port leads to now, for the operator: a comN link's final
  // target when it exists, else the link's own target, else the resolved
  // path ("COM3" -> "/dev/ttyUSB0").
  static std::string PortDevice(const std::string& Port);

  // The device path Port resolves to now ("COM3" -> "<ports>/com3" or
  // "/dev/ttyS2"; other names unchanged).
  static std::string ResolvePortName(const std::string& Port);
  // Where the resolved path points when it is a symbolic link, else "".
  static std::string PortLinkTarget(const std::string& Port);
  // The process-wide folder searched for com<n> entries; by default "ports"
  // in the folder of the running executable. The program sets it to the
  // folder beside its settings file. An empty Dir restores the default.
  static void SetPortsDir(const std::string& Dir);
  static std::string PortsDir();

protected:
  virtual void OpenDevice();
  virtual void CloseDevice();
  // Waits until the device's output queue is empty, at most LimitMs; false
  // when bytes are still queued then.
  static bool DrainOutput(int Fd, int LimitMs);
  virtual void ApplyAllSettings();
  // Raises or lowers one modem line (Bit: TIOCM_DTR or TIOCM_RTS); a device
  // without modem lines ignores it, any other failure raises Code. Every
  // change of a line goes through here.
  virtual void DriveModemLine(int Fd, int Bit, bool On, int Code);

private:
  class TIoGuard;
  void ApplyLineSettings();
  void ApplyTimeouts();
  // The DTR and RTS lines as the flow control says, kept lines left alone.
  void ApplyModemLines(int Fd);
  // Before the device closes: with both lines off, leaves it at speed 0 so
  // that the next open does not raise them.
  void KeepLinesLowWhileClosed(int Fd);
  // Runs on the main thread (or the event thread with smNone) for each
  // wake-up of the event thread.
  void DispatchRxChar();
  void StopEventThread();
  void CloseReleaseEvent();

  std::string FPort = "COM1";
  TBaudRate FBaudRate = br9600;
  int FCustomBaudRate = 9600;
  TDataBits FDataBits = dbEight;
  TStopBits FStopBits = sbOneStopBit;
  TComParity FParity{this};
  TComFlowControl FFlowControl{this};
  TComTimeouts FTimeouts{this};
  bool FRxEvents = true;
  TSyncMethod FSyncMethod = smThreadSync;

  mutable std::mutex FEventLock; // guards FOnRxChar (set from any thread)
  TRxCharEvent FOnRxChar;

  std::atomic<int> FHandle{-1};
  std::atomic<int> FAbortEvent{-1}; // wakes reads and writes that wait, at Close
  std::atomic<bool> FConnected{false};
  std::atomic<bool> FClosing{false};
  std::atomic<int> FIoCount{0};
  // Counts the ReadPort calls that took bytes, so the event thread can tell
  // bytes a handler left unread from bytes that came after it read.
  std::atomic<unsigned> FReadCount{0};
  TComThread* FEventThread = nullptr;
  // Set while Close stops the event thread: deliveries still queued are dropped.
  std::atomic<bool> FStopping{false};
  std::atomic<int> FLineFailure{0};
  // The expected length of the next burst (ExpectBurst); taken by the event
  // thread when the burst starts.
  std::atomic<int> FExpectBurst{0};
  std::atomic<int> FGatherGapMs{DefaultGatherGapMs};
  // HoldDelivery: the flag the event thread reads, and the event that wakes
  // it when the hold ends (made at Open, closed at Close; FReleaseLock keeps
  // a release from signalling a closed descriptor).
  std::atomic<bool> FHoldDelivery{false};
  std::mutex FReleaseLock;
  int FReleaseEvent = -1;
};

class TComPort : public TCustomComPort {
public:
  using TCustomComPort::TCustomComPort;
};

} // namespace vela
