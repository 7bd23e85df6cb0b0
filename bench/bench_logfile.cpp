// A record appended to a followed ADIF log file to the contact handed to the
// listener's consumers: each sample appends one record to a real file in a
// temporary folder and times it until the contact arrives (the system's file
// notice, one read, the checks at the door). Prints
// "logfile_contact <samples> <p50 ms> <p95 ms>".
// Usage: bench_logfile [SAMPLES]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "contacts/untContactListener.h"

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const int Samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  QTemporaryDir Dir;
  const std::string Log = Dir.filePath(QStringLiteral("wsjtx_log.adi")).toStdString();
  std::ofstream(Log) << "ADIF export<eoh>\n";
  vela::TContactListener Listener;
  int Got = 0;
  Listener.AddContactConsumer([&Got](const vela::TContact&, const std::string&) { ++Got; });
  Listener.FollowFiles({Log}, Dir.path().toStdString());
  std::vector<double> Ms;
  for (int I = 0; I < Samples; ++I) {
    const int Before = Got;
    // Calls and times apart, so that no two count as one contact.
    const std::string Call = "B" + std::to_string(1000 + I) + "X";
    const std::string Time = std::to_string(100000 + I * 300);
    QElapsedTimer Clock;
    Clock.start();
    std::ofstream(Log, std::ios::app)
        << "<call:" << Call.size() << ">" << Call << " <qso_date:8>20991207 <time_on:6>" << Time
        << " <band:3>40m <freq:8>7.075500 <mode:3>FT8 <rst_sent:3>-10 <eor>\n";
    while (Got == Before && Clock.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    if (Got == Before) {
      std::fprintf(stderr, "bench_logfile: no contact for record %d\n", I);
      return 1;
    }
    Ms.push_back(Clock.nsecsElapsed() / 1e6);
  }
  std::sort(Ms.begin(), Ms.end());
  auto At = [&Ms](double Q) { return Ms[std::min(Ms.size() - 1, std::size_t(Q * Ms.size()))]; };
  std::printf("logfile_contact %d %.2f %.2f\n", Samples, At(0.5), At(0.95));
  return 0;
}
