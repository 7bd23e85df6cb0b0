#include "app/untContactsToPage.h"

#include "logpage/untLogPHPinterface.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"

namespace vela {

TContactsToPage::TContactsToPage(TLogPHPinterface& APage, TVelaLogSettings& ASettings,
                                 TStation& AStation)
    : FPage(APage), FSettings(ASettings), FStation(AStation) {
  FContactConsumer = FStation.AddContactConsumer([this](const auto&, const std::string&) {
    Changed();
    FillNext();
  });
}

TContactsToPage::~TContactsToPage() {
  FOnChange.Clear();
  FStation.RemoveConsumer(FContactConsumer);
}

void TContactsToPage::Apply() {
  Changed();
  FillNext();
}

void TContactsToPage::FreshForm(TObject* /*Sender*/) {
  FFormFree = true;
  // The contact the last form held was saved or left with it.
  FStation.FormContactLeft();
  FillNext();
}

void TContactsToPage::FillNext() {
  if (!FFormFree || FFilling || !FPage.FormFound())
    return;
  const std::optional<TFormContact> Next = FStation.NextFormContact();
  if (!Next)
    return;
  FPage.HoldFields(Next->PageFields);
  FFormFree = false;
  FFilling = true;
  std::weak_ptr<int> Alive = FAlive;
  FPage.FillForm(Next->Writes, FSettings.blnContactsSubmit(), [this, Alive](bool Filled) {
    if (Alive.expired())
      return;
    FFilling = false;
    // Not filled: the page moved on; the contact waits for the next form.
    // Filled: it is in the form, and until the form is saved or left a
    // restart offers it first.
    if (Filled) {
      FStation.TakeFormContact();
      ++FFilled;
    }
    Changed();
    FillNext();
  });
}

std::string TContactsToPage::StatusText() const {
  return FStation.ContactsStatusText();
}

void TContactsToPage::Changed(TObject* /*Sender*/) {
  if (FOnChange.Assigned())
    FOnChange(this);
}

} // namespace vela
