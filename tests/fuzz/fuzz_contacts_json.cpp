// Fuzzes the JSON API reader: any text gives a bounded result, a refusal
// says why, and every contact admitted has a call that looks like one and no
// value with a tag's "<".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "contacts/untContactDatagram.h"
#include "contacts/untContactJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  using namespace vela;
  const std::string_view Input(reinterpret_cast<const char*>(Bytes), Size);
  const TContactDatagram Json = ReadContactJson(Input);
  if (Json.Kind == TDatagramKind::dkRefused && Json.Error.empty())
    std::abort();
  if (Json.Contacts.size() > 1)
    std::abort();
  const TContactDatagram Datagram = ReadContactDatagram(Input);
  for (const TContact& Contact : Datagram.Contacts) {
    if (!LooksLikeCall(Contact.Field("call")))
      std::abort();
    for (const TContactField& Field : Contact.Fields)
      if (Field.Value.find('<') != std::string::npos)
        std::abort();
  }
  return 0;
}
