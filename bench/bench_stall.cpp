// The main thread's worst stalls: the program's main window on the sample
// logbook and a simulated FT-950, with a 10 ms timer on the main thread whose
// lateness is recorded while the window loads pages, while the settings
// dialog applies, and while a page's renderer is stuck (it answers no walk).
// Prints one line per phase: "<phase> <samples> <p99 ms> <max ms>".
// Usage (under a display): bench_stall [LOADS]
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/guiVelaLogMain.h"
#include "app/untVelaLogApplication.h"
#include "gui/guiVLogSettings.h"
#include "gui/untErrorBox.h"
#include "logpage/StallingServer.h"
#include "logpage/untLogPHPinterface.h"
#include "logpage/untWebBrowser.h"

namespace {

// A 10 ms timer on the main thread; each tick records how late it came.
class TStallProbe {
public:
  TStallProbe() {
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const double Now = FClock.nsecsElapsed() / 1e6;
      if (FLast >= 0)
        FLate.push_back(std::max(0.0, Now - FLast - 10.0));
      FLast = Now;
    });
  }
  void Start() {
    FLate.clear();
    FLast = -1;
    FClock.start();
    FTimer.start();
  }
  // Stops and prints the phase's line.
  void Report(const char* Phase) {
    FTimer.stop();
    std::vector<double> Late = FLate;
    std::sort(Late.begin(), Late.end());
    const double P99 = Late.empty() ? 0 : Late[std::min(Late.size() - 1, Late.size() * 99 / 100)];
    const double Max = Late.empty() ? 0 : Late.back();
    std::printf("%s %zu %.1f %.1f\n", Phase, Late.size(), P99, Max);
    std::fflush(stdout);
  }

private:
  QTimer FTimer;
  QElapsedTimer FClock;
  double FLast = -1;
  std::vector<double> FLate;
};

std::string FrequencyText(int Hz) {
  const int Units = Hz / 100;
  char Text[32];
  std::snprintf(Text, sizeof Text, "%d.%04d", Units / 10000, Units % 10000);
  return Text;
}

} // namespace

int main(int argc, char** argv) {
  vela::TWebBrowser::PrepareEnvironment();
  vela::TVelaLogApplication App(argc, argv);
  App.setApplicationName(QStringLiteral("VELA Log"));
  int Errors = 0;
  vela::ErrorBoxHook = [&Errors](const QString&) { ++Errors; };
  const int Loads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  using velatest::WaitUntil;

  velatest::TStation Station;
  if (!Station.Started()) {
    std::fprintf(stderr, "bench_stall: the station did not start\n");
    return 1;
  }
  auto Window = std::make_unique<vela::TfrmVelaLogMain>(nullptr, Station.IniPath());
  vela::TfrmVelaLogMain& W = *Window;
  W.show();
  auto FormFreq = [&] {
    const auto Form = velatest::ReadForm(*W.wbrLogBook);
    auto It = Form.find("log_freq");
    return It == Form.end() ? std::string() : It->second;
  };
  if (!WaitUntil([&] { return FormFreq() == "14.0740"; }, 60000)) {
    std::fprintf(stderr, "bench_stall: the form was not filled\n");
    return 1;
  }
  TStallProbe Probe;

  // Page loads: each a fresh form that tunes the radio and is then filled.
  Probe.Start();
  for (int i = 0; i < Loads; ++i) {
    const int Hz = 7000000 + 1000 * (i + 1);
    W.wbrLogBook->Navigate(Station.Url("/?freq=" + FrequencyText(Hz) + "&mode=usb"));
    WaitUntil([&] { return W.CAT()->Frequency() == FrequencyText(Hz); }, 20000);
  }
  Probe.Report("page_loads");

  // Apply: the dialog open, a server list entry added and Apply pressed,
  // with a pause between presses.
  vela::TfrmVLogSettings& Dialog = *W.SettingsDialog();
  Dialog.show();
  WaitUntil([] { return false; }, 300);
  Probe.Start();
  for (int i = 0; i < 10; ++i) {
    Dialog.lbxServerList()->addItem(QStringLiteral("server%1.example").arg(i));
    Dialog.pnlApplyClick();
    WaitUntil([] { return false; }, 100);
  }
  Probe.Report("apply");
  Dialog.hide();

  // A stuck page: its script waits on a request that never completes, so
  // no walk is answered; walks keep being asked for.
  velatest::TStallingServer Server;
  Server.Serve("/stuck", velatest::Html("<p>stuck</p><script>addEventListener('load', function () {"
                                        "setTimeout(function () { var r = new XMLHttpRequest();"
                                        "r.open('GET', '/held', false); try { r.send(); } catch "
                                        "(e) {} }, 100); });</script>"));
  Server.Hold("/held", "ok");
  W.wbrLogBook->Navigate(Server.Url("/stuck"));
  WaitUntil([&] { return Server.Held("/held") > 0; }, 30000);
  W.wbrLogBook->setScriptTimeoutMs(2000);
  Probe.Start();
  QElapsedTimer Phase;
  Phase.start();
  while (Phase.elapsed() < 5000) {
    W.wbrLogBookDocumentComplete();
    WaitUntil([] { return false; }, 250);
  }
  Probe.Report("page_stall");
  Server.Release("/held");
  W.close();
  Window.reset();
  std::fprintf(stderr, "bench_stall: %d error boxes\n", Errors);
  return 0;
}
