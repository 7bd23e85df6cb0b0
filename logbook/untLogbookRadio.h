// What the logbook side needs of the radio: the sharing server's view of it
// (values and tuning) and, beside that, whether its link is live, its row of
// the radio table and the operator's "Digi means" choice. The program and
// velalog-cat build it over their current driver the same way; tests give
// values by table.
#pragma once

#include <memory>

#include "net/untCATRigBackend.h"
#include "settings/untVelaLogSettings.h"

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

} // namespace vela
