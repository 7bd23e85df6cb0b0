// One operator action, one settings write: a TSettingsBatch on the stack
// collects every write the store's setters make while it lives and replaces
// the settings file once when it goes out of scope, before the action
// returns. Writes made without a batch stay write-through.
//
//   void TfrmVLogSettings::pnlApplyClick() {
//     TSettingsBatch Batch(*FSettings);
//     ... any number of setters ...
//   } // the file is replaced here; a failure raises "Unable to write to %s"
//
// The end of the scope raises the write error to the action's caller, as a
// setter would. When the scope is left by another exception, the collected
// writes are still made, but a failure to make them is dropped so that the
// first error is the one that goes on.
#pragma once

#include <exception>

#include "settings/untVelaLogSettings.h"

namespace vela {

class TSettingsBatch {
public:
  explicit TSettingsBatch(TVelaLogSettings& ASettings)
      : FSettings(ASettings), FExceptions(std::uncaught_exceptions()) {
    FSettings.BeginUpdate();
  }
  ~TSettingsBatch() noexcept(false) {
    if (std::uncaught_exceptions() == FExceptions) {
      FSettings.EndUpdate();
      return;
    }
    try {
      FSettings.EndUpdate();
    } catch (...) {
    }
  }
  TSettingsBatch(const TSettingsBatch&) = delete;
  TSettingsBatch& operator=(const TSettingsBatch&) = delete;

private:
  TVelaLogSettings& FSettings;
  int FExceptions;
};

} // namespace vela
