#include "contacts/untContact.h"

#include <algorithm>

#include "cat/radios/untBandPlan.h"
#include "platform/untStrToInt.h"
#include "platform/untText.h"

namespace vela {

namespace {

// Frequencies past this are no radio's; the page's count must fit 32 bits.
constexpr std::int64_t MaxFrequencyHz = 100'000'000'000;

// The fields the page's six texts are made from.
const char* const PageFields[] = {"call", "band", "freq", "qso_date", "time_on"};

int Number(std::string_view Digits) {
  int Value = 0;
  for (char C : Digits)
    Value = Value * 10 + (C - '0');
  return Value;
}

// "YYYY-MM-DD" from an ADIF date "YYYYMMDD", or empty.
std::string DateText(std::string_view Date) {
  if (Date.size() != 8 || !AllDecimalDigits(Date))
    return {};
  const int Month = Number(Date.substr(4, 2)), Day = Number(Date.substr(6, 2));
  if (Month < 1 || Month > 12 || Day < 1 || Day > 31)
    return {};
  return std::string(Date.substr(0, 4)) + "-" + std::string(Date.substr(4, 2)) + "-" +
         std::string(Date.substr(6, 2));
}

// "HH:MM" from an ADIF time "HHMM" or "HHMMSS", or empty.
std::string TimeText(std::string_view Time) {
  if ((Time.size() != 4 && Time.size() != 6) || !AllDecimalDigits(Time))
    return {};
  if (Number(Time.substr(0, 2)) > 23 || Number(Time.substr(2, 2)) > 59 ||
      (Time.size() == 6 && Number(Time.substr(4, 2)) > 59))
    return {};
  return std::string(Time.substr(0, 2)) + ":" + std::string(Time.substr(2, 2));
}

// A contact's frequency as a radio value, whose page texts PageTexts makes.
TRadioValue ValueAt(std::int64_t Hz) {
  TRadioValue Value;
  Value.Hz = Hz;
  return Value;
}

// The band plan's band of a contact: by its frequency, else its own band
// field when that is one of the plan's names.
std::string PlanBand(const TContact& Contact, std::int64_t Hz) {
  if (Hz >= 0)
    return PageBand(ValueAt(Hz));
  const std::string Own = AsciiLower(Contact.Field("band"));
  const std::optional<TBandRange> Band = FindBand(Own);
  return Band && Band->Shown ? Own : std::string();
}

} // namespace

std::string TContact::Field(std::string_view Name) const {
  for (const TContactField& F : Fields)
    if (F.Name == Name)
      return F.Value;
  return {};
}

bool TContact::Has(std::string_view Name) const {
  return std::any_of(Fields.begin(), Fields.end(),
                     [&](const TContactField& F) { return F.Name == Name; });
}

void TContact::Set(std::string_view Name, std::string Value) {
  auto It = std::find_if(Fields.begin(), Fields.end(),
                         [&](const TContactField& F) { return F.Name == Name; });
  if (Value.empty()) {
    if (It != Fields.end())
      Fields.erase(It);
  } else if (It != Fields.end()) {
    It->Value = std::move(Value);
  } else {
    Fields.push_back({std::string(Name), std::move(Value)});
  }
}

std::int64_t ContactFrequencyHz(const TContact& Contact) {
  const std::string Text = Contact.Field("freq");
  const std::size_t Dot = Text.find('.');
  const std::string_view Whole = std::string_view(Text).substr(0, Dot);
  const std::string_view Fraction =
      Dot == std::string::npos ? std::string_view() : std::string_view(Text).substr(Dot + 1);
  if ((Whole.empty() && Fraction.empty()) || Whole.size() > 6 || !AllDecimalDigits(Whole) ||
      !AllDecimalDigits(Fraction))
    return -1;
  std::int64_t Hz = 0;
  for (char C : Whole)
    Hz = Hz * 10 + (C - '0');
  // Six decimals of MHz are hertz; finer digits are dropped.
  for (std::size_t I = 0; I < 6; ++I)
    Hz = Hz * 10 + (I < Fraction.size() ? Fraction[I] - '0' : 0);
  return Hz <= MaxFrequencyHz ? Hz : -1;
}

std::string PageModeForContact(std::string_view Mode, std::string_view Submode,
                               std::int64_t FrequencyHz, std::string_view Band) {
  const std::string Own = AsciiLower(Mode);
  if (Own.empty())
    return {};
  if (Own == "ssb") {
    if (const TModeRow* Side = FindAdifModeRow(Submode); Side && Side->AdifSubmode)
      return Side->Page;
    if (FrequencyHz >= 0)
      return SsbSideband(FrequencyHz);
    // By the band alone: the lower sideband where all of it lies below the
    // split.
    const std::optional<TBandRange> Range = FindBand(AsciiLower(Band));
    return Range && std::int64_t{Range->Below} * 100 <= SidebandSplitHz ? ModeLSB : ModeUSB;
  }
  // CW, AM and FM as such (also RTTY, which the page shows as "Digi"); every
  // other mode is one of the digital modes.
  if (const TModeRow* Row = FindAdifModeRow(Own))
    return Row->Page;
  return ModeDigi;
}

TContactPageTexts ContactPageTexts(const TContact& Contact) {
  TContactPageTexts Texts;
  const std::int64_t Hz = ContactFrequencyHz(Contact);
  Texts.Call = Contact.Field("call");
  Texts.Band = PlanBand(Contact, Hz);
  // The band and frequency texts as the radio's own are made.
  if (Hz >= 0)
    Texts.Frequency = PageFrequencyText(ValueAt(Hz));
  Texts.Mode = PageModeForContact(Contact.Field("mode"), Contact.Field("submode"), Hz,
                                  Contact.Field("band"));
  Texts.Date = DateText(Contact.Field("qso_date"));
  Texts.Time = TimeText(Contact.Field("time_on"));
  if (Texts.Date.empty() || Texts.Time.empty())
    Texts.Date.clear(), Texts.Time.clear();
  return Texts;
}

std::string ContactKey(const TContact& Contact) {
  std::string Time = Contact.Field("time_on");
  if (Time.size() == 4)
    Time += "00";
  std::string Call = Contact.Field("call");
  for (char& C : Call)
    if (C >= 'a' && C <= 'z')
      C = static_cast<char>(C - 'a' + 'A');
  return Call + '\t' + Contact.Field("qso_date") + '\t' + Time + '\t' +
         PlanBand(Contact, ContactFrequencyHz(Contact));
}

std::string MappedField(const TContact& Contact, std::string_view Name) {
  if (Name == "mode")
    if (std::string Submode = Contact.Field("submode"); !Submode.empty())
      return Submode;
  return Contact.Field(Name);
}

std::vector<TContactField> FurtherFields(const TContact& Contact) {
  std::vector<TContactField> Result;
  for (const TContactField& F : Contact.Fields)
    if (std::none_of(std::begin(PageFields), std::end(PageFields),
                     [&](const char* Name) { return F.Name == Name; }))
      Result.push_back(F);
  return Result;
}

std::string ContactLine(const TContact& Contact) {
  auto Clean = [](std::string Text) {
    std::replace_if(
        Text.begin(), Text.end(), [](char C) { return C == '\t' || C == '\n' || C == '\r'; }, ' ');
    return Text;
  };
  const TContactPageTexts T = ContactPageTexts(Contact);
  std::string Line = "contact";
  for (const std::string* Text : {&T.Call, &T.Band, &T.Frequency, &T.Mode, &T.Date, &T.Time})
    Line += '\t' + Clean(*Text);
  for (const TContactField& F : FurtherFields(Contact))
    Line += '\t' + Clean(F.Name) + '=' + Clean(F.Value);
  return Line;
}

bool LooksLikeCall(std::string_view Text) {
  return Text.size() >= 3 && Text.size() <= 20 && std::all_of(Text.begin(), Text.end(), [](char C) {
           return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') ||
                  C == '/';
         });
}

std::string CleanFieldText(std::string_view Text) {
  std::string Result;
  Result.reserve(Text.size());
  for (char C : Text) {
    const auto B = static_cast<unsigned char>(C);
    if (C == '\t' || C == '\r' || C == '\n')
      Result += ' ';
    else if (C == '<')
      Result += "\u2039";
    else if (C == '>')
      Result += "\u203A";
    else if (B >= 0x20 && B != 0x7F)
      Result += C;
  }
  return Result;
}

bool AdmitContact(TContact& Contact, std::string& Why) {
  std::string Call = Contact.Field("call");
  const std::size_t First = Call.find_first_not_of(" \t");
  Call = First == std::string::npos ? std::string()
                                    : Call.substr(First, Call.find_last_not_of(" \t") - First + 1);
  if (Call.empty()) {
    Why = "a contact without a call";
    return false;
  }
  if (!LooksLikeCall(Call)) {
    Why = "a call that is no call: \"" + CleanFieldText(Call.substr(0, 24)) + "\"";
    return false;
  }
  std::erase_if(Contact.Fields, [](const TContactField& F) {
    return F.Name.empty() || F.Name.size() > 64 ||
           !std::all_of(F.Name.begin(), F.Name.end(), [](char C) {
             return (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '_';
           });
  });
  for (TContactField& F : Contact.Fields)
    F.Value = CleanFieldText(F.Value);
  // A value of control characters alone is none.
  std::erase_if(Contact.Fields, [](const TContactField& F) { return F.Value.empty(); });
  Contact.Set("call", Call);
  return true;
}

std::size_t Utf8SequenceLength(std::string_view Text, std::size_t At) {
  const auto B = static_cast<unsigned char>(Text[At]);
  std::size_t Length = 0;
  std::uint32_t Code = 0;
  if (B < 0x80)
    return 1;
  if (B >= 0xC2 && B <= 0xDF)
    Length = 2, Code = B & 0x1F;
  else if (B >= 0xE0 && B <= 0xEF)
    Length = 3, Code = B & 0x0F;
  else if (B >= 0xF0 && B <= 0xF4)
    Length = 4, Code = B & 0x07;
  if (Length == 0 || Text.size() - At < Length)
    return 0;
  for (std::size_t K = 1; K < Length; ++K) {
    const auto C = static_cast<unsigned char>(Text[At + K]);
    if ((C & 0xC0) != 0x80)
      return 0;
    Code = (Code << 6) | (C & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if ((Length == 3 && (Code < 0x800 || (Code >= 0xD800 && Code <= 0xDFFF))) ||
      (Length == 4 && (Code < 0x10000 || Code > 0x10FFFF)))
    return 0;
  return Length;
}

std::string ValidUtf8(std::string_view Text) {
  std::string Result;
  Result.reserve(Text.size());
  for (std::size_t I = 0; I < Text.size();) {
    const std::size_t Length = Utf8SequenceLength(Text, I);
    if (Length > 0)
      Result.append(Text.substr(I, Length));
    else
      Result += "\xEF\xBF\xBD";
    I += Length > 0 ? Length : 1;
  }
  return Result;
}

std::string AdifBytesText(std::string_view Bytes) {
  // Windows-1252 from 0x80 to 0x9F; the five bytes it leaves open stay the
  // Latin-1 control characters they are.
  static const char16_t From80[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string Result;
  Result.reserve(Bytes.size());
  for (std::size_t I = 0; I < Bytes.size();) {
    if (const std::size_t Length = Utf8SequenceLength(Bytes, I); Length > 0) {
      Result.append(Bytes.substr(I, Length));
      I += Length;
      continue;
    }
    const auto B = static_cast<unsigned char>(Bytes[I++]);
    const char16_t Code = B < 0xA0 ? From80[B - 0x80] : B;
    if (Code < 0x800) {
      Result += static_cast<char>(0xC0 | (Code >> 6));
    } else {
      Result += static_cast<char>(0xE0 | (Code >> 12));
      Result += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    }
    Result += static_cast<char>(0x80 | (Code & 0x3F));
  }
  return Result;
}

} // namespace vela
