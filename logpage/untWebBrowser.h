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
#include <functional>
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
  // How long a script call waits for its answer before it ends unanswered
  // (a page busy in its own script, a hung renderer).
  static constexpr int DefaultScriptTimeoutMs = 15000;

  // (Answered, Result): Answered is false when no answer came in time.
  using TScriptAnswer = std::function<void(bool, const QVariant&)>;

  explicit TWebBrowser(QWidget* Parent = nullptr);
  ~TWebBrowser() override;

  // Call before the QApplication is created: turns Chromium's sandbox off when
  // running as root (Chromium refuses to start otherwise), keeps Chromium
  // from contacting services on the network at start, and draws the page with
  // the software scene graph, without OpenGL on X11 and without the spare
  // unsandboxed zygote (both only cost memory for a page that is a form). Quiets the engine's
  // report of its GL set-up and switches at start; a QT_LOGGING_RULES of the user's own that names
  // it still wins (the environment's rules come after).
  static void PrepareEnvironment();

  // Starts loading Address, taken as an address bar takes it: a full URL, or a
  // bare host name such as "localhost" (which becomes http://localhost).
  void Navigate(const std::string& Address);
  // Shows the previous page of the history; throws EWebBrowser when there is
  // none.
  void GoBack();

  // Runs Script in the top frame's isolated world and returns at once; the
  // window never waits on the page. OnAnswer gets the completion value when
  // it comes, or Answered false after ScriptTimeoutMs (a late answer is then
  // dropped). It is always called from the event loop on its own, never from
  // inside the engine's call or the caller, so an exception it throws reaches
  // the application's event guard. It is not called once the browser is gone.
  // Calls are answered in the order they were made.
  void CallScript(const QString& Script, TScriptAnswer OnAnswer);
  // Runs Script in the top frame's isolated world and ignores its result.
  void PostScript(const QString& Script);

  void setScriptTimeoutMs(int Value) { FScriptTimeoutMs = Value; }

  // The script world used for document access and the load reports.
  static quint32 ScriptWorld();

signals:
  // Raised on the main thread once for every document of the page or of one
  // of its frames that has finished loading, one per event. Carries no
  // arguments: receivers look at the page themselves.
  void DocumentComplete();

private:
  class TPage;
  friend class TPage;

  void DocumentReported();
  void FlushHeldReports();

  QString FToken;
  QTimer* FFlushTimer = nullptr;
  int FHeldReports = 0;
  int FScriptTimeoutMs = DefaultScriptTimeoutMs;
};

} // namespace vela
