#include "contacts/untAdif.h"
#include "platform/untText.h"

#include <algorithm>

namespace vela {

namespace {

constexpr std::size_t None = std::string_view::npos;

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

bool IsNameChar(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '_';
}

bool AllDigits(std::string_view Text) {
  return !Text.empty() &&
         std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; });
}

// Where Count characters starting at At end in Text: a character is a UTF-8
// sequence or any other single byte (Latin-1). None when the text ends first.
std::size_t CharactersEnd(std::string_view Text, std::size_t At, std::size_t Count) {
  for (; Count > 0; --Count) {
    if (At >= Text.size())
      return None;
    const std::size_t Length = Utf8SequenceLength(Text, At);
    At += Length > 0 ? Length : 1;
  }
  return At;
}

// Data ends where the text ends, or before a blank or the next tag.
bool EndsField(std::string_view Text, std::size_t At) {
  return At == Text.size() || (At < Text.size() && (IsBlank(Text[At]) || Text[At] == '<'));
}

// Whether a field's tag ("<name:digits") or "<eor>" begins at At.
bool TagBeginsAt(std::string_view Text, std::size_t At) {
  std::size_t I = At + 1;
  while (I < Text.size() && IsNameChar(Text[I]))
    ++I;
  if (I == At + 1 || I >= Text.size())
    return false;
  if (Text[I] == '>')
    return AsciiLower(Text.substr(At + 1, I - At - 1)) == "eor";
  return Text[I] == ':' && I + 1 < Text.size() && Text[I + 1] >= '0' && Text[I + 1] <= '9';
}

// The byte after the next "<eor>" (any case) at or after From; the text's
// end when there is none.
std::size_t AfterEor(std::string_view Text, std::size_t From) {
  for (std::size_t At = Text.find('<', From); At != None; At = Text.find('<', At + 1))
    if (Text.size() - At >= 5 && AsciiLower(Text.substr(At, 5)) == "<eor>")
      return At + 5;
  return Text.size();
}

} // namespace

TAdifDocument ReadAdif(std::string_view Text) {
  TAdifDocument Doc;
  TContact Record;
  std::size_t RecordBegin = None; // where the record's first tag is
  // Until an "<eoh>" or the first "<eor>", the fields read may be a header's
  // (some senders begin their header with a tag, not with free text).
  bool MaybeHeader = true;
  auto Fail = [&Doc](std::string Error) {
    Doc.Records.clear();
    Doc.Ends.clear();
    Doc.Damaged.clear();
    Doc.Error = std::move(Error);
    return Doc;
  };
  // The record read so far is passed over; Begin: where the damage shows
  // when no field was read yet.
  auto Damage = [&](std::size_t Begin, std::size_t End, std::string Why) {
    Doc.Damaged.push_back({RecordBegin == None ? Begin : RecordBegin, End, std::move(Why)});
    Record = TContact();
    RecordBegin = None;
  };
  std::size_t At = std::string_view(Text).starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (true) {
    const std::size_t Open = Text.find('<', At);
    if (Open == None)
      break;
    const std::size_t Close = Text.find_first_of("<>", Open + 1);
    if (Close == None) {
      // The text ends inside a tag.
      if (!Record.Fields.empty() || RecordBegin != None || !MaybeHeader)
        Damage(Open, Text.size(), "ADIF record cut short inside a tag");
      At = Text.size();
      break;
    }
    if (Text[Close] == '<') {
      // A tag cut short by the next one: its writer stopped there and the
      // next record begins at that "<".
      if (!Record.Fields.empty() || RecordBegin != None || !MaybeHeader)
        Damage(Open, Close,
               "ADIF record cut short inside a tag: <" +
                   CleanFieldText(AdifBytesText(
                       Text.substr(Open + 1, std::min<std::size_t>(Close - Open - 1, 32)))));
      At = Close;
      continue;
    }
    const std::string Tag = AsciiLower(Text.substr(Open + 1, Close - Open - 1));
    At = Close + 1;
    if (Tag == "eoh") {
      if (!MaybeHeader)
        return Fail("ADIF <eoh> after a record");
      MaybeHeader = false;
      Record = TContact();
      RecordBegin = None;
      continue;
    }
    if (Tag == "eor") {
      MaybeHeader = false;
      if (!Record.Fields.empty()) {
        if (Doc.Records.size() >= MaxAdifRecords)
          return Fail("ADIF text with too many records");
        Doc.Records.push_back(std::move(Record));
        Doc.Ends.push_back(At);
      }
      Record = TContact();
      RecordBegin = None;
      continue;
    }
    const std::size_t Colon = Tag.find(':');
    const std::string Name = Tag.substr(0, Colon);
    const std::string_view LengthText =
        Colon == std::string::npos
            ? std::string_view()
            : std::string_view(Tag).substr(Colon + 1, Tag.find(':', Colon + 1) - Colon - 1);
    const bool NameOk = !Name.empty() && std::all_of(Name.begin(), Name.end(), IsNameChar);
    if (!NameOk || !AllDigits(LengthText) || LengthText.size() > 9) {
      // A header's free text may hold angle brackets of its own.
      if (MaybeHeader && Record.Fields.empty())
        continue;
      const std::string Shown = CleanFieldText(AdifBytesText(Tag.substr(0, 32)));
      const std::size_t End = AfterEor(Text, At);
      Damage(Open, End,
             NameOk ? "ADIF field " + Shown + " without a length" : "ADIF tag <" + Shown + ">");
      At = End;
      continue;
    }
    if (Record.Has(Name)) {
      // A field the record holds already: the record was cut short before
      // it, and the next one begins with it.
      Damage(Open, Open, "ADIF record cut short: a second " + Name + " field");
    }
    if (RecordBegin == None)
      RecordBegin = Open;
    std::size_t Length = 0;
    for (char C : LengthText)
      Length = Length * 10 + static_cast<std::size_t>(C - '0');
    // The length counts characters, as the logbooks read it; senders that
    // count bytes are read too where the characters cannot end the field.
    std::size_t End = CharactersEnd(Text, At, Length);
    if (End == None || !EndsField(Text, End))
      End = Length <= Text.size() - At && EndsField(Text, At + Length) ? At + Length : None;
    if (End == None) {
      // A tag inside the data the length claims: the value was cut short
      // there, and the next record begins at the tag. Else the record is
      // passed over up to its end.
      const std::size_t Next = Text.find('<', At);
      const bool Cut = Next != None && Next - At < Length && TagBeginsAt(Text, Next);
      const std::size_t Resume = Cut ? Next : AfterEor(Text, At);
      Damage(Open, Resume, "ADIF field " + Name + " with a wrong length");
      At = Resume;
      continue;
    }
    Record.Set(Name, AdifBytesText(Text.substr(At, End - At)));
    At = End;
  }
  if (!Record.Fields.empty())
    Damage(RecordBegin, Text.size(), "ADIF record without <eor>");
  return Doc;
}

std::string AdifRecordText(const TContact& Contact) {
  std::string Text;
  for (const TContactField& F : Contact.Fields) {
    if (F.Value.empty())
      continue;
    const std::string Value = ValidUtf8(F.Value);
    Text += '<' + F.Name + ':' + std::to_string(CharacterCount(Value)) + '>' + Value + ' ';
  }
  return Text + "<eor>";
}

std::size_t CharacterCount(std::string_view Text) {
  std::size_t Count = 0;
  for (char C : Text)
    Count += (static_cast<unsigned char>(C) & 0xC0) == 0x80 ? 0 : 1;
  return Count;
}

std::string FrequencyMhzText(std::uint64_t Hz) {
  if (Hz == 0 || Hz > 100'000'000'000ull)
    return {};
  // MHz with six decimals: the hertz exactly.
  std::string Digits = std::to_string(Hz);
  Digits.insert(0, Digits.size() < 7 ? 7 - Digits.size() : 0, '0');
  return Digits.substr(0, Digits.size() - 6) + "." + Digits.substr(Digits.size() - 6);
}

std::string AdifHeaderText() {
  return "Contacts received by VELA Log\n<adif_ver:5>3.1.4 <programid:8>VELA Log <eoh>\n";
}

} // namespace vela
