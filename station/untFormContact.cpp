#include "station/untFormContact.h"

#include "cat/radios/untPageFields.h"
#include "contacts/untContact.h"

namespace vela {

TFormContact FormContact(const TContact& Contact, const TFormWrites& Mapped) {
  const TContactPageTexts Texts = ContactPageTexts(Contact);
  const bool HasFrequency = !Texts.Frequency.empty() || !Texts.Band.empty();
  const std::string* const Values[PageFieldCount] = {&Texts.Date, &Texts.Time,      &Texts.Call,
                                                     &Texts.Band, &Texts.Frequency, &Texts.Mode};
  TFormContact Form;
  for (int Field = 0; Field < PageFieldCount; ++Field) {
    const bool Write = Field == pfBand ? HasFrequency : !Values[Field]->empty();
    if (!Write)
      continue;
    Form.Writes.emplace_back(PageFieldNames[Field], *Values[Field]);
    Form.PageFields |= 1u << Field;
  }
  for (const auto& [Name, Target] : Mapped)
    if (const std::string Value = MappedField(Contact, Name); !Value.empty())
      Form.Writes.emplace_back(Target, Value);
  return Form;
}

} // namespace vela
