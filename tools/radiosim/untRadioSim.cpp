#include "tools/radiosim/untRadioSim.h"

#include "cat/radios/untRadioTable.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vela::radiosim {

std::string HexBytes(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty())
      out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TRadioCore::TRadioCore(std::vector<TSimMode> modes, int64_t maxFrequency)
    : FModes(std::move(modes)), FMaxFrequency(maxFrequency) {
  // Start in USB where the radio has it, else in its first mode.
  const TSimMode* start = &FModes.front();
  for (const auto& m : FModes)
    if (m.Name == "usb") {
      start = &m;
      break;
    }
  FModeCode = start->Code;
  FFilter = start->Filter;
  FData = start->Data;
}

void TRadioCore::Receive(const std::string& bytes) {
  if (!bytes.empty())
    Feed(bytes);
}

std::string TRadioCore::TakeOutput() {
  return std::exchange(FOutput, {});
}

std::vector<std::string> TRadioCore::TakeLog() {
  return std::exchange(FLog, {});
}

void TRadioCore::SetPTTFromCat(bool on) {
  if (on != FPTT)
    FLog.push_back(on ? "ptt 1" : "ptt 0");
  FPTT = on;
}

void TRadioCore::LogCommand(const std::string& command) {
  if (IsBinary()) {
    FLog.push_back("cmd " + HexBytes(command));
    return;
  }
  // Keep the log line a single printable line whatever the controller sent.
  std::string text;
  for (unsigned char c : command)
    text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  FLog.push_back("cmd " + text);
}

void TRadioCore::Reply(std::string bytes) {
  if (bytes.empty())
    return;
  if (FDropNext) {
    bytes.erase(0, 1);
    FDropNext = false;
  }
  if (FInsertNext) {
    bytes.insert(bytes.begin(), '\0');
    FInsertNext = false;
  }
  (FAnswerDelayMs > 0 ? FLate : FOutput) += bytes;
}

bool TRadioCore::ApplyFrequency(int64_t hz) {
  if (hz < 0 || hz > FMaxFrequency)
    return false;
  FFrequency = hz;
  FLog.push_back("freq " + std::to_string(hz));
  return true;
}

bool TRadioCore::ApplyMode(const TSimMode& m) {
  FModeCode = m.Code;
  FFilter = m.Filter;
  FData = m.Data;
  FLog.push_back("mode " + m.Name);
  return true;
}

bool TRadioCore::setFrequency(int64_t hz) {
  if (!ApplyFrequency(hz))
    return false;
  OperatorChanged(true);
  return true;
}

bool TRadioCore::SetFrequencyFromCat(int64_t hz) {
  return ApplyFrequency(hz);
}

static std::string Lower(std::string s) {
  for (auto& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool TRadioCore::setMode(const std::string& name) {
  std::string key = Lower(name);
  auto find = [this](const std::string& n) -> const TSimMode* {
    for (const auto& m : FModes)
      if (m.Name == n)
        return &m;
    return nullptr;
  };
  const TSimMode* m = find(key);
  // Common alternative spellings.
  if (!m && (key == "data-usb" || key == "data" || key == "dig" || key == "pktusb"))
    m = find("digi");
  if (!m && key == "rtty")
    m = find("digi");
  if (!m)
    return false;
  ApplyMode(*m);
  OperatorChanged(false);
  return true;
}

bool TRadioCore::SetModeFromCat(int code, int filter, bool data) {
  const TSimMode* exact = nullptr;
  const TSimMode* first = nullptr;
  for (const auto& m : FModes) {
    if (m.Code != code || m.Data != data)
      continue;
    if (!first)
      first = &m;
    if (filter >= 0 && m.Filter == filter && !exact)
      exact = &m;
  }
  if (!first)
    return false;
  TSimMode chosen = exact ? *exact : *first;
  if (filter >= 0)
    chosen.Filter = filter;
  return ApplyMode(chosen);
}

std::string TRadioCore::NameForCode(int code, int filter, bool data) const {
  const TSimMode* first = nullptr;
  for (const auto& m : FModes) {
    if (m.Code != code || m.Data != data)
      continue;
    if (m.Filter == filter)
      return m.Name;
    if (!first)
      first = &m;
  }
  return first ? first->Name : std::string();
}

std::string TRadioCore::Mode() const {
  return NameForCode(FModeCode, FFilter, FData);
}

const std::vector<std::string>& RadioNames() {
  // The program's radio table names the radios; every one with a simulator.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> result;
    for (const TRadioModel* model : RadioModels())
      if (CreateRadioCore(model->Name))
        result.push_back(model->Name);
    return result;
  }();
  return names;
}

std::unique_ptr<TRadioCore> CreateRadioCore(const std::string& name) {
  const TRadioModel* model = FindRadioModel(std::string_view(Lower(name)));
  if (!model)
    return nullptr;
  switch (model->Radio) {
  case rtFlex:
    return std::make_unique<TFlexRadio>();
  case rtFT950:
    return std::make_unique<TFT950Radio>();
  case rtFT100D:
    return std::make_unique<TFT100DRadio>();
  case rtFT897D:
    return std::make_unique<TFT897DRadio>();
  case rtIC7000:
    return std::make_unique<TIcomRadio>(model->Name, model->DefaultCIVAddress, true);
  case rtIC7300:
    return std::make_unique<TIcomRadio>(model->Name, model->DefaultCIVAddress, false);
  default:
    return nullptr;
  }
}

} // namespace vela::radiosim
