// A contact as a digital-mode program logs it: every field by its ADIF name
// (lower case), in the order received; and what the log page's form shows of
// it, in the texts of the band plan and the mode names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vela {

struct TContactField {
  std::string Name; // lower case
  std::string Value;
  bool operator==(const TContactField&) const = default;
};

struct TContact {
  std::vector<TContactField> Fields;

  // The value of Name (lower case), empty when the contact does not carry it.
  std::string Field(std::string_view Name) const;
  bool Has(std::string_view Name) const;
  // Replaces the first field of that name, or appends one; an empty value
  // removes it.
  void Set(std::string_view Name, std::string Value);
  bool operator==(const TContact&) const = default;
};

// What the form's fields get: call, band, frequency, mode texts and the time
// on as date YYYY-MM-DD and time HH:MM (UTC). A text the contact cannot give
// is empty (an unknown frequency or mode, no time on).
struct TContactPageTexts {
  std::string Call, Band, Frequency, Mode, Date, Time;
};

TContactPageTexts ContactPageTexts(const TContact& Contact);

// The contact's frequency in Hz from its "freq" field (MHz), or -1.
std::int64_t ContactFrequencyHz(const TContact& Contact);

// The page's mode name for an ADIF mode: SSB is "lsb" below 10 MHz and
// "usb" above (FrequencyHz -1: by Band, else "usb"), CW, AM and FM as such,
// every other mode "Digi"; empty for an empty mode.
std::string PageModeForContact(std::string_view Mode, std::string_view Submode,
                               std::int64_t FrequencyHz, std::string_view Band);

// The identity of a contact for spotting the same one sent twice: call,
// date and time on (to the second) and band.
std::string ContactKey(const TContact& Contact);

// A field for a form the operator mapped by name: "mode" is the contact's
// own mode name, its submode where it has one (JS8 rather than MFSK, FT4
// rather than MFSK), every other name the field of that name.
std::string MappedField(const TContact& Contact, std::string_view Name);

// The fields a contact carries besides those the page's six texts come from
// (call, band, freq, qso_date, time_on), in order.
std::vector<TContactField> FurtherFields(const TContact& Contact);

// One line for scripts: "contact CALL BAND FREQUENCY MODE DATE TIME" then
// "name=value" per further field, tab-separated; tabs and line breaks in
// values become blanks. No line end.
std::string ContactLine(const TContact& Contact);

// A call as the digital-mode programs log one: letters, digits and "/", 3 to
// 20 of them.
bool LooksLikeCall(std::string_view Text);

// A field's value fit for a record this program writes: tabs and line breaks
// become blanks, other control characters go, and "<" and ">" become the
// look-alikes U+2039 and U+203A, so that no value carries tag text to a
// reader that looks for tags inside values.
std::string CleanFieldText(std::string_view Text);

// Checks a contact that came in from outside: the call (blanks around it
// trimmed) must look like a call; fields whose names are not ADIF names
// (letters, digits, "_") are dropped; every value is cleaned. False, with
// Why set, when the contact is refused.
bool AdmitContact(TContact& Contact, std::string& Why);

// Text with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view Text);

// The length of the UTF-8 sequence (a whole character) at At; 0 where the
// byte there begins none.
std::size_t Utf8SequenceLength(std::string_view Text, std::size_t At);

// ADIF bytes as UTF-8 text: every UTF-8 sequence as it is, every other byte
// as the Latin-1 character it is (Windows-1252 for 0x80 to 0x9F), since
// senders write their texts in either, and some mix the two in one value.
std::string AdifBytesText(std::string_view Bytes);

} // namespace vela
