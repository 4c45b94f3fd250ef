// Edges of the POSIX serial layer: the monitor held up past a read's
// deadline (stopped with Ctrl-Z, busy in a signal handler), bytes read ahead
// of the exchange that wants them, a closed standard descriptor.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>
#include <vector>

#include "link/link.h"
#include "platform/serial.h"
#include "pty.h"

namespace {

// Holds the interrupted thread for longer than a read's 350 ms time-out.
void HoldUp(int) {
    timespec pause{0, 450 * 1000 * 1000};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

TEST(SerialPosixEdges, AByteThatCameInTimeCountsAfterTheDeadlinePassed) {
    Pty pty;
    ASSERT_NE(serial_setcomms(kEcuBaud, pty.name), nullptr);

    struct sigaction hold {};
    hold.sa_handler = HoldUp;  // no SA_RESTART: the read's poll ends with EINTR
    sigemptyset(&hold.sa_mask);
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGUSR1, &hold, &old), 0);

    std::atomic<pthread_t> reader{};
    std::atomic<bool> started{false};
    std::uint32_t got = 0;
    std::uint8_t cell = 0;
    std::thread t([&] {
        reader = pthread_self();
        started = true;
        got = port_read_byte(rs232, &cell);
    });
    while (!started) std::this_thread::yield();
    // The reader is waiting in its poll: hold it up there, and let the byte
    // arrive while it is held, well inside its time-out.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const unsigned char byte = 0x5A;
    ASSERT_EQ(write(pty.master, &byte, 1), 1);
    t.join();
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(cell, 0x5A);

    sigaction(SIGUSR1, &old, nullptr);
    link_close();
}

// Started with stdin closed, the port would otherwise be descriptor 0, where
// the keyboard reads.
TEST(SerialPosixEdges, PortNeverTakesAStandardDescriptor) {
    Pty pty;

    const int saved_stdin = dup(STDIN_FILENO);
    ASSERT_GE(saved_stdin, 0);
    close(STDIN_FILENO);
    PortHandle port = serial_setcomms(kEcuBaud, pty.name);
    const bool stdin_free = fcntl(STDIN_FILENO, F_GETFD) < 0;
    // Give stdin back before anything can fail.
    dup2(saved_stdin, STDIN_FILENO);
    close(saved_stdin);

    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(stdin_free) << "the port was opened as descriptor 0";
    // And it is the port: a request goes out on it.
    std::thread ecu([&] {
        const int c = pty.ReadRequest();
        if (c >= 0) {
            const unsigned char answer[2] = {static_cast<unsigned char>(c), 0x42};
            if (write(pty.master, answer, 2) != 2) return;
        }
    });
    EXPECT_EQ(GetECUByte(7), 0x42);
    ecu.join();
    link_close();
}

// Answers that come in one piece with bytes behind them: whatever of one
// answer was taken from the port beyond its value must not become the next
// one, and an answer split over two arrivals still reads right.
TEST(SerialPosixEdges, BytesReadAheadNeverOutliveTheirExchange) {
    Pty pty;
    ASSERT_NE(serial_setcomms(kEcuBaud, pty.name), nullptr);

    struct Exchange {
        std::vector<std::vector<unsigned char>> arrivals;  // the first byte of the first is the echo
        int expected;
    };
    const Exchange exchanges[] = {
        {{{0x00, 0x11, 0xE1, 0xE2, 0xE3}}, 0x11},  // value and three stray bytes at once
        {{{0x00, 0x22}}, 0x22},                    // the strays are not this answer
        {{{0x00}, {0x33, 0xE4}}, 0x33},            // echo, then value and a stray later
        {{{0x00}}, 0},                             // echo only: no value, not the stray
        {{{0x00, 0x44}}, 0x44},
    };
    for (const Exchange& e : exchanges) {
        std::thread ecu([&] {
            const int request = pty.ReadRequest();
            if (request < 0) return;
            bool first = true;
            for (const auto& arrival : e.arrivals) {
                std::vector<unsigned char> bytes = arrival;
                if (first) bytes[0] = static_cast<unsigned char>(request);  // the echo
                first = false;
                if (write(pty.master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        EXPECT_EQ(GetECUByte(9), e.expected);
        ecu.join();
    }
    link_close();
}

}  // namespace
