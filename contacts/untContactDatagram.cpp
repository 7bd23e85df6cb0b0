#include "contacts/untContactDatagram.h"

#include <QDateTime>

#include "contacts/untAdif.h"
#include "contacts/untContactJson.h"

namespace vela {

namespace {

// The message types read here.
constexpr std::uint32_t TypeStatus = 1;
constexpr std::uint32_t TypeContactLogged = 5;
constexpr std::uint32_t TypeLoggedAdif = 12;

// The time bases of a date-time: the sender's local time, UTC, and an offset
// from UTC in seconds that follows the basis byte.
constexpr std::uint8_t BasisLocal = 0;
constexpr std::uint8_t BasisUtc = 1;
constexpr std::uint8_t BasisOffset = 2;
constexpr std::int32_t MaxUtcOffset = 24 * 60 * 60;

constexpr std::uint32_t NullLength = 0xFFFFFFFF;

// The Julian day numbers of 1 January 1900 and 31 December 9999.
constexpr std::int64_t FirstJulianDay = 2415021;
constexpr std::int64_t LastJulianDay = 5373484;

// Reads big-endian values; the first failure sticks and later reads give
// nothing.
class TReader {
public:
  explicit TReader(std::string_view ABytes) : FBytes(ABytes) {}

  // Read a date-time of the local time basis as UTC (see ReadDatagram).
  bool LocalIsUtc = false;

  bool Failed() const { return !FError.empty(); }
  const std::string& Error() const { return FError; }
  bool AtEnd() const { return FAt >= FBytes.size(); }

  std::uint64_t Unsigned(std::size_t Size) {
    if (Failed())
      return 0;
    if (FBytes.size() - FAt < Size) {
      FError = "the datagram ends inside a field";
      return 0;
    }
    std::uint64_t Value = 0;
    for (std::size_t I = 0; I < Size; ++I)
      Value = (Value << 8) | static_cast<unsigned char>(FBytes[FAt++]);
    return Value;
  }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Unsigned(4)); }

  // A string: a 32-bit length and that many bytes; the null string is empty.
  std::string_view Bytes() {
    const std::uint32_t Length = U32();
    if (Failed() || Length == NullLength)
      return {};
    if (Length > FBytes.size() - FAt) {
      FError = "a string runs past the end of the datagram";
      return {};
    }
    const std::string_view Result = FBytes.substr(FAt, Length);
    FAt += Length;
    return Result;
  }
  // A string of UTF-8 text.
  std::string Text() { return ValidUtf8(Bytes()); }

  // A date-time as ADIF date and time (UTC); both empty for a null one.
  void DateTime(std::string& Date, std::string& Time) {
    const auto JulianDay = static_cast<std::int64_t>(Unsigned(8));
    const std::uint32_t Milliseconds = U32();
    const auto Basis = static_cast<std::uint8_t>(Unsigned(1));
    std::int32_t Offset = 0;
    if (Basis == BasisOffset)
      Offset = static_cast<std::int32_t>(U32());
    if (Failed())
      return;
    if (Basis != BasisLocal && Basis != BasisUtc && Basis != BasisOffset) {
      FError = "a date-time of time basis " + std::to_string(Basis);
      return;
    }
    if (Offset < -MaxUtcOffset || Offset > MaxUtcOffset) {
      FError = "a date-time with an offset of " + std::to_string(Offset) + " s";
      return;
    }
    if (JulianDay < FirstJulianDay || JulianDay > LastJulianDay ||
        Milliseconds >= 24u * 60 * 60 * 1000)
      return; // a null or absurd date-time: none
    const QDate Day = QDate::fromJulianDay(JulianDay);
    const QTime At = QTime::fromMSecsSinceStartOfDay(static_cast<int>(Milliseconds));
    const bool Utc = Basis == BasisUtc || (Basis == BasisLocal && LocalIsUtc);
    QDateTime Stamp = Utc                    ? QDateTime(Day, At, Qt::UTC)
                      : Basis == BasisOffset ? QDateTime(Day, At, Qt::OffsetFromUTC, Offset)
                                             : QDateTime(Day, At, Qt::LocalTime);
    Stamp = Stamp.toUTC();
    if (!Stamp.isValid())
      return;
    Date = Stamp.toString(QStringLiteral("yyyyMMdd")).toStdString();
    Time = Stamp.toString(QStringLiteral("hhmmss")).toStdString();
  }

private:
  std::string_view FBytes;
  std::size_t FAt = 0;
  std::string FError;
};

// Type 5: the contact's fields in their order; the fields from the time on
// onwards are missing from older senders.
bool ReadContactLogged(TReader& In, TContact& Contact) {
  std::string DateOff, TimeOff;
  In.DateTime(DateOff, TimeOff);
  const std::string Call = In.Text();
  const std::string Grid = In.Text();
  const std::uint64_t Hz = In.Unsigned(8);
  const std::string Mode = In.Text();
  const std::string ReportSent = In.Text();
  const std::string ReportReceived = In.Text();
  const std::string Power = In.Text();
  const std::string Comments = In.Text();
  const std::string Name = In.Text();
  std::string DateOn, TimeOn;
  std::string Later[6]; // operator, my call, my grid, exchange sent and received, propagation
  if (!In.AtEnd())
    In.DateTime(DateOn, TimeOn);
  for (std::string& Field : Later)
    if (!In.AtEnd())
      Field = In.Text();
  if (In.Failed())
    return false;

  Contact.Set("call", Call);
  Contact.Set("gridsquare", Grid);
  Contact.Set("freq", FrequencyMhzText(Hz));
  Contact.Set("mode", Mode);
  Contact.Set("rst_sent", ReportSent);
  Contact.Set("rst_rcvd", ReportReceived);
  Contact.Set("tx_pwr", Power);
  Contact.Set("comment", Comments);
  Contact.Set("name", Name);
  Contact.Set("qso_date", DateOn);
  Contact.Set("time_on", TimeOn);
  Contact.Set("qso_date_off", DateOff);
  Contact.Set("time_off", TimeOff);
  const char* const LaterNames[] = {"operator",   "station_callsign", "my_gridsquare",
                                    "stx_string", "srx_string",       "prop_mode"};
  for (int I = 0; I < 6; ++I)
    Contact.Set(LaterNames[I], Later[I]);
  return true;
}

TContactDatagram Refused(TContactDatagram Result, std::string Error) {
  Result.Kind = TDatagramKind::dkRefused;
  Result.Contacts.clear();
  Result.Error = std::move(Error);
  return Result;
}

// The records of an ADIF text as the datagram's contacts; records passed
// over count as refused. A text without a whole record is refused, Lead
// before the reason; a plain text (no magic) must hold one.
TContactDatagram AdifContacts(TContactDatagram Result, std::string_view Text,
                              const std::string& Lead, bool Plain) {
  TAdifDocument Doc = ReadAdif(Text);
  if (!Doc.Error.empty())
    return Refused(std::move(Result), Lead + Doc.Error);
  if (Doc.Records.empty() && (Plain || !Doc.Damaged.empty()))
    return Refused(std::move(Result),
                   Lead + (Doc.Damaged.empty() ? "no ADIF record" : Doc.Damaged.back().Why));
  Result.Kind = TDatagramKind::dkContacts;
  Result.Contacts = std::move(Doc.Records);
  if (!Doc.Damaged.empty()) {
    Result.Rejected = Doc.Damaged.size();
    Result.Error = Doc.Damaged.back().Why;
  }
  return Result;
}

} // namespace

std::string JulianDayDate(std::int64_t JulianDay) {
  if (JulianDay < FirstJulianDay || JulianDay > LastJulianDay)
    return {};
  return QDate::fromJulianDay(JulianDay).toString(QStringLiteral("yyyyMMdd")).toStdString();
}

namespace {

// Reads the datagram; contacts without a call are dropped afterwards.
TContactDatagram ReadDatagram(std::string_view Bytes) {
  TContactDatagram Result;
  if (Bytes.size() > MaxContactDatagram)
    return Refused(Result, "a datagram of " + std::to_string(Bytes.size()) + " bytes");
  TReader In(Bytes);
  if (Bytes.size() < 4 || In.U32() != ContactDatagramMagic) {
    // No magic: a JSON object, a plain ADIF record, or nothing this program
    // reads; a text may begin with a byte order mark.
    if (Bytes.starts_with("\xEF\xBB\xBF"))
      Bytes.remove_prefix(3);
    if (LooksLikeJson(Bytes))
      return ReadContactJson(Bytes);
    return AdifContacts(std::move(Result), Bytes, "wrong magic, and not ADIF: ", true);
  }
  const std::uint32_t Schema = In.U32();
  Result.Type = In.U32();
  Result.Id = In.Text();
  if (In.Failed())
    return Refused(Result, In.Error());
  if (Schema != 2 && Schema != 3)
    return Refused(Result, "schema " + std::to_string(Schema) + " (2 or 3 are read)");

  if (Result.Type == TypeStatus) {
    Result.Status.Id = Result.Id;
    Result.Status.DialHz = In.Unsigned(8);
    Result.Status.Mode = In.Text();
    if (In.Failed())
      return Refused(Result, In.Error());
    Result.Kind = TDatagramKind::dkStatus;
  } else if (Result.Type == TypeContactLogged) {
    // One sender labels its contacts' date-times as local time while their
    // values are UTC; converting them would shift every contact by the
    // station's offset from UTC.
    In.LocalIsUtc = Result.Id.starts_with("JTDX");
    TContact Contact;
    if (!ReadContactLogged(In, Contact))
      return Refused(Result, In.Error());
    Result.Kind = TDatagramKind::dkContacts;
    Result.Contacts.push_back(std::move(Contact));
  } else if (Result.Type == TypeLoggedAdif) {
    // The ADIF's bytes as they came: a sender may write them in Latin-1.
    const std::string_view Text = In.Bytes();
    if (In.Failed())
      return Refused(Result, In.Error());
    return AdifContacts(std::move(Result), Text, "", false);
  }
  return Result;
}

} // namespace

TContactDatagram ReadContactDatagram(std::string_view Bytes) {
  TContactDatagram Result = ReadDatagram(Bytes);
  if (Result.Kind != TDatagramKind::dkContacts)
    return Result;
  if (Result.Contacts.size() > MaxContactsPerDatagram)
    return Refused(std::move(Result), "a datagram of " + std::to_string(Result.Contacts.size()) +
                                          " contacts (at most " +
                                          std::to_string(MaxContactsPerDatagram) + " are taken)");
  std::erase_if(Result.Contacts, [&Result](TContact& C) {
    std::string Why;
    if (AdmitContact(C, Why))
      return false;
    ++Result.Rejected;
    Result.Error = Why;
    return true;
  });
  return Result;
}

} // namespace vela
