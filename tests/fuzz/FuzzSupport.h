// Shared set-up of the fuzz targets: a private folder with an empty ports
// folder and a settings file, so that a driver's worker runs on a port that
// does not exist and writes nothing.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cat/transport/CPort.h"

namespace vela::fuzz {

// A folder under /dev/shm when it exists (the INI target writes files for
// every input), else under the system's temporary folder. Made once.
inline const std::filesystem::path& WorkDir() {
  static const std::filesystem::path Dir = [] {
    std::error_code Ignored;
    const std::filesystem::path Base = std::filesystem::is_directory("/dev/shm", Ignored)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string Template = (Base / "vela-fuzz-XXXXXX").string();
    if (!::mkdtemp(Template.data()))
      std::abort();
    std::filesystem::create_directory(std::filesystem::path(Template) / "ports");
    TCustomComPort::SetPortsDir((std::filesystem::path(Template) / "ports").string());
    // The folder is removed at exit; the process leaves nothing behind.
    static std::string Keep = Template;
    std::atexit([] {
      std::error_code E;
      std::filesystem::remove_all(Keep, E);
    });
    return std::filesystem::path(Template);
  }();
  return Dir;
}

} // namespace vela::fuzz
