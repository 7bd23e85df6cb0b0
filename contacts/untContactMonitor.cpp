#include "contacts/untContactMonitor.h"

namespace vela {

TContactMonitor::TContactMonitor(std::ostream& AOut, std::ostream& AErr) : FOut(AOut), FErr(AErr) {
  FListener.AddContactConsumer([this](const TContact& Contact, const std::string&) {
    FOut << ContactLine(Contact) << std::endl;
  });
  FListener.setOnChange(MakeMethod(this, &TContactMonitor::ListenerChange));
  QObject::connect(&FTrace, &QTimer::timeout, [this] { ShowCounts(); });
}

bool TContactMonitor::Start(const std::string& Listen) {
  if (!FListener.Start(Listen)) {
    FErr << "velalog-cat: contacts: " << FListener.ErrorText() << std::endl;
    return false;
  }
  if (!FListener.Listening()) {
    FErr << "# contacts waiting: " << FListener.ErrorText() << std::endl;
    return true;
  }
  ShowAddress();
  return true;
}

void TContactMonitor::ShowAddress() {
  if (FAddressShown || !FListener.Listening())
    return;
  FAddressShown = true;
  const std::string& Address = FListener.Address();
  FOut << "contacts\t" << Address.substr(0, Address.rfind(':')) << '\t' << FListener.Port()
       << std::endl;
}

void TContactMonitor::FollowFiles(const std::vector<std::string>& Paths,
                                  const std::string& Folder) {
  FListener.FollowFiles(Paths, Folder);
  for (const auto& Follower : FListener.Followers())
    FOut << "contacts-file\t" << Follower->Path() << std::endl;
}

void TContactMonitor::ListenerChange(TObject* /*Sender*/) {
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
  if (FListener.Unreadable() == FUnreadableShown)
    return;
  FUnreadableShown = FListener.Unreadable();
  FErr << "# contacts unreadable: " << FListener.Problem() << std::endl;
}

void TContactMonitor::setTrace(bool Value) {
  FTrace.stop();
  if (!Value)
    return;
  FTrace.start(1000);
}

void TContactMonitor::ShowCounts() {
  const TContactListener::TCounts& Counts = FListener.Counts();
  if (Counts == FCountsShown)
    return;
  FCountsShown = Counts;
  FErr << "# contacts read " << Counts.Read << " ignored " << Counts.Ignored << " unreadable "
       << Counts.Unreadable << " refused " << Counts.Refused << std::endl;
}

} // namespace vela
