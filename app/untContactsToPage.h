// Contacts from the digital-mode programs into the log page's form.
//
// The station listens as the settings say, keeps every new contact in the
// journal beside the settings file, and lets the contacts wait in order. A form of a page
// loaded anew takes the next waiting contact: call, band, frequency, mode,
// date and time on, and the fields the operator mapped; those of the six
// fields it filled are held against the clock and the radio until the page
// loads anew; with Submit the form is submitted, which loads the next form.
// A contact leaves the queue only once the page confirms the writes, so one
// that meets a page already moving on waits for the next form; and it is
// taken for good only when that form is left (saved, or the page loaded
// anew), so that a restart with it unsaved in the form offers it first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/untEvents.h"
#include "platform/untObject.h"

namespace vela {

class TLogPHPinterface;
class TVelaLogSettings;
class TStation;

// (Sender): the status text may have changed.
using TContactsChangeEvent = TMethod<TObject*>;

class TContactsToPage : public TObject {
public:
  TContactsToPage(TLogPHPinterface& APage, TVelaLogSettings& ASettings, TStation& AStation);
  ~TContactsToPage() override;

  // After the station applied the settings: a waiting contact goes into a
  // free form.
  void Apply();
  // The bridge's OnFreshForm: a page loaded anew shows an empty form.
  void FreshForm(TObject* Sender);

  // Contacts the page confirmed in its form so far.
  std::uint64_t Filled() const { return FFilled; }
  // A fresh form shows and no contact is in it: the next one goes in at once.
  bool FormFree() const { return FFormFree && !FFilling; }
  // For the status strip: where it listens, how many wait, what went wrong;
  // empty when switched off.
  std::string StatusText() const;

  const TContactsChangeEvent& OnChange() const { return FOnChange; }
  void setOnChange(const TContactsChangeEvent& Value) { FOnChange = Value; }

private:
  void FillNext();
  void Changed(TObject* Sender = nullptr);

  TLogPHPinterface& FPage;
  TVelaLogSettings& FSettings;
  TStation& FStation;
  int FContactConsumer = 0;
  bool FFormFree = false; // a fresh form shows and no contact went into it
  bool FFilling = false;
  std::uint64_t FFilled = 0;
  TContactsChangeEvent FOnChange;
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

} // namespace vela
