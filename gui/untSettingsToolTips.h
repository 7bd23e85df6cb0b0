// What each control of the settings dialog does and what to enter in it, as
// its tool tip: all of them in one place. A control that already has a tip of
// its own (one that changes with what it shows) keeps it.
#pragma once

namespace vela {

class TfrmVLogSettings;

void SetSettingsToolTips(TfrmVLogSettings& Dialog);

} // namespace vela
