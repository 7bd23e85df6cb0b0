// The link state rules and their words, by table.
#include "cat/untLinkState.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace vela;

namespace {

constexpr std::int64_t S = 1000000000; // one second in ns
constexpr std::int64_t Now = 1000 * S;

TLinkFacts OpenAt(std::int64_t LastRx, std::int64_t Unanswered, bool Pending = false) {
  TLinkFacts F;
  F.Open = true;
  F.NowNs = Now;
  F.LastRxNs = LastRx;
  F.UnansweredSinceNs = Unanswered;
  F.RxPending = Pending;
  return F;
}

TLinkFacts Closed(int OpenError, bool Failed = false) {
  TLinkFacts F;
  F.NowNs = Now;
  F.OpenError = OpenError;
  F.Failed = Failed;
  return F;
}

} // namespace

TEST(LinkState, RulesByTable) {
  TLinkFacts FailedOpen = OpenAt(Now - S, 0);
  FailedOpen.Failed = true;
  const struct {
    const char* Case;
    TLinkRole Role;
    TLinkFacts Facts;
    TLinkState Want;
  } Cases[] = {
      {"no such file", TLinkRole::lrRadio, Closed(ENOENT), TLinkState::lsMissing},
      {"node without device", TLinkRole::lrRadio, Closed(ENXIO), TLinkState::lsMissing},
      {"permission", TLinkRole::lrRadio, Closed(EACCES), TLinkState::lsRefused},
      {"busy", TLinkRole::lrVirtual, Closed(EBUSY), TLinkState::lsRefused},
      {"not a tty", TLinkRole::lrRadio, Closed(ENOTTY), TLinkState::lsRefused},
      {"closed after a failure", TLinkRole::lrRadio, Closed(0, true), TLinkState::lsLost},
      {"open and failed", TLinkRole::lrRadio, FailedOpen, TLinkState::lsLost},
      {"open, never polled", TLinkRole::lrRadio, OpenAt(0, 0), TLinkState::lsWaiting},
      {"polled 1 s ago, no reply yet", TLinkRole::lrRadio, OpenAt(0, Now - S),
       TLinkState::lsWaiting},
      {"polled 2 s ago, never a reply", TLinkRole::lrRadio, OpenAt(0, Now - 2 * S),
       TLinkState::lsSilent},
      {"answered, then polled 3 s unanswered", TLinkRole::lrRadio, OpenAt(Now - 5 * S, Now - 3 * S),
       TLinkState::lsSilent},
      {"a reply still arriving after a long poll gap", TLinkRole::lrRadio,
       OpenAt(Now - 100000000, Now - 3 * S), TLinkState::lsLive},
      {"unread bytes wait in the queue", TLinkRole::lrRadio, OpenAt(0, Now - 3 * S, true),
       TLinkState::lsWaiting},
      // Polls held back (the other program's traffic): an old answer and no
      // poll since is no silence.
      {"no poll since the last answer", TLinkRole::lrRadio, OpenAt(Now - 30 * S, 0),
       TLinkState::lsLive},
      {"other program quiet", TLinkRole::lrVirtual, OpenAt(0, 0), TLinkState::lsWaiting},
      {"other program sent 59 s ago", TLinkRole::lrVirtual, OpenAt(Now - 59 * S, 0),
       TLinkState::lsLive},
      {"other program sent 61 s ago", TLinkRole::lrVirtual, OpenAt(Now - 61 * S, 0),
       TLinkState::lsWaiting},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(LinkStateName(DeriveLinkState(C.Role, C.Facts)), std::string(LinkStateName(C.Want)))
        << C.Case;
}

TEST(LinkState, WordsByTable) {
  auto Status = [](TLinkState State, int Error = 0) {
    TLinkStatus St;
    St.State = State;
    St.Where = "COM3 → /dev/ttyUSB0";
    St.Device = "/dev/ttyUSB0";
    St.Error = Error;
    St.Baud = 4800;
    return St;
  };
  TLinkStatus Silent = Status(TLinkState::lsSilent);
  Silent.SilentSeconds = 12;
  TLinkStatus DriverFailed = Status(TLinkState::lsLost);
  DriverFailed.Detail = "driver failed";
  const struct {
    TLinkRole Role;
    TLinkStatus Status;
    const char* Want;
  } Cases[] = {
      {TLinkRole::lrRadio, Status(TLinkState::lsLive), "COM3 → /dev/ttyUSB0 · live"},
      {TLinkRole::lrRadio, Silent,
       "COM3 → /dev/ttyUSB0 · no reply for 12 s — is the radio on and set to 4800 baud?"},
      {TLinkRole::lrRadio, Status(TLinkState::lsMissing, ENOENT),
       "COM3 → /dev/ttyUSB0 · /dev/ttyUSB0 is missing — retrying"},
      {TLinkRole::lrRadio, Status(TLinkState::lsRefused, EACCES),
       "COM3 → /dev/ttyUSB0 · permission denied — add your user to the dialout group"},
      {TLinkRole::lrRadio, Status(TLinkState::lsRefused, EBUSY),
       "COM3 → /dev/ttyUSB0 · device or resource busy — another program is using it — retrying"},
      {TLinkRole::lrRadio, Status(TLinkState::lsRefused, EISDIR),
       "COM3 → /dev/ttyUSB0 · is a directory — not a serial port — retrying"},
      {TLinkRole::lrRadio, Status(TLinkState::lsLost, EIO),
       "COM3 → /dev/ttyUSB0 · connection lost (input/output error) — retrying"},
      {TLinkRole::lrRadio, DriverFailed,
       "COM3 → /dev/ttyUSB0 · connection lost (driver failed) — retrying"},
      {TLinkRole::lrRadio, Status(TLinkState::lsWaiting),
       "COM3 → /dev/ttyUSB0 · waiting for the first reply"},
      {TLinkRole::lrVirtual, Status(TLinkState::lsWaiting),
       "COM3 → /dev/ttyUSB0 · open, waiting for the other program"},
      {TLinkRole::lrVirtual, TLinkStatus(), "off"},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(LinkStatusText(C.Role, C.Status), C.Want);
}
