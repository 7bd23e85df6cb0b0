#include "logpage/untWebBrowser.h"

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

QtMessageHandler PreviousMessageHandler = nullptr;

// Without OpenGL, chosen on purpose below, Qt's window system layer says so
// at start; a terminal user would take that for a fault. Everything else goes
// on as before.
void DropNoOpenGLNotices(QtMsgType Type, const QMessageLogContext& Context,
                         const QString& Message) {
  if (Type == QtWarningMsg &&
      Message.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context")))
    return;
  PreviousMessageHandler(Type, Context, Message);
}

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
  // inside the engine's own tasks.
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
  // The page is a form: the scene graph's software renderer draws it on the
  // main thread in a few milliseconds, where a software OpenGL (a desktop
  // without a GPU driver, a remote or virtual display) takes tens of
  // milliseconds per frame and some 60 MB for its context. Set the variable
  // to choose another backend.
  if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
    qputenv("QT_QUICK_BACKEND", "software");
  // With the software scene graph nothing in the program draws with OpenGL,
  // yet on X11 the system's GL driver would still be loaded and set up at
  // start: under Xvfb or without a GPU driver that is Mesa's software
  // rasteriser with its LLVM, some 40 MB of the idle program for nothing.
  // Without GL the engine composites the page in software, as the scene graph
  // then draws it anyway. Only when the software backend is the one chosen,
  // and never over the user's own setting.
  if (qgetenv("QT_QUICK_BACKEND") == "software" &&
      qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
    qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (!PreviousMessageHandler)
      PreviousMessageHandler = qInstallMessageHandler(DropNoOpenGLNotices);
  }
  QByteArray Flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
  AppendChromiumFlag(Flags, "--disable-background-networking");
  AppendChromiumFlag(Flags, "--disable-component-update");
  AppendChromiumFlag(Flags, "--disable-domain-reliability");
  // Chromium keeps a second, unsandboxed zygote waiting for helper processes
  // that run outside the sandbox; this engine runs its network and other
  // services inside the program, so the page never needs one and it only
  // holds some 10 MB. Such a helper, if one were ever asked for, is launched
  // directly instead. The renderer's own zygote, and its sandbox, stay.
  AppendChromiumFlag(Flags, "--no-unsandboxed-zygote");
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

void TWebBrowser::CallScript(const QString& Script, TScriptAnswer OnAnswer) {
  struct TCall {
    bool Answered = false;
    QVariant Result;
    TScriptAnswer OnAnswer;
  };
  auto Call = std::make_shared<TCall>();
  Call->OnAnswer = std::move(OnAnswer);
  // One timer per call: first the time-out, then, when the answer comes, a
  // zero timer that hands it over from the event loop. A real timer, not a
  // posted event: posted events can be delivered from inside the engine's
  // own tasks.
  auto* Timer = new QTimer(this);
  Timer->setSingleShot(true);
  connect(Timer, &QTimer::timeout, this, [Call, Timer] {
    Timer->deleteLater();
    TScriptAnswer Handler = std::move(Call->OnAnswer);
    Call->OnAnswer = nullptr;
    if (Handler)
      Handler(Call->Answered, Call->Result);
  });
  Timer->start(FScriptTimeoutMs);
  QPointer<QTimer> Pending(Timer);
  page()->runJavaScript(Script, ScriptWorld(), [Call, Pending](const QVariant& Result) {
    if (!Pending || Call->Answered || !Call->OnAnswer)
      return;
    Call->Answered = true;
    Call->Result = Result;
    Pending->start(0);
  });
}

void TWebBrowser::PostScript(const QString& Script) {
  page()->runJavaScript(Script, ScriptWorld());
}

void TWebBrowser::DocumentReported() {
  // Never raised from inside the engine's callback: a receiver's exception
  // must reach the application's event guard, not unwind through the engine.
  ++FHeldReports;
  if (!FFlushTimer->isActive())
    FFlushTimer->start();
}

void TWebBrowser::FlushHeldReports() {
  if (FHeldReports == 0)
    return;
  // One report per event: the next is queued before this one is raised, so a
  // receiver that throws loses no later report.
  --FHeldReports;
  if (FHeldReports > 0)
    FFlushTimer->start();
  emit DocumentComplete();
}

} // namespace vela
