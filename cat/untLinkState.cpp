#include "cat/untLinkState.h"

#include <cctype>
#include <cerrno>
#include <system_error>

namespace vela {

namespace {

constexpr std::int64_t MsToNs(int Ms) {
  return static_cast<std::int64_t>(Ms) * 1000000;
}

// What the operator can do about a refused open.
const char* RefusedHint(int Errno) {
  switch (Errno) {
  case EACCES:
  case EPERM:
    return "add your user to the dialout group";
  case EBUSY:
    return "another program is using it — retrying";
  case ECONNREFUSED: // the network radio's daemon
    return "is rigctld running? Retrying";
  case ENOTTY:
  case EISDIR:
  case ENOTDIR:
  case EINVAL:
    return "not a serial port — retrying";
  default:
    return "retrying";
  }
}

} // namespace

bool IsMissingError(int Errno) {
  // ENXIO and ENODEV: a device node with nothing behind it (an unplugged
  // adapter's stale node, a ttyS without a UART).
  return Errno == ENOENT || Errno == ENXIO || Errno == ENODEV;
}

TLinkState DeriveLinkState(TLinkRole Role, const TLinkFacts& F) {
  if (!F.Open) {
    if (F.Failed)
      return TLinkState::lsLost;
    if (IsMissingError(F.OpenError))
      return TLinkState::lsMissing;
    return F.OpenError != 0 ? TLinkState::lsRefused : TLinkState::lsLost;
  }
  if (F.Failed)
    return TLinkState::lsLost;
  if (Role == TLinkRole::lrVirtual)
    return F.LastRxNs != 0 && F.NowNs - F.LastRxNs < MsToNs(VirtualLiveMs) ? TLinkState::lsLive
                                                                           : TLinkState::lsWaiting;
  // Silence is measured from the first poll after the last answer, so time
  // without polls (the other program's traffic holding them back) and a long
  // reply still arriving never count; bytes not yet read are an answer.
  if (F.UnansweredSinceNs != 0 && F.UnansweredSinceNs >= F.LastRxNs && !F.RxPending &&
      F.NowNs - F.UnansweredSinceNs >= MsToNs(SilentAfterMs))
    return TLinkState::lsSilent;
  return F.LastRxNs != 0 ? TLinkState::lsLive : TLinkState::lsWaiting;
}

const char* LinkStateName(TLinkState State) {
  switch (State) {
  case TLinkState::lsOff:
    return "off";
  case TLinkState::lsMissing:
    return "missing";
  case TLinkState::lsRefused:
    return "refused";
  case TLinkState::lsWaiting:
    return "waiting";
  case TLinkState::lsLive:
    return "live";
  case TLinkState::lsSilent:
    return "silent";
  case TLinkState::lsLost:
    return "lost";
  }
  return "?";
}

std::string ErrorText(int Errno) {
  std::string Text = std::generic_category().message(Errno);
  if (!Text.empty())
    Text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(Text[0])));
  return Text;
}

std::string LinkStateWords(TLinkRole Role, const TLinkStatus& S) {
  const bool Radio = Role == TLinkRole::lrRadio;
  switch (S.State) {
  case TLinkState::lsOff:
    return "off";
  case TLinkState::lsMissing:
    return (S.Device.empty() ? std::string("the device") : S.Device) + " is missing — retrying";
  case TLinkState::lsRefused:
    return (S.Error != 0 ? ErrorText(S.Error) : std::string("refused")) + " — " +
           RefusedHint(S.Error);
  case TLinkState::lsWaiting:
    return Radio ? "waiting for the first reply" : "open, waiting for the other program";
  case TLinkState::lsLive:
    return "live";
  case TLinkState::lsSilent: {
    std::string Text = "no reply for " + std::to_string(S.SilentSeconds) + " s — is the radio on";
    if (S.Baud > 0)
      Text += " and set to " + std::to_string(S.Baud) + " baud";
    return Text + "?";
  }
  case TLinkState::lsLost: {
    const std::string Why = S.Error != 0 ? ErrorText(S.Error) : S.Detail;
    return "connection lost" + (Why.empty() ? std::string() : " (" + Why + ")") + " — retrying";
  }
  }
  return std::string();
}

std::string LinkStatusText(TLinkRole Role, const TLinkStatus& S) {
  const std::string Words = LinkStateWords(Role, S);
  if (S.State == TLinkState::lsOff || S.Where.empty())
    return Words;
  return S.Where + " · " + Words;
}

} // namespace vela
