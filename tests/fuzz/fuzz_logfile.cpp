// Fuzzes the ADIF log-file follower: the input's first byte splits the rest
// into what the file holds when first seen and what is appended; then the
// file is cut to the appended part alone (a rewrite). Every contact handed
// on has a call that looks like one, and none is handed on twice.
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

#include "FuzzSupport.h"
#include "contacts/untAdifFileFollower.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  using namespace vela;
  // The follower's file watcher needs an application object.
  static int Argc = 1;
  static char Name[] = "fuzz_logfile";
  static char* Argv[] = {Name, nullptr};
  static QCoreApplication App(Argc, Argv);
  if (Size == 0)
    return 0;
  const std::string_view Input(reinterpret_cast<const char*>(Bytes) + 1, Size - 1);
  const std::size_t Split = Input.size() * Bytes[0] / 256;
  const auto Log = (fuzz::WorkDir() / "log.adi").string();
  const auto State = (fuzz::WorkDir() / "log.state").string();
  std::filesystem::remove(State);
  std::ofstream(Log, std::ios::binary | std::ios::trunc) << Input.substr(0, Split);

  std::set<std::string> Keys;
  TAdifFileFollower Follower(Log, State);
  Follower.setOnContact([&Keys](TContact Contact) {
    if (!LooksLikeCall(Contact.Field("call")) || !Keys.insert(ContactKey(Contact)).second)
      std::abort();
  });
  Follower.Start();
  std::ofstream(Log, std::ios::binary | std::ios::app) << Input.substr(Split);
  Follower.Check();
  std::ofstream(Log, std::ios::binary | std::ios::trunc) << Input.substr(Split);
  for (int I = 0; I < 4; ++I)
    Follower.Check();
  return 0;
}
