#include "GuiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "cat/transport/CPort.h"

namespace velatest {

TScratch::TScratch() {
  QDir(FDir.path()).mkdir(QStringLiteral("ports"));
  vela::TCustomComPort::SetPortsDir(PortsDir());
}

TScratch::~TScratch() {
  vela::TCustomComPort::SetPortsDir("");
}

std::string TScratch::IniPath() const {
  return FDir.filePath(QStringLiteral("VelaLog.ini")).toStdString();
}

std::string TScratch::PortsDir() const {
  return FDir.filePath(QStringLiteral("ports")).toStdString();
}

void TScratch::WriteIni(const std::string& Text) const {
  std::ofstream(IniPath(), std::ios::binary) << Text;
}

std::string TScratch::ReadIni() const {
  std::ifstream In(IniPath(), std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

void TScratch::LinkPort(int N, const std::string& Device) const {
  const std::string Link = PortsDir() + "/com" + std::to_string(N);
  ::unlink(Link.c_str());
  if (::symlink(Device.c_str(), Link.c_str()) != 0)
    throw std::runtime_error("cannot link " + Link);
}

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Done()) {
    if (Timer.elapsed() > TimeoutMs)
      return Done();
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    ::usleep(2000);
  }
  return true;
}

std::vector<QString> CatchMessageBoxes(const std::function<void()>& Action) {
  std::vector<QString> Texts;
  QTimer Closer;
  Closer.setInterval(20);
  QObject::connect(&Closer, &QTimer::timeout, [&Texts] {
    if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Texts.push_back(Box->text());
      Box->done(QMessageBox::Ok);
    }
  });
  Closer.start();
  Action();
  Closer.stop();
  return Texts;
}

std::string IniValue(const std::string& IniText, const std::string& Key) {
  std::istringstream In(IniText);
  std::string Line;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r')
      Line.pop_back();
    if (Line.rfind(Key + "=", 0) == 0)
      return Line.substr(Key.size() + 1);
  }
  return "";
}

} // namespace velatest
