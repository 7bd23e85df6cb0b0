// ADIF text, as the digital-mode programs exchange contacts: fields
// "<name:length>data" (an optional ":type" after the length is ignored),
// an optional header ended by "<eoh>", records ended by "<eor>". A UTF-8
// byte order mark before it is skipped.
//
// Values are made UTF-8 by AdifBytesText: senders write UTF-8 or Latin-1
// (Windows-1252). A field's length counts its characters, as the web
// logbooks read it; in a Latin-1 text each byte is one. The reader also
// takes a count of bytes where the count of characters cannot end the field
// before a blank, the next tag or the end, since some senders count the
// bytes of their UTF-8.
//
// Only tags are read as tags: "<eor>" inside a value is data. Names are
// letters, digits and "_", taken in lower case. A record is never joined to
// the next: a writer that died half-way through one and wrote the next
// after it leaves a "<" inside a tag, a value cut short by a tag, or a field
// the record holds already; the damaged record is passed over (Damaged says
// where and why) and the next is read whole from that point. A record with a
// wrong length or a tag that is no field is passed over up to its "<eor>",
// and so is one the text ends in. Before the first "<eor>" or "<eoh>" tags
// that are no fields may be a header's free text, and are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/untContact.h"

namespace vela {

// The most records one document may hold; more fail it.
constexpr std::size_t MaxAdifRecords = 4096;

// A record passed over: where it lay in the text and why.
struct TAdifDamage {
  std::size_t Begin = 0, End = 0;
  std::string Why;
};

struct TAdifDocument {
  std::vector<TContact> Records;
  // Where each record ends in the text: the byte after its "<eor>".
  std::vector<std::size_t> Ends;
  std::vector<TAdifDamage> Damaged;
  // Why the whole text failed (no records then); empty otherwise.
  std::string Error;
};

TAdifDocument ReadAdif(std::string_view Text);

// One record: "<call:6>DL1ABC <mode:3>FT8 ... <eor>" (lengths in characters),
// fields with empty values left out, no header, no line end.
std::string AdifRecordText(const TContact& Contact);
// The number of characters (code points) in UTF-8 text.
std::size_t CharacterCount(std::string_view Text);
// The header that starts a file of records.
std::string AdifHeaderText();

// Hz as an ADIF frequency in MHz with six decimals ("7.075500"); empty for 0
// or more than 100 GHz.
std::string FrequencyMhzText(std::uint64_t Hz);

} // namespace vela
