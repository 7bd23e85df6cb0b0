#include "contacts/untUdpReceiveBuffer.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vela {

int EnlargeReceiveBuffer(int Descriptor, int Bytes) {
  auto Granted = [Descriptor] {
    int Size = 0;
    socklen_t Length = sizeof Size;
    // The system reports twice what was asked (its bookkeeping included).
    return ::getsockopt(Descriptor, SOL_SOCKET, SO_RCVBUF, &Size, &Length) == 0 ? Size / 2 : 0;
  };
  if (Granted() >= Bytes)
    return Granted();
  ::setsockopt(Descriptor, SOL_SOCKET, SO_RCVBUF, &Bytes, sizeof Bytes);
  // Past the system's limit only with the right to manage the network.
  if (Granted() < Bytes)
    ::setsockopt(Descriptor, SOL_SOCKET, SO_RCVBUFFORCE, &Bytes, sizeof Bytes);
  return Granted();
}

std::int64_t DroppedDatagrams(int Descriptor) {
  struct stat St {};
  if (::fstat(Descriptor, &St) != 0 || !S_ISSOCK(St.st_mode))
    return -1;
  const std::string Inode = std::to_string(St.st_ino);
  // "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops"
  for (const char* Table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream In(Table);
    std::string Line;
    std::getline(In, Line); // the heading
    while (std::getline(In, Line)) {
      std::istringstream Fields(Line);
      std::string Field[13];
      for (std::string& F : Field)
        Fields >> F;
      if (Field[9] == Inode && !Field[12].empty())
        return std::strtoll(Field[12].c_str(), nullptr, 10);
    }
  }
  return -1;
}

} // namespace vela
