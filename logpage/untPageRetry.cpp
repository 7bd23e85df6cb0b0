#include "logpage/untPageRetry.h"

#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <algorithm>
#include <cstdlib>

#include "logpage/untWebBrowser.h"

namespace vela {

namespace {

// Chromium's network error codes (net_error_list.h), the ones an operator
// meets with a logbook on the desk or across the network.
struct TNetError {
  int Code;
  const char* Words;
};
constexpr TNetError NetErrors[] = {
    {7, "no answer"},
    {21, "network changed"},
    {100, "connection closed"},
    {101, "connection reset"},
    {102, "connection refused"},
    {104, "connection failed"},
    {105, "host name not found"},
    {106, "no network"},
    {109, "address unreachable"},
    {118, "connection timed out"},
    {137, "host name not found"},
    {200, "certificate name does not match"},
    {201, "certificate expired"},
    {202, "certificate not trusted"},
    {324, "empty answer"},
};

} // namespace

std::string PageLoadFailureText(int NetErrorCode, int HttpStatus, const std::string& ErrorString) {
  if (HttpStatus > 0)
    return "HTTP " + std::to_string(HttpStatus);
  const int Code = std::abs(NetErrorCode);
  for (const TNetError& E : NetErrors)
    if (E.Code == Code)
      return E.Words;
  // Chromium's own name of the error, in words ("ERR_SSL_PROTOCOL_ERROR").
  std::string Words = ErrorString;
  for (const char* Prefix : {"net::", "ERR_"})
    if (Words.rfind(Prefix, 0) == 0)
      Words.erase(0, std::char_traits<char>::length(Prefix));
  for (char& C : Words)
    C = C == '_' ? ' ' : static_cast<char>(C >= 'A' && C <= 'Z' ? C - 'A' + 'a' : C);
  return Words.empty() ? "not loaded" : Words;
}

TPageRetry::TPageRetry(TWebBrowser* Browser)
    : QObject(Browser), FBrowser(Browser), FRetryTimer(new QTimer(this)),
      FAnswerTimer(new QTimer(this)) {
  FRetryTimer->setSingleShot(true);
  connect(FRetryTimer, &QTimer::timeout, this, &TPageRetry::RetryNow);
  FAnswerTimer->setSingleShot(true);
  FAnswerTimer->setInterval(NoAnswerMs);
  connect(FAnswerTimer, &QTimer::timeout, this, &TPageRetry::NoAnswer);
  connect(Browser->page(), &QWebEnginePage::loadingChanged, this, &TPageRetry::LoadingChanged);
  auto* Refresh = new QShortcut(QKeySequence(Qt::Key_F5), Browser);
  Refresh->setContext(Qt::WindowShortcut);
  connect(Refresh, &QShortcut::activated, this, &TPageRetry::Reload);
}

TPageRetry::~TPageRetry() = default;

std::string TPageRetry::StatusText() const {
  if (FFailedUrl.isEmpty())
    return std::string();
  return "logbook page: " + FReason + " \u2014 retrying";
}

void TPageRetry::Reload() {
  if (!FFailedUrl.isEmpty()) {
    RetryNow();
    return;
  }
  FBrowser->reload();
}

void TPageRetry::RetryNow() {
  FRetryTimer->stop();
  if (FFailedUrl.isEmpty())
    return;
  FBrowser->load(FFailedUrl);
}

void TPageRetry::LoadingChanged(const QWebEngineLoadingInfo& Info) {
  switch (Info.status()) {
  case QWebEngineLoadingInfo::LoadStartedStatus:
    FAnswerTimer->start();
    // The operator (or the program) went elsewhere: the failed page is
    // no longer asked for.
    if (!FFailedUrl.isEmpty() && Info.url() != FFailedUrl) {
      FFailedUrl.clear();
      FRetryTimer->stop();
      FDelayMs = FirstDelayMs;
      emit StatusChanged();
    }
    break;
  case QWebEngineLoadingInfo::LoadSucceededStatus:
    FAnswerTimer->stop();
    // A logbook that is up but failing (500, 502, 503) comes back too.
    if (Info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
        Info.errorCode() >= 500)
      Failed(Info.url(), PageLoadFailureText(0, Info.errorCode(), std::string()));
    else
      Succeeded();
    break;
  case QWebEngineLoadingInfo::LoadFailedStatus:
    FAnswerTimer->stop();
    if (FStoppedForNoAnswer) {
      FStoppedForNoAnswer = false;
      Failed(Info.url(), "no answer");
    } else if (Info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
      if (Info.errorCode() >= 500)
        Failed(Info.url(), PageLoadFailureText(0, Info.errorCode(), std::string()));
      else
        Succeeded(); // the logbook's own answer, shown as it is
    } else if (Info.errorCode() == -3) {
      // Aborted: another load took its place, which reports for itself.
    } else {
      Failed(Info.url(),
             PageLoadFailureText(Info.errorCode(), 0, Info.errorString().toStdString()));
    }
    break;
  case QWebEngineLoadingInfo::LoadStoppedStatus:
    FAnswerTimer->stop();
    if (FStoppedForNoAnswer) {
      FStoppedForNoAnswer = false;
      Failed(Info.url(), "no answer");
    }
    break;
  }
}

void TPageRetry::NoAnswer() {
  FStoppedForNoAnswer = true;
  FBrowser->stop();
}

void TPageRetry::Failed(const QUrl& Url, const std::string& Reason) {
  if (Url.isEmpty())
    return;
  const bool Again = !FFailedUrl.isEmpty();
  FFailedUrl = Url;
  FReason = Reason;
  // 2 s, 4 s, 8 s, 16 s, then 30 s apart.
  if (Again)
    FDelayMs = std::min(FDelayMs * 2, LongestDelayMs);
  else
    FDelayMs = FirstDelayMs;
  FRetryTimer->start(FDelayMs);
  emit StatusChanged();
}

void TPageRetry::Succeeded() {
  if (FFailedUrl.isEmpty())
    return;
  FFailedUrl.clear();
  FReason.clear();
  FRetryTimer->stop();
  FDelayMs = FirstDelayMs;
  emit StatusChanged();
}

} // namespace vela
