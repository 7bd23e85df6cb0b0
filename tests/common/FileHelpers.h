// Small file helpers shared by tests: whole-file read and write, and the
// immutable flag (tests run as root, which ignores permission bits, so an
// unwritable file or folder needs chattr +i).
#pragma once

#include <cstdlib>
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

} // namespace vela::test
