#include "platform/untLineSettings.h"

#include <algorithm>

namespace vela {

int BaudRateToInt(TBaudRate Rate, int Custom) {
  if (Rate == brCustom)
    return Custom;
  return Rate <= StandardBaudRates.size() ? StandardBaudRates[Rate - 1] : 0;
}

bool BaudRateFromInt(int Bits, TBaudRate& Rate) {
  const auto At = std::find(StandardBaudRates.begin(), StandardBaudRates.end(), Bits);
  if (At == StandardBaudRates.end())
    return false;
  Rate = static_cast<TBaudRate>(br110 + (At - StandardBaudRates.begin()));
  return true;
}

} // namespace vela
