#include "platform/untPaths.h"

#include <libintl.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

namespace vela {

std::string ExecutableFolder() {
  std::string Path(PATH_MAX, '\0');
  const ssize_t N = ::readlink("/proc/self/exe", Path.data(), Path.size());
  if (N > 0 && static_cast<std::size_t>(N) < Path.size()) {
    Path.resize(static_cast<std::size_t>(N));
    return Path.substr(0, Path.find_last_of('/') + 1);
  }
  std::error_code Ec;
  std::string Cwd = std::filesystem::current_path(Ec).string();
  return Cwd.empty() || Cwd.back() == '/' ? Cwd : Cwd + "/";
}

namespace {

bool HasCatalogue(const std::filesystem::path& Dir, const std::string& Domain) {
  std::error_code Ec;
  for (std::filesystem::directory_iterator It(Dir, Ec), End; !Ec && It != End; It.increment(Ec)) {
    const auto Mo = It->path() / "LC_MESSAGES" / (Domain + ".mo");
    if (::access(Mo.c_str(), R_OK) == 0)
      return true;
  }
  return false;
}

} // namespace

std::string CatalogueFolder(const std::string& Domain) {
  const std::filesystem::path Exe = ExecutableFolder();
  const auto Local = Exe / "locale";
  if (HasCatalogue(Local, Domain))
    return Local.string();
  return (Exe / ".." / "share" / "locale").lexically_normal().string();
}

void BindCatalogue(const std::string& Domain) {
  ::bindtextdomain(Domain.c_str(), CatalogueFolder(Domain).c_str());
  ::bind_textdomain_codeset(Domain.c_str(), "UTF-8");
}

} // namespace vela
