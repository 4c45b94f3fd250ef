// A pseudo-terminal for the serial tests: the port opens the slave by its
// name and the test plays the ECU on the master side.
#pragma once
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <initializer_list>

struct Pty {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    Pty() {
        termios raw{};
        cfmakeraw(&raw);
        EXPECT_EQ(openpty(&master, &slave, name, &raw, nullptr), 0);
    }
    ~Pty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
    // Reads what the monitor sent, waiting up to `ms`.
    int ReadRequest(int ms = 1000) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return -1;
        unsigned char c;
        return read(master, &c, 1) == 1 ? c : -1;
    }
    void Send(std::initializer_list<unsigned char> bytes) {
        for (unsigned char b : bytes) ASSERT_EQ(write(master, &b, 1), 1);
    }
};

