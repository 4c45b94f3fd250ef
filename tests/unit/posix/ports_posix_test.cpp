// The ports present, read from a scratch tree standing in for /dev.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM10", "ttyACM2", "ttyS0", "cu.usbserial-10", "tty.usbserial-10",
                             "ttyAMA0", "ttyAMA1"})
        std::fclose(std::fopen((dev / name).c_str(), "w"));
    fs::create_directory_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R-if00-port0");
    fs::create_symlink("../../ttyUSB7", dev / "serial/by-id/usb-gone-if00-port0");  // unplugged: stale
    fs::create_symlink("ttyAMA0", dev / "serial0");  // a Raspberry Pi's UART on its pins
    fs::create_symlink("ttyS1", dev / "serial1");    // stale

    // Ordered before they are cut: fewer asked for are the first ones, the
    // rest still counted.
    const std::vector<std::string> all = {"/cu.usbserial-10 cu.usbserial-10",
                                          "/serial/by-id/usb-FTDI_FT232R-if00-port0 ttyUSB0",
                                          "/serial0 ttyAMA0", "/ttyACM2 ttyACM2", "/ttyACM10 ttyACM10",
                                          "/ttyAMA1 ttyAMA1", "/ttyUSB1 ttyUSB1"};
    for (int asked : {8, 7, 3}) {
        PortEntry ports[8];
        ASSERT_EQ(posix_port_list(dir, ports, asked, PortBefore), 7);
        std::vector<std::string> got;
        for (int i = 0; i < asked && i < 7; ++i)
            got.push_back(std::string(ports[i].name).substr(dev.string().size()) + " " + ports[i].short_name);
        EXPECT_EQ(got, std::vector<std::string>(all.begin(), all.begin() + std::min(asked, 7))) << asked;
    }
    fs::remove_all(dev);

    PortEntry ports[8];
    const auto start = std::chrono::steady_clock::now();  // the real /dev, with far more entries
    posix_port_list("/dev", ports, 8, PortBefore);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
