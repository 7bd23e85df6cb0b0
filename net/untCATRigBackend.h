// The sharing server's view of the program's radio driver.
//
// The driver is asked for through a provider at every use, because the
// settings dialog replaces it when the operator applies another radio. Sets
// go through the driver's command choice like a tune from the log page (in
// place of the next poll); until the radio reports the change, the requested
// value is what clients read, as it is about to be the radio's.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "net/untRigBackend.h"

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

  // How long a request is answered, sent or not, while the radio has not
  // yet reported a change.
  static constexpr std::chrono::milliseconds RequestHold{1000};

private:
  using TClock = std::chrono::steady_clock;
  // The step in hertz the radio reports its frequency in.
  double ResolutionHz() const;
  // A set request: the command it queued, the value asked for, and the
  // radio's value when it was asked.
  template <class T> struct TRequest {
    const TCATInterface* Driver = nullptr;
    std::string Command;
    T Value{};
    T Before{};
    TClock::time_point Since;
  };
  template <class T>
  static std::optional<T> Pending(TRequest<T>& Request, const TCATInterface* Driver,
                                  const std::string& Queued, const T& Now);

  TCATInterface* Driver() const { return FProvider ? FProvider() : nullptr; }

  TDriverProvider FProvider;
  mutable TRequest<std::int64_t> FFrequency;
  mutable TRequest<std::string> FMode;
};

} // namespace vela
