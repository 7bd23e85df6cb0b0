// Link health: the state of the line to the radio and to the Virtual CAT
// program, its words for the operator, and the rules that derive it from what
// the port worker observes (bytes seen, failed calls, open errors).
//
// The rules are pure: facts and the time in, a state out, so that they can be
// checked by table. Nothing here knows about serial lines: the "where" text
// (COM3 → /dev/ttyUSB0, or a host and port) comes from whoever owns the port.
#pragma once

#include <cstdint>
#include <string>

namespace vela {

enum class TLinkState : std::uint8_t {
  lsOff,     // not wanted (Virtual CAT switched off)
  lsMissing, // the device does not exist
  lsRefused, // it exists but does not open (permission, busy, not a tty)
  lsWaiting, // open, no reply (radio) or no bytes for a minute (other program) yet
  lsLive,    // open and answering
  lsSilent,  // open and polled, but no byte from the radio for a while
  lsLost,    // it was open and failed (hang-up, I/O error, failed write or handler)
};

enum class TLinkRole : std::uint8_t { lrRadio, lrVirtual };

// A radio polled for this long without a byte in reply is silent.
constexpr int SilentAfterMs = 2000;
// The other program counts as live while it sent something this recently.
constexpr int VirtualLiveMs = 60000;

// What the worker knows about one port at one moment (steady-clock ns).
struct TLinkFacts {
  bool Open = false;
  // errno of the last failed open (ports that are closed).
  int OpenError = 0;
  // The open port failed, or the closed port was last closed because of that.
  bool Failed = false;
  std::int64_t NowNs = 0;
  // The last byte from the peer since the port opened (0: none). For the
  // radio, bytes that only echo the command written do not count.
  std::int64_t LastRxNs = 0;
  // Radio: the first poll written after LastRxNs (0: none since).
  std::int64_t UnansweredSinceNs = 0;
  // Bytes wait unread in the port's queue (a busy main thread).
  bool RxPending = false;
};

TLinkState DeriveLinkState(TLinkRole Role, const TLinkFacts& Facts);
// An open error that means "no such device" rather than "refused".
bool IsMissingError(int Errno);

// What the driver hands to the displays: a snapshot of one port's link.
struct TLinkStatus {
  TLinkState State = TLinkState::lsOff;
  // Where the port leads, as its owner describes it ("COM3 → /dev/ttyUSB0").
  std::string Where;
  // The device that is missing (or failed), for the words.
  std::string Device;
  // errno of the failure behind refused or lost (0: none known).
  int Error = 0;
  // A failure without an errno (a driver's exception), for lost.
  std::string Detail;
  // The line speed, for the silent hint (0: not a serial line).
  int Baud = 0;
  // Silent: since when nothing came (steady-clock ns), and the whole seconds
  // up to the moment the snapshot was taken.
  std::int64_t SinceNs = 0;
  int SilentSeconds = 0;

  bool operator==(const TLinkStatus&) const = default;
};

// "off", "missing", "refused", "waiting", "live", "silent", "lost".
const char* LinkStateName(TLinkState State);
// The system's text for an errno, lower case first letter ("permission denied").
std::string ErrorText(int Errno);
// The state in words for the operator, e.g. "live", "no reply for 12 s — is
// the radio on and set to 4800 baud?", "/dev/ttyUSB0 is missing — retrying",
// "permission denied — add your user to the dialout group".
std::string LinkStateWords(TLinkRole Role, const TLinkStatus& Status);
// Where and words: "COM3 → /dev/ttyUSB0 · live"; "off" alone when off.
std::string LinkStatusText(TLinkRole Role, const TLinkStatus& Status);

} // namespace vela
