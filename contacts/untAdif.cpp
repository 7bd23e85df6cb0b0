#include "contacts/untAdif.h"
#include "platform/untText.h"

#include <cctype>

namespace vela {

namespace {

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

bool IsContinuation(char C) {
  return (static_cast<unsigned char>(C) & 0xC0) == 0x80;
}

// Where Count characters (code points) starting at At end in Text; npos when
// the text ends first.
std::size_t CharactersEnd(std::string_view Text, std::size_t At, std::size_t Count) {
  for (; Count > 0; --Count) {
    if (At >= Text.size())
      return std::string_view::npos;
    ++At;
    while (At < Text.size() && IsContinuation(Text[At]))
      ++At;
  }
  return At;
}

// Data ends where the text ends, or before a blank or the next tag.
bool EndsField(std::string_view Text, std::size_t At) {
  return At == Text.size() || (At < Text.size() && (IsBlank(Text[At]) || Text[At] == '<'));
}

} // namespace

TAdifDocument ReadAdif(std::string_view Text) {
  TAdifDocument Doc;
  TContact Record;
  // Until an "<eoh>" or the first "<eor>", the fields read may be a header's
  // (some senders begin their header with a tag, not with free text).
  bool MaybeHeader = true;
  auto Fail = [&Doc](std::string Error) {
    Doc.Records.clear();
    Doc.Ends.clear();
    Doc.Error = std::move(Error);
    return Doc;
  };
  std::size_t At = 0;
  while (true) {
    const std::size_t Open = Text.find('<', At);
    if (Open == std::string_view::npos)
      break;
    const std::size_t Close = Text.find('>', Open);
    if (Close == std::string_view::npos)
      return Fail("ADIF tag without '>'");
    const std::string Tag = AsciiLower(Text.substr(Open + 1, Close - Open - 1));
    At = Close + 1;
    if (Tag == "eoh") {
      if (!MaybeHeader)
        return Fail("ADIF <eoh> after a record");
      MaybeHeader = false;
      Record = TContact();
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
      continue;
    }
    const std::size_t Colon = Tag.find(':');
    if (Colon == std::string::npos || Colon == 0) {
      // A header's free text may hold angle brackets of its own.
      if (MaybeHeader)
        continue;
      return Fail("ADIF tag without a length: <" + ValidUtf8(Tag.substr(0, 32)) + ">");
    }
    const std::string Name = Tag.substr(0, Colon);
    const std::string_view LengthText =
        std::string_view(Tag).substr(Colon + 1, Tag.find(':', Colon + 1) - Colon - 1);
    std::size_t Length = 0;
    bool LengthOk = !LengthText.empty() && LengthText.size() <= 9;
    for (char C : LengthText) {
      LengthOk = LengthOk && std::isdigit(static_cast<unsigned char>(C));
      Length = Length * 10 + static_cast<std::size_t>(C - '0');
    }
    // The length counts characters, as the logbooks read it; senders that
    // count bytes are read too where the characters cannot end the field.
    // A length that fits neither runs on into the text after it.
    std::size_t End = LengthOk ? CharactersEnd(Text, At, Length) : std::string_view::npos;
    if (End == std::string_view::npos || !EndsField(Text, End))
      End = LengthOk && Length <= Text.size() - At && EndsField(Text, At + Length)
                ? At + Length
                : std::string_view::npos;
    if (End == std::string_view::npos)
      return Fail("ADIF field " + ValidUtf8(Name.substr(0, 32)) + " with a wrong length");
    const std::string_view Data = Text.substr(At, End - At);
    At = End;
    Record.Set(ValidUtf8(Name), ValidUtf8(Data));
  }
  if (!Record.Fields.empty())
    return Fail("ADIF record without <eor>");
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
    Count += IsContinuation(C) ? 0 : 1;
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
