// velalog-radiosim: a simulated transceiver on a pseudo-terminal.
//
// It creates a pty, links PATH to its slave side and answers the CAT commands of
// the chosen radio. Standard input takes operator actions (one per line); standard
// output logs, one line each and flushed at once:
//   freq <HZ> / mode <NAME>   the VFO or mode changed (operator or CAT command)
//   ready <PATH>              the link exists; printed once, after the start values
//   cmd <TEXT or HEX>         a command received from the controller
//   status <HZ> <MODE>        answer to the "status" input line
//   error <TEXT>              an input line that was not understood
// Replies are paced at the wire speed of the baud rate: 11 bit times per byte (one
// start bit, eight data bits, two stop bits, the line the program itself uses).
// With --pieces N:MS they leave N bytes at a time with a pause of MS ms after
// each piece, as a slow interface (or a radio that pauses inside a reply) sends them.
#include "platform/untStrToInt.h"
#include "settings/untVelaLogSettings.h"
#include "tools/radiosim/untRadioSim.h"
#include "untProgramInfo.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using vela::radiosim::TRadioCore;

namespace {

constexpr long long NsPerSecond = 1000000000LL;
constexpr long long NsPerMs = 1000000LL;
constexpr int BitsPerByte = 11;
constexpr long long InputGapNs = NsPerSecond;         // binary radios drop half commands
constexpr long long WanderPeriodNs = 3 * NsPerSecond; // --wander step interval
constexpr size_t MaxPendingOutput = 65536;            // bytes nobody reads are dropped
constexpr size_t MaxInputLine = 4096;

volatile sig_atomic_t GStop = 0;
void OnSignal(int) {
  GStop = 1;
}

long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * NsPerSecond + ts.tv_nsec;
}

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The usage text, on standard output for --help.
int Help() {
  std::string radios;
  for (const auto& name : vela::radiosim::RadioNames())
    radios += (radios.empty() ? "" : "|") + name;
  std::printf("Usage: velalog-radiosim --radio %s --link PATH [OPTION...]\n"
              "  or:  velalog-radiosim --help\n"
              "Simulates a radio's CAT side on a pseudo-terminal linked at PATH, for tests,\n"
              "benchmarks and the demo.\n"
              "\n"
              "Options:\n"
              "  --radio NAME       the radio to simulate\n"
              "  --link PATH        the symbolic link to make to the pseudo-terminal\n"
              "  --freq HZ          the frequency at start\n"
              "  --mode MODE        the mode at start\n"
              "  --baud RATE        pace the replies at RATE (0: no pacing; default 4800)\n"
              "  --ack 0|1          a binary Yaesu's acknowledgement byte\n"
              "  --echo 0|1         an Icom's echo of each command\n"
              "  --transceive       an Icom reports its own changes\n"
              "  --wander           move the VFO a little every 3 s and now and then the\n"
              "                     mode, until a freq or mode line comes in\n"
              "  --stay             keep running at the end of standard input\n"
              "  --civ HEX          an Icom's CI-V address\n"
              "  --data-flag ok|ng  the IC-7300 answers NG to its data mode command\n"
              "  --answer-delay MS  replies that much after the command (an echo at once)\n"
              "  --help             this text\n"
              "\n"
              "Commands:\n"
              "Lines on standard input: freq HZ | mode NAME | wander on|off | drop | insert |\n"
              "ack 0|1 | echo 0|1 | transceive 0|1 | foreign [freq|mode] | dataflag ok|ng |\n"
              "status | quit. A freq or mode line stops the wander; wander on starts it again.\n"
              "Standard output: freq HZ / mode NAME on every change, cmd ... per command.\n"
              "\n"
              "Examples:\n"
              "  velalog-radiosim --radio ft950 --link /tmp/com5 --freq 14074000 --mode usb\n"
              "  velalog-radiosim --radio ic7300 --link ports/com3 --transceive --wander\n",
              radios.c_str());
  return 0;
}

// A usage error: one line and where to read more, on standard error.
int Usage(const char* why) {
  std::fprintf(stderr,
               "velalog-radiosim: %s\nTry 'velalog-radiosim --help' for more information.\n", why);
  return 2;
}

// "ok" answers the IC-7300's data mode command, "ng" refuses it.
bool ParseDataFlag(const std::string& s, bool& refused) {
  if (s != "ok" && s != "ng")
    return false;
  refused = s == "ng";
  return true;
}

// A whole non-negative decimal number of at most 12 digits.
bool ParseCount(const std::string& s, long long& out) {
  std::int64_t v = 0;
  if (!vela::TryDigitsToInt(s, 12, v))
    return false;
  out = v;
  return true;
}

// "N:MS": pieces of 1 to 4096 bytes, at most 10000 ms apart.
bool ParsePieces(const std::string& s, long long& bytes, long long& gapMs) {
  const size_t colon = s.find(':');
  if (colon == std::string::npos || !ParseCount(s.substr(0, colon), bytes) ||
      !ParseCount(s.substr(colon + 1), gapMs))
    return false;
  return bytes >= 1 && bytes <= 4096 && gapMs <= 10000;
}

bool ParseSwitch(const std::string& s, bool& out) {
  if (s == "1" || s == "on") {
    out = true;
    return true;
  }
  if (s == "0" || s == "off") {
    out = false;
    return true;
  }
  return false;
}

class TSimulator {
public:
  TSimulator(std::unique_ptr<TRadioCore> core, long long baud, bool wander, long long pieceBytes,
             long long pieceGapMs)
      : FCore(std::move(core)), FBaud(baud), FWander(wander), FRandom(std::random_device{}()),
        FPieceBytes(pieceBytes), FPieceGapNs(pieceGapMs * NsPerMs) {
    FWanderCentre = FCore->Frequency();
    FNextWander = NowNs() + WanderPeriodNs;
  }

  TRadioCore& Core() { return *FCore; }

  // Prints the core's log and queues what it sends.
  void Flush() {
    for (const auto& line : FCore->TakeLog())
      Print(line);
    if (std::string late = FCore->TakeLateOutput(); !late.empty())
      FLate.push_back({NowNs() + FCore->AnswerDelayMs() * NsPerMs, std::move(late)});
    Queue(FCore->TakeOutput());
  }

  void Queue(const std::string& out) {
    if (out.empty())
      return;
    if (FPending.empty()) {
      FNextByte = std::max(FNextByte, NowNs());
      FPieceLeft = FPieceBytes;
    }
    FPending += out;
    if (FPending.size() > MaxPendingOutput)
      FPending.erase(0, FPending.size() - MaxPendingOutput);
  }

  void FromController(const char* data, size_t n) {
    const long long now = NowNs();
    if (FCore->InputTimesOut() && now - FLastInput > InputGapNs)
      FCore->ResetInput();
    FLastInput = now;
    FCore->Receive(std::string(data, n));
    Flush();
  }

  // Writes what is due; returns the time of the next due byte, or -1.
  long long WriteDue(int fd) {
    const long long now = NowNs();
    while (!FLate.empty() && FLate.front().first <= now) {
      Queue(FLate.front().second);
      FLate.pop_front();
    }
    const long long lateDue = FLate.empty() ? -1 : FLate.front().first;
    const long long due = WritePending(fd, now);
    return due < 0 || (lateDue >= 0 && lateDue < due) ? lateDue : due;
  }

  long long WritePending(int fd, long long now) {
    if (FPending.empty())
      return -1;
    size_t count = FPending.size();
    if (FBaud > 0 || FPieceBytes > 0) {
      if (FNextByte > now)
        return FNextByte;
    }
    if (FBaud > 0) {
      const long long byteNs = BitsPerByte * NsPerSecond / FBaud;
      count = std::min<size_t>(count, 1 + static_cast<size_t>((now - FNextByte) / byteNs));
    }
    if (FPieceBytes > 0)
      count = std::min<size_t>(count, static_cast<size_t>(FPieceLeft));
    const ssize_t written = write(fd, FPending.data(), count);
    if (written > 0) {
      FPending.erase(0, static_cast<size_t>(written));
      if (FBaud > 0)
        FNextByte += written * (BitsPerByte * NsPerSecond / FBaud);
      if (FPieceBytes > 0 && (FPieceLeft -= written) <= 0) {
        FPieceLeft = FPieceBytes;
        FNextByte = std::max(FNextByte, now) + FPieceGapNs;
      }
    }
    if (FPending.empty())
      return -1;
    // Pty full (nobody reading): try again shortly.
    return written > 0 && (FBaud > 0 || FPieceBytes > 0) ? FNextByte : now + NsPerSecond / 50;
  }

  // Moves the VFO a little, and now and then the mode, as an operator would.
  long long WanderDue() {
    if (!FWander)
      return -1;
    const long long now = NowNs();
    if (now < FNextWander)
      return FNextWander;
    FNextWander = now + WanderPeriodNs;
    std::uniform_int_distribution<int> step(-150, 150);
    long long hz = FCore->Frequency() + step(FRandom) * 10LL;
    if (hz > FWanderCentre + 25000 || hz < FWanderCentre - 25000 || hz < 0)
      hz = FWanderCentre;
    FCore->setFrequency(hz);
    if (++FWanderSteps % 5 == 0) {
      static const char* const modes[] = {"usb", "lsb", "cw", "digi"};
      std::uniform_int_distribution<int> pick(0, 3);
      const std::string current = FCore->Mode();
      for (int tries = 0; tries < 8; ++tries) {
        const std::string m = modes[pick(FRandom)];
        if (m != current && FCore->setMode(m))
          break;
      }
    }
    Flush();
    return FNextWander;
  }

  // One line of standard input; false for "quit".
  bool Command(const std::string& rawLine) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
      return true;
    line.erase(0, start);
    const size_t space = line.find_first_of(" \t");
    const std::string verb = line.substr(0, space);
    std::string arg;
    if (space != std::string::npos) {
      const size_t a = line.find_first_not_of(" \t", space);
      if (a != std::string::npos)
        arg = line.substr(a);
    }
    const bool binaryYaesu = FCore->InputTimesOut();
    const bool icom = FCore->RadioName().rfind("ic", 0) == 0;
    bool on = false;
    // The operator turned the radio: it stays where it was put.
    bool turned = false;
    if (verb == "quit" || verb == "exit")
      return false;
    if (verb == "freq") {
      long long hz = 0;
      if (!ParseCount(arg, hz) || !FCore->setFrequency(hz))
        Print("error bad frequency: " + arg);
      else
        turned = true;
    } else if (verb == "mode") {
      if (!FCore->setMode(arg))
        Print("error unknown mode: " + arg);
      else
        turned = true;
    } else if (verb == "wander" && ParseSwitch(arg, on)) {
      if (on && !FWander) {
        // Around where the operator left it.
        FWanderCentre = FCore->Frequency();
        FNextWander = NowNs() + WanderPeriodNs;
      }
      FWander = on;
      Print(std::string("wander ") + (on ? "on" : "off"));
    } else if (verb == "drop") {
      FCore->DropNextReplyByte();
    } else if (verb == "insert") {
      FCore->InsertNextReplyByte();
    } else if (verb == "status") {
      Print("status " + std::to_string(FCore->Frequency()) + " " + FCore->Mode());
    } else if (verb == "ack" && binaryYaesu && ParseSwitch(arg, on)) {
      FCore->setAck(on);
    } else if (verb == "echo" && icom && ParseSwitch(arg, on)) {
      FCore->setEcho(on);
    } else if (verb == "transceive" && icom && (arg.empty() || ParseSwitch(arg, on))) {
      FCore->setTransceive(arg.empty() || on);
    } else if (verb == "dataflag" && FCore->RadioName() == "ic7300" && ParseDataFlag(arg, on)) {
      static_cast<vela::radiosim::TIcomRadio&>(*FCore).setDataFlagRefused(on);
    } else if (verb == "foreign" && icom) {
      if (!FCore->EmitForeign(arg))
        Print("error foreign takes freq or mode");
    } else {
      Print("error unknown command: " + line);
    }
    Flush();
    if (turned)
      StopWander();
    return true;
  }

private:
  void StopWander() {
    if (!FWander)
      return;
    FWander = false;
    Print("wander off");
  }

  std::unique_ptr<TRadioCore> FCore;
  long long FBaud;
  bool FWander;
  std::mt19937 FRandom;
  std::string FPending;
  // Replies held back by the answer delay: when each is due.
  std::deque<std::pair<long long, std::string>> FLate;
  long long FNextByte = 0;
  // --pieces: bytes per piece (0: no pieces), the pause after each, and the
  // bytes left in the current piece.
  long long FPieceBytes = 0;
  long long FPieceGapNs = 0;
  long long FPieceLeft = 0;
  long long FLastInput = 0;
  long long FWanderCentre = 0;
  long long FNextWander = 0;
  int FWanderSteps = 0;
};

} // namespace

int main(int argc, char** argv) {
  std::string radio, link, mode;
  long long freq = -1, baud = 4800;
  int ack = -1, echo = -1, civ = 0;
  long long answerDelayMs = 0;
  long long pieceBytes = 0, pieceGapMs = 0;
  bool dataFlagRefused = false;
  bool transceive = false, wander = false, stay = false;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i], value;
    const size_t eq = opt.find('=');
    const bool hasInline = opt.rfind("--", 0) == 0 && eq != std::string::npos;
    if (hasInline) {
      value = opt.substr(eq + 1);
      opt.erase(eq);
    }
    auto next = [&]() -> bool {
      if (hasInline)
        return true;
      if (i + 1 >= argc)
        return false;
      value = argv[++i];
      return true;
    };
    if (opt == "--help" || opt == "-h")
      return Help();
    if (opt == "--version")
      return std::printf("velalog-radiosim %s\n", vela::VelaLogVersion), 0;
    if (opt == "--transceive")
      transceive = true;
    else if (opt == "--wander")
      wander = true;
    else if (opt == "--stay")
      stay = true;
    else if (opt == "--radio" || opt == "--link" || opt == "--freq" || opt == "--mode" ||
             opt == "--baud" || opt == "--ack" || opt == "--echo" || opt == "--civ" ||
             opt == "--data-flag" || opt == "--answer-delay" || opt == "--pieces") {
      if (!next())
        return Usage(("missing value for " + opt).c_str());
      bool sw = false;
      if (opt == "--radio")
        radio = value;
      else if (opt == "--link")
        link = value;
      else if (opt == "--mode")
        mode = value;
      else if (opt == "--freq" && !ParseCount(value, freq))
        return Usage("--freq takes a frequency in hertz");
      else if (opt == "--baud" && (!ParseCount(value, baud) || baud > 10000000))
        return Usage("--baud takes a rate in bits per second (0: no pacing)");
      else if ((opt == "--ack" || opt == "--echo") && !ParseSwitch(value, sw))
        return Usage((opt + " takes 0 or 1").c_str());
      else if (opt == "--civ" && (civ = vela::ParseCIVAddress(value)) == 0)
        return Usage("--civ takes a CI-V address in hexadecimal, 01 to DF");
      else if (opt == "--answer-delay" &&
               (!ParseCount(value, answerDelayMs) || answerDelayMs > 10000))
        return Usage("--answer-delay takes milliseconds, at most 10000");
      else if (opt == "--pieces" && !ParsePieces(value, pieceBytes, pieceGapMs))
        return Usage("--pieces takes BYTES:MS, 1 to 4096 bytes and at most 10000 ms");
      else if (opt == "--data-flag" && !ParseDataFlag(value, dataFlagRefused))
        return Usage("--data-flag takes ok or ng");
      if (opt == "--ack")
        ack = sw;
      if (opt == "--echo")
        echo = sw;
    } else {
      return Usage(("unknown option " + opt).c_str());
    }
  }
  if (radio.empty() || link.empty())
    return Usage("--radio and --link are required");
  auto core = vela::radiosim::CreateRadioCore(radio);
  if (!core)
    return Usage(("unknown radio " + radio).c_str());
  if (freq >= 0 && !core->setFrequency(freq))
    return Usage("--freq out of the radio's range");
  if (!mode.empty() && !core->setMode(mode)) {
    std::string names;
    for (const auto& m : core->Modes())
      names += " " + m.Name;
    return Usage(("unknown mode " + mode + " (modes of " + radio + ":" + names + ")").c_str());
  }
  const bool icom = core->RadioName().rfind("ic", 0) == 0;
  if ((civ && !icom) || (dataFlagRefused && core->RadioName() != "ic7300"))
    return Usage("--civ is for the Icom radios, --data-flag for the IC-7300");
  if (civ)
    static_cast<vela::radiosim::TIcomRadio&>(*core).setAddress(static_cast<unsigned char>(civ));
  if (dataFlagRefused)
    static_cast<vela::radiosim::TIcomRadio&>(*core).setDataFlagRefused(true);
  if (ack >= 0)
    core->setAck(ack);
  if (echo >= 0)
    core->setEcho(echo);
  core->setTransceive(transceive);
  core->setAnswerDelayMs(static_cast<int>(answerDelayMs));
  core->TakeLog();
  core->TakeOutput();

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("velalog-radiosim: pty");
    return 1;
  }
  const std::string slaveName = ptsname(master);
  // Holding the slave open keeps the master readable while no client is attached.
  const int slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
  if (slave < 0) {
    std::perror("velalog-radiosim: pty slave");
    return 1;
  }
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "velalog-radiosim: %s exists and is not a symbolic link\n",
                   link.c_str());
      return 1;
    }
    unlink(link.c_str());
  }
  if (symlink(slaveName.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "velalog-radiosim: cannot create %s: %s\n", link.c_str(),
                 std::strerror(errno));
    return 1;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGHUP);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);

  TSimulator sim(std::move(core), baud, wander, pieceBytes, pieceGapMs);
  Print("freq " + std::to_string(sim.Core().Frequency()));
  Print("mode " + sim.Core().Mode());
  Print("ready " + link);

  bool stdinOpen = true;
  std::string lineBuffer;
  char buf[4096];
  while (!GStop) {
    long long due = sim.WriteDue(master);
    const long long wanderDue = sim.WanderDue();
    if (wanderDue >= 0 && (due < 0 || wanderDue < due))
      due = wanderDue;

    pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = stdinOpen ? 2 : 1;
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (due >= 0) {
      const long long wait = std::max(0LL, due - NowNs());
      timeout.tv_sec = wait / NsPerSecond;
      timeout.tv_nsec = wait % NsPerSecond;
      timeoutPtr = &timeout;
    }
    const int ready = ppoll(fds, count, timeoutPtr, &waitMask);
    if (ready < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0)
        sim.FromController(buf, static_cast<size_t>(n));
    }
    if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) {
        stdinOpen = false;
        if (!stay)
          break;
        continue;
      }
      lineBuffer.append(buf, static_cast<size_t>(n));
      bool quit = false;
      size_t nl;
      while (!quit && (nl = lineBuffer.find('\n')) != std::string::npos) {
        const std::string line = lineBuffer.substr(0, nl);
        lineBuffer.erase(0, nl + 1);
        quit = !sim.Command(line);
      }
      if (quit)
        break;
      if (lineBuffer.size() > MaxInputLine) {
        lineBuffer.clear();
        Print("error input line too long");
      }
    }
  }

  // Remove the link only if it is still ours.
  char target[4096];
  const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
  if (len > 0 && slaveName == std::string(target, static_cast<size_t>(len)))
    unlink(link.c_str());
  close(slave);
  close(master);
  return 0;
}
