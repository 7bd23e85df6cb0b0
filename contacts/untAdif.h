// ADIF text, as the digital-mode programs exchange contacts: fields
// "<name:length>data" (an optional ":type" after the length is ignored),
// an optional header ended by "<eoh>", records ended by "<eor>".
//
// A field's length counts its characters (Unicode code points), as the web
// logbooks read it. The reader also takes a count of bytes where the count
// of characters cannot end the field before a blank, the next tag or the
// end, since some senders count bytes.
//
// The reader is strict, since a datagram that merely looks like ADIF must not
// become a contact: a length that is not a number, runs past the text, or
// leaves the data followed by anything but a blank, a tag or the end, fails
// the document; fields after the last "<eor>" fail it too. Only tags are
// read as tags: "<eor>" inside a value is data. Names are taken in lower
// case; values are made valid UTF-8.
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

struct TAdifDocument {
  std::vector<TContact> Records;
  // Where each record ends in the text: the byte after its "<eor>".
  std::vector<std::size_t> Ends;
  std::string Error; // empty when the whole text was read
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
