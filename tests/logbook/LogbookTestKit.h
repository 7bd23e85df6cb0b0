// Shared by the logbook tests: a radio given by values, a small web logbook
// on 127.0.0.1 that records each request and answers as the test says, and
// waiting on the event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cat/radios/untRadioTable.h"
#include "common/EventWait.h"
#include "logbook/untLogbookRadio.h"

// Qt's HTTP client does its work in a thread of Qt's own, which the thread
// sanitizer cannot see into (Qt is not built for it): its reports there are
// about Qt, not about this program.
#if defined(__SANITIZE_THREAD__)
#define VELA_SKIP_QT_HTTP_UNDER_TSAN()                                                             \
  GTEST_SKIP() << "Qt's HTTP client thread is not visible to the thread sanitizer"
#else
#define VELA_SKIP_QT_HTTP_UNDER_TSAN() (void)0
#endif

namespace velatest {

// A radio by values: an FT-950 unless Model is changed.
class TTableRadio : public vela::TLogbookRadio, public vela::TRigBackend {
public:
  bool IsLive = true;
  bool Keyed = false;
  std::int64_t Hz = 14074000;
  std::string RadioMode = "USB";
  vela::TDigiMode DigiMode = vela::dmData;
  const vela::TRadioModel* RadioModel = vela::FindRadioModel(vela::rtFT950);
  std::vector<std::string> Calls;

  vela::TRigBackend& Backend() override { return *this; }
  bool Live() const override { return IsLive; }
  const vela::TRadioModel* Model() const override { return RadioModel; }
  vela::TDigiMode Digi() const override { return DigiMode; }

  bool Ready() const override { return true; }
  bool LinkUp() const override { return IsLive; }
  std::int64_t FrequencyHz() const override { return Hz; }
  std::string Mode() const override { return RadioMode; }
  std::optional<std::int64_t> RequestedHz() const override { return std::nullopt; }
  std::optional<std::string> RequestedMode() const override { return std::nullopt; }
  bool TuneHz(std::int64_t Value) override {
    Calls.push_back("hz " + std::to_string(Value));
    if (Value < RadioModel->LowHz || Value > RadioModel->HighHz)
      return false;
    Hz = Value;
    return true;
  }
  bool TuneMode(const std::string& Value) override {
    Calls.push_back("mode " + Value);
    RadioMode = Value;
    return true;
  }
  bool SetPTT(bool) override { return false; }
  bool PTT() const override { return Keyed; }
  bool PTTWritten() const override { return false; }
  bool PTTUnwritten() const override { return false; }
  bool HasDataMode() const override { return RadioModel->HasDataMode; }
  vela::TRigctlRadioFacts Facts() const override {
    vela::TRigctlRadioFacts Facts;
    Facts.LowHz = RadioModel->LowHz;
    Facts.HighHz = RadioModel->HighHz;
    for (const char* Mode : RadioModel->NativeModes())
      Facts.Modes.emplace_back(Mode);
    return Facts;
  }
};

// One request as the logbook saw it.
struct TSeenRequest {
  std::string Method, Path, ContentType;
  QByteArray Body;
  QJsonObject Json() const { return QJsonDocument::fromJson(Body).object(); }
};

// A web logbook: answers each request with the next scripted answer (then
// with Default), or keeps it waiting while Hold is set.
class TFakeLogbook {
public:
  struct TAnswer {
    TAnswer(int AStatus = 200, std::string ABody = R"({"status":"success"})",
            std::string AContentType = "application/json", std::string ALocation = {})
        : Status(AStatus), Body(std::move(ABody)), ContentType(std::move(AContentType)),
          Location(std::move(ALocation)) {}
    int Status;
    std::string Body;
    std::string ContentType;
    std::string Location; // sent as a Location header when not empty
  };
  std::vector<TSeenRequest> Seen;
  std::deque<TAnswer> Script;
  TAnswer Default;
  bool Hold = false;
  // Answers by request before the script; nullopt leaves it to the script.
  std::function<std::optional<TAnswer>(const TSeenRequest&)> Route;

  TFakeLogbook() {
    Server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&Server, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* Socket = Server.nextPendingConnection()) {
        auto Buffer = std::make_shared<QByteArray>();
        QObject::connect(Socket, &QTcpSocket::readyRead, Socket,
                         [this, Socket, Buffer] { Read(Socket, *Buffer); });
        QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
      }
    });
  }
  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(Server.serverPort()) + "/wavelog";
  }

private:
  void Read(QTcpSocket* Socket, QByteArray& Buffer) {
    Buffer += Socket->readAll();
    const qsizetype End = Buffer.indexOf("\r\n\r\n");
    if (End < 0)
      return;
    const QList<QByteArray> Lines = Buffer.left(End).split('\n');
    TSeenRequest Request;
    const QList<QByteArray> First = Lines[0].trimmed().split(' ');
    Request.Method = First.value(0).toStdString();
    Request.Path = First.value(1).toStdString();
    qsizetype Length = 0;
    for (const QByteArray& Line : Lines.mid(1)) {
      const qsizetype Colon = Line.indexOf(':');
      const QByteArray Name = Line.left(Colon).trimmed().toLower();
      const QByteArray Value = Line.mid(Colon + 1).trimmed();
      if (Name == "content-length")
        Length = Value.toLongLong();
      if (Name == "content-type")
        Request.ContentType = Value.toStdString();
    }
    if (Buffer.size() < End + 4 + Length)
      return;
    Request.Body = Buffer.mid(End + 4, Length);
    Buffer.remove(0, End + 4 + Length);
    Seen.push_back(Request);
    if (Hold)
      return;
    TAnswer Answer = Default;
    if (std::optional<TAnswer> Routed = Route ? Route(Request) : std::nullopt) {
      Answer = *Routed;
    } else if (!Script.empty()) {
      Answer = Script.front();
      Script.pop_front();
    }
    const std::string Text = "HTTP/1.1 " + std::to_string(Answer.Status) + " X\r\nDate: " +
                             QDateTime::currentDateTimeUtc()
                                 .toString(QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
                                 .toStdString() +
                             "\r\nContent-Type: " + Answer.ContentType +
                             "\r\nContent-Length: " + std::to_string(Answer.Body.size()) +
                             (Answer.Location.empty() ? "" : "\r\nLocation: " + Answer.Location) +
                             "\r\nConnection: close\r\n\r\n" + Answer.Body;
    Socket->write(Text.c_str(), static_cast<qint64>(Text.size()));
    Socket->disconnectFromHost();
  }
  QTcpServer Server;
};

// What the other logbook puts before its JSON when its runtime warns.
inline const std::string CloudlogNotices =
    "<div style=\"border:1px solid #990000\"><h4>A PHP Error was encountered</h4>"
    "<p>Severity: 8192</p><p>Message:  Creation of dynamic property CI_Cache::$file is "
    "deprecated</p></div>\n";

// A logbook in Cloudlog's shape: no api/version (404), notices before its
// JSON, a duplicate answered 201 with imported_count 0 and a message, its
// refusals of a station in 401 words, and a queue of radio commands
// (radio_commands_pending_by_name, radio_commands_update_status).
class TCloudlogBook {
public:
  struct TCommand {
    std::int64_t Id;
    std::string Type, Frequency, Mode;
    std::string Status = "PENDING";
    std::string ExpiresAt = QDateTime::currentDateTimeUtc()
                                .addSecs(1800)
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                .toStdString();
  };
  TFakeLogbook Book;
  std::vector<TCommand> Commands;
  std::vector<std::pair<std::int64_t, std::string>> Reports; // id, status
  std::vector<std::string> Stored;                           // ADIF records taken
  bool KeepPending = false;                         // lists a reported command as pending still
  std::optional<TFakeLogbook::TAnswer> QueueAnswer; // in place of the list
  int Polls = 0;

  TCloudlogBook() {
    Book.Route = [this](const TSeenRequest& R) { return Answer(R); };
  }
  std::string Url() const { return Book.Url(); }

private:
  std::optional<TFakeLogbook::TAnswer> Answer(const TSeenRequest& Request) {
    const std::string& Path = Request.Path;
    auto Has = [&Path](const char* Call) { return Path.find(Call) != std::string::npos; };
    if (Has("/api/version"))
      return TFakeLogbook::TAnswer{404, "<html><body>404 Page Not Found</body></html>",
                                   "text/html"};
    if (Has("/api/station_info/"))
      return TFakeLogbook::TAnswer{200, R"([{"station_id":"1","station_profile_name":"Boston",)"
                                        R"("station_callsign":"K1ABC","station_active":"1"}])"};
    if (Has("/api/qso")) {
      const QJsonObject Json = Request.Json();
      if (Json.value("station_profile_id").toString() != "1")
        return TFakeLogbook::TAnswer{
            401,
            R"({"status":"failed","reason":"station id does not belong to the API key owner."})"};
      const std::string Record = Json.value("string").toString().toStdString();
      const bool Duplicate = std::find(Stored.begin(), Stored.end(), Record) != Stored.end();
      if (!Duplicate)
        Stored.push_back(Record);
      return TFakeLogbook::TAnswer{
          201,
          CloudlogNotices + R"({"status":"created","type":"adif","string":"x","imported_count":)" +
              std::string(Duplicate ? "0" : "1") + R"(,"messages":[)" +
              (Duplicate
                   ? R"("Date/Time: 2026-12-08 02:50:00 Callsign: DL1ABC Band: 40m  Duplicate<br>")"
                   : "") +
              "]}",
          "text/html"};
    }
    if (Has("/api/radio_commands_pending_by_name/")) {
      ++Polls;
      if (QueueAnswer)
        return QueueAnswer;
      QJsonArray List;
      for (const TCommand& C : Commands)
        if (C.Status == "PENDING" || KeepPending)
          List.append(QJsonObject{{"id", QString::number(C.Id)},
                                  {"radio_name", "FT-950"},
                                  {"command_type", QString::fromStdString(C.Type)},
                                  {"frequency", QString::fromStdString(C.Frequency)},
                                  {"mode", QString::fromStdString(C.Mode)},
                                  {"status", "PENDING"},
                                  {"expires_at", QString::fromStdString(C.ExpiresAt)}});
      const QJsonObject Object{{"status", "success"}, {"commands", List}, {"count", List.size()}};
      return TFakeLogbook::TAnswer{
          200, CloudlogNotices + QJsonDocument(Object).toJson(QJsonDocument::Compact).toStdString(),
          "text/html"};
    }
    if (Has("/api/radio_commands_update_status/")) {
      const QJsonObject Json = Request.Json();
      const std::int64_t Id = Json.value("command_id").toInteger();
      const std::string Status = Json.value("status").toString().toStdString();
      Reports.emplace_back(Id, Status);
      for (TCommand& C : Commands)
        if (C.Id == Id)
          C.Status = Status;
      return TFakeLogbook::TAnswer{200, R"({"status":"success"})"};
    }
    return std::nullopt;
  }
};

} // namespace velatest
