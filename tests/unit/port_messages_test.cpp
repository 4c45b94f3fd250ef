// What the user is told about ports: every reason an open fails, on each
// system, within one console row; the line of ports present.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

}  // namespace
