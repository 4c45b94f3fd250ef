// Non-standard baud rates. Kept apart from serial_posix.cpp because the
// kernel's termios2 headers clash with the C library's <termios.h>.
#include "platform/serial_posix.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

void posix_set_custom_baud(int fd, std::int32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    ioctl(fd, TCSETS2, &tio);
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

#else
void posix_set_custom_baud(int, std::int32_t) {}
void posix_set_low_latency(int) {}
#endif
