#include "cat/radios/untRadioFactory.h"

#include <array>

#include "cat/radios/untFT100DCATinterface.h"
#include "cat/radios/untFT897DCATinterface.h"
#include "cat/radios/untFT950CATinterface.h"
#include "cat/radios/untFlexCATinterface.h"
#include "cat/radios/untIC7000CATinterface.h"
#include "cat/radios/untIC7300CATinterface.h"
#include "cat/radios/untRigctldCATinterface.h"

namespace vela {

namespace {

struct TRadioEntry {
  TRadioType Radio;
  const char* Name;
};
constexpr std::array<TRadioEntry, 7> Radios{{
    {rtFlex, "flex"},
    {rtFT100D, "ft100d"},
    {rtFT897D, "ft897d"},
    {rtFT950, "ft950"},
    {rtIC7000, "ic7000"},
    {rtIC7300, "ic7300"},
    {rtRigctld, "rigctld"},
}};

} // namespace

std::unique_ptr<TCATInterface> CreateRadioDriver(TRadioType Radio, TComponent* AOwner,
                                                 TVelaLogSettings* ASettings) {
  switch (Radio) {
  case rtFlex:
    return std::make_unique<TFlexCATInterface>(AOwner, ASettings);
  case rtFT100D:
    return std::make_unique<TFT100DCATInterface>(AOwner, ASettings);
  case rtFT897D:
    return std::make_unique<TFT897DCATInterface>(AOwner, ASettings);
  case rtFT950:
    return std::make_unique<TFT950CATInterface>(AOwner, ASettings);
  case rtIC7000:
    return std::make_unique<TIC7000CATInterface>(AOwner, ASettings);
  case rtIC7300:
    return std::make_unique<TIC7300CATInterface>(AOwner, ASettings);
  case rtRigctld:
    return std::make_unique<TRigctldCATInterface>(AOwner, ASettings);
  }
  return nullptr;
}

const char* RadioName(TRadioType Radio) {
  for (const TRadioEntry& Entry : Radios)
    if (Entry.Radio == Radio)
      return Entry.Name;
  return nullptr;
}

std::optional<TRadioType> RadioFromName(std::string_view Name) {
  for (const TRadioEntry& Entry : Radios)
    if (Name == Entry.Name)
      return Entry.Radio;
  return std::nullopt;
}

} // namespace vela
