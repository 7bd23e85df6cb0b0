// velalog-cat's contact lines, printed from the reports of a contact
// listener it does not own (the station's, or with no radio a listener alone): "contacts ADDRESS
// PORT" once listening, then each contact as its ContactLine on Out; each
// unreadable datagram as "# contacts unreadable: REASON" and each contact
// refused at the door as "# contacts refused: REASON" on Err, and the count of
// datagrams the system dropped (a burst beyond the socket's buffer) as
// "# contacts dropped by the system: N datagrams" when it grows. Log files
// followed are announced as "contacts-file PATH" on Out, and what keeps one
// from being followed as "# contacts file: PROBLEM" on Err. With the trace
// on, "# contacts read N ignored N unreadable N refused N dropped N" on Err whenever
// the counts changed, at most once a second.
#pragma once

#include <QTimer>

#include <functional>
#include <ostream>
#include <string>

#include "contacts/untContactListener.h"

namespace vela {

class TCatContacts {
public:
  using TReportSource = std::function<TContactListenerReport()>;
  TCatContacts(TReportSource AReport, std::ostream& AOut, std::ostream& AErr);

  // "contacts ADDRESS PORT" when the listener listens (a port that is taken:
  // "# contacts waiting: REASON" on Err, and the line once it is had); else
  // the reason on Err, and false.
  bool ShowListening();
  // "contacts-file PATH" per log file followed.
  void ShowFiles();
  // One contact received.
  void Contact(const TContact& Contact);
  // The listener changed: what went wrong since.
  void ListenerChange(TObject* Sender = nullptr);
  void setTrace(bool Value);

private:
  void ShowCounts();
  void ShowAddress(const TContactListenerReport& Report);

  TReportSource FReport;
  std::ostream& FOut;
  std::ostream& FErr;
  std::uint64_t FUnreadableShown = 0;
  std::uint64_t FRefusedShown = 0;
  std::uint64_t FDroppedShown = 0;
  std::string FFilesProblemShown;
  bool FAddressWanted = false;
  bool FAddressShown = false;
  TContactListener::TCounts FCountsShown;
  QTimer FTrace;
};

} // namespace vela
