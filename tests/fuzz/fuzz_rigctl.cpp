// Fuzzes the network protocol's line reader, request parser and answer
// formatter: any bytes, split anywhere, give bounded lines, and every
// request gets an answer that ends with a newline.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cat/radios/untRadioCATinterface.h"
#include "sharing/untRigctlProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  using namespace vela;
  if (Size == 0)
    return 0;
  // The first byte chooses where the input is cut into pieces.
  const std::size_t Step = 1 + Bytes[0] % 64;
  const std::string_view Text(reinterpret_cast<const char*>(Bytes) + 1, Size - 1);
  TRigctlLineReader Reader(256);
  std::vector<std::string> Lines;
  for (std::size_t At = 0; At < Text.size(); At += Step)
    (void)Reader.Feed(Text.substr(At, Step), Lines);
  if (Reader.Pending() > 256)
    std::abort();
  for (const std::string& Line : Lines) {
    if (Line.size() > 256 || Line.find('\n') != std::string::npos)
      std::abort();
    TRigctlRequest Request;
    if (!ParseRigctlRequest(Line, Request))
      continue;
    (void)RigctlArgsComplete(Request);
    for (const std::string& Arg : Request.Args) {
      std::int64_t Hz = 0;
      std::int32_t Value = 0;
      if (ParseRigctlHz(Arg, Hz) && (Hz < 0 || Hz > 1'000'000'000'000))
        std::abort();
      (void)TryDecimalToInt(Arg, Value);
      (void)RigctlModeBit(Arg);
    }
    const std::string Answer = FormatRigctlReply(Request, {0, {"1", "2"}});
    const std::string Failure = FormatRigctlReply(Request, {-11, {}});
    if (Answer.empty() || Answer.back() != '\n' || Failure.empty() || Failure.back() != '\n')
      std::abort();
  }
  return 0;
}
