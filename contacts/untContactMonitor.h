// Prints what a contact listener receives, for velalog-cat: "contacts
// ADDRESS PORT" once listening, then each contact as its ContactLine on Out;
// each unreadable datagram as "# contacts unreadable: REASON" on Err.
#pragma once

#include <ostream>
#include <string>

#include "contacts/untContactListener.h"

namespace vela {

class TContactMonitor {
public:
  TContactMonitor(std::ostream& AOut, std::ostream& AErr);

  // False with the reason on Err when it cannot listen.
  bool Start(const std::string& Listen);
  TContactListener& Listener() { return FListener; }

private:
  void ListenerChange(TObject* Sender);

  std::ostream& FOut;
  std::ostream& FErr;
  TContactListener FListener;
  std::uint64_t FUnreadableShown = 0;
};

} // namespace vela
