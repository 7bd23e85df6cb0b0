// Without libFuzzer: runs the target once on each file named on the command
// line (a quick replay of the corpus in an ordinary build).
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size);

int main(int argc, char** argv) {
  for (int I = 1; I < argc; ++I) {
    std::ifstream In(argv[I], std::ios::binary);
    const std::string Data((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(Data.data()), Data.size());
  }
  return 0;
}
