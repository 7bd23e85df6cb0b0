#include "tools/cat/untCatContacts.h"

namespace vela {

TCatContacts::TCatContacts(TReportSource AReport, std::ostream& AOut, std::ostream& AErr)
    : FReport(std::move(AReport)), FOut(AOut), FErr(AErr) {
  QObject::connect(&FTrace, &QTimer::timeout, [this] { ShowCounts(); });
}

bool TCatContacts::ShowListening() {
  FAddressWanted = true;
  const TContactListenerReport Report = FReport();
  if (Report.Waiting) {
    FErr << "# contacts waiting: " << Report.ErrorText << std::endl;
    return true;
  }
  if (!Report.Listening) {
    FErr << "velalog-cat: contacts: " << Report.ErrorText << std::endl;
    return false;
  }
  ShowAddress(Report);
  return true;
}

void TCatContacts::ShowAddress(const TContactListenerReport& Report) {
  if (!FAddressWanted || FAddressShown || !Report.Listening)
    return;
  FAddressShown = true;
  FOut << "contacts\t" << Report.Address.substr(0, Report.Address.rfind(':')) << '\t' << Report.Port
       << std::endl;
}

void TCatContacts::ShowFiles() {
  for (const std::string& Path : FReport().Files)
    FOut << "contacts-file\t" << Path << std::endl;
}

void TCatContacts::Contact(const TContact& Contact) {
  FOut << ContactLine(Contact) << std::endl;
}

void TCatContacts::ListenerChange(TObject* /*Sender*/) {
  const TContactListenerReport Report = FReport();
  ShowAddress(Report);
  if (Report.FilesProblem != FFilesProblemShown) {
    FFilesProblemShown = Report.FilesProblem;
    if (!Report.FilesProblem.empty())
      FErr << "# contacts file: " << Report.FilesProblem << std::endl;
  }
  if (Report.Counts.Refused != FRefusedShown) {
    FRefusedShown = Report.Counts.Refused;
    FErr << "# contacts refused: " << Report.RefusedWhy << std::endl;
  }
  if (Report.Counts.Dropped != FDroppedShown) {
    FDroppedShown = Report.Counts.Dropped;
    FErr << "# contacts dropped by the system: " << FDroppedShown << " datagrams" << std::endl;
  }
  if (Report.Counts.Unreadable == FUnreadableShown)
    return;
  FUnreadableShown = Report.Counts.Unreadable;
  FErr << "# contacts unreadable: " << Report.Problem << std::endl;
}

void TCatContacts::setTrace(bool Value) {
  FTrace.stop();
  if (Value)
    FTrace.start(1000);
}

void TCatContacts::ShowCounts() {
  const TContactListener::TCounts Counts = FReport().Counts;
  if (Counts == FCountsShown)
    return;
  FCountsShown = Counts;
  FErr << "# contacts read " << Counts.Read << " ignored " << Counts.Ignored << " unreadable "
       << Counts.Unreadable << " refused " << Counts.Refused << " dropped " << Counts.Dropped
       << std::endl;
}

} // namespace vela
