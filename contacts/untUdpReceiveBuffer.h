// The receive buffer of a UDP socket, as the system keeps it: how large it
// is, and how many datagrams the system dropped because it was full (a
// burst the reader could not keep up with). Linux only; works on the
// socket's descriptor, whoever reads it.
#pragma once

#include <cstdint>

namespace vela {

// Asks for a receive buffer of at least Bytes (beyond the system's limit
// where the process may, as root can); the size granted in bytes, 0 when
// unknown.
int EnlargeReceiveBuffer(int Descriptor, int Bytes);

// The datagrams the system dropped for the socket so far (its count in
// /proc/net/udp or udp6, found by the socket's inode); -1 when unknown.
std::int64_t DroppedDatagrams(int Descriptor);

} // namespace vela
