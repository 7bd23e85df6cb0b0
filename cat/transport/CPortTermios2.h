// Bit rates outside the standard termios list (14400, 56000, 128000, ...),
// set and read through the termios2 interface. The kernel's termios2
// definitions clash with <termios.h>, so they live in their own unit and this
// header includes neither.
#pragma once

namespace vela::termios2 {

// Sets both directions of the device to Baud bits per second (BOTHER).
// Returns 0 or errno.
int SetCustomBaud(int Fd, int Baud);

// Reads the input and output rates in bits per second. Returns 0 or errno.
int ReadBaud(int Fd, int& InBaud, int& OutBaud);

} // namespace vela::termios2
