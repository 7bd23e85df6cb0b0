// A contact as the log page's form takes it: the writes (the form's field
// name and the text) and which of the six page fields they fill, so that the
// radio's and the clock's writes leave those alone until the page loads anew.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vela {

struct TContact;

using TFormWrites = std::vector<std::pair<std::string, std::string>>;

struct TFormContact {
  TFormWrites Writes;
  std::uint32_t PageFields = 0; // bit n: page field n (TPageField)
};

// The page's six fields from the contact's texts (call, band, frequency,
// mode, date and time on; a band outside the plan is written empty beside
// its frequency), then each mapped (contact field, form field) the contact
// has.
TFormContact FormContact(const TContact& Contact, const TFormWrites& Mapped);

} // namespace vela
