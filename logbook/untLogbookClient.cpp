#include "logbook/untLogbookClient.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QUrl>

#include <memory>

#include "logbook/untLogbookAnswer.h"
#include "untProgramInfo.h"

namespace vela {

namespace {

// The server's own words in plain text (markup and entities gone, no empty
// pieces): "reason", else the "messages" list, else "message".
std::string ServerReason(const QJsonDocument& Json) {
  constexpr std::size_t MaxCharacters = 400;
  if (!Json.isObject())
    return {};
  const QJsonObject Object = Json.object();
  if (Object.value(QStringLiteral("reason")).isString())
    return PlainWords(Object.value(QStringLiteral("reason")).toString().toStdString(),
                      MaxCharacters);
  std::string Messages;
  for (const QJsonValue& Message : Object.value(QStringLiteral("messages")).toArray()) {
    const std::string Words = PlainWords(Message.toString().toStdString(), MaxCharacters);
    if (!Words.empty())
      Messages += (Messages.empty() ? "" : "; ") + Words;
  }
  if (!Messages.empty())
    return PlainWords(Messages, MaxCharacters);
  return PlainWords(Object.value(QStringLiteral("message")).toString().toStdString(),
                    MaxCharacters);
}

// Certificate faults the operator may accept for one host: a certificate
// nobody vouches for. Expired, revoked or issued for another host: never.
bool OnlyUnvouched(const QList<QSslError>& Errors) {
  for (const QSslError& Error : Errors)
    switch (Error.error()) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
      break;
    default:
      return false;
    }
  return true;
}

} // namespace

TApiReply ClassifyApiAnswer(int Status, const QByteArray& Body) {
  TApiReply Reply;
  Reply.Status = Status;
  Reply.Body = Body;
  // Notices of the logbook's runtime may come before the JSON.
  Reply.Json = FindAnswerJson(Body);
  const bool IsJson = !Reply.Json.isNull();
  Reply.Reason = ServerReason(Reply.Json);
  const std::string Code = "HTTP " + std::to_string(Status);
  if (Status >= 200 && Status < 300 && IsJson)
    Reply.Outcome = TApiOutcome::aoOk;
  else if ((Status == 401 || Status == 403) && IsJson && NamesStation(Reply.Reason))
    Reply.Outcome = TApiOutcome::aoRejected; // the station is refused, not the key
  else if (Status == 401 || Status == 403)
    Reply.Outcome = TApiOutcome::aoKeyRefused;
  else if (Status >= 500)
    Reply.Outcome = TApiOutcome::aoServerError;
  else if (Status >= 400 && IsJson)
    Reply.Outcome = TApiOutcome::aoRejected;
  else
    Reply.Outcome = TApiOutcome::aoNotApi;
  if (Reply.Reason.empty())
    Reply.Reason = Code;
  return Reply;
}

std::string ApiOutcomeWords(const TApiReply& Reply) {
  switch (Reply.Outcome) {
  case TApiOutcome::aoOk:
    return "connected";
  case TApiOutcome::aoKeyRefused:
    return "key refused";
  case TApiOutcome::aoRejected:
    return Reply.Reason;
  case TApiOutcome::aoServerError:
    return "server error " + std::to_string(Reply.Status) + " — retrying";
  case TApiOutcome::aoNotApi:
    return "HTTP " + std::to_string(Reply.Status) +
           " is not the logbook's API (a web page?) — check the address";
  case TApiOutcome::aoTimeout:
    return Reply.Reason + " — retrying";
  case TApiOutcome::aoUnreachable:
    return "unreachable — retrying";
  case TApiOutcome::aoTlsRefused:
  case TApiOutcome::aoBadAddress:
    return Reply.Reason;
  }
  return Reply.Reason;
}

TLogbookClient::TLogbookClient(QObject* Parent) : QObject(Parent) {}

TLogbookClient::~TLogbookClient() {
  Abort();
}

void TLogbookClient::PostRadio(const std::string& RadioName, const TLogbookRadioState& State,
                               const TApiCallback& Done) {
  QJsonObject Object;
  Object.insert(QStringLiteral("key"), QString::fromStdString(FKey));
  Object.insert(QStringLiteral("radio"), QString::fromStdString(RadioName));
  Object.insert(QStringLiteral("frequency"), static_cast<qint64>(State.Hz));
  Object.insert(QStringLiteral("mode"), QString::fromStdString(State.Mode));
  // One logbook stamps its own time; the other takes this one.
  Object.insert(QStringLiteral("timestamp"),
                QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy/MM/dd HH:mm")));
  const QByteArray Body = QJsonDocument(Object).toJson(QJsonDocument::Compact);
  Send("radio", &Body, Done);
}

void TLogbookClient::PostQso(std::int64_t StationId, const std::string& Record,
                             const TApiCallback& Done) {
  QJsonObject Object;
  Object.insert(QStringLiteral("key"), QString::fromStdString(FKey));
  Object.insert(QStringLiteral("station_profile_id"), QString::number(StationId));
  Object.insert(QStringLiteral("type"), QStringLiteral("adif"));
  Object.insert(QStringLiteral("string"), QString::fromStdString(Record));
  const QByteArray Body = QJsonDocument(Object).toJson(QJsonDocument::Compact);
  Send("qso", &Body, Done);
}

void TLogbookClient::CheckAuth(const TApiCallback& Done) {
  Send("check_auth/" + FKey, nullptr, Done);
}

void TLogbookClient::Version(const TApiCallback& Done) {
  Send("version", nullptr, Done);
}

void TLogbookClient::PendingCommands(const std::string& RadioName, int Timeout,
                                     const TApiCallback& Done) {
  // The name is one path segment, whatever it holds.
  const std::string Name = QUrl::toPercentEncoding(QString::fromStdString(RadioName)).toStdString();
  Send("radio_commands_pending_by_name/" + FKey + "/", nullptr, Done, Timeout, Name);
}

void TLogbookClient::UpdateCommandStatus(std::int64_t CommandId, const std::string& Status,
                                         const std::string& Reason, const TApiCallback& Done) {
  QJsonObject Object;
  Object.insert(QStringLiteral("key"), QString::fromStdString(FKey));
  Object.insert(QStringLiteral("command_id"), static_cast<qint64>(CommandId));
  Object.insert(QStringLiteral("status"), QString::fromStdString(Status));
  // Cloudlog keeps a failure's words from error_message; "reason" is kept
  // for other readers.
  if (!Reason.empty()) {
    Object.insert(QStringLiteral("reason"), QString::fromStdString(Reason));
    Object.insert(QStringLiteral("error_message"), QString::fromStdString(Reason));
  }
  const QByteArray Body = QJsonDocument(Object).toJson(QJsonDocument::Compact);
  Send("radio_commands_update_status/" + FKey, &Body, Done);
}

void TLogbookClient::StationInfo(const TApiCallback& Done) {
  Send("station_info/" + FKey, nullptr, Done);
}

void TLogbookClient::Send(const std::string& Call, const QByteArray* Body, const TApiCallback& Done,
                          int Timeout, const std::string& EncodedTail) {
  TApiReply Refused;
  Refused.Outcome = TApiOutcome::aoBadAddress;
  const std::string Url = LogbookApiUrl(FBaseUrl, Call, &Refused.Reason);
  if (Url.empty() || !ValidApiKey(FKey, &Refused.Reason)) {
    // Still from the event loop, as every other ending.
    QMetaObject::invokeMethod(
        this, [Done, Refused] { Done(Refused); }, Qt::QueuedConnection);
    return;
  }
  QNetworkRequest Request(QUrl::fromEncoded(QByteArray::fromStdString(Url + EncodedTail)));
  Request.setTransferTimeout(Timeout);
  Request.setHeader(QNetworkRequest::UserAgentHeader,
                    QStringLiteral("VELA-Log/") + QString::fromLatin1(VelaLogVersion));
  Request.setRawHeader("Accept", "application/json");
  // The body carries the key: a redirect is followed only within the same
  // scheme, host and port, and one elsewhere is reported, not followed.
  Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::SameOriginRedirectPolicy);
  QNetworkReply* Reply;
  if (Body) {
    Request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    Reply = FManager.post(Request, *Body);
  } else {
    Reply = FManager.get(Request);
  }
  ++FPending;
  // What went wrong before the answer: a refused certificate, a huge answer.
  auto TlsReason = std::make_shared<std::string>();
  auto TooLarge = std::make_shared<bool>(false);
  connect(Reply, &QNetworkReply::sslErrors, this, [this, Reply, TlsReason](const auto& Errors) {
    const std::string Host = Reply->url().host().toStdString();
    if (!FSelfSignedHost.empty() && Host == FSelfSignedHost && OnlyUnvouched(Errors)) {
      Reply->ignoreSslErrors(Errors);
      return;
    }
    *TlsReason = "certificate of " + Host + " refused: " +
                 (Errors.isEmpty() ? std::string("not trusted")
                                   : Errors.first().errorString().toStdString());
    if (OnlyUnvouched(Errors))
      *TlsReason += " — if it is your own server's, allow it for this host in Settings";
  });
  connect(Reply, &QNetworkReply::downloadProgress, this,
          [Reply, TooLarge](qint64 Received, qint64) {
            if (Received > MaxAnswerBytes && !*TooLarge) {
              *TooLarge = true;
              Reply->abort();
            }
          });
  connect(Reply, &QNetworkReply::finished, this, [this, Reply, Done, TlsReason, TooLarge, Timeout] {
    --FPending;
    Reply->deleteLater();
    const int Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    TApiReply Result;
    QUrl Target = Reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (Target.isEmpty())
      Target = QUrl::fromEncoded(Reply->rawHeader("Location"));
    if ((Status >= 300 && Status < 400) || Reply->error() == QNetworkReply::InsecureRedirectError ||
        Reply->error() == QNetworkReply::TooManyRedirectsError) {
      Result.Outcome = TApiOutcome::aoBadAddress;
      Result.Status = Status;
      const QUrl Where = Target.isEmpty() ? Target : Reply->url().resolved(Target);
      Result.Reason =
          "the logbook answered a redirect to " +
          (Where.isEmpty()
               ? std::string("another address")
               : Where.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery).toStdString()) +
          " — check the address";
    } else if (*TooLarge) {
      Result.Outcome = TApiOutcome::aoNotApi;
      Result.Status = Status;
      Result.Reason = "answer larger than 1 MB";
    } else if (Status > 0) {
      Result = ClassifyApiAnswer(Status, Reply->readAll());
      const QDateTime Date = QDateTime::fromString(
          QString::fromLatin1(Reply->rawHeader("Date")).trimmed(), Qt::RFC2822Date);
      if (Date.isValid())
        Result.ServerTime = Date.toSecsSinceEpoch();
    } else {
      switch (Reply->error()) {
      case QNetworkReply::OperationCanceledError:
      case QNetworkReply::TimeoutError:
        Result.Outcome = TApiOutcome::aoTimeout;
        Result.Reason = "no answer within " + std::to_string((Timeout + 999) / 1000) + " s";
        break;
      case QNetworkReply::SslHandshakeFailedError:
        Result.Outcome = TApiOutcome::aoTlsRefused;
        Result.Reason = TlsReason->empty() ? Reply->errorString().toStdString() : *TlsReason;
        break;
      default:
        Result.Outcome = TApiOutcome::aoUnreachable;
        Result.Reason = Reply->errorString().toStdString();
        break;
      }
    }
    Done(Result);
  });
}

void TLogbookClient::Abort() {
  for (QNetworkReply* Reply : FManager.findChildren<QNetworkReply*>()) {
    if (Reply->isFinished())
      continue;
    disconnect(Reply, nullptr, this, nullptr);
    Reply->abort();
    Reply->deleteLater();
    --FPending;
  }
}

} // namespace vela
