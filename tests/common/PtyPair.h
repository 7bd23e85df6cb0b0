// A pseudo-terminal pair for tests: the master end stays with the test (it
// plays the radio or the other program), the slave end is the device that the
// code under test opens, by its path or through a "comN" link.
//
// The helper keeps a descriptor of the slave open itself, so that the slave
// keeps its settings and the master does not see a hang-up while the code
// under test closes and reopens the device. Both ends are in raw mode.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

namespace vela::test {

class TPtyPair {
public:
  TPtyPair() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0)
      throw std::runtime_error("posix_openpt failed");
    char Name[128];
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
        ::ptsname_r(FMaster, Name, sizeof(Name)) != 0) {
      ::close(FMaster);
      throw std::runtime_error("pty setup failed");
    }
    FSlavePath = Name;
    FSlave = ::open(Name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FSlave < 0) {
      ::close(FMaster);
      throw std::runtime_error("cannot open " + FSlavePath);
    }
    MakeRaw(FSlave);
    MakeRaw(FMaster);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  }
  ~TPtyPair() {
    CloseMaster();
    if (FSlave >= 0)
      ::close(FSlave);
  }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  int Master() const { return FMaster; }
  const std::string& SlavePath() const { return FSlavePath; }

  // Reads and drops what the code under test has written so far.
  void Drain() {
    char Buffer[4096];
    while (FMaster >= 0 && ::read(FMaster, Buffer, sizeof(Buffer)) > 0) {
    }
  }

  // Bytes sent to the slave side that are there to be read now. The kernel
  // moves what the master writes to the slave a moment later.
  int SlaveWaiting() const {
    int Count = 0;
    return FSlave >= 0 && ::ioctl(FSlave, FIONREAD, &Count) == 0 ? Count : 0;
  }

  // Hangs the pair up, as a pulled USB adapter does to its device.
  void CloseMaster() {
    if (FMaster >= 0)
      ::close(FMaster);
    FMaster = -1;
  }

  // Writes all of Data to the master end (the slave reads it).
  // Throws when nobody reads the device for TimeoutMs (the code under test
  // has stopped reading or has died), so a test fails instead of hanging.
  void Send(const std::string& Data, int TimeoutMs = 20000) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    size_t Done = 0;
    while (Done < Data.size()) {
      const ssize_t N = ::write(FMaster, Data.data() + Done, Data.size() - Done);
      if (N > 0) {
        Done += static_cast<size_t>(N);
      } else if (N < 0 && errno != EAGAIN && errno != EINTR) {
        throw std::runtime_error("write to pty master failed");
      } else if (std::chrono::steady_clock::now() > Deadline) {
        throw std::runtime_error("nobody reads the pseudo-terminal");
      } else {
        pollfd P{FMaster, POLLOUT, 0};
        ::poll(&P, 1, 100);
      }
    }
  }

  // Reads from the master end until Count bytes have come or TimeoutMs has
  // passed; returns what came.
  std::string Receive(size_t Count, int TimeoutMs = 5000) {
    std::string Data;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Data.size() < Count) {
      char Buf[4096];
      const ssize_t N = ::read(FMaster, Buf, std::min(sizeof(Buf), Count - Data.size()));
      if (N > 0) {
        Data.append(Buf, static_cast<size_t>(N));
        continue;
      }
      const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            Deadline - std::chrono::steady_clock::now())
                            .count();
      if (Left <= 0)
        break;
      pollfd P{FMaster, POLLIN, 0};
      ::poll(&P, 1, static_cast<int>(std::min<long long>(Left, 100)));
    }
    return Data;
  }

  // The slave's settings, read through the master.
  termios SlaveTermios() const {
    termios T{};
    ::tcgetattr(FMaster, &T);
    return T;
  }

private:
  static void MakeRaw(int Fd) {
    termios T;
    if (::tcgetattr(Fd, &T) == 0) {
      ::cfmakeraw(&T);
      ::tcsetattr(Fd, TCSANOW, &T);
    }
  }

  int FMaster = -1;
  int FSlave = -1;
  std::string FSlavePath;
};

} // namespace vela::test
