// The sharing server's view of the program's radio driver.
//
// The driver is asked for through a provider at every use, because the
// station replaces it when the operator applies another radio. Sets go
// through the driver's command choice like a tune from the log page (in
// place of the next poll); until the radio reports the change, the driver's
// pending value is what clients read, as it is about to be the radio's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sharing/untRigBackend.h"

namespace vela {

class TCATInterface;

// The current driver, or nullptr when there is none.
using TDriverProvider = std::function<TCATInterface*()>;

class TCATRigBackend : public TRigBackend {
public:
  explicit TCATRigBackend(TDriverProvider AProvider) : FProvider(std::move(AProvider)) {}

  bool Ready() const override { return Driver() != nullptr; }
  bool LinkUp() const override;
  std::int64_t FrequencyHz() const override;
  std::string Mode() const override;
  std::optional<std::int64_t> RequestedHz() const override;
  std::optional<std::string> RequestedMode() const override;
  bool TuneHz(std::int64_t Hz) override;
  bool TuneMode(const std::string& Mode) override;
  bool SetPTT(bool On) override;
  bool PTT() const override;
  bool PTTWritten() const override;
  bool PTTUnwritten() const override;
  bool HasDataMode() const override;
  TRigctlRadioFacts Facts() const override;

private:
  // The step in hertz the radio reports its frequency in.
  double ResolutionHz() const;
  TCATInterface* Driver() const { return FProvider ? FProvider() : nullptr; }

  TDriverProvider FProvider;
};

} // namespace vela
