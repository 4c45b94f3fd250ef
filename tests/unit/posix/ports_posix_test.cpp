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

// The adapter's latency timer, read from a scratch tree standing in for /sys,
// through the device's stable name as well as its kernel name.
TEST(PortsPosix, LatencyTimerOfTheAdapterBehindAName) {
    char dir[] = "/tmp/tdsys-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path root = dir;
    fs::create_directories(root / "sys/class/tty/ttyUSB0/device");
    fs::create_directories(root / "sys/class/tty/ttyS0");  // a UART: no timer
    std::FILE* f = std::fopen((root / "sys/class/tty/ttyUSB0/device/latency_timer").c_str(), "w");
    std::fputs("16\n", f);
    std::fclose(f);
    fs::create_directories(root / "dev/serial/by-id");
    std::fclose(std::fopen((root / "dev/ttyUSB0").c_str(), "w"));
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI-if00-port0");
    const std::string sys = (root / "sys").string();
    for (auto [device, ms] : {std::pair<std::string, int>{"/dev/ttyUSB0", 16}, {(root / "dev/serial/by-id/usb-FTDI-if00-port0").string(), 16},
                              {"/dev/ttyS0", -1}, {"/dev/", -1}, {"/dev/..", -1}})
        EXPECT_EQ(posix_latency_timer_ms(sys.c_str(), device.c_str()), ms) << device;
    fs::remove_all(root);
}

}  // namespace
