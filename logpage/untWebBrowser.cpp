#include "logpage/untWebBrowser.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <memory>
#include <unistd.h>

namespace vela {

namespace {

// Each document reports its load by writing a per-browser random token to
// the console of the isolated world. The page's own scripts run in the main
// world: they can neither read the token (the isolated world's script source
// and variables are invisible to them) nor call into the program, since the
// console is the only path and its messages are compared with the token and
// otherwise ignored. A frame reports when its DOM is ready; the top document
// reports at its (trusted) load event, which comes after its frames have
// loaded, so the page's own report comes last.
const char* const ReportScript = R"JS(
(function () {
  var token = "%1";
  function report() { console.log(token); }
  if (window.top !== window) { report(); return; }
  if (document.readyState === "complete") { report(); return; }
  window.addEventListener("load", function (e) { if (e.isTrusted) report(); }, { once: true });
})();
)JS";

QString NewToken() {
  QString Token = QStringLiteral("vela-doc-");
  for (int i = 0; i < 4; ++i)
    Token += QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
  return Token;
}

void AppendChromiumFlag(QByteArray& Flags, const QByteArray& Flag) {
  if (Flags.split(' ').contains(Flag))
    return;
  if (!Flags.isEmpty())
    Flags += ' ';
  Flags += Flag;
}

} // namespace

class TWebBrowser::TPage : public QWebEnginePage {
public:
  TPage(QWebEngineProfile* Profile, TWebBrowser* Browser)
      : QWebEnginePage(Profile, Browser), FBrowser(Browser) {}

protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& Message, int,
                                const QString&) override {
    if (Message == FBrowser->FToken)
      FBrowser->DocumentReported();
  }

private:
  TWebBrowser* FBrowser;
};

TWebBrowser::TWebBrowser(QWidget* Parent) : QWebEngineView(Parent), FToken(NewToken()) {
  auto* Page = new TPage(QWebEngineProfile::defaultProfile(), this);
  QWebEngineScript Script;
  Script.setName(QStringLiteral("vela-document-complete"));
  Script.setWorldId(ScriptWorld());
  Script.setInjectionPoint(QWebEngineScript::DocumentReady);
  Script.setRunsOnSubFrames(true);
  Script.setSourceCode(QString::fromUtf8(ReportScript).arg(FToken));
  Page->scripts().insert(Script);
  setPage(Page);

  // A real timer, not a posted event: posted events can be delivered from
  // inside the engine's own tasks, and a receiver that then waits for a
  // script result would wait for a task the engine does not run while
  // another of its tasks is still on the stack.
  FFlushTimer = new QTimer(this);
  FFlushTimer->setSingleShot(true);
  FFlushTimer->setInterval(0);
  connect(FFlushTimer, &QTimer::timeout, this, &TWebBrowser::FlushHeldReports);
}

TWebBrowser::~TWebBrowser() = default;

quint32 TWebBrowser::ScriptWorld() {
  return QWebEngineScript::ApplicationWorld;
}

void TWebBrowser::PrepareEnvironment() {
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
  if (geteuid() == 0)
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QByteArray Flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
  AppendChromiumFlag(Flags, "--disable-background-networking");
  AppendChromiumFlag(Flags, "--disable-component-update");
  AppendChromiumFlag(Flags, "--disable-domain-reliability");
  if (geteuid() == 0)
    AppendChromiumFlag(Flags, "--no-sandbox");
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", Flags);
}

void TWebBrowser::Navigate(const std::string& Address) {
  const QUrl Url = QUrl::fromUserInput(QString::fromUtf8(Address.data(), Address.size()));
  // An empty or unusable address leaves the current page as it is.
  if (!Url.isValid() || Url.isEmpty())
    return;
  load(Url);
}

void TWebBrowser::GoBack() {
  if (!history()->canGoBack())
    throw EWebBrowser("Unable to go back: there is no earlier page");
  back();
}

QVariant TWebBrowser::RunScript(const QString& Script, int TimeoutMs) {
  // The callback may come after a timeout has ended the wait, so its state
  // lives as long as the callback does.
  struct TState {
    bool Done = false;
    QVariant Result;
    QPointer<QEventLoop> Loop;
  };
  auto State = std::make_shared<TState>();
  QEventLoop Loop;
  State->Loop = &Loop;
  QPointer<TWebBrowser> Self(this);

  ++FScriptDepth;
  page()->runJavaScript(Script, ScriptWorld(), [State](const QVariant& Result) {
    State->Done = true;
    State->Result = Result;
    if (State->Loop)
      State->Loop->quit();
  });
  if (!State->Done) {
    QTimer Timer;
    Timer.setSingleShot(true);
    connect(&Timer, &QTimer::timeout, &Loop, &QEventLoop::quit);
    Timer.start(TimeoutMs);
    // User input waits, so the operator cannot close the window under a walk.
    Loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  if (!Self)
    throw EWebBrowser("The browser was closed while its document was read");
  --FScriptDepth;
  QueueFlush();
  if (!State->Done)
    throw EWebBrowser("The page's document did not answer");
  return State->Result;
}

void TWebBrowser::PostScript(const QString& Script) {
  page()->runJavaScript(Script, ScriptWorld());
}

void TWebBrowser::DocumentReported() {
  // Never raised from inside the engine's callback: a receiver's exception
  // must reach the application's event guard, not unwind through the engine.
  ++FHeldReports;
  QueueFlush();
}

void TWebBrowser::QueueFlush() {
  if (FScriptDepth > 0 || FHeldReports == 0 || FFlushQueued)
    return;
  FFlushQueued = true;
  FFlushTimer->start();
}

void TWebBrowser::FlushHeldReports() {
  FFlushQueued = false;
  if (FScriptDepth > 0 || FHeldReports == 0)
    return;
  // One report per event: the next is queued before this one is raised, so a
  // receiver that throws loses no later report.
  --FHeldReports;
  QueueFlush();
  emit DocumentComplete();
}

} // namespace vela
