// Contacts into the form: the program's main window on the sample logbook,
// with contacts switched on and Submit set, so that each filled form is
// stored and a fresh one loads. Each sample sends one contact datagram over
// UDP on 127.0.0.1 and times it until the page has confirmed the writes
// into its fields. Prints "contact_fill <samples> <p50 ms> <p95 ms>".
// Usage (under a display): bench_contacts [SAMPLES]
#include <QElapsedTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/guiVelaLogMain.h"
#include "app/untContactsToPage.h"
#include "app/untVelaLogApplication.h"
#include "common/ContactDatagrams.h"
#include "gui/untErrorBox.h"
#include "logpage/untWebBrowser.h"

int main(int argc, char** argv) {
  vela::TWebBrowser::PrepareEnvironment();
  vela::TVelaLogApplication App(argc, argv);
  int Errors = 0;
  vela::ErrorBoxHook = [&Errors](const QString&) { ++Errors; };
  const int Samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  using velatest::WaitUntil;

  velatest::TStation Station;
  if (!Station.Started()) {
    std::fprintf(stderr, "bench_contacts: the station did not start\n");
    return 1;
  }
  std::ofstream(Station.IniPath(), std::ios::app)
      << "[Contacts]\nEnabled=1\nListen=127.0.0.1:0\nSubmit=1\n"
         "[ContactFields]\nrst_sent=rst_sent\nrst_rcvd=rst_rcvd\ngridsquare=grid\n";
  vela::TfrmVelaLogMain W(nullptr, Station.IniPath());
  W.show();
  vela::TContactsToPage& Contacts = *W.Contacts();
  QUdpSocket Sender;
  std::vector<double> Ms;
  for (int I = 0; I < Samples; ++I) {
    if (!WaitUntil([&] { return Contacts.FormFree(); }, 60000)) {
      std::fprintf(stderr, "bench_contacts: no fresh form\n");
      return 1;
    }
    const std::uint64_t Before = Contacts.Filled();
    const std::string Bytes = vela::test::ContactLogged("B" + std::to_string(1000 + I) + "X");
    QElapsedTimer Clock;
    Clock.start();
    Sender.writeDatagram(Bytes.data(), static_cast<qint64>(Bytes.size()),
                         QHostAddress(QHostAddress::LocalHost), Contacts.Listener().Port());
    // Spins with a short wait so that the time is read soon after the page's
    // answer.
    while (Contacts.Filled() == Before && Clock.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    Ms.push_back(Clock.nsecsElapsed() / 1e6);
  }
  std::sort(Ms.begin(), Ms.end());
  auto At = [&](int P) { return Ms[std::min(Ms.size() - 1, Ms.size() * P / 100)]; };
  std::printf("contact_fill %zu %.1f %.1f\n", Ms.size(), At(50), At(95));
  std::fflush(stdout);
  W.close();
  std::fprintf(stderr, "bench_contacts: %d error boxes\n", Errors);
  return 0;
}
