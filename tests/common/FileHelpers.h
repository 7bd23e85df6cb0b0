// Small file helpers shared by tests: whole-file read and write, and the
// immutable flag (tests run as root, which ignores permission bits, so an
// unwritable file or folder needs chattr +i).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vela::test {

inline std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

inline void WriteFile(const std::string& Path, const std::string& Text) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Text;
}

// Sets or clears file attributes ("+i", "-i"); false where unsupported.
inline bool Chattr(const std::string& Flags, const std::string& Path) {
  return std::system(("chattr " + Flags + " '" + Path + "' >/dev/null 2>&1").c_str()) == 0;
}

// Makes a file or folder immutable for the guard's lifetime. Ok() is false
// where chattr is not available, or where the flag does not hold (root may
// ignore it in some containers): a folder must refuse a new file, a file an
// append.
class TImmutable {
public:
  explicit TImmutable(std::string APath) : FPath(std::move(APath)) {
    FOk = Chattr("+i", FPath);
    if (!FOk)
      return;
    const bool Folder = std::filesystem::is_directory(FPath);
    std::ofstream Probe(Folder ? FPath + "/probe" : FPath, std::ios::app);
    FOk = !Probe.is_open();
  }
  ~TImmutable() { Chattr("-i", FPath); }
  TImmutable(const TImmutable&) = delete;
  TImmutable& operator=(const TImmutable&) = delete;
  bool Ok() const { return FOk; }

private:
  std::string FPath;
  bool FOk = false;
};

} // namespace vela::test
