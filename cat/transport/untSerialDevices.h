// The machine's serial devices, for choosing the radio's port by name, and
// naming one as a COM port in the ports folder.
#pragma once

#include <string>
#include <vector>

namespace vela {

struct TSerialDevice {
  // What a port link points at: the stable name under serial/by-id where
  // there is one (it survives re-plugging), else the device itself.
  std::string Path;
  // The device it is now (/dev/ttyUSB0).
  std::string Device;
  // The name to show: the by-id name (the adapter's maker, model and serial
  // number), or the device's own name (ttyUSB0).
  std::string Name;
};

// The serial devices under DevRoot, in this order: DevRoot/serial/by-id/*
// (by name); then DevRoot/ttyUSB*, ttyACM* (by number) that no by-id name
// stands for; then DevRoot/ttyS* that have a port behind them
// (SysRoot/class/tty/ttySn/type other than 0: the kernel keeps nodes for
// ports that are not there). A name may hold any bytes but "/" and NUL.
// Entries that vanish while being read are left out.
std::vector<TSerialDevice> ListSerialDevices(const std::string& DevRoot = "/dev",
                                             const std::string& SysRoot = "/sys");

// Makes PortsDir/com<Port> a symbolic link to DevicePath (creating the
// folder), replacing the link that was there. Returns an empty text, or why
// nothing changed: the device is gone, the folder cannot be written, or
// com<Port> is a file or folder of its own.
std::string LinkSerialDevice(const std::string& PortsDir, int Port, const std::string& DevicePath);

// An empty text when this user may open DevicePath for reading and writing;
// else why not and what to do ("... add your user to the dialout group").
std::string DeviceAccessProblem(const std::string& DevicePath);

} // namespace vela
