// Serial port primitives under the ECU link. One implementation per OS
// (serial_win32.cpp, serial_posix.cpp); tests link a scripted fake instead.
#pragma once
#include <cstddef>
#include <cstdint>

// Opaque port handle. Null means "never opened"; port_invalid() is what a
// failed open leaves behind (the Win32 INVALID_HANDLE_VALUE on Windows).
using PortHandle = void*;

PortHandle port_invalid();

// Turns the command-line port argument into the device name that is opened
// and shown to the user. Windows: "com<arg>". POSIX: an argument holding a
// '/' is a device path used as it stands; a positive number N names
// /dev/ttyS{N-1}; anything else gives "com<arg>", which names no device.
// Always NUL-terminates within `size`; returns false when the name did not fit.
bool port_format_name(char* out, std::size_t size, const char* arg);

// Exclusive open of an existing device; port_invalid() on failure.
PortHandle port_open(const char* name);

// Puts the line into raw 8N1 at `baud` with no handshake, DTR and RTS off,
// and the 350 ms total read time-out. Failures are ignored: the port is open.
void port_configure(PortHandle port, std::int32_t baud);

// Drops every received byte that is waiting; the transmit side is untouched.
void port_purge(PortHandle port);

// Writes one byte; returns the number written (0 or 1).
std::uint32_t port_write_byte(PortHandle port, std::uint8_t byte);

// Reads at most one byte into *cell, waiting at most the read time-out.
// Returns the number read (0 or 1). An error or hang-up reads as nothing
// but still waits out the time-out, so a vanished device never spins.
std::uint32_t port_read_byte(PortHandle port, std::uint8_t* cell);

void port_close(PortHandle port);
