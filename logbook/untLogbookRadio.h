// What the logbook side needs of the radio: the sharing server's view of it
// (values and tuning) and, beside that, whether its link is live, its row of
// the radio table and the operator's "Digi means" choice. The program and
// velalog-cat build it over their current driver the same way; tests give
// values by table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "settings/untVelaLogSettings.h"
#include "sharing/untCATRigBackend.h"

namespace vela {

struct TRadioModel;

class TLogbookRadio {
public:
  virtual ~TLogbookRadio() = default;
  virtual TRigBackend& Backend() = 0;
  // The radio link is live: open and answering.
  virtual bool Live() const = 0;
  // The radio's row of the radio table; nullptr without a radio.
  virtual const TRadioModel* Model() const = 0;
  virtual TDigiMode Digi() const = 0;
};

// Over the current driver (asked for at every use) and the settings store.
class TDriverLogbookRadio : public TLogbookRadio {
public:
  TDriverLogbookRadio(TDriverProvider AProvider, const TVelaLogSettings* ASettings);
  TRigBackend& Backend() override { return FBackend; }
  bool Live() const override;
  const TRadioModel* Model() const override;
  TDigiMode Digi() const override;

private:
  TDriverProvider FProvider;
  const TVelaLogSettings* FSettings;
  TCATRigBackend FBackend;
};

// Tunes the radio as the logbook asked, by the rules every click-to-tune
// path shares: 503 while its link is not live, 409 while it transmits or is
// about to, 400 for a frequency outside the radio's range or a mode it
// cannot take, 200 once the commands are queued (the driver's latest
// request wins). Hz 0 leaves the frequency, an empty TuneMode (a
// click-to-tune mode name: usb, pkt, ft8, ...) the mode. Status and words.
std::pair<int, std::string> TuneLogbookRadio(TLogbookRadio& Radio, std::int64_t Hz,
                                             const std::string& TuneMode);

} // namespace vela
