// Fuzzes one radio driver's reply parser (VELA_FUZZ_RADIO names the radio).
//
// The input is fed to ParseReply in pieces, as a serial port delivers it; the
// first byte chooses the piece length and whether the port reports more
// bytes than the read returned (a read may return fewer than the count the
// port announced). Every report must carry a well-formed frequency and band
// text, and the driver's next command must stay small.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "cat/radios/untBandPlan.h"
#include "cat/radios/untRadioFactory.h"
#include "cat/untCATinterface.h"
#include "settings/untVelaLogSettings.h"

using namespace vela;

namespace {

// MHz with a dot and exactly four decimals, no leading zero, never negative.
bool ValidFrequency(std::string F) {
  if (!F.empty() && F[0] == '-')
    return false;
#ifdef VELA_FUZZ_TEXT_RADIO
  // The text protocols form the text from the reply's characters as they
  // come, digits or not; only a text of digits and one dot is held to the
  // format.
  if (F.find_first_not_of("0123456789.") != std::string::npos ||
      std::count(F.begin(), F.end(), '.') != 1)
    return true;
#endif
  // A mode reply that comes before any frequency reply reports no frequency.
  if (F.empty())
    return true;
  const std::size_t Dot = F.find('.');
  if (Dot == std::string::npos || F.size() - Dot - 1 != 4)
    return false;
  if (Dot > 0 && F[0] == '0')
    return false;
  for (std::size_t I = 0; I < F.size(); ++I)
    if (I != Dot && (F[I] < '0' || F[I] > '9'))
      return false;
  return true;
}

bool ValidBand(const std::string& B) {
  static const char* const Bands[] = {"",    "160m", "80m", "40m", "30m", "20m", "17m",
                                      "15m", "12m",  "10m", "6m",  "4m",  "2m",  "70cm"};
  for (const char* Name : Bands)
    if (B == Name)
      return true;
  return false;
}

[[noreturn]] void Fail(const char* What, const std::string& Text) {
  std::fprintf(stderr, "fuzz_radio: %s (%zu bytes):", What, Text.size());
  for (unsigned char C : Text)
    std::fprintf(stderr, " %02X", C);
  std::fprintf(stderr, "\n");
  std::abort();
}

class TChecker : public TObject {
public:
  void RxData(TObject*, const TRadioValue& Value) {
    const auto [Band, Frequency, Mode] = PageTexts(Value);
    if (!ValidFrequency(Frequency))
      Fail("malformed frequency text", Frequency);
    if (!ValidBand(Band))
      Fail("unknown band text", Band);
    if (Mode.size() > 64)
      Fail("overlong mode text", Mode);
  }
};

struct TFixture {
  TFixture() {
    Settings =
        std::make_unique<TVelaLogSettings>(nullptr, (fuzz::WorkDir() / "VelaLog.ini").string());
    Settings->setIntCommPort(200);
    Driver = CreateRadioDriver(VELA_FUZZ_RADIO, nullptr, Settings.get());
    if (!Driver)
      std::abort();
    Driver->setOnRxData(MakeMethod(&Checker, &TChecker::RxData));
  }
  std::unique_ptr<TVelaLogSettings> Settings;
  TChecker Checker;
  // The worker stays blocked in its first synchronised call, which nothing
  // serves here; the driver lives until the process ends.
  std::unique_ptr<TCATInterface> Driver;
};

TFixture& Fixture() {
  static TFixture* F = new TFixture;
  return *F;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  TFixture& F = Fixture();
  if (Size == 0)
    return 0;
  const std::size_t Piece = 1 + (Bytes[0] & 0x3F);
  const bool Overcount = (Bytes[0] & 0x80) != 0;
  const std::string_view Data(reinterpret_cast<const char*>(Bytes) + 1, Size - 1);

  F.Driver->ResetState();
  for (std::size_t At = 0; At < Data.size(); At += Piece) {
    const std::string Chunk(Data.substr(At, Piece));
    const int Count = static_cast<int>(Chunk.size()) + (Overcount ? 7 : 0);
    std::string Unsolicited;
    F.Driver->TakeUnsolicited(nullptr, Chunk, Unsolicited);
    // What a shared line passes on to both sides is whole frames, or nothing.
    if (!Unsolicited.empty() &&
        (Unsolicited.compare(0, 2, "\xFE\xFE") != 0 || Unsolicited.back() != '\xFD'))
      Fail("unsolicited bytes that are not whole frames", Unsolicited);
    F.Driver->ParseReply(nullptr, Chunk, Count);
    std::string Command;
    F.Driver->GetNextCommand(nullptr, Command);
    if (Command.size() > 64)
      Fail("overlong command", Command);
  }
  return 0;
}
