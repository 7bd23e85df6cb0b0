#include "app/untContactsToPage.h"

#include "logpage/untLogPHPinterface.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

namespace {

// The six fields of the page, by field number.
const char* const PageFieldNames[] = {"log_date", "log_time", "call_rx",
                                      "log_band", "log_freq", "log_mode"};

// The folder of a file ("." for a bare name).
std::string FolderOf(const std::string& File) {
  const std::size_t Slash = File.rfind('/');
  return Slash == std::string::npos ? std::string(".") : File.substr(0, Slash);
}

} // namespace

TContactsToPage::TContactsToPage(TLogPHPinterface& APage, TVelaLogSettings& ASettings)
    : FPage(APage), FSettings(ASettings) {
  FListener.AddContactConsumer(
      [this](const TContact& Contact, const std::string&) { Received(Contact); });
  FListener.setOnChange(MakeMethod(this, &TContactsToPage::Changed));
}

TContactsToPage::~TContactsToPage() {
  FOnChange.Clear();
  FListener.setOnChange(TListenerChangeEvent());
  FListener.Stop();
}

void TContactsToPage::Apply() {
  const bool Enabled = FSettings.blnContactsEnabled();
  // The interface is part of where it listens: a change restarts it.
  const std::string Listen =
      FSettings.strContactsListen() + "\n" + FSettings.strContactsInterface();
  if (Enabled && !FJournal) {
    FJournal = std::make_unique<TContactJournal>(TContactJournal::PathBeside(FSettings.FileName()));
    FJournal->Open();
  }
  if (Enabled != FEnabled || Listen != FListening || (Enabled && !FListener.Listening())) {
    FEnabled = Enabled;
    FListening = Listen;
    FListener.setInterface(FSettings.strContactsInterface());
    if (Enabled)
      FListener.Start(FSettings.strContactsListen());
    else
      FListener.Stop();
  }
  // Log files are followed beside the socket, and on even where the port
  // cannot be had.
  FListener.FollowFiles(Enabled ? FSettings.ContactsLogFiles() : std::vector<std::string>(),
                        FolderOf(FSettings.FileName()));
  FListener.ConnectApi(Enabled ? FSettings.strContactsJs8CallTcp() : std::string());
  Changed();
  FillNext();
}

void TContactsToPage::FreshForm(TObject* /*Sender*/) {
  FFormFree = true;
  FillNext();
}

void TContactsToPage::Received(const TContact& Contact) {
  if (!FJournal)
    return;
  FJournal->Add(Contact);
  Changed();
  FillNext();
}

void TContactsToPage::FillNext() {
  if (!FEnabled || !FFormFree || FFilling || !FJournal || !FJournal->Next() || !FPage.FormFound())
    return;
  const TContact& Contact = *FJournal->Next();
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
    if (Filled && FJournal) {
      FJournal->TakeNext();
      ++FFilled;
    }
    Changed();
    FillNext();
  });
}

std::string TContactsToPage::StatusText() const {
  if (!FEnabled)
    return {};
  std::string Text = "contacts ";
  Text += FListener.Listening() ? FListener.Address() : FListener.ErrorText();
  if (!FListener.Followers().empty())
    Text += " \u00b7 " + std::to_string(FListener.Followers().size()) + " log file" +
            (FListener.Followers().size() == 1 ? "" : "s");
  if (const std::string Files = FListener.FilesProblem(); !Files.empty())
    Text += " \u00b7 " + Files;
  if (FJournal && FJournal->Waiting() > 0)
    Text += " \u00b7 " + std::to_string(FJournal->Waiting()) + " waiting";
  if (FJournal && FJournal->NotKept() > 0)
    Text += " \u00b7 " + std::to_string(FJournal->NotKept()) + " not kept";
  if (FListener.Unreadable() > 0)
    Text += " \u00b7 " + std::to_string(FListener.Unreadable()) +
            " unreadable (last: " + FListener.Problem() + ")";
  if (FListener.Counts().Refused > 0)
    Text += " \u00b7 " + std::to_string(FListener.Counts().Refused) +
            " refused (last: " + FListener.RefusedWhy() + ")";
  if (FJournal && !FJournal->ErrorText().empty())
    Text += " \u00b7 " + FJournal->ErrorText();
  return Text;
}

void TContactsToPage::Changed(TObject* /*Sender*/) {
  if (FOnChange.Assigned())
    FOnChange(this);
}

} // namespace vela
