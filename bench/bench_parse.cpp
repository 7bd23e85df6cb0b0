// Parsing cost of the six radio drivers: bytes per second over a long stream
// of replies fed in serial-port-sized pieces, and over streams without a
// terminator (or of noise for the counted binary protocols), whose cost must
// grow linearly with their length.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "cat/radios/untFT100DCATinterface.h"
#include "cat/radios/untFT897DCATinterface.h"
#include "cat/radios/untFT950CATinterface.h"
#include "cat/radios/untFlexCATinterface.h"
#include "cat/radios/untIC7000CATinterface.h"
#include "cat/radios/untIC7300CATinterface.h"
#include "cat/transport/CPort.h"
#include "settings/untVelaLogSettings.h"

using namespace vela;

namespace {

// Drivers run with their worker on a port that does not exist.
class TBenchEnvironment {
public:
  TBenchEnvironment() {
    std::string Template = (std::filesystem::temp_directory_path() / "vela-bench-XXXXXX").string();
    if (!mkdtemp(Template.data()))
      std::abort();
    FDir = Template;
    std::filesystem::create_directory(FDir / "ports");
    TCustomComPort::SetPortsDir((FDir / "ports").string());
    Settings = std::make_unique<TVelaLogSettings>(nullptr, (FDir / "VelaLog.ini").string());
    Settings->setIntCommPort(200);
  }
  ~TBenchEnvironment() {
    Settings.reset();
    std::error_code Ignored;
    std::filesystem::remove_all(FDir, Ignored);
  }
  std::unique_ptr<TVelaLogSettings> Settings;

private:
  std::filesystem::path FDir;
};

TBenchEnvironment& Environment() {
  static TBenchEnvironment Env;
  return Env;
}

class TEventCounter : public TObject {
public:
  void RxData(TObject*, const TRadioValue&) { ++Count; }
  long Count = 0;
};

std::string Digits(long Value, std::size_t Width) {
  std::string Text = std::to_string(Value);
  return std::string(Width - Text.size(), '0') + Text;
}

char Bcd(long V) {
  return static_cast<char>(16 * (V / 10) + V % 10);
}

// One reply per radio for a frequency in Hz; the mode varies with I.
std::string FlexReply(long Hz, int I) {
  return "ZZIF" + Digits(Hz, 11) + "0000000000000000" + Digits(I % 12, 2) + "00000000;";
}
std::string FT950Reply(long Hz, int I) {
  return "IF001" + Digits(Hz % 60000000, 8) + "+000000" + std::string(1, "123456789ABC"[I % 12]) +
         "00000;";
}
std::string FT100DReply(long Hz, int I) {
  std::string Reply(32, '\0');
  const auto Word = static_cast<std::uint32_t>(Hz / 100 * 80);
  Reply[1] = static_cast<char>(Word >> 24);
  Reply[2] = static_cast<char>(Word >> 16);
  Reply[3] = static_cast<char>(Word >> 8);
  Reply[4] = static_cast<char>(Word);
  Reply[5] = static_cast<char>(I % 8);
  return Reply;
}
std::string FT897DReply(long Hz, int I) {
  const long Tens = Hz / 10;
  return {Bcd(Tens / 1000000 % 100), Bcd(Tens / 10000 % 100), Bcd(Tens / 100 % 100),
          Bcd(Tens % 100), static_cast<char>(I % 5)};
}
std::string IcomReply(int Address, long Hz, int I) {
  std::string Frame = {'\xFE', '\xFE', '\xCC', static_cast<char>(Address)};
  if (I % 2) {
    Frame += {'\x04', static_cast<char>(I % 9), '\x01'};
  } else {
    Frame += {'\x03',
              Bcd(Hz % 100),
              Bcd(Hz / 100 % 100),
              Bcd(Hz / 10000 % 100),
              Bcd(Hz / 1000000 % 100),
              Bcd(Hz / 100000000 % 100)};
  }
  // The bus echoes the driver's own poll before the reply.
  return std::string{'\xFE', '\xFE', static_cast<char>(Address), '\xCC', '\x03', '\xFD'} + Frame +
         '\xFD';
}

// A stream of replies that tune across the bands.
template <class F> std::string Stream(std::size_t Bytes, F Reply) {
  std::string Data;
  for (int I = 0; Data.size() < Bytes; ++I)
    Data += Reply(1800000L + 1000L * ((I * 7919L) % 140000L), I);
  return Data;
}

template <class TDriver>
void Run(benchmark::State& State, const std::string& Data, std::size_t Piece) {
  TDriver Driver(nullptr, Environment().Settings.get());
  TEventCounter Counter;
  Driver.setOnRxData(MakeMethod(&Counter, &TEventCounter::RxData));
  for (auto _ : State) {
    for (std::size_t At = 0; At < Data.size(); At += Piece) {
      const std::string Chunk = Data.substr(At, Piece);
      Driver.ParseReply(nullptr, Chunk, static_cast<int>(Chunk.size()));
    }
  }
  benchmark::DoNotOptimize(Counter.Count);
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) *
                          static_cast<std::int64_t>(Data.size()));
  State.SetComplexityN(static_cast<std::int64_t>(Data.size()));
}

constexpr std::size_t StreamBytes = 256 * 1024;
constexpr std::size_t SerialPiece = 64;

void BM_ParseReplies_Flex(benchmark::State& State) {
  static const std::string Data = Stream(StreamBytes, FlexReply);
  Run<TFlexCATInterface>(State, Data, SerialPiece);
}
void BM_ParseReplies_FT950(benchmark::State& State) {
  static const std::string Data = Stream(StreamBytes, FT950Reply);
  Run<TFT950CATInterface>(State, Data, SerialPiece);
}
void BM_ParseReplies_FT100D(benchmark::State& State) {
  static const std::string Data = Stream(StreamBytes, FT100DReply);
  Run<TFT100DCATInterface>(State, Data, SerialPiece);
}
void BM_ParseReplies_FT897D(benchmark::State& State) {
  static const std::string Data = Stream(StreamBytes, FT897DReply);
  Run<TFT897DCATInterface>(State, Data, SerialPiece);
}
void BM_ParseReplies_IC7000(benchmark::State& State) {
  static const std::string Data =
      Stream(StreamBytes, [](long Hz, int I) { return IcomReply(0x70, Hz, I); });
  Run<TIC7000CATInterface>(State, Data, SerialPiece);
}
void BM_ParseReplies_IC7300(benchmark::State& State) {
  static const std::string Data =
      Stream(StreamBytes, [](long Hz, int I) { return IcomReply(0x94, Hz, I); });
  Run<TIC7300CATInterface>(State, Data, SerialPiece);
}

// Streams that never complete a message, in pieces of State.range(1) bytes.
std::string Unterminated(std::size_t Bytes, char Fill) {
  return std::string(Bytes, Fill);
}
std::string Noise(std::size_t Bytes) {
  std::string Data(Bytes, '\0');
  for (std::size_t I = 0; I < Bytes; ++I)
    Data[I] = static_cast<char>((I * 2654435761u) >> 13);
  return Data;
}

void BM_Unterminated_Flex(benchmark::State& State) {
  Run<TFlexCATInterface>(State, Unterminated(State.range(0), 'Z'), State.range(1));
}
void BM_Unterminated_FT950(benchmark::State& State) {
  Run<TFT950CATInterface>(State, Unterminated(State.range(0), 'I'), State.range(1));
}
void BM_Unterminated_IC7000(benchmark::State& State) {
  Run<TIC7000CATInterface>(State, Unterminated(State.range(0), '\xFE'), State.range(1));
}
void BM_Unterminated_IC7300(benchmark::State& State) {
  Run<TIC7300CATInterface>(State, Unterminated(State.range(0), '\x94'), State.range(1));
}
void BM_Noise_FT100D(benchmark::State& State) {
  Run<TFT100DCATInterface>(State, Noise(State.range(0)), State.range(1));
}
void BM_Noise_FT897D(benchmark::State& State) {
  Run<TFT897DCATInterface>(State, Noise(State.range(0)), State.range(1));
}

void LinearArgs(benchmark::internal::Benchmark* B) {
  // Whole megabyte-sized calls and serial-sized pieces, at growing lengths.
  for (std::int64_t Piece : {std::int64_t{1} << 20, std::int64_t{64}})
    for (std::int64_t Bytes = 64 * 1024; Bytes <= 1024 * 1024; Bytes *= 4)
      B->Args({Bytes, Piece});
}

} // namespace

BENCHMARK(BM_ParseReplies_Flex);
BENCHMARK(BM_ParseReplies_FT950);
BENCHMARK(BM_ParseReplies_FT100D);
BENCHMARK(BM_ParseReplies_FT897D);
BENCHMARK(BM_ParseReplies_IC7000);
BENCHMARK(BM_ParseReplies_IC7300);
BENCHMARK(BM_Unterminated_Flex)->Apply(LinearArgs);
BENCHMARK(BM_Unterminated_FT950)->Apply(LinearArgs);
BENCHMARK(BM_Unterminated_IC7000)->Apply(LinearArgs);
BENCHMARK(BM_Unterminated_IC7300)->Apply(LinearArgs);
BENCHMARK(BM_Noise_FT100D)->Apply(LinearArgs);
BENCHMARK(BM_Noise_FT897D)->Apply(LinearArgs);

BENCHMARK_MAIN();
