// Fuzzes the contact datagram reader and the ADIF reader: any bytes give a
// bounded result, every contact admitted has a call that looks like one and
// no value with a tag's "<", and every record read (lengths in characters or
// bytes) written again as an ADIF record, in characters, reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "contacts/untAdif.h"
#include "contacts/untContactDatagram.h"

namespace {

void RoundTrip(const vela::TContact& Contact) {
  using namespace vela;
  const TAdifDocument Again = ReadAdif(AdifRecordText(Contact));
  if (!Again.Error.empty() || Again.Records.size() != 1 || !(Again.Records[0] == Contact))
    std::abort();
}

void Check(const vela::TContact& Contact) {
  using namespace vela;
  if (!LooksLikeCall(Contact.Field("call")) || ContactLine(Contact).find('\n') != std::string::npos)
    std::abort();
  for (const TContactField& Field : Contact.Fields)
    if (Field.Value.find('<') != std::string::npos)
      std::abort();
  const TAdifDocument Again = ReadAdif(AdifRecordText(Contact));
  if (!Again.Error.empty() || Again.Records.size() != 1 || !(Again.Records[0] == Contact))
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  using namespace vela;
  const std::string_view Input(reinterpret_cast<const char*>(Bytes), Size);
  const TContactDatagram Datagram = ReadContactDatagram(Input);
  if (Datagram.Kind == TDatagramKind::dkRefused && Datagram.Error.empty())
    std::abort();
  for (const TContact& Contact : Datagram.Contacts)
    Check(Contact);
  const TAdifDocument Doc = ReadAdif(Input);
  if (Doc.Records.size() > MaxAdifRecords || Doc.Records.size() != Doc.Ends.size())
    std::abort();
  for (const TContact& Contact : Doc.Records) {
    (void)ContactPageTexts(Contact), (void)ContactKey(Contact);
    RoundTrip(Contact);
  }
  return 0;
}
