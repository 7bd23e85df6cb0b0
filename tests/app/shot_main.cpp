// velalog-shot-main OUTPUT.png: a screenshot of the main window showing the
// sample logbook filled from a simulated FT-950, for the README. Runs under
// Xvfb (scripts/screenshots).
#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <cstdio>

#include "AppTestSupport.h"
#include "app/guiVelaLogMain.h"
#include "app/untVelaLogApplication.h"
#include "logpage/untWebBrowser.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velalog-shot-main OUTPUT.png\n");
    return 2;
  }
  const QString Output = QString::fromLocal8Bit(argv[1]);
  vela::TWebBrowser::PrepareEnvironment();
  vela::TVelaLogApplication App(argc, argv);
  App.setApplicationName(QStringLiteral("VELA Log"));

  velatest::TTestShack Shack("ft950", 3);
  if (!Shack.Started()) {
    std::fprintf(stderr, "velalog-shot-main: the logbook server or the radio did not start\n");
    return 1;
  }
  Shack.Sim().Send("freq 14074000");
  Shack.Sim().Send("mode usb");
  int Result = 1;
  {
    vela::TfrmVelaLogMain Window(nullptr, Shack.IniPath());
    Window.show();
    Window.setGeometry(40, 40, 1100, 640);
    const bool Filled = velatest::WaitUntil([&] {
      const auto Form = velatest::ReadForm(*Window.wbrLogBook);
      auto It = Form.find("log_freq");
      auto Time = Form.find("log_time");
      return It != Form.end() && It->second == "14.0740" && Time != Form.end() &&
             !Time->second.empty();
    });
    if (!Filled) {
      std::fprintf(stderr, "velalog-shot-main: the form was not filled\n");
    } else {
      // The operator types the other station's call; the page paints a
      // moment after its fields change.
      velatest::RunPageScript(*Window.wbrLogBook,
                              "window.frames['left_frame'].document.forms['log_add']"
                              ".elements['call_rx'].value='DL1ABC';");
      velatest::WaitUntil([] { return false; }, 2000);
      const QPixmap Shot = QGuiApplication::primaryScreen()->grabWindow(
          0, Window.x(), Window.y(), Window.width(), Window.height());
      Result = Shot.save(Output) ? 0 : 1;
    }
    Window.close();
  }
  return Result;
}
