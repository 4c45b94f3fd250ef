// The port's line settings: saving and restoring them around the monitor's
// use, the non-standard speed, and the adapter's latency. One section per
// system, because each keeps these in its own place; apart from
// serial_posix.cpp because Linux's termios2 headers clash with <termios.h>.
#include "platform/serial_posix.h"

#include <csignal>

#if defined(__linux__)
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace {
// What the port had before the open. termios2 holds every line setting,
// an exact speed included, which plain termios cannot express.
struct termios2 saved_line {};
volatile sig_atomic_t line_saved = 0;
volatile int saved_serial_flags = -1;  // -1: the driver has none (a pty)
}  // namespace

void posix_save_line(int fd) {
    line_saved = ioctl(fd, TCGETS2, &saved_line) == 0 ? 1 : 0;
    struct serial_struct ss {};
    saved_serial_flags = ioctl(fd, TIOCGSERIAL, &ss) == 0 ? ss.flags : -1;
}

void posix_restore_line(int fd) {
    if (line_saved) ioctl(fd, TCSETS2, &saved_line);
    line_saved = 0;
    if (saved_serial_flags >= 0) {
        struct serial_struct ss {};
        if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
            ss.flags = saved_serial_flags;
            ioctl(fd, TIOCSSERIAL, &ss);
        }
    }
    saved_serial_flags = -1;
}

void posix_set_custom_baud(int fd, std::int32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    ioctl(fd, TCSETS2, &tio);
}

std::uint32_t posix_read_speed(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

void posix_set_low_latency(int fd) {
    struct serial_struct ss {};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &ss);
}

#elif defined(__APPLE__)
#include <sys/ioctl.h>
#include <termios.h>

// The request is IOKit's; its header comes with Xcode but not with every
// toolchain that targets macOS.
#if __has_include(<IOKit/serial/ioss.h>)
#include <IOKit/serial/ioss.h>
#else
#define IOSSIOSPEED _IOW('T', 2, speed_t)
#endif

namespace {
// What the port had before the open; the speed in it is a standard one,
// so plain termios puts it back.
struct termios saved_line {};
volatile sig_atomic_t line_saved = 0;
}  // namespace

void posix_save_line(int fd) { line_saved = tcgetattr(fd, &saved_line) == 0 ? 1 : 0; }

void posix_restore_line(int fd) {
    if (line_saved) tcsetattr(fd, TCSANOW, &saved_line);
    line_saved = 0;
}

// Must follow the last tcsetattr, which would put a standard speed back.
void posix_set_custom_baud(int fd, std::int32_t baud) {
    speed_t speed = static_cast<speed_t>(baud);
    ioctl(fd, IOSSIOSPEED, &speed);
}

// Not asked on macOS: no adapter's latency has been measured on a Mac.
void posix_set_low_latency(int) {}

// No call reads back the speed IOSSIOSPEED set: unknown, so no hint is given.
std::uint32_t posix_read_speed(int) { return 0; }

#else
#error "serial line settings are written for Linux and macOS"
#endif
