#include "logpage/untWrittenValues.h"

#include <algorithm>

namespace vela {

namespace {

std::string LowerAscii(std::string Text) {
  for (char& C : Text)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return Text;
}

void Remember(std::deque<std::string>& Values, const std::string& Value, std::size_t Kept) {
  if (Value.empty())
    return;
  auto It = std::find(Values.begin(), Values.end(), Value);
  if (It != Values.end())
    Values.erase(It);
  Values.push_back(Value);
  if (Values.size() > Kept)
    Values.pop_front();
}

} // namespace

void TWrittenValues::Note(uint8_t FieldNo, const std::string& Value) {
  if (FieldNo == 4)
    Remember(FFrequencies, Value, Kept);
  else if (FieldNo == 5)
    Remember(FModes, Value, Kept);
}

void TWrittenValues::Note(const std::string& FieldName, const std::string& Value) {
  const std::string Name = LowerAscii(FieldName);
  if (Name == "log_freq")
    Note(4, Value);
  else if (Name == "log_mode")
    Note(5, Value);
}

bool TWrittenValues::Holds(uint8_t FieldNo, const std::string& Value) const {
  const std::deque<std::string>* Values = FieldNo == 4   ? &FFrequencies
                                          : FieldNo == 5 ? &FModes
                                                         : nullptr;
  return Values && !Value.empty() &&
         std::find(Values->begin(), Values->end(), Value) != Values->end();
}

} // namespace vela
