#include "AppTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include "cat/transport/CPort.h"
#include "logpage/BrowserScript.h"
#include "logpage/untWebBrowser.h"

namespace velatest {

namespace {
std::vector<std::string> GErrorBoxes;
} // namespace

void RecordErrorBox(const std::string& Message) {
  GErrorBoxes.push_back(Message);
}
std::vector<std::string> ErrorBoxes() {
  return GErrorBoxes;
}
void ClearErrorBoxes() {
  GErrorBoxes.clear();
}

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Done()) {
    if (Timer.elapsed() > TimeoutMs)
      return false;
    QEventLoop Loop;
    QTimer::singleShot(20, &Loop, &QEventLoop::quit);
    Loop.exec();
  }
  return true;
}

std::map<std::string, std::string> ReadForm(vela::TWebBrowser& Browser) {
  const char* Script = R"JS(
(function () {
  try {
    var f = window.frames["left_frame"];
    if (!f || !f.document) return "";
    var form = f.document.forms["log_add"];
    if (!form) return "";
    var names = ["log_date", "log_time", "call_rx", "log_band", "log_freq", "log_mode"];
    var r = {};
    names.forEach(function (n) { var e = form.elements[n]; if (e) r[n] = e.value; });
    return JSON.stringify(r);
  } catch (e) { return ""; }
})()
)JS";
  std::map<std::string, std::string> Fields;
  QVariant Result;
  try {
    Result = RunScript(Browser, QString::fromUtf8(Script));
  } catch (const std::exception&) {
    return Fields;
  }
  const QJsonObject Object = QJsonDocument::fromJson(Result.toString().toUtf8()).object();
  for (auto It = Object.begin(); It != Object.end(); ++It)
    Fields[It.key().toStdString()] = It.value().toString().toStdString();
  return Fields;
}

void RunPageScript(vela::TWebBrowser& Browser, const std::string& Script) {
  Browser.PostScript(QString::fromStdString(Script));
}

TRadioSim::TRadioSim(const QString& Radio, const QString& Link, const QString& Freq,
                     const QString& Mode) {
  QObject::connect(&FProcess, &QProcess::readyReadStandardOutput, [this] {
    FPartial += FProcess.readAllStandardOutput().toStdString();
    size_t Pos;
    while ((Pos = FPartial.find('\n')) != std::string::npos) {
      std::string Line = FPartial.substr(0, Pos);
      FPartial.erase(0, Pos + 1);
      if (Line.rfind("ready ", 0) == 0)
        FReady = true;
      FLines.push_back(Line);
    }
  });
  FProcess.setProcessChannelMode(QProcess::SeparateChannels);
  FProcess.setReadChannel(QProcess::StandardOutput);
  FProcess.start(QStringLiteral(VELA_BIN_DIR "/velalog-radiosim"),
                 {"--radio", Radio, "--link", Link, "--freq", Freq, "--mode", Mode, "--baud", "0"});
  WaitUntil([this] { return FReady || FProcess.state() == QProcess::NotRunning; }, 20000);
}

TRadioSim::~TRadioSim() {
  if (FProcess.state() != QProcess::NotRunning) {
    FProcess.write("quit\n");
    if (!FProcess.waitForFinished(3000)) {
      FProcess.kill();
      FProcess.waitForFinished(3000);
    }
  }
}

void TRadioSim::Send(const std::string& Line) {
  FProcess.write(QByteArray::fromStdString(Line + "\n"));
}

bool TRadioSim::Printed(const std::string& Line) const {
  for (const std::string& L : FLines)
    if (L == Line)
      return true;
  return false;
}

bool TRadioSim::PrintedPrefix(const std::string& Prefix) const {
  for (const std::string& L : FLines)
    if (L.rfind(Prefix, 0) == 0)
      return true;
  return false;
}

TTestShack::TTestShack(const QString& Radio, int RadioType, bool WriteIni,
                       const std::string& StartPath) {
  QDir(FDir.path()).mkpath(QStringLiteral("ports"));
  vela::TCustomComPort::SetPortsDir(FDir.path().toStdString() + "/ports");

  FServer.setProcessChannelMode(QProcess::SeparateChannels);
  FServer.start(QStringLiteral("python3"),
                {QStringLiteral(VELA_SOURCE_DIR "/demo/logbook_server.py"), "--port", "0",
                 "--store", FDir.path() + "/contacts.json"});
  std::string Out;
  WaitUntil(
      [&] {
        Out += FServer.readAllStandardOutput().toStdString();
        return Out.find('\n') != std::string::npos || FServer.state() == QProcess::NotRunning;
      },
      20000);
  if (Out.rfind("PORT ", 0) == 0)
    FPort = std::atoi(Out.c_str() + 5);

  FSim = std::make_unique<TRadioSim>(Radio, FDir.path() + "/ports/com1", "14074000", "usb");

  if (WriteIni) {
    QFile Ini(QString::fromStdString(IniPath()));
    if (Ini.open(QIODevice::WriteOnly)) {
      Ini.write(QByteArray::fromStdString("[ServerSettings]\nServerAddress=" + Url(StartPath) +
                                          "\nServerCount=1\nServerList0=" + Url(StartPath) +
                                          "\n[CommSettings]\nCommPort=1\nCommPort2=0\n"
                                          "Comm2Enable=0\nBaudRate=6\nRadio=" +
                                          std::to_string(RadioType) + "\n"));
    }
  }
}

TTestShack::~TTestShack() {
  FSim.reset();
  if (FServer.state() != QProcess::NotRunning) {
    FServer.terminate();
    if (!FServer.waitForFinished(3000)) {
      FServer.kill();
      FServer.waitForFinished(3000);
    }
  }
  vela::TCustomComPort::SetPortsDir("");
}

std::string TTestShack::Folder() const {
  return FDir.path().toStdString();
}
std::string TTestShack::IniPath() const {
  return Folder() + "/VelaLog.ini";
}
std::string TTestShack::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + Path;
}

void TTestShack::RestartSim(const QString& Radio, const QString& Freq, const QString& Mode) {
  FSim.reset();
  QFile::remove(FDir.path() + "/ports/com1");
  FSim = std::make_unique<TRadioSim>(Radio, FDir.path() + "/ports/com1", Freq, Mode);
}

} // namespace velatest
