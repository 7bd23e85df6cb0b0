// Fuzzes the click-to-tune request line and headers, the guard over them, and
// the logbook's mode and address rules: any bytes give either a refusal or a
// frequency in range with a mode the radio can be asked for, an origin named
// back only when it is one of the accepted ones, an answer's JSON found
// (or none) in any body, and nothing crashes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logbook/untLogbookAnswer.h"
#include "logbook/untLogbookRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  using namespace vela;
  const std::string_view Text(reinterpret_cast<const char*>(Bytes), Size);
  const TTuneRequest Request = ParseTuneRequest(Text);
  if (!Request.Error && Request.Method == "GET") {
    if (!Request.Hz || *Request.Hz < TuneLowHz || *Request.Hz > TuneHighHz)
      std::abort();
    if (!Request.Mode.empty() && NativeModeForTune(Request.Mode, dmData, nullptr).empty())
      std::abort();
  }
  if (Request.Error && Request.Error != 400 && Request.Error != 405)
    std::abort();
  const TTuneGuard Guard{TuneOrigins("https://log.example.org", Text.substr(0, Size / 3)), 54321,
                         "127.0.0.1"};
  const TTuneAccess Access = CheckTuneAccess(Request, Guard);
  if (Access.Status != 0 && Access.Status != 400 && Access.Status != 403)
    std::abort();
  if (!Access.AllowOrigin.empty() &&
      (Access.Status != 0 || std::find(Guard.Origins.begin(), Guard.Origins.end(),
                                       Access.AllowOrigin) == Guard.Origins.end()))
    std::abort();
  if (Access.AllowOrigin.find_first_of("\r\n") != std::string::npos)
    std::abort();
  const std::string_view Half = Text.substr(0, Size / 2);
  for (TLogbookKind Kind : {TLogbookKind::lkWavelog, TLogbookKind::lkCloudlog})
    if (LogbookModeForNative(Half, Text.substr(Size / 2), Kind).size() > 10)
      std::abort();
  const QJsonDocument Json =
      FindAnswerJson(QByteArray(Text.data(), static_cast<qsizetype>(Text.size())));
  (void)ReadRadioCommands(Json, nullptr);
  std::string Error;
  if (LogbookApiUrl(Text, "radio", &Error).empty() && Error.empty())
    std::abort();
  (void)ValidApiKey(Text);
  return 0;
}
