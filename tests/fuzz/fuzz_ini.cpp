// Fuzzes the INI reader and writer on arbitrary file contents.
//
// The input becomes the settings file; the target reads the program's keys,
// then writes one value (taken from the input too) and reads it back: the
// value must come back unchanged, line breaks turned into blanks, and every
// other key read before must read the same afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/untIniFile.h"

using namespace vela;

namespace {

struct TKey {
  const char* Section;
  const char* Key;
};
const TKey Keys[] = {{"ServerSettings", "strServerAddress"}, {"Window", "intMainTop"},
                     {"CommSettings", "intCommPort"},        {"CommSettings", "blnComm2Enable"},
                     {"commsettings", "BAUDRATE"},           {"", ""}};

[[noreturn]] void Fail(const std::string& What) {
  std::fprintf(stderr, "fuzz_ini: %s\n", What.c_str());
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Bytes), Size);
  // The last line of the input, after a 0 byte, is the value to write.
  const std::size_t Split = Input.rfind('\0');
  const std::string_view FileText =
      Split == std::string_view::npos ? Input : Input.substr(0, Split);
  std::string Value(Split == std::string_view::npos ? std::string_view() : Input.substr(Split + 1));

  const std::string Path = (fuzz::WorkDir() / "fuzz.ini").string();
  {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(FileText.data(), static_cast<std::streamsize>(FileText.size()));
  }
  TIniFile Ini(Path);
  std::string Before[std::size(Keys)];
  for (std::size_t I = 0; I < std::size(Keys); ++I) {
    Before[I] = Ini.ReadString(Keys[I].Section, Keys[I].Key, "\x01");
    (void)Ini.ReadInteger(Keys[I].Section, Keys[I].Key, -7);
    (void)Ini.ReadBool(Keys[I].Section, Keys[I].Key, true);
  }

  try {
    Ini.WriteString("CommSettings", "strFuzz", Value);
  } catch (const EIniFileException&) {
    return 0; // a file the writer will not rewrite (too large) is left alone
  }
  for (char& C : Value)
    if (C == '\r' || C == '\n')
      C = ' ';
  // Surrounding blanks are kept by quoting; a zero byte cannot be in the value.
  const std::string Back = Ini.ReadString("CommSettings", "strFuzz", "\x01");
  if (Back != Value)
    Fail("value \"" + Value + "\" read back as \"" + Back + "\"");
  for (std::size_t I = 0; I < std::size(Keys); ++I) {
    const std::string After = Ini.ReadString(Keys[I].Section, Keys[I].Key, "\x01");
    if (After != Before[I] && std::string_view(Keys[I].Key) != "strFuzz")
      Fail(std::string("key ") + Keys[I].Section + "/" + Keys[I].Key + " changed from \"" +
           Before[I] + "\" to \"" + After + "\"");
  }
  return 0;
}
