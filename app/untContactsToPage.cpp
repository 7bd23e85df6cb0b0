#include "app/untContactsToPage.h"

#include "contacts/untContactJournal.h"
#include "logpage/untLogPHPinterface.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"

namespace vela {

namespace {

// The six fields of the page, by field number.
const char* const PageFieldNames[] = {"log_date", "log_time", "call_rx",
                                      "log_band", "log_freq", "log_mode"};

} // namespace

TContactsToPage::TContactsToPage(TLogPHPinterface& APage, TVelaLogSettings& ASettings,
                                 TStation& AStation)
    : FPage(APage), FSettings(ASettings), FStation(AStation) {
  FContactConsumer = FStation.AddContactConsumer([this](const TContact&, const std::string&) {
    Changed();
    FillNext();
  });
}

TContactsToPage::~TContactsToPage() {
  FOnChange.Clear();
  FStation.RemoveConsumer(FContactConsumer);
}

TContactListener& TContactsToPage::Listener() {
  return FStation.ContactListener();
}

const TContactJournal* TContactsToPage::Journal() const {
  return FStation.Journal();
}

void TContactsToPage::Apply() {
  Changed();
  FillNext();
}

void TContactsToPage::FreshForm(TObject* /*Sender*/) {
  FFormFree = true;
  // The contact the last form held was saved or left with it.
  if (TContactJournal* Journal = FStation.Journal())
    Journal->FormLeft();
  FillNext();
}

void TContactsToPage::FillNext() {
  TContactJournal* Journal = FStation.Journal();
  if (!FStation.ContactsEnabled() || !FFormFree || FFilling || !Journal || !Journal->Next() ||
      !FPage.FormFound())
    return;
  const TContact& Contact = *Journal->Next();
  const TContactPageTexts Texts = ContactPageTexts(Contact);
  const bool HasFrequency = !Texts.Frequency.empty() || !Texts.Band.empty();
  const std::string* const Values[] = {&Texts.Date, &Texts.Time,      &Texts.Call,
                                       &Texts.Band, &Texts.Frequency, &Texts.Mode};
  std::vector<std::pair<std::string, std::string>> Writes;
  std::uint32_t Held = 0;
  for (int Field = 0; Field < TLogPHPinterface::FieldCount; ++Field) {
    // A band outside the plan is written empty beside its frequency.
    const bool Write = Field == 3 ? HasFrequency : !Values[Field]->empty();
    if (!Write)
      continue;
    Writes.emplace_back(PageFieldNames[Field], *Values[Field]);
    Held |= 1u << Field;
  }
  for (const auto& [Name, Target] : FSettings.ContactFields())
    if (const std::string Value = MappedField(Contact, Name); !Value.empty())
      Writes.emplace_back(Target, Value);

  FPage.HoldFields(Held);
  FFormFree = false;
  FFilling = true;
  std::weak_ptr<int> Alive = FAlive;
  FPage.FillForm(Writes, FSettings.blnContactsSubmit(), [this, Alive](bool Filled) {
    if (Alive.expired())
      return;
    FFilling = false;
    // Not filled: the page moved on; the contact waits for the next form.
    // Filled: it is in the form, and until the form is saved or left a
    // restart offers it first.
    if (Filled && FStation.Journal()) {
      FStation.Journal()->IntoForm();
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
