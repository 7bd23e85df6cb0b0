// The embedded web browser that shows the logbook (the main window's
// wbrLogBook), on Qt WebEngine.
//
// Besides showing pages it offers what the rest of the program needs of a
// browser: navigate to an address, go back, a DocumentComplete notification
// for every document that finishes loading (each frame's and the page's), and
// script access to the loaded document in an isolated world that the page's
// own scripts cannot see or reach.
#pragma once

#include "platform/untExceptions.h"

#include <QString>
#include <QTimer>
#include <QVariant>
#include <QWebEngineView>
#include <string>

namespace vela {

// A failing browser operation (no earlier page to go back to, a document that
// cannot be reached).
class EWebBrowser : public Exception {
public:
  using Exception::Exception;
};

class TWebBrowser : public QWebEngineView {
  Q_OBJECT
public:
  // How long a synchronous script call waits for its result before it counts
  // as a failure to reach the document.
  static constexpr int DefaultScriptTimeoutMs = 15000;

  explicit TWebBrowser(QWidget* Parent = nullptr);
  ~TWebBrowser() override;

  // Call before the QApplication is created: turns Chromium's sandbox off when
  // running as root (Chromium refuses to start otherwise) and keeps Chromium
  // from contacting services on the network at start. Quiets the engine's
  // report of its GL set-up and switches at start; a QT_LOGGING_RULES of the
  // user's own that names it still wins (the environment's rules come after).
  static void PrepareEnvironment();

  // Starts loading Address, taken as an address bar takes it: a full URL, or a
  // bare host name such as "localhost" (which becomes http://localhost).
  void Navigate(const std::string& Address);
  // Shows the previous page of the history; throws EWebBrowser when there is
  // none.
  void GoBack();

  // Runs Script in the top frame's isolated world and returns its completion
  // value. Blocks (serving events other than user input) until the result
  // arrives; throws EWebBrowser when it does not arrive in time. While the
  // call waits, DocumentComplete notifications are held back and raised after
  // it returns, so a handler never runs inside another handler's call.
  // DocumentComplete is always raised from the event loop, one per event.
  // Do not call this from a slot of the engine's own signals (loadFinished,
  // urlChanged, ...): those run inside the engine's tasks, where the result
  // cannot arrive, and the call would end in its timeout.
  QVariant RunScript(const QString& Script, int TimeoutMs = DefaultScriptTimeoutMs);
  // Runs Script in the top frame's isolated world without waiting for it.
  void PostScript(const QString& Script);

  // The script world used for document access and the load reports.
  static quint32 ScriptWorld();

signals:
  // Raised on the main thread once for every document of the page or of one
  // of its frames that has finished loading. Carries no arguments: receivers
  // look at the page themselves.
  void DocumentComplete();

private:
  class TPage;
  friend class TPage;

  void DocumentReported();
  void QueueFlush();
  void FlushHeldReports();

  QString FToken;
  QTimer* FFlushTimer = nullptr;
  int FScriptDepth = 0;
  int FHeldReports = 0;
  bool FFlushQueued = false;
};

} // namespace vela
