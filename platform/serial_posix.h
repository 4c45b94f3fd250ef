// Pieces of the POSIX serial implementation shared between its files.
#pragma once
#include <cstdint>

// Sets a non-standard line speed (termios2/BOTHER on Linux, IOSSIOSPEED on
// macOS). Failure is ignored: a pty, for one, has no speed.
void posix_set_custom_baud(int fd, std::int32_t baud);

// Asks a USB-serial adapter not to hold received bytes back (Linux only).
void posix_set_low_latency(int fd);

// The line speed the driver reports having set; 0 when it tells none.
std::uint32_t posix_read_speed(int fd);

// The latency timer of the USB adapter behind `device` as the sysfs tree
// under `sys` (normally "/sys") shows it; -1 when it shows none.
int posix_latency_timer_ms(const char* sys, const char* device);

// Remembers the port's line settings as found / puts them back (and forgets
// them). Restoring is async-signal-safe.
void posix_save_line(int fd);
void posix_restore_line(int fd);

// Puts back what the open found, clears the exclusive mark and closes the
// open port, if any; async-signal-safe.
void posix_port_release_from_signal();

struct PortEntry;
// The serial ports under `dev` (normally "/dev"), as port_list gives them.
int posix_port_list(const char* dev, PortEntry* out, int max, bool (*order)(const PortEntry&, const PortEntry&));
