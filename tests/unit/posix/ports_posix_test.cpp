// The ports present, read from a scratch tree standing in for /dev.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/port_messages.h"
#include "platform/serial_posix.h"

namespace {

namespace fs = std::filesystem;

TEST(PortsPosix, StableNamesFirstThenKernelNamesWithoutOne) {
    char dir[] = "/tmp/tdports-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path dev = dir;
    fs::create_directories(dev / "serial/by-id");
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM10", "ttyACM2", "ttyS0", "cu.usbserial-10", "tty.usbserial-10"})
        std::fclose(std::fopen((dev / name).c_str(), "w"));
    fs::create_directory_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R-if00-port0");
    fs::create_symlink("../../ttyUSB7", dev / "serial/by-id/usb-gone-if00-port0");  // unplugged: stale

    PortEntry ports[8];
    const int total = posix_port_list(dir, ports, 8);
    ASSERT_EQ(total, 5);
    SortPorts(ports, total);
    std::vector<std::string> got;
    for (int i = 0; i < total; ++i)
        got.push_back(std::string(ports[i].name).substr(dev.string().size()) + " " + ports[i].short_name);
    EXPECT_EQ(got, (std::vector<std::string>{"/cu.usbserial-10 cu.usbserial-10",
                                             "/serial/by-id/usb-FTDI_FT232R-if00-port0 ttyUSB0",
                                             "/ttyACM2 ttyACM2", "/ttyACM10 ttyACM10", "/ttyUSB1 ttyUSB1"}));
    EXPECT_EQ(posix_port_list(dir, ports, 2), 5);  // fewer asked for than there are: still counted
    fs::remove_all(dev);

    const auto start = std::chrono::steady_clock::now();  // the real /dev, with far more entries
    posix_port_list("/dev", ports, 8);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
