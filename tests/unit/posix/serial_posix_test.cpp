// The real POSIX serial layer against a pseudo-terminal: the test plays the
// ECU on the master side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "link/link.h"
#include "platform/serial.h"
#include "pty.h"

namespace {

struct Opened {
    Opened(const char* name) { serial_setcomms(kEcuBaud, name); }
    ~Opened() { link_close(); }
};

TEST(SerialPosix, AnswersOverAPty) {
    Pty pty;
    Opened link(pty.name);
    ASSERT_NE(rs232, nullptr);
    ASSERT_NE(rs232, port_invalid());
    std::thread ecu([&] {
        int r = pty.ReadRequest();
        if (r >= 0) pty.Send({static_cast<unsigned char>(r), 0xC3});
    });
    EXPECT_EQ(GetECUByte(0x108), 0xC3);
    ecu.join();
}

TEST(SerialPosix, StaleByteNeverBecomesTheAnswer) {
    Pty pty;
    Opened link(pty.name);
    pty.Send({0x55, 0x66});  // late answer to some earlier request
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread ecu([&] {
        int r = pty.ReadRequest();
        if (r >= 0) pty.Send({static_cast<unsigned char>(r), 0x21});
    });
    EXPECT_EQ(GetECUByte(9), 0x21);
    ecu.join();
}

TEST(SerialPosix, SilentLineGivesZeroAfterBothTimeouts) {
    Pty pty;
    Opened link(pty.name);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetECUByte(1), 0);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(s, 0.70);
    EXPECT_LT(s, 1.5);
    EXPECT_EQ(pty.ReadRequest(0), 1);  // the request still went out
    EXPECT_FALSE(port_vanished(rs232)) << "a silent ECU is not a device gone";
}

TEST(SerialPosix, HungUpLineWaitsOutTheTimeoutInsteadOfSpinning) {
    Pty pty;
    Opened link(pty.name);
    close(pty.master);
    pty.master = -1;
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpu0 = std::clock();
    EXPECT_EQ(GetECUByte(1), 0);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_GE(s, 0.69);
    EXPECT_LT(cpu, 0.1);
    EXPECT_EQ(rs232, port_invalid()) << "the dead device is still held";
}

TEST(SerialPosix, LineSettingIsRaw8N1WithoutFlowControl) {
    Pty pty;
    Opened link(pty.name);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST(SerialPosix, OnlyTerminalDevicesOpen) {
    char dir[] = "/tmp/tdserialXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/plain";
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    std::string fifo = std::string(dir) + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A pty that another session has for its terminal, as a shell's would be.
    Pty shell;
    const pid_t session = fork();
    if (session == 0) {
        setsid();
        ioctl(shell.slave, TIOCSCTTY, 0);
        pause();
        _exit(0);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (tcgetsid(shell.master) != session && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    struct Case {
        std::string name;
        PortFailure failure;
    };
    for (const Case& c : {Case{"/dev/nonexistent", PortFailure::kNoSuchPort},
                          Case{file, PortFailure::kNotASerialPort}, Case{fifo, PortFailure::kNotASerialPort},
                          Case{dir, PortFailure::kNotASerialPort}, Case{"/dev/ptmx", PortFailure::kNotASerialPort},
                          Case{"ttyS0", PortFailure::kNotAPortName}, Case{"com5", PortFailure::kNotAPortName},
                          Case{"", PortFailure::kNotAPortName}, Case{shell.name, PortFailure::kTerminalInUse}}) {
        rs232 = nullptr;
        EXPECT_EQ(serial_setcomms(kEcuBaud, c.name.c_str()), nullptr) << c.name;
        EXPECT_EQ(rs232, port_invalid()) << c.name;
        EXPECT_EQ(port_open_error().failure, c.failure) << c.name;
    }
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);  // nothing was ever written to it
    kill(session, SIGKILL);
    waitpid(session, nullptr, 0);
    unlink(file.c_str());
    unlink(fifo.c_str());
    rmdir(dir);
    rs232 = nullptr;
}

// Held exclusively while open; afterwards the line as it was found, the
// exclusive mark cleared.
TEST(SerialPosix, HeldWhileOpenLeftAsFoundAfter) {
    Pty pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    before.c_cflag |= CSTOPB;
    cfsetspeed(&before, B2400);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &before), 0);

    PortHandle first = serial_setcomms(kEcuBaud, pty.name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(port_open(pty.name), port_invalid());
    EXPECT_EQ(port_open_error().failure, PortFailure::kInUse);
    link_close();

    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B2400));
    int exclusive = -1;
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    PortHandle again = port_open(pty.name);
    EXPECT_NE(again, port_invalid());
    port_close(again);
}

TEST(SerialPosix, PortArgumentNamesADevice) {
    struct Case {
        const char* arg;
        const char* name;
    };
    for (Case c : {Case{"5", "/dev/ttyS4"}, Case{"1", "/dev/ttyS0"}, Case{"/dev/ttyUSB0", "/dev/ttyUSB0"},
                   Case{"./pty", "./pty"}, Case{"0", "0"}, Case{"-3", "-3"}, Case{"5x", "5x"},
                   Case{"ttyUSB0", "/dev/ttyUSB0"}, Case{"serial1", "/dev/serial1"}, Case{"abc", "abc"}, Case{"", ""}}) {
        char out[128];
        EXPECT_TRUE(port_format_name(out, sizeof out, c.arg));
        EXPECT_STREQ(out, c.name) << c.arg;
    }
    char small[8];
    EXPECT_FALSE(port_format_name(small, sizeof small, "/dev/ttyUSB0"));
    EXPECT_EQ(std::strlen(small), 7u);
}

}  // namespace
