#include "contacts/untContactMonitor.h"

namespace vela {

TContactMonitor::TContactMonitor(std::ostream& AOut, std::ostream& AErr) : FOut(AOut), FErr(AErr) {
  FListener.AddContactConsumer([this](const TContact& Contact, const std::string&) {
    FOut << ContactLine(Contact) << std::endl;
  });
  FListener.setOnChange(MakeMethod(this, &TContactMonitor::ListenerChange));
}

bool TContactMonitor::Start(const std::string& Listen) {
  if (!FListener.Start(Listen)) {
    FErr << "velalog-cat: contacts: " << FListener.ErrorText() << std::endl;
    return false;
  }
  const std::string& Address = FListener.Address();
  FOut << "contacts\t" << Address.substr(0, Address.rfind(':')) << '\t' << FListener.Port()
       << std::endl;
  return true;
}

void TContactMonitor::ListenerChange(TObject* /*Sender*/) {
  if (FListener.Unreadable() == FUnreadableShown)
    return;
  FUnreadableShown = FListener.Unreadable();
  FErr << "# contacts unreadable: " << FListener.Problem() << std::endl;
}

} // namespace vela
