// The web logbook's API over HTTP(S): the radio's state, contacts as ADIF,
// and the key and station checks. Every call is asynchronous on the calling
// thread's event loop and ends in exactly one callback (unless the client is
// freed or Abort()ed first), with the answer sorted into an outcome and words
// for the operator.
//
// A call that gets no answer within TimeoutMs ends as timed out. A TLS
// certificate that is not trusted is refused with its reason, unless it is
// only self-signed (or issued by an unknown authority) and its host is the
// one the operator allowed.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

#include "logbook/untLogbookAnswer.h"
#include "logbook/untLogbookRules.h"

namespace vela {

// Sorts an HTTP answer; Reason is the server's reason or the status.
TApiReply ClassifyApiAnswer(int Status, const QByteArray& Body);

// Short words for an outcome, for the status strip: "key refused",
// "unreachable — retrying", "server error 500 — retrying", ...
std::string ApiOutcomeWords(const TApiReply& Reply);

using TApiCallback = std::function<void(const TApiReply&)>;

class TLogbookClient : public QObject {
  Q_OBJECT
public:
  static constexpr int TimeoutMs = 10000;
  // Larger answers are cut off as not the API's (a station list is small).
  static constexpr qint64 MaxAnswerBytes = 1024 * 1024;

  explicit TLogbookClient(QObject* Parent = nullptr);
  ~TLogbookClient() override;

  // The logbook's address as the operator gave it, the API key, and the one
  // host whose self-signed certificate the operator accepts (empty: none).
  void setBaseUrl(const std::string& Value) { FBaseUrl = Value; }
  const std::string& BaseUrl() const { return FBaseUrl; }
  void setKey(const std::string& Value) { FKey = Value; }
  void setSelfSignedHost(const std::string& Value) { FSelfSignedHost = Value; }

  // POST api/radio: the radio's name, frequency in hertz, mode and the UTC
  // time ("YYYY/MM/DD HH:MM").
  void PostRadio(const std::string& RadioName, const TLogbookRadioState& State,
                 const TApiCallback& Done);
  // POST api/qso: one ADIF record (without a header) for a station.
  void PostQso(std::int64_t StationId, const std::string& Record, const TApiCallback& Done);
  // GET api/check_auth/KEY and api/station_info/KEY.
  void CheckAuth(const TApiCallback& Done);
  void StationInfo(const TApiCallback& Done);
  // GET api/version: answered by one logbook only, which tells them apart.
  void Version(const TApiCallback& Done);
  // The click-to-tune queue: GET api/radio_commands_pending_by_name/KEY/NAME
  // (with its own time-out), and POST api/radio_commands_update_status/KEY
  // with a command's new status (PROCESSING, COMPLETED, FAILED) and why.
  void PendingCommands(const std::string& RadioName, int Timeout, const TApiCallback& Done);
  void UpdateCommandStatus(std::int64_t CommandId, const std::string& Status,
                           const std::string& Reason, const TApiCallback& Done);

  // Ends every call on its way without its callback.
  void Abort();
  int Pending() const { return FPending; }

private:
  // EncodedTail: percent-encoded text appended to the call's address.
  void Send(const std::string& Call, const QByteArray* Body, const TApiCallback& Done,
            int Timeout = TimeoutMs, const std::string& EncodedTail = {});

  QNetworkAccessManager FManager;
  std::string FBaseUrl;
  std::string FKey;
  std::string FSelfSignedHost;
  int FPending = 0;
};

} // namespace vela
