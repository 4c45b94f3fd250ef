// What the user is told about ports: every reason an open fails, on each
// system, within one console row; the line of ports present.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/link_line.h"
#include "app/port_messages.h"

namespace {

using F = PortFailure;
using S = PortSystem;

PortOpenError Error(F failure, const char* group = "", const char* words = "") {
    PortOpenError e{};
    e.failure = failure;
    std::snprintf(e.group, sizeof e.group, "%s", group);
    std::snprintf(e.system_text, sizeof e.system_text, "%s", words);
    return e;
}

TEST(PortMessages, ReasonForEveryFailure) {
    const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    struct Case {
        PortOpenError error;
        std::string port, argument;
        S system;
        const char* text;
    } cases[] = {
        {Error(F::kNoSuchPort), "com12", "12", S::kWindows, "COM12 does not exist on this computer: is the adapter plugged in?"},
        {Error(F::kNoSuchPort), "/dev/ttyUSB0", "ttyUSB0", S::kLinux, "/dev/ttyUSB0 does not exist: is the adapter plugged in?"},
        // Too long for the row: the name loses its middle.
        {Error(F::kInUse), by_id, by_id, S::kLinux, "/dev/serial/...-if00-port0 is in use by another program: close it and try again"},
        {Error(F::kNoPermission, "dialout"), "/dev/ttyUSB0", "ttyUSB0", S::kLinux, "No access to /dev/ttyUSB0: sudo usermod -aG dialout $USER, then log in again"},
        {Error(F::kNoPermission, "uucp"), "/dev/cu.usbserial-10", "", S::kMac, "No access to /dev/cu....rial-10: sudo dseditgroup -o edit -a $USER -t user uucp"},
        {Error(F::kNoPermission), "/dev/pts/4", "", S::kLinux, "No access to /dev/pts/4: ask whoever runs this computer for access"},
        {Error(F::kNotASerialPort), "/tmp", "/tmp", S::kLinux, "/tmp is not a serial port: give the adapter's port (see below)"},
        {Error(F::kOwnTerminal), "/dev/tty", "tty", S::kLinux, "/dev/tty is this program's own terminal, not a serial port"},
        {Error(F::kSystemConsole), "/dev/ttyS0", "1", S::kLinux, "/dev/ttyS0 is the system console: give the adapter's port (see below)"},
        {Error(F::kNotAPortName), "comabc", "abc", S::kWindows, "'abc' is not a COM port number: give the number Device Manager shows"},
        {Error(F::kNotAPortName), "comttyUSB9", "ttyUSB9", S::kLinux, "'ttyUSB9' names no serial port: give its path, e.g. /dev/ttyUSB0"},
        {Error(F::kOther, "", "Input/output error"), "/dev/ttyS4", "5", S::kLinux, "/dev/ttyS4 could not be opened: Input/output error"},
        // Control characters from the command line never reach the terminal.
        {Error(F::kNoSuchPort), "/tmp/x\x1b[31mRED", "", S::kLinux, "/tmp/x?[31mRED does not exist: is the adapter plugged in?"},
        {Error(F::kNotAPortName), "com", "\xc2\x9b\x07", S::kWindows, "'?" "?' is not a COM port number: give the number Device Manager shows"},
    };
    for (const Case& c : cases) {
        char text[kMessageWidth + 1];
        PortReasonText(text, sizeof text, c.error, c.port.c_str(), c.argument.c_str(), c.system, kMessageWidth);
        EXPECT_STREQ(text, c.text) << c.port;
    }
}

TEST(PortMessages, LineOfThePortsPresent) {
    std::vector<PortEntry> many(20);  // more than fit the row even by their short names
    for (int i = 0; i < 20; ++i) std::snprintf(many[i].short_name, sizeof many[i].short_name, "COM%d", 100 + i);
    std::snprintf(many[0].name, sizeof many[0].name, "%s", std::string(90, 'x').c_str());
    struct Case {
        std::vector<PortEntry> ports;
        int total;  // more than listed: the system had more than were asked for
        const char* line;
    } cases[] = {
        {{}, 0, "No serial ports found: is the adapter plugged in?"},
        {{{"COM12", "COM12"}, {"COM3", "COM3"}}, 2, "Serial ports on this computer: COM3 COM12"},
        {{{"/dev/ttyACM0", "ttyACM0"}, {"/dev/cu.usbserial-10", "cu.usbserial-10"}}, 2,
         "Serial ports on this computer: /dev/cu.usbserial-10 /dev/ttyACM0"},
        // A stable name too long for the row: every port by its short name.
        {{{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0"}, {"/dev/ttyUSB1", "ttyUSB1"}}, 2,
         "Serial ports on this computer: ttyUSB0 ttyUSB1"},
        {{{"COM1", "COM1"}}, 40, "Serial ports on this computer: COM1 ... and 39 more"},
        {many, 20, "Serial ports on this computer: COM101 COM102 COM103 COM104 ... and 16 more"},
    };
    for (Case& c : cases) {
        SortPorts(c.ports.data(), static_cast<int>(c.ports.size()));
        char line[kMessageWidth + 1];
        PortsLineText(line, sizeof line, c.ports.data(), static_cast<int>(c.ports.size()), c.total, kMessageWidth);
        EXPECT_STREQ(line, c.line);
    }
}

// Rows 20 and 21: a cycle's answers, the driver's speed and latency, each to
// one text and colour, padded to the full row.
TEST(PortMessages, LinkAndAdapterLines) {
    const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const LineSpeedReport fine{7812, false, false}, cp2102{9600, false, false}, wine{38400, false, true};
    struct Case {
        StatusLine line;
        const char* text;
        std::uint16_t colour;
    } cases[] = {
        {LinkLineFor({17, 17}, 172, nullptr, S::kLinux), "ECU answering: 5.8 updates a second (172 ms)", 10},
        {LinkLineFor({20, 20}, 0, nullptr, S::kLinux), "ECU answering: 1000.0 updates a second (1 ms)", 10},
        {LinkLineFor({17, 0}, 0, nullptr, S::kLinux, {14200, false}), "No answer from the ECU yet (14 s): check the cable, the ignition and the port", 12},
        {LinkLineFor({17, 0}, 0, nullptr, S::kLinux, {1500000, true}), "No answer from the ECU for 25 min: check the cable, the ignition and the port", 12},
        // After each exchange: silent start, silent middle, a late byte, an answer.
        {LinkLineAfterExchange({1, 0}, false, {710, false}), "No answer from the ECU yet (0.7 s): check the cable, the ignition and the port", 12},
        {LinkLineAfterExchange({9, 7}, false, {1420, true}), "No answer from the ECU for 1.4 s: check the cable, the ignition and the port", 12},
        {LinkLineAfterExchange({9, 8}, false, {361, true}), "ECU answered 8 of 9 requests: check the cable and its contacts", 14},
        {LinkLineAfterExchange({9, 8}, true, {0, true}), "", 0},
        {LinkLineFor({17, 12}, 0, nullptr, S::kLinux), "ECU answered 12 of 17 requests: check the cable and its contacts", 14},
        {LinkLineFor({17, 17}, 172, "com5", S::kWindows), "Port lost: waiting for COM5", 12},
        {LinkLineFor({}, 0, by_id.c_str(), S::kLinux), "Port lost: waiting for /dev/serial/by-id/usb-FTDI_...B_UART_A50285BI-if00-port0", 12},
        {AdapterLineFor(fine, 1, "/dev/ttyUSB0", S::kLinux), "", 0},
        {AdapterLineFor({8040, false, false}, -1, "", S::kLinux), "", 0},  // 2.9 % off: a UART copes
        {AdapterLineFor(cp2102, 16, "/dev/ttyUSB0", S::kLinux), "This adapter runs at 9600 baud, not 7812: it cannot talk to the ECU (README)", 12},
        {AdapterLineFor({7570, false, false}, -1, "", S::kLinux), "This adapter runs at 7570 baud, not 7812: it cannot talk to the ECU (README)", 12},
        // Wine's own guess for a rate its driver does not list is no adapter's fault.
        {AdapterLineFor(wine, -1, "com12", S::kWindows), "", 0},
        {AdapterLineFor({9600, true, true}, -1, "com12", S::kWindows), "This adapter runs at 9600 baud, not 7812: it cannot talk to the ECU (README)", 12},
        {AdapterLineFor(wine, 2, "com5", S::kWindows), "", 0},
        {AdapterLineFor(wine, 16, "com5", S::kWindows), "Answers wait 16 ms: Device Manager>COM5>Port Settings>Advanced>Latency Timer=1", 14},
        {AdapterLineFor(wine, 16, "com100", S::kWindows), "16 ms wait: Device Manager>COM100>Port Settings>Advanced>Latency Timer=1", 14},
        {AdapterLineFor(fine, 16, by_id.c_str(), S::kLinux), "Answers wait 16 ms (the adapter's latency timer): see README, USB latency", 14},
    };
    for (const Case& c : cases) {
        std::string want = c.text;
        if (!want.empty()) want.resize(std::max<std::size_t>(want.size(), kMessageWidth), ' ');
        EXPECT_EQ(c.line.text, want.substr(0, kMessageWidth));
        EXPECT_EQ(c.line.colour, c.colour) << c.text;
    }
}

// The refresh rate follows the last cycles, not the whole run.
TEST(PortMessages, RateWindowKeepsTheLastCycles) {
    RateWindow w{};
    EXPECT_EQ(RateWindowMean(w), 0u);
    for (std::uint32_t ms : {1000u, 170u, 171u, 170u, 171u, 170u, 171u, 170u}) RateWindowAdd(w, ms);
    EXPECT_EQ(RateWindowMean(w), 274u);
    RateWindowAdd(w, 171u);
    EXPECT_EQ(RateWindowMean(w), 171u);
}

}  // namespace
