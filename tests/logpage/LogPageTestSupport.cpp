#include "LogPageTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <memory>

namespace velatest {

namespace {
int GErrorCount = 0;
std::string GLastError;
std::unique_ptr<QProcess> GServer;
std::unique_ptr<QTemporaryDir> GStaticDir;
int GPort = 0;
} // namespace

int EscapedErrorCount() {
  return GErrorCount;
}
std::string LastEscapedError() {
  return GLastError;
}
void RecordEscapedError(const std::string& Message) {
  ++GErrorCount;
  GLastError = Message;
}

bool StartServer(QString* Error) {
  const QString Python = QStandardPaths::findExecutable(QStringLiteral("python3"));
  if (Python.isEmpty()) {
    *Error = QStringLiteral("python3 not found");
    return false;
  }
  GStaticDir = std::make_unique<QTemporaryDir>();
  GServer = std::make_unique<QProcess>();
  GServer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  GServer->start(Python, {QStringLiteral(VELA_SOURCE_DIR "/demo/logbook_server.py"),
                          QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--static"),
                          GStaticDir->path()});
  if (!GServer->waitForStarted(20000)) {
    *Error = QStringLiteral("the logbook server did not start");
    return false;
  }
  QElapsedTimer Timer;
  Timer.start();
  while (!GServer->canReadLine() && Timer.elapsed() < 20000)
    GServer->waitForReadyRead(1000);
  const QByteArray Line = GServer->readLine().trimmed();
  if (!Line.startsWith("PORT ")) {
    *Error = QStringLiteral("the logbook server printed no port");
    return false;
  }
  GPort = Line.mid(5).toInt();
  return GPort > 0;
}

void StopServer() {
  if (GServer) {
    GServer->terminate();
    if (!GServer->waitForFinished(10000))
      GServer->kill();
    GServer->waitForFinished(10000);
    GServer.reset();
  }
  GStaticDir.reset();
}

int ServerPort() {
  return GPort;
}

std::string ServerUrl(const std::string& Path) {
  return "http://127.0.0.1:" + std::to_string(GPort) + Path;
}

void WriteStaticPage(const std::string& Name, const std::string& Html) {
  QFile File(QDir(GStaticDir->path()).filePath(QString::fromStdString(Name)));
  if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
    File.write(Html.data(), static_cast<qint64>(Html.size()));
}

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Done()) {
    if (Timer.elapsed() > TimeoutMs)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

QVariant RunMainWorld(vela::TWebBrowser& Browser, const QString& Script) {
  auto Result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
  Browser.page()->runJavaScript(Script, QWebEngineScript::MainWorld, [Result](const QVariant& V) {
    Result->first = true;
    Result->second = V;
  });
  WaitUntil([&] { return Result->first; });
  return Result->second;
}

bool ScanAndWait(vela::TLogPHPinterface& Bridge) {
  Bridge.ScanLogPage();
  return WaitUntil([&] { return !Bridge.Walking(); });
}

bool LoadAndWait(vela::TWebBrowser& Browser, const std::string& Address, int Reports) {
  auto Loaded = std::make_shared<bool>(false);
  auto Count = std::make_shared<int>(0);
  auto C1 =
      QObject::connect(&Browser, &QWebEngineView::loadFinished, [Loaded](bool) { *Loaded = true; });
  auto C2 = QObject::connect(&Browser, &vela::TWebBrowser::DocumentComplete, [Count] { ++*Count; });
  Browser.Navigate(Address);
  const bool Ok = WaitUntil([&] { return *Loaded && *Count >= Reports; });
  QObject::disconnect(C1);
  QObject::disconnect(C2);
  return Ok;
}

} // namespace velatest
