// A logbook page that failed to load comes back by itself: loaded again
// after 2 s, then after twice as long each time, at most 30 s apart, for as
// long as it fails; a load that gets no answer for a minute counts as failed.
// F5 in the browser's window loads the page again at once. While a page is
// missing, StatusText says why, in the words of the status strip.
#pragma once

#include <QObject>
#include <QUrl>
#include <string>

class QTimer;
class QWebEngineLoadingInfo;

namespace vela {

class TWebBrowser;

// The words for a failed page load: Chromium's network error code (as the
// browser reports it, negative) or an HTTP status.
std::string PageLoadFailureText(int NetErrorCode, int HttpStatus, const std::string& ErrorString);

class TPageRetry : public QObject {
  Q_OBJECT
public:
  static constexpr int FirstDelayMs = 2000;
  static constexpr int LongestDelayMs = 30000;
  static constexpr int NoAnswerMs = 60000;

  explicit TPageRetry(TWebBrowser* Browser);
  ~TPageRetry() override;

  // "logbook page: connection refused — retrying"; empty while the page
  // shows.
  std::string StatusText() const;
  // Loads the page again now: the one that failed, else the one shown.
  void Reload();
  // The wait before the next load of a failed page.
  int DelayMs() const { return FDelayMs; }
  bool Waiting() const { return !FFailedUrl.isEmpty(); }

signals:
  void StatusChanged();

private:
  void LoadingChanged(const QWebEngineLoadingInfo& Info);
  void Failed(const QUrl& Url, const std::string& Reason);
  void Succeeded();
  void RetryNow();
  void NoAnswer();

  TWebBrowser* FBrowser;
  QTimer* FRetryTimer;
  QTimer* FAnswerTimer;
  QUrl FFailedUrl;
  std::string FReason;
  int FDelayMs = FirstDelayMs;
  bool FStoppedForNoAnswer = false;
};

} // namespace vela
