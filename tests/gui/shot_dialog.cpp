// Draws the settings dialog, as an operator first sees it, into a PNG file.
// Usage: velalog-shot-dialog OUTPUT.png
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "cat/transport/CPort.h"
#include "gui/guiVLogSettings.h"

namespace {

class TNoBrowser : public vela::TBrowserNavigator {
public:
  void Navigate(const std::string&) override {}
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  QApplication App(argc, argv);
  QTemporaryDir Dir;
  // An empty ports folder, so that no real serial port is opened.
  QDir(Dir.path()).mkdir("ports");
  vela::TCustomComPort::SetPortsDir(Dir.filePath("ports").toStdString());
  const std::string Ini = Dir.filePath("VelaLog.ini").toStdString();
  std::ofstream(Ini) << "[ServerSettings]\nServerAddress=http://log.example/logbook\n"
                        "ServerCount=2\nServerList0=http://log.example/logbook\n"
                        "ServerList1=localhost\n[CommSettings]\nCommPort=3\nCommPort2=6\n"
                        "Comm2Enable=1\nBaudRate=7\nRadio=3\n";
  vela::TVelaLogSettings Store(nullptr, Ini);
  TNoBrowser Browser;
  vela::TfrmVLogSettings Dialog(nullptr, &Browser, &Store);
  Dialog.show();
  // The OK button as under the mouse, to show the highlight.
  Dialog.Buttons().Highlight(Dialog.pnlOK());
  int Result = 1;
  QTimer::singleShot(500, [&] {
    Result = Dialog.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    App.quit();
  });
  App.exec();
  if (Result != 0)
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
  return Result;
}
