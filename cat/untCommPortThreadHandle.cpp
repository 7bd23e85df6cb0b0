#include "cat/untCommPortThreadHandle.h"

#include "cat/untPortClock.h"

namespace vela {

TLinkStatus TCommPortThreadHandle::Link(TLinkRole Role) const {
  TLinkStatus Status;
  {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    Status = Role == TLinkRole::lrRadio ? FRadioLink : FVirtualLink;
  }
  if (Status.State == TLinkState::lsSilent && Status.SinceNs > 0)
    Status.SilentSeconds = static_cast<int>((NowNs() - Status.SinceNs) / 1000000000);
  return Status;
}

void TCommPortThreadHandle::setLink(TLinkRole Role, const TLinkStatus& Status) {
  std::lock_guard<std::mutex> Guard(FLinkLock);
  (Role == TLinkRole::lrRadio ? FRadioLink : FVirtualLink) = Status;
}

} // namespace vela
