#include "logbook/untLogbookAnswer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cctype>

#include "cat/radios/untModeNames.h"
#include "platform/untText.h"

namespace vela {

namespace {

bool Contains(std::string_view Text, std::string_view Word) {
  return AsciiLower(Text).find(Word) != std::string::npos;
}

// A number given as JSON number or as a text of digits; nullopt otherwise.
std::optional<std::int64_t> WholeNumber(const QJsonValue& Value) {
  if (Value.isDouble()) {
    const double D = Value.toDouble();
    if (D >= 0 && D < 1e15 && D == static_cast<double>(static_cast<std::int64_t>(D)))
      return static_cast<std::int64_t>(D);
    return std::nullopt;
  }
  const QString Text = Value.toString().trimmed();
  if (Text.isEmpty() || Text.size() > 15 ||
      !std::all_of(Text.begin(), Text.end(), [](QChar C) { return C.isDigit(); }))
    return std::nullopt;
  return Text.toLongLong();
}

std::string TextOf(const QJsonValue& Value) {
  if (Value.isDouble()) {
    const std::optional<std::int64_t> Whole = WholeNumber(Value);
    return Whole ? std::to_string(*Whole) : QString::number(Value.toDouble()).toStdString();
  }
  return Value.toString().toStdString();
}

// The end (one past) of the JSON object or array starting at Start, by its
// brackets outside strings; npos when it does not end within Text.
std::size_t JsonEnd(std::string_view Text, std::size_t Start) {
  int Depth = 0;
  bool InString = false;
  for (std::size_t I = Start; I < Text.size(); ++I) {
    const char C = Text[I];
    if (InString) {
      if (C == '\\')
        ++I;
      else if (C == '"')
        InString = false;
    } else if (C == '"') {
      InString = true;
    } else if (C == '{' || C == '[') {
      ++Depth;
    } else if (C == '}' || C == ']') {
      if (--Depth == 0)
        return I + 1;
    }
  }
  return std::string_view::npos;
}

} // namespace

std::optional<TLogbookKind> KindFromVersionAnswer(const TApiReply& Reply) {
  if (Reply.Ok() && Reply.Json.object().contains(QStringLiteral("version")))
    return TLogbookKind::lkWavelog;
  if (Reply.Status == 404)
    return TLogbookKind::lkCloudlog;
  return std::nullopt;
}

QJsonDocument FindAnswerJson(const QByteArray& Body) {
  QJsonParseError Error{};
  const QJsonDocument Whole = QJsonDocument::fromJson(Body, &Error);
  if (Error.error == QJsonParseError::NoError && !Whole.isNull())
    return Whole;
  const std::string_view Text(
      Body.constData(),
      std::min<std::size_t>(static_cast<std::size_t>(Body.size()), MaxJsonSearchBytes));
  std::size_t At = 0;
  for (int Try = 0; Try < MaxJsonStarts; ++Try) {
    const std::size_t Start = Text.find('{', At);
    if (Start == std::string_view::npos)
      break;
    const std::size_t End = JsonEnd(Text, Start);
    if (End == std::string_view::npos)
      break; // no later start can end either
    const QJsonDocument Found = QJsonDocument::fromJson(
        QByteArray(Text.data() + Start, static_cast<qsizetype>(End - Start)), &Error);
    // Only an answer of the API: a script's object on a web page is not.
    if (Error.error == QJsonParseError::NoError && Found.isObject() &&
        Found.object().value(QStringLiteral("status")).isString())
      return Found;
    At = Start + 1;
  }
  return {};
}

bool NamesStation(std::string_view Reason) {
  return Contains(Reason, "station id") || Contains(Reason, "station_id") ||
         Contains(Reason, "station profile") || Contains(Reason, "station_profile") ||
         Contains(Reason, "station callsign");
}

namespace {

bool IsKeyRefusal(const TApiReply& Reply) {
  if (Reply.Outcome == TApiOutcome::aoKeyRefused)
    return true;
  if (Reply.Status < 400 || Reply.Status >= 500)
    return false;
  // Some logbooks answer a key they do not know, or one that may only read,
  // with a plain 400 and words of their own.
  const std::string Reason = AsciiLower(Reply.Reason);
  if (Reason.find("key") == std::string::npos)
    return false;
  for (const char* Word : {"invalid", "read", "missing", "rights", "not valid", "wrong"})
    if (Reason.find(Word) != std::string::npos)
      return true;
  return false;
}

} // namespace

TQsoAnswer ReadQsoAnswer(const TApiReply& Reply) {
  const QJsonObject Object = Reply.Json.object();
  // One logbook counts what it took in adif_count, the other in
  // imported_count.
  std::optional<std::int64_t> Count;
  for (const QString& Name : {QStringLiteral("adif_count"), QStringLiteral("imported_count")})
    if (Object.contains(Name))
      Count = std::max(Count.value_or(0), WholeNumber(Object.value(Name)).value_or(0));
  const bool Duplicate = Contains(Reply.Reason, "duplicate");
  if (Reply.Ok()) {
    if (Count && *Count >= 1)
      return {TQsoVerdict::qvCreated, {}};
    if (Count && Duplicate)
      return {TQsoVerdict::qvDuplicate, {}};
    std::string Words = "the logbook took none of the record";
    if (Reply.Reason != "HTTP " + std::to_string(Reply.Status))
      Words += " (" + PlainWords(Reply.Reason, 200) + ")";
    // A count of 0 is a refusal of the record; no count at all says
    // nothing, and the record is sent again later.
    return {Count ? TQsoVerdict::qvSetAside : TQsoVerdict::qvRetry, Words};
  }
  if (Reply.Status == 400 && Duplicate)
    return {TQsoVerdict::qvDuplicate, {}};
  const bool ClientError = Reply.Status >= 400 && Reply.Status < 500;
  if (ClientError && NamesStation(Reply.Reason))
    return {Contains(Reply.Reason, "callsign") ? TQsoVerdict::qvSetAside
                                               : TQsoVerdict::qvStationRefused,
            {}};
  if (IsKeyRefusal(Reply))
    return {TQsoVerdict::qvKeyRefused, {}};
  // A 4xx says the request itself is wrong; sending it again cannot mend
  // it. A time-out (408) or too many requests (429) say nothing of the
  // record.
  if ((Reply.Outcome == TApiOutcome::aoRejected || Reply.Outcome == TApiOutcome::aoNotApi) &&
      ClientError && Reply.Status != 408 && Reply.Status != 429)
    return {TQsoVerdict::qvSetAside, {}};
  return {TQsoVerdict::qvRetry, {}};
}

std::vector<TRadioCommand> ReadRadioCommands(const QJsonDocument& Json, std::string* Error) {
  std::vector<TRadioCommand> Commands;
  const QJsonValue List = Json.object().value(QStringLiteral("commands"));
  if (!List.isArray()) {
    if (Error)
      *Error = "the answer holds no command list";
    return Commands;
  }
  for (const QJsonValue& Value : List.toArray()) {
    const QJsonObject Object = Value.toObject();
    const std::optional<std::int64_t> Id = WholeNumber(Object.value(QStringLiteral("id")));
    if (!Id || *Id <= 0)
      continue;
    TRadioCommand Command;
    Command.Id = *Id;
    Command.Type = TextOf(Object.value(QStringLiteral("command_type")));
    Command.Frequency = TextOf(Object.value(QStringLiteral("frequency")));
    Command.Mode = TextOf(Object.value(QStringLiteral("mode")));
    Command.Status = TextOf(Object.value(QStringLiteral("status")));
    Command.CreatedAt = TextOf(Object.value(QStringLiteral("created_at")));
    Command.ExpiresAt = TextOf(Object.value(QStringLiteral("expires_at")));
    Commands.push_back(std::move(Command));
  }
  std::sort(Commands.begin(), Commands.end(),
            [](const TRadioCommand& A, const TRadioCommand& B) { return A.Id < B.Id; });
  // The newest are kept, whatever order the list comes in: the newest of
  // each kind is the one carried out.
  if (Commands.size() > MaxCommandsRead)
    Commands.erase(Commands.begin(), Commands.end() - static_cast<std::ptrdiff_t>(MaxCommandsRead));
  if (Error)
    Error->clear();
  return Commands;
}

namespace {

// "YYYY-MM-DD HH:MM:SS" (or with a T) as UTC seconds; nullopt otherwise.
std::optional<std::int64_t> CommandTime(const std::string& Value) {
  QString Text = QString::fromStdString(Value).trimmed();
  Text.replace(QLatin1Char('T'), QLatin1Char(' '));
  const QDateTime At = QDateTime::fromString(Text.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (!At.isValid())
    return std::nullopt;
  return QDateTime(At.date(), At.time(), Qt::UTC).toSecsSinceEpoch();
}

} // namespace

bool CommandExpired(const TRadioCommand& Command, std::int64_t NowUtcSeconds) {
  const std::optional<std::int64_t> At = CommandTime(Command.ExpiresAt);
  return At && *At <= NowUtcSeconds;
}

std::int64_t CommandLifetimeSeconds(const TRadioCommand& Command) {
  const std::optional<std::int64_t> Created = CommandTime(Command.CreatedAt);
  const std::optional<std::int64_t> Expires = CommandTime(Command.ExpiresAt);
  if (Created && Expires && *Expires > *Created)
    return *Expires - *Created;
  return 30 * 60;
}

std::string TuneModeForCommand(std::string_view Mode, std::int64_t Hz) {
  const std::string Name = AsciiLower(Mode);
  if (Name == "ssb")
    return Hz > 0 ? SsbSideband(Hz) : ModeUSB;
  return Name;
}

} // namespace vela
