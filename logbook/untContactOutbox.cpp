#include "logbook/untContactOutbox.h"

#include "platform/untDurableFile.h"

#include <QJsonArray>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace vela {

namespace {

std::string Line(const std::string& Record) {
  QJsonObject Object;
  Object.insert(QStringLiteral("adif"), QString::fromStdString(Record));
  return QJsonDocument(Object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

std::int64_t NumberOf(const QJsonValue& Value) {
  if (Value.isDouble())
    return Value.toInteger();
  bool Ok = false;
  const qlonglong Number = Value.toString().toLongLong(&Ok);
  return Ok ? Number : 0;
}

} // namespace

std::int64_t ActiveStationId(const QJsonDocument& StationInfo) {
  const QJsonArray Stations = StationInfo.array();
  for (const QJsonValue& Station : Stations) {
    const QJsonValue Active = Station.toObject().value(QStringLiteral("station_active"));
    if (Active.toBool() || NumberOf(Active) == 1)
      return NumberOf(Station.toObject().value(QStringLiteral("station_id")));
  }
  if (Stations.size() == 1)
    return NumberOf(Stations.first().toObject().value(QStringLiteral("station_id")));
  return 0;
}

TContactOutbox::TContactOutbox(TLogbookClient& AClient, std::string AFileName)
    : FClient(AClient), FFileName(std::move(AFileName)) {
  FRetry.setSingleShot(true);
  QObject::connect(&FRetry, &QTimer::timeout, [this] { Pump(); });
  Load();
}

void TContactOutbox::Load() {
  std::ifstream File(FFileName);
  std::string Text;
  while (std::getline(File, Text) && FRecords.size() < MaxWaiting) {
    const QJsonDocument Json = QJsonDocument::fromJson(QByteArray::fromStdString(Text));
    const QString Record = Json.object().value(QStringLiteral("adif")).toString();
    if (!Record.isEmpty())
      FRecords.push_back(Record.toStdString());
  }
}

void TContactOutbox::setStationId(std::int64_t Value) {
  FStationId = Value;
  FActiveStation = 0;
}

bool TContactOutbox::Append(const std::string& Record, std::string& Error) {
  // The queue holds the API's contacts only: readable by the user alone.
  if (!AppendDurably(FFileName, Line(Record), 0600)) {
    Error = FFileName + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool TContactOutbox::Rewrite() {
  std::string Text;
  for (const std::string& Record : FRecords)
    Text += Line(Record);
  return ReplaceDurably(FFileName, Text, 0600);
}

bool TContactOutbox::Enqueue(const std::string& Record, std::string* Error) {
  std::string Why;
  if (Record.find_first_not_of(" \t\r\n") == std::string::npos)
    Why = "an empty record";
  else if (Record.size() > MaxRecordBytes)
    Why = "a record larger than 64 KB";
  else if (FRecords.size() >= MaxWaiting)
    Why = "already " + std::to_string(MaxWaiting) + " contacts waiting";
  if (Why.empty() && Append(Record, Why))
    FRecords.push_back(Record);
  if (Error)
    *Error = Why;
  if (!Why.empty())
    return false;
  Pump();
  return true;
}

void TContactOutbox::Start() {
  if (FRunning)
    return;
  FRunning = true;
  ++FRun;
  FInFlight = false;
  FBackoff.Reset();
  Pump();
}

void TContactOutbox::Stop() {
  FRunning = false;
  ++FRun;
  FInFlight = false;
  FRetry.stop();
}

std::string TContactOutbox::StatusWords() const {
  if (FRecords.empty())
    return {};
  std::string Words = std::to_string(FRecords.size()) +
                      (FRecords.size() == 1 ? " contact waiting" : " contacts waiting");
  if (!FProblem.empty())
    Words += " — " + FProblem;
  return Words;
}

void TContactOutbox::Pump() {
  if (!FRunning || FInFlight || FRecords.empty() || FRetry.isActive())
    return;
  FInFlight = true;
  const unsigned Run = FRun;
  const std::int64_t Station = FStationId > 0 ? FStationId : FActiveStation;
  if (Station <= 0) {
    FClient.StationInfo([this, Run](const TApiReply& Reply) {
      if (Run != FRun)
        return;
      FInFlight = false;
      FActiveStation = Reply.Ok() ? ActiveStationId(Reply.Json) : 0;
      if (FActiveStation > 0) {
        Pump();
        return;
      }
      TApiReply Why = Reply;
      if (Reply.Ok())
        Why.Reason = "no active station in the logbook for this key";
      Failed(Why, false);
    });
    return;
  }
  FClient.PostQso(Station, FRecords.front(), [this, Run](const TApiReply& Reply) {
    if (Run != FRun)
      return;
    FInFlight = false;
    Posted(Reply);
  });
}

void TContactOutbox::Posted(const TApiReply& Reply) {
  if (FOnOutcome)
    FOnOutcome("qso", Reply);
  const bool Created =
      Reply.Ok() && Reply.Json.object().value(QStringLiteral("adif_count")).toInt() >= 1;
  const bool Duplicate =
      Reply.Status == 400 && QString::fromStdString(Reply.Reason)
                                 .contains(QStringLiteral("duplicate"), Qt::CaseInsensitive);
  if (!Created && !Duplicate) {
    TApiReply Why = Reply;
    if (Reply.Ok())
      Why.Reason = "the logbook took none of the record";
    Failed(Why, Reply.Ok() || Reply.Outcome == TApiOutcome::aoRejected ||
                    Reply.Outcome == TApiOutcome::aoServerError);
    return;
  }
  FRecords.pop_front();
  // Should the file refuse the shorter queue, the record is sent again
  // after a restart and then named a duplicate.
  Rewrite();
  FBackoff.Reset();
  FProblem.clear();
  Pump();
}

void TContactOutbox::Failed(const TApiReply& Reply, bool AboutTheRecord) {
  if (Reply.Outcome == TApiOutcome::aoRejected || Reply.Ok())
    FProblem = Reply.Reason;
  else if (Reply.Outcome == TApiOutcome::aoKeyRefused && Reply.Reason.rfind("HTTP ", 0) != 0)
    FProblem = "key refused: " + Reply.Reason; // a station that is not the key's
  else
    FProblem = ApiOutcomeWords(Reply);
  if (AboutTheRecord && FRecords.size() > 1) {
    FRecords.push_back(FRecords.front());
    FRecords.pop_front();
    Rewrite();
  }
  FRetry.start(static_cast<int>(FBackoff.Fail()));
}

} // namespace vela
