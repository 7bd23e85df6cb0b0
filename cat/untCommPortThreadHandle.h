// What a driver and its port worker share: the worker's liveness, which
// driver command reached the line, and the latest link snapshots. Small on
// purpose, so that the worker's parts and the driver can hold it without
// knowing the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "cat/untLinkState.h"

namespace vela {

class TCommPortThread;

// Shared between a driver and its worker, so that the driver never touches a
// worker that has freed itself, and can wait until the worker has closed its
// ports. The worker clears Thread when its destruction begins and sets Ended
// once its ports are closed.
class TCommPortThreadHandle {
public:
  std::mutex Lock;
  TCommPortThread* Thread = nullptr;
  std::atomic<bool> Ended{false};

  // Which of the driver's commands reached the line. Every call of the
  // command hook has a number (Asks, counted on the main thread before the
  // hook runs); the driver names the one it wants to hear of in Watch, and
  // the worker copies that number into Written once the command has been
  // written to the radio port. A command that is dropped (the port went
  // away, the write failed) never shows up there.
  std::atomic<std::uint64_t> Asks{0};
  std::atomic<std::uint64_t> Watch{0};
  std::atomic<std::uint64_t> Written{0};
  // Whether the command the hook handed out last asks the radio for an
  // answer (a poll); the driver clears it for a set or PTT command, to
  // which many radios say nothing. Only an unanswered read makes a link
  // silent.
  std::atomic<bool> CommandIsRead{true};
  // Asks the worker may leave out. In the command hook the driver sets
  // IdleAsks (cleared before each call) to how many of the next calls would
  // hand out nothing unless it wakes the worker first; the worker then lets
  // up to that many cycles pass without a call, and before the next call
  // sets SkippedAsks to how many it left out, so that a driver that counts
  // cycles keeps its count true.
  std::atomic<int> IdleAsks{0};
  std::atomic<int> SkippedAsks{0};

  // The worker's latest link snapshots (any thread); they outlive it. A
  // silent link's seconds are counted up to the call.
  TLinkStatus Link(TLinkRole Role) const;
  void setLink(TLinkRole Role, const TLinkStatus& Status);

private:
  mutable std::mutex FLinkLock;
  TLinkStatus FRadioLink;
  TLinkStatus FVirtualLink;
};

} // namespace vela
