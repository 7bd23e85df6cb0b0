// The serial device list on a folder of links made here (devices stand in
// for adapters: /dev/null, /dev/zero, ...), and naming one as a COM port.
#include "cat/transport/untSerialDevices.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

using namespace vela;
namespace fs = std::filesystem;

namespace {

class SerialDevices : public ::testing::Test {
protected:
  void SetUp() override {
    std::string Tmpl = testing::TempDir() + "vela-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(Tmpl.data()), nullptr);
    FRoot = Tmpl;
    fs::create_directories(Dev() / "serial" / "by-id");
  }
  void TearDown() override { fs::remove_all(FRoot); }
  fs::path Dev() const { return FRoot / "dev"; }
  fs::path Sys() const { return FRoot / "sys"; }
  void Link(const fs::path& At, const fs::path& To) { fs::create_symlink(To, At); }
  void PortType(const std::string& Name, const char* Type) {
    fs::create_directories(Sys() / "class" / "tty" / Name);
    std::ofstream(Sys() / "class" / "tty" / Name / "type") << Type << "\n";
  }
  fs::path FRoot;
};

} // namespace

TEST_F(SerialDevices, ByIdNamesFirstThenTheDevicesNoNameStandsFor) {
  // A name with blanks and non-ASCII letters, one for a device that is gone.
  const std::string Odd = "usb-Silicon Labs CP2102 Ä\xc3\xb6-if00-port0";
  Link(Dev() / "serial" / "by-id" / Odd, "/dev/null");
  Link(Dev() / "serial" / "by-id" / "usb-FTDI_FT232R-if00-port0", "/dev/zero");
  Link(Dev() / "serial" / "by-id" / "usb-Gone-if00", Dev() / "ttyUSB7");
  Link(Dev() / "ttyUSB0", "/dev/null"); // named by the first by-id link
  Link(Dev() / "ttyUSB10", "/dev/full");
  Link(Dev() / "ttyUSB2", "/dev/random");
  Link(Dev() / "ttyACM0", "/dev/urandom");
  std::ofstream(Dev() / "ttyUSB3") << "not a device";
  Link(Dev() / "ttyS0", "/dev/tty");
  PortType("ttyS0", "4");
  Link(Dev() / "ttyS1", "/dev/ptmx");
  PortType("ttyS1", "0");             // a node without a port
  Link(Dev() / "ttyS2", "/dev/ptmx"); // no sysfs entry at all

  const auto Devices = ListSerialDevices(Dev().string(), Sys().string());
  std::vector<std::string> Names, Paths;
  for (const TSerialDevice& D : Devices) {
    Names.push_back(D.Name);
    Paths.push_back(D.Path);
  }
  EXPECT_EQ(Names, (std::vector<std::string>{"usb-FTDI_FT232R-if00-port0", Odd, "ttyACM0",
                                             "ttyUSB2", "ttyUSB10", "ttyS0"}));
  ASSERT_EQ(Devices.size(), 6u);
  EXPECT_EQ(Devices[1].Path, (Dev() / "serial" / "by-id" / Odd).string());
  EXPECT_EQ(Devices[1].Device, "/dev/null");
  EXPECT_EQ(Devices[3].Path, (Dev() / "ttyUSB2").string());

  // Nothing there at all.
  EXPECT_TRUE(ListSerialDevices((FRoot / "none").string(), Sys().string()).empty());
}

TEST_F(SerialDevices, PickingOneLinksItAsTheComPort) {
  const fs::path Ports = FRoot / "cfg" / "ports";
  const fs::path Adapter = Dev() / "serial" / "by-id" / "usb-FTDI FT232R Ä-port0";
  Link(Adapter, "/dev/null");

  EXPECT_EQ(LinkSerialDevice(Ports.string(), 3, Adapter.string()), "");
  EXPECT_EQ(fs::read_symlink(Ports / "com3"), Adapter);
  // Another device replaces the link.
  EXPECT_EQ(LinkSerialDevice(Ports.string(), 3, "/dev/zero"), "");
  EXPECT_EQ(fs::read_symlink(Ports / "com3"), "/dev/zero");

  // Each refusal says why and leaves the link as it was.
  std::ofstream(FRoot / "file") << "x";
  fs::create_directories(Ports / "com4");
  const struct {
    const char* Name;
    std::string PortsDir;
    int Port;
    std::string Device;
    const char* Words;
  } Refused[] = {
      {"a device unplugged after the listing", Ports.string(), 3,
       (Dev() / "serial" / "by-id" / "usb-Gone").string(), "is gone"},
      {"a folder that cannot be made", (FRoot / "file" / "ports").string(), 3, "/dev/null",
       "cannot make the folder"},
      {"an entry that is not a link", Ports.string(), 4, "/dev/null", "is not a link"},
      {"no port number", Ports.string(), 0, "/dev/null", "no port number"},
  };
  for (const auto& Case : Refused) {
    const std::string Why = LinkSerialDevice(Case.PortsDir, Case.Port, Case.Device);
    EXPECT_NE(Why.find(Case.Words), std::string::npos) << Case.Name << ": " << Why;
  }
  EXPECT_EQ(fs::read_symlink(Ports / "com3"), "/dev/zero");
  EXPECT_TRUE(fs::is_directory(Ports / "com4"));
}
