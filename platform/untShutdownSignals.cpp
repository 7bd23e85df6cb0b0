#include "platform/untShutdownSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace vela {

namespace {

const int ShutdownSignals[] = {SIGTERM, SIGINT, SIGHUP};

int SignalPipe[2] = {-1, -1};
std::atomic<int> SignalCount{0};

// Only async-signal-safe calls: write, signal, raise.
void OnShutdownSignal(int Signal) {
  if (SignalCount.fetch_add(1) == 0) {
    const int Saved = errno;
    const unsigned char Byte = static_cast<unsigned char>(Signal);
    [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
    errno = Saved;
    return;
  }
  // The second signal: end now, as the default action would.
  std::signal(Signal, SIG_DFL);
  std::raise(Signal);
}

} // namespace

void TShutdownSignals::Install() {
  if (SignalPipe[0] >= 0)
    return;
  if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("pipe");
    return;
  }
  struct sigaction Action {};
  Action.sa_handler = OnShutdownSignal;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = SA_RESTART;
  sigset_t Set;
  sigemptyset(&Set);
  for (const int Signal : ShutdownSignals) {
    ::sigaction(Signal, &Action, nullptr);
    sigaddset(&Set, Signal);
  }
  ::sigprocmask(SIG_UNBLOCK, &Set, nullptr);
}

TShutdownSignals::TShutdownSignals(std::function<void(int)> OnSignal, QObject* Parent)
    : QObject(Parent), FOnSignal(std::move(OnSignal)) {
  if (SignalPipe[0] < 0)
    return;
  FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { PipeReadable(); });
}

TShutdownSignals::~TShutdownSignals() = default;

void TShutdownSignals::PipeReadable() {
  unsigned char Byte = 0;
  int Signal = 0;
  while (::read(SignalPipe[0], &Byte, 1) == 1)
    Signal = Byte;
  if (Signal == 0 || FSignalled)
    return;
  FSignalled = true;
  if (FOnSignal)
    FOnSignal(Signal);
}

} // namespace vela
