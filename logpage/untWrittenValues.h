// The frequency and mode texts the program wrote into the entry form (the
// radio's reports, contacts), the last few of each. A page loaded again may
// show them once more; they are then the program's own, not the logbook's.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace vela {

class TWrittenValues {
public:
  // Only the frequency (field 4) and mode (field 5) are kept.
  void Note(uint8_t FieldNo, const std::string& Value);
  // The same by the field's name in the form (ASCII case-insensitive).
  void Note(const std::string& FieldName, const std::string& Value);
  bool Holds(uint8_t FieldNo, const std::string& Value) const;

private:
  static constexpr std::size_t Kept = 16;
  std::deque<std::string> FFrequencies;
  std::deque<std::string> FModes;
};

} // namespace vela
