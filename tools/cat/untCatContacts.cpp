#include "tools/cat/untCatContacts.h"

namespace vela {

TCatContacts::TCatContacts(const TContactListener& AListener, std::ostream& AOut,
                           std::ostream& AErr)
    : FListener(AListener), FOut(AOut), FErr(AErr) {
  QObject::connect(&FTrace, &QTimer::timeout, [this] { ShowCounts(); });
}

bool TCatContacts::ShowListening() {
  FAddressWanted = true;
  if (FListener.Waiting()) {
    FErr << "# contacts waiting: " << FListener.ErrorText() << std::endl;
    return true;
  }
  if (!FListener.Listening()) {
    FErr << "velalog-cat: contacts: " << FListener.ErrorText() << std::endl;
    return false;
  }
  ShowAddress();
  return true;
}

void TCatContacts::ShowAddress() {
  if (!FAddressWanted || FAddressShown || !FListener.Listening())
    return;
  FAddressShown = true;
  const std::string& Address = FListener.Address();
  FOut << "contacts\t" << Address.substr(0, Address.rfind(':')) << '\t' << FListener.Port()
       << std::endl;
}

void TCatContacts::ShowFiles() {
  for (const auto& Follower : FListener.Followers())
    FOut << "contacts-file\t" << Follower->Path() << std::endl;
}

void TCatContacts::Contact(const TContact& Contact) {
  FOut << ContactLine(Contact) << std::endl;
}

void TCatContacts::ListenerChange(TObject* /*Sender*/) {
  ShowAddress();
  if (const std::string Files = FListener.FilesProblem(); Files != FFilesProblemShown) {
    FFilesProblemShown = Files;
    if (!Files.empty())
      FErr << "# contacts file: " << Files << std::endl;
  }
  if (FListener.Counts().Refused != FRefusedShown) {
    FRefusedShown = FListener.Counts().Refused;
    FErr << "# contacts refused: " << FListener.RefusedWhy() << std::endl;
  }
  if (FListener.Counts().Dropped != FDroppedShown) {
    FDroppedShown = FListener.Counts().Dropped;
    FErr << "# contacts dropped by the system: " << FDroppedShown << " datagrams" << std::endl;
  }
  if (FListener.Unreadable() == FUnreadableShown)
    return;
  FUnreadableShown = FListener.Unreadable();
  FErr << "# contacts unreadable: " << FListener.Problem() << std::endl;
}

void TCatContacts::setTrace(bool Value) {
  FTrace.stop();
  if (Value)
    FTrace.start(1000);
}

void TCatContacts::ShowCounts() {
  const TContactListener::TCounts& Counts = FListener.Counts();
  if (Counts == FCountsShown)
    return;
  FCountsShown = Counts;
  FErr << "# contacts read " << Counts.Read << " ignored " << Counts.Ignored << " unreadable "
       << Counts.Unreadable << " refused " << Counts.Refused << " dropped " << Counts.Dropped
       << std::endl;
}

} // namespace vela
