// Non-standard baud rates. Kept apart from serial_posix.cpp because the
// kernel's termios2 headers clash with the C library's <termios.h>.
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
#include <IOKit/serial/ioss.h>
#include <sys/ioctl.h>

void posix_set_custom_baud(int fd, std::int32_t baud) {
    speed_t speed = static_cast<speed_t>(baud);
    ioctl(fd, IOSSIOSPEED, &speed);
}

void posix_set_low_latency(int) {}

// The speed set by IOSSIOSPEED is not read back by any call.
std::uint32_t posix_read_speed(int) { return 0; }

#else

void posix_set_custom_baud(int, std::int32_t) {}
void posix_set_low_latency(int) {}
std::uint32_t posix_read_speed(int) { return 0; }
#endif

#if !defined(__linux__)
#include <termios.h>

namespace {
struct termios saved_line {};
volatile sig_atomic_t line_saved = 0;
}  // namespace

void posix_save_line(int fd) { line_saved = tcgetattr(fd, &saved_line) == 0 ? 1 : 0; }

void posix_restore_line(int fd) {
    if (line_saved) tcsetattr(fd, TCSANOW, &saved_line);
    line_saved = 0;
}
#endif
