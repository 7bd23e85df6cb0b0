// Link supervision of the port worker's two ports: each port's link state
// (see untLinkState.h), published to the worker's handle, and recovery of a
// port that is missing, refused or lost: it closes it, resolves COMn again
// and retries the open once a second, after a minute of failures every five
// seconds. A failed read, write, receive handler or command call counts as
// lost; it never ends the worker.
//
// Which thread calls what is written in untCommPortThread.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "cat/untLinkState.h"

namespace vela {

class TComPort;
class TCommPortThreadHandle;

class TLinkSupervisor {
public:
  // ABaud: the radio line's speed for the link status (0: a network port).
  TLinkSupervisor(std::shared_ptr<TCommPortThreadHandle> AHandle, int ABaud);

  // The first open attempt and publish of a port; without a port the link
  // is published as off.
  void Start(TLinkRole Role, TComPort* Port);
  // Closes a failed port, reopens one whose retry is due (none once Stopping
  // says so) and publishes the states. After the radio port reopened,
  // Reopened runs before its state is published. True when the driver is to
  // be told: a state changed, or this is the first check.
  bool CheckLinks(TComPort& Radio, TComPort* Virtual, const std::function<bool()>& Stopping,
                  const std::function<void()>& Reopened);

  // A failure on an open port: an errno (<= 0 counts as EIO), or an
  // exception. Only the first since the last open counts.
  void NoteFailure(TLinkRole Role, int Errno);
  void NoteFailure(TLinkRole Role, std::exception_ptr Failure);
  bool Failed(TLinkRole Role) const { return Link(Role).Failure.load() != 0; }
  // A network radio port opened and still connecting takes no commands yet.
  bool RadioConnecting() const { return FRadioLink.Connecting; }
  // A command is about to be written to the radio: its echo is no answer,
  // and the driver's first unanswered read (Read) dates the radio's silence.
  void NoteWrite(const std::string& Command, bool Read, std::int64_t Ns);
  // Bytes read from a port at Ns (radio: only an answer beyond the echo
  // counts).
  void NoteBytes(TLinkRole Role, const std::string& Data, std::int64_t Ns);
  // The radio link's last answer (0: none since it opened).
  std::int64_t RadioLastRxNs() const { return FRadioLink.LastRxNs.load(); }

  // Retry pacing: every RetryMs, and every SlowRetryMs once a port has
  // failed for SlowAfterMs. Process-wide.
  static void SetRetryTiming(int RetryMs, int SlowAfterMs, int SlowRetryMs);

private:
  // The link health of one port. The atomics are written by the main thread
  // (receive handlers) as well; the rest belongs to the worker thread.
  struct TLink {
    explicit TLink(TLinkRole ARole) : Role(ARole) {}
    TLinkRole Role;
    // A failure seen on the open port: an errno, or -1 for one without
    // (text in FailureText, under FLinkLock).
    std::atomic<int> Failure{0};
    std::string FailureText;
    // The last byte from the peer since the port opened (radio: no echo).
    std::atomic<std::int64_t> LastRxNs{0};
    int OpenError = 0; // errno of the last failed open
    int LostError = 0; // the failure that closed the port (-1: FailureText)
    bool Lost = false; // closed because it failed, not yet retried
    std::int64_t FailingSinceNs = 0;
    std::int64_t NextTryNs = 0;
    std::string Where; // "COM3 → /dev/ttyUSB0" at the last open attempt
    std::string Device;
    std::string Path; // what the port's name resolved to then
    std::int64_t NextResolveNs = 0;
    bool Dirty = true; // opened, closed or failed since the last publish
    // A network port opened and still connecting: not yet open for the
    // link's state; a failure to connect counts as a failed open.
    bool Connecting = false;
    TLinkStatus Published;
  };

  TLink& Link(TLinkRole Role) { return Role == TLinkRole::lrRadio ? FRadioLink : FVirtualLink; }
  const TLink& Link(TLinkRole Role) const {
    return Role == TLinkRole::lrRadio ? FRadioLink : FVirtualLink;
  }
  // One open attempt; true when the port is open. Paces the next on failure.
  static bool TryOpen(TLink& Link, TComPort& Port);
  static void RetryLater(TLink& Link, std::int64_t Now);
  // A network port that was connecting has connected, or failed to: the
  // failure counts as a failed open.
  static void CheckConnecting(TLink& Link, TComPort& Port, std::int64_t Now);
  bool CheckLink(TLink& Link, TComPort& Port, std::int64_t Now,
                 const std::function<bool()>& Stopping, const std::function<void()>& Reopened);
  bool Publish(TLink& Link, TComPort& Port, std::int64_t Now);
  // True when Data holds a byte that is not the echo of the last command.
  bool IsAnswer(const std::string& Data);

  std::shared_ptr<TCommPortThreadHandle> FHandle;
  TLink FRadioLink{TLinkRole::lrRadio};
  TLink FVirtualLink{TLinkRole::lrVirtual};
  int FBaud;
  bool FNotifyPending = true; // the first check tells the driver the states
  // The first of the driver's reads written since the radio's last answer
  // (worker thread).
  std::int64_t FFirstUnansweredNs = 0;
  // The command last written, whose echo is no answer, and how much of it
  // has come back; the links' failure texts.
  mutable std::mutex FLinkLock;
  std::string FEcho;
  std::size_t FEchoAt = 0;
};

} // namespace vela
