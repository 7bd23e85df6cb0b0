#include "contacts/untContactJson.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

#include "contacts/untAdif.h"

namespace vela {

namespace {

// The params of LOG.QSO that carry text, by their ADIF names.
const std::pair<const char*, const char*> TextParams[] = {{"CALL", "call"},
                                                          {"GRID", "gridsquare"},
                                                          {"MODE", "mode"},
                                                          {"SUBMODE", "submode"},
                                                          {"RPT.SENT", "rst_sent"},
                                                          {"RPT.RECV", "rst_rcvd"},
                                                          {"COMMENTS", "comment"},
                                                          {"NAME", "name"},
                                                          {"STATION.CALL", "station_callsign"},
                                                          {"STATION.GRID", "my_gridsquare"},
                                                          {"STATION.OP", "operator"}};

// The first and last millisecond of the years 1900 to 9999 (UTC).
constexpr double FirstMs = -2208988800000.0;
constexpr double LastMs = 253402300799999.0;

// A param as text: strings as they are, whole numbers in digits; empty for
// anything else.
std::string ParamText(const QJsonValue& Value) {
  if (Value.isString())
    return Value.toString().toStdString();
  if (Value.isDouble()) {
    const double Number = Value.toDouble();
    if (std::isfinite(Number) && std::floor(Number) == Number && std::fabs(Number) < 1e15)
      return std::to_string(static_cast<std::int64_t>(Number));
  }
  return {};
}

// Sets Date and Time fields from milliseconds since the epoch; nothing when
// the value is no number or absurd.
void SetTime(TContact& Contact, const QJsonValue& Value, const char* DateName,
             const char* TimeName) {
  if (!Value.isDouble())
    return;
  const double Ms = Value.toDouble();
  if (!std::isfinite(Ms) || Ms < FirstMs || Ms > LastMs)
    return;
  const QDateTime Stamp = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(Ms), Qt::UTC);
  Contact.Set(DateName, Stamp.toString(QStringLiteral("yyyyMMdd")).toStdString());
  Contact.Set(TimeName, Stamp.toString(QStringLiteral("hhmmss")).toStdString());
}

TContactDatagram Refused(std::string Error) {
  TContactDatagram Result;
  Result.Kind = TDatagramKind::dkRefused;
  Result.Error = std::move(Error);
  return Result;
}

} // namespace

bool LooksLikeJson(std::string_view Text) {
  const std::size_t First = Text.find_first_not_of(" \t\r\n");
  return First != std::string_view::npos && (Text[First] == '{' || Text[First] == '[');
}

TContactDatagram ReadContactJson(std::string_view Text) {
  QJsonParseError Error;
  const QJsonDocument Doc =
      QJsonDocument::fromJson(QByteArray(Text.data(), static_cast<qsizetype>(Text.size())), &Error);
  if (Doc.isNull())
    return Refused("JSON that cannot be read: " + Error.errorString().toStdString());
  if (!Doc.isObject())
    return Refused("JSON that is not an object");
  const QJsonObject Object = Doc.object();
  const QJsonValue Type = Object.value(QStringLiteral("type"));
  if (!Type.isString())
    return Refused("a JSON object without a type");
  TContactDatagram Result;
  Result.Id = "JSON " + Type.toString().left(40).toStdString();
  if (Type.toString() != QStringLiteral("LOG.QSO"))
    return Result; // dkIgnored
  const QJsonObject Params = Object.value(QStringLiteral("params")).toObject();

  // The value's ADIF fields first; the params replace those they carry.
  TContact Contact;
  const QJsonValue Value = Object.value(QStringLiteral("value"));
  if (Value.isString()) {
    const TAdifDocument Adif = ReadAdif(Value.toString().toStdString() + " <eor>");
    if (Adif.Error.empty() && Adif.Records.size() == 1)
      Contact = Adif.Records.front();
  }
  for (const auto& [Param, Name] : TextParams)
    if (const std::string V = ParamText(Params.value(QLatin1String(Param))); !V.empty())
      Contact.Set(Name, ValidUtf8(V));
  const QJsonValue Freq = Params.value(QStringLiteral("FREQ"));
  if (Freq.isDouble() && Freq.toDouble() >= 1 && Freq.toDouble() <= 1e11)
    Contact.Set("freq", FrequencyMhzText(static_cast<std::uint64_t>(Freq.toDouble())));
  SetTime(Contact, Params.value(QStringLiteral("UTC.ON")), "qso_date", "time_on");
  SetTime(Contact, Params.value(QStringLiteral("UTC.OFF")), "qso_date_off", "time_off");
  Result.Kind = TDatagramKind::dkContacts;
  Result.Contacts.push_back(std::move(Contact));
  return Result;
}

} // namespace vela
