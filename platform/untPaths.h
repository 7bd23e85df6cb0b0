// Where the program finds its own files: the folder of the running executable
// and the folders of its message catalogues.
#pragma once

#include <string>

namespace vela {

// The folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

// The folder to bind the text domain Domain to: "locale" beside the
// executable when it holds a catalogue of Domain (<lang>/LC_MESSAGES/
// <Domain>.mo), else the installed "share/locale" beside the executable's
// own folder (/usr/share/locale for /usr/bin/velalog), wherever the program
// was installed.
std::string CatalogueFolder(const std::string& Domain);

// Binds Domain to CatalogueFolder(Domain), its texts taken as UTF-8.
void BindCatalogue(const std::string& Domain);

} // namespace vela
