// A pause that grows after each failure: First after the first, doubling
// up to Max, and First again after Reset (a success). Times in milliseconds.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vela {

class TBackoff {
public:
  TBackoff(std::int64_t AFirst, std::int64_t AMax) : FFirst(AFirst), FMax(AMax) {}
  // The pause before the next try after one more failure.
  std::int64_t Fail() {
    std::int64_t Pause = FFirst;
    for (int I = 0; I < FFailures && Pause < FMax; ++I)
      Pause *= 2;
    ++FFailures;
    return std::min(Pause, FMax);
  }
  void Reset() { FFailures = 0; }
  int Failures() const { return FFailures; }

private:
  std::int64_t FFirst, FMax;
  int FFailures = 0;
};

} // namespace vela
