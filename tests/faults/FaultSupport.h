// Child processes for the fault tests: the real velalog-cat and
// velalog-radiosim with pipes on standard input and output, read line by line
// with generous bounds, and their resident memory read from /proc.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vela::test {

using Clock = std::chrono::steady_clock;
constexpr auto Generous = std::chrono::seconds(20);

inline std::string Tool(const std::string& Name) {
  return std::string(VELA_BIN_DIR) + "/" + Name;
}

inline std::filesystem::path MakeTempDir(const char* Prefix) {
  std::string Template = (std::filesystem::temp_directory_path() / Prefix).string() + "-XXXXXX";
  if (!::mkdtemp(Template.data()))
    throw std::runtime_error("mkdtemp failed");
  return Template;
}

class TChild {
public:
  // ErrorsToOutput: standard error goes into the same pipe as standard
  // output (to read velalog-cat's link lines in order with its reports).
  explicit TChild(std::vector<std::string> Args, bool QuietErrors = true,
                  bool ErrorsToOutput = false) {
    int In[2], Out[2];
    if (::pipe2(In, O_CLOEXEC) != 0 || ::pipe2(Out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    FPid = ::fork();
    if (FPid == 0) {
      ::dup2(In[0], STDIN_FILENO);
      ::dup2(Out[1], STDOUT_FILENO);
      if (ErrorsToOutput) {
        ::dup2(Out[1], STDERR_FILENO);
      } else if (QuietErrors) {
        const int Null = ::open("/dev/null", O_WRONLY);
        ::dup2(Null, STDERR_FILENO);
      }
      std::vector<char*> Argv;
      for (auto& A : Args)
        Argv.push_back(A.data());
      Argv.push_back(nullptr);
      ::execv(Argv[0], Argv.data());
      ::_exit(127);
    }
    ::close(In[0]);
    ::close(Out[1]);
    FIn = In[1];
    FOut = Out[0];
  }
  ~TChild() {
    CloseInput();
    if (FPid > 0 && !Wait(std::chrono::seconds(5)))
      Kill();
    if (FOut >= 0)
      ::close(FOut);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  pid_t Pid() const { return FPid; }

  bool Send(const std::string& Line) {
    const std::string Text = Line + "\n";
    return FIn >= 0 && ::write(FIn, Text.data(), Text.size()) == static_cast<ssize_t>(Text.size());
  }
  void CloseInput() {
    if (FIn >= 0)
      ::close(FIn);
    FIn = -1;
  }
  // True when the process has ended within the bound; ExitStatus() then holds
  // its wait status.
  bool Wait(std::chrono::milliseconds Bound) {
    const auto End = Clock::now() + Bound;
    while (FPid > 0) {
      if (::waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FPid = -1;
        return true;
      }
      if (Clock::now() >= End)
        return false;
      ::usleep(20000);
    }
    return true;
  }
  int ExitStatus() const { return FStatus; }
  bool Running() { return FPid > 0 && ::waitpid(FPid, &FStatus, WNOHANG) == 0; }
  void Kill() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, &FStatus, 0);
      FPid = -1;
    }
  }

  // The next output line that satisfies Match, or "" after the bound (or at
  // the end of the output).
  std::string WaitLine(const std::function<bool(const std::string&)>& Match,
                       std::chrono::milliseconds Bound = Generous) {
    const auto End = Clock::now() + Bound;
    for (;;) {
      std::size_t Nl;
      while ((Nl = FBuffer.find('\n')) != std::string::npos) {
        std::string Line = FBuffer.substr(0, Nl);
        FBuffer.erase(0, Nl + 1);
        if (Match(Line))
          return Line;
      }
      const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(End - Clock::now());
      if (Left.count() <= 0)
        return "";
      pollfd P{FOut, POLLIN, 0};
      if (::poll(&P, 1, static_cast<int>(Left.count())) <= 0)
        return "";
      char Buf[4096];
      const ssize_t N = ::read(FOut, Buf, sizeof Buf);
      if (N <= 0)
        return "";
      FBuffer.append(Buf, static_cast<std::size_t>(N));
    }
  }
  std::string WaitPrefix(const std::string& Prefix, std::chrono::milliseconds Bound = Generous) {
    return WaitLine([&](const std::string& L) { return L.rfind(Prefix, 0) == 0; }, Bound);
  }
  // Drops what has been printed so far.
  void Drain() {
    char Buf[4096];
    for (;;) {
      pollfd P{FOut, POLLIN, 0};
      if (::poll(&P, 1, 0) <= 0 || ::read(FOut, Buf, sizeof Buf) <= 0)
        break;
    }
    FBuffer.clear();
  }

private:
  pid_t FPid = -1;
  int FIn = -1, FOut = -1;
  int FStatus = 0;
  std::string FBuffer;
};

// Resident memory of a process in kB (0 when unknown).
inline long ResidentKb(pid_t Pid) {
  std::ifstream Status("/proc/" + std::to_string(Pid) + "/status");
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.rfind("VmRSS:", 0) == 0)
      return std::stol(Line.substr(6));
  return 0;
}

// The "rx" line for a frequency text, e.g. "rx\t20m\t14.0740\tusb".
inline std::function<bool(const std::string&)> RxWithFrequency(const std::string& Frequency) {
  return [Frequency](const std::string& L) {
    return L.rfind("rx\t", 0) == 0 && L.find("\t" + Frequency + "\t") != std::string::npos;
  };
}

} // namespace vela::test
