// Prints what a contact listener receives, for velalog-cat: "contacts
// ADDRESS PORT" once listening, then each contact as its ContactLine on Out;
// each unreadable datagram as "# contacts unreadable: REASON" and each
// contact refused at the door as "# contacts refused: REASON" on Err. Log
// files followed are announced as "contacts-file PATH" on Out, and what keeps
// one from being followed as "# contacts file: PROBLEM" on Err. With
// the trace on, "# contacts read N ignored N unreadable N refused N" on Err
// whenever the counts changed, at most once a second.
#pragma once

#include <QTimer>

#include <ostream>
#include <string>
#include <vector>

#include "contacts/untContactListener.h"

namespace vela {

class TContactMonitor {
public:
  TContactMonitor(std::ostream& AOut, std::ostream& AErr);

  // False with the reason on Err when it cannot listen.
  bool Start(const std::string& Listen);
  // Follows these ADIF log files, keeping what was taken in Folder.
  void FollowFiles(const std::vector<std::string>& Paths, const std::string& Folder);
  TContactListener& Listener() { return FListener; }
  void setTrace(bool Value);

private:
  void ListenerChange(TObject* Sender);
  void ShowAddress();

  std::ostream& FOut;
  std::ostream& FErr;
  TContactListener FListener;
  void ShowCounts();

  std::uint64_t FUnreadableShown = 0;
  std::uint64_t FRefusedShown = 0;
  std::string FFilesProblemShown;
  // The address line was printed (a port that was taken: once it is had).
  bool FAddressShown = false;
  TContactListener::TCounts FCountsShown;
  QTimer FTrace;
};

} // namespace vela
